// Start-up: from the start of the process to the login window painted, against a bare Qt Widgets
// program that paints a window of the same size showing one line of text. Each run is a process of
// its own. The label matters: an empty window never starts the font system (fontconfig reads its
// configuration when the first text is measured), which any window with text pays for.

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
        Alternating withText;
        withText.benchmarkName = "startup/login_window_painted";
        withText.figure = QStringLiteral("start-up to the login window painted");
        withText.baselineName = QStringLiteral("bare 497×273 window with one label");
        withText.rounds = 21;
        withText.target = 1.25;
        withText.subject = [] { return timeToFirstPaint(QStringLiteral("bench_startup_client")); };
        withText.baseline = [] {
            return timeToFirstPaint(QStringLiteral("bench_bare_window"), {QStringLiteral("--label")});
        };
        registerAlternating(withText);
    });
}
