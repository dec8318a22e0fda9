#include "signinreceiver.h"

namespace {
SignInReceiverLookup installedLookup = nullptr;
}

void setSignInReceiverLookup(SignInReceiverLookup lookup)
{
    installedLookup = lookup;
}

SignInReceiver *signInReceiver()
{
    return installedLookup ? installedLookup() : nullptr;
}
