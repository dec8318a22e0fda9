#include "app/application.h"
#include "program/startup.h"

int main(int argc, char *argv[])
{
    GuiApplication app(argc, argv);
    GuiApplication::setApplicationName(QStringLiteral("qel31"));
    GuiApplication::setDesktopFileName(QStringLiteral("qel31"));
    return RunProgram();
}
