// Start-up: from the start of the process to the login window painted, against a bare Qt Widgets
// program that paints an empty window of the same size. Each run is a process of its own.
//
// An empty window never starts the font system (fontconfig reads its configuration when the first
// text is measured), and any window with text pays for it; so a second figure compares the client
// with the same bare window showing one line of text.

#include "childprocess.h"
#include "figures.h"

#include <QCoreApplication>

#include <chrono>

namespace {

// Milliseconds from starting the program to its "painted".
double timeToFirstPaint(const QString &name, const QStringList &arguments = {})
{
    const QString program = QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
    const auto start = std::chrono::steady_clock::now();
    ChildProcess child(program, arguments);
    expectLine(child, "painted", name);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (child.wait() != 0)
        benchFailure(QStringLiteral("%1 did not end cleanly").arg(name));
    return ms;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    return runBenchmarks(argc, argv, [] {
        Alternating empty;
        empty.benchmarkName = "startup/login_window_painted";
        empty.figure = QStringLiteral("start-up to the login window painted");
        empty.baselineName = QStringLiteral("bare empty 497×273 window");
        empty.rounds = 21;
        empty.target = 1.5;
        empty.baseline = [] { return timeToFirstPaint(QStringLiteral("bench_bare_window")); };
        empty.subject = [] { return timeToFirstPaint(QStringLiteral("bench_startup_client")); };
        registerAlternating(empty);

        Alternating withText = empty;
        withText.benchmarkName = "startup/login_window_painted_vs_text";
        withText.figure = QStringLiteral("start-up to the login window painted, against a window with text");
        withText.baselineName = QStringLiteral("bare 497×273 window with one label");
        withText.baseline = [] {
            return timeToFirstPaint(QStringLiteral("bench_bare_window"), {QStringLiteral("--label")});
        };
        registerAlternating(withText);
    });
}
