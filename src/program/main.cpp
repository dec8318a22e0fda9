#include "app/application.h"
#include "common/programversion.h"
#include "db/driverconfiguration.h"
#include "program/startup.h"

int main(int argc, char *argv[])
{
    prepareDatabaseDriver(); // changes the environment: before any thread starts
    setProgramVersion(QEL31_PROGRAM_VERSION);
    GuiApplication app(argc, argv);
    GuiApplication::setApplicationName(QStringLiteral("qel31"));
    GuiApplication::setDesktopFileName(QStringLiteral("qel31"));
    return RunProgram();
}
