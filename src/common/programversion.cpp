#include "programversion.h"

namespace {
int version = 1;
} // namespace

int ProgramVersion()
{
    return version;
}

void setProgramVersion(int newVersion)
{
    version = newVersion;
}
