// The client's start-up for the start-up benchmark: the client's own main, with the first paint of
// the login window told to the benchmark; the program then ends as if the user had cancelled.

#include "app/application.h"
#include "probe.h"
#include "program/startup.h"

int main(int argc, char *argv[])
{
    GuiApplication app(argc, argv);
    GuiApplication::setApplicationName(QStringLiteral("qel31"));
    const FirstPaint painted(QStringLiteral("Form8"), [] {
        tellBenchmark("painted");
        Application->RequestTermination();
    });
    return RunProgram();
}
