#pragma once
// The window that takes the user a sign-in accepted: the main window. The sign-in writes the login's
// id into it before it connects with the user's own account, and the user name after; the window's own
// library installs the lookup, so that the sign-in needs to know nothing of that window.

#include <QString>

class SignInReceiver {
public:
    virtual void setUserId(qint32 userId) = 0;
    virtual void setUserLogin(const QString &login) = 0;

protected:
    ~SignInReceiver() = default;
};

// How the sign-in finds the receiver: asked each time it writes, since the window comes and goes. No
// lookup, or a null answer, means no receiver, and nothing is written.
using SignInReceiverLookup = SignInReceiver *(*)();
void setSignInReceiverLookup(SignInReceiverLookup lookup);
SignInReceiver *signInReceiver();
