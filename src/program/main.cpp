#include "app/application.h"
#include "db/driverconfiguration.h"
#include "program/startup.h"

int main(int argc, char *argv[])
{
    prepareDatabaseDriver(); // changes the environment: before any thread starts
    GuiApplication app(argc, argv);
    GuiApplication::setApplicationName(QStringLiteral("qel31"));
    GuiApplication::setDesktopFileName(QStringLiteral("qel31"));
    return RunProgram();
}
