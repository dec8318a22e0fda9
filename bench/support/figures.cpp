#include "figures.h"

#include <QFile>
#include <QTextStream>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

BenchOptions &options()
{
    static BenchOptions o;
    return o;
}

QList<Figure> &figures()
{
    static QList<Figure> list;
    return list;
}

QList<std::function<void()>> &failureUndos()
{
    static QList<std::function<void()>> list;
    return list;
}

QString targetText(const Figure &figure)
{
    if (figure.information)
        return QStringLiteral("none");
    return (figure.atLeast ? QStringLiteral("≥ ") : QStringLiteral("≤ ")) +
           QString::number(figure.target, 'f', 2);
}

QString tableRow(const Figure &figure)
{
    QString ratio = QString::number(figure.ratio, 'f', 2);
    if (!figure.ratioText.isEmpty())
        ratio += QStringLiteral(" (%1)").arg(figure.ratioText);
    return QStringLiteral("| %1 | %2 | %3 | %4 | %5 |")
        .arg(figure.name, figure.baseline, ratio, targetText(figure),
             figure.information ? QStringLiteral("information")
             : figure.pass()    ? QStringLiteral("pass")
                                : QStringLiteral("FAIL"));
}

} // namespace

const BenchOptions &benchOptions()
{
    return options();
}

double elapsedMs(const std::function<void()> &f)
{
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void AlternatingRuns::add(double baselineMs, double subjectMs)
{
    m_baseline.append(baselineMs);
    m_subject.append(subjectMs);
}

double AlternatingRuns::medianBaseline() const
{
    return median(m_baseline);
}

double AlternatingRuns::medianSubject() const
{
    return median(m_subject);
}

double AlternatingRuns::medianRatio() const
{
    return median(ratios());
}

QList<double> AlternatingRuns::ratios() const
{
    QList<double> list;
    for (qsizetype i = 0; i < m_baseline.size(); ++i)
        list.append(m_subject[i] / m_baseline[i]);
    return list;
}

void reportFigure(const Figure &figure)
{
    figures().append(figure);
}

namespace {

void runAlternating(const Alternating &measure, benchmark::State &state)
{
    measure.prepare();
    measure.baseline();
    measure.prepare();
    measure.subject();
    AlternatingRuns runs;
    for (auto _ : state) {
        measure.prepare();
        const double baseline = measure.baseline();
        measure.prepare();
        const double subject = measure.subject();
        runs.add(baseline, subject);
        state.SetIterationTime(subject / 1000.0);
    }
    state.counters["baseline_ms"] = runs.medianBaseline();
    state.counters["subject_ms"] = runs.medianSubject();
    state.counters["ratio"] = runs.medianRatio();

    Figure figure;
    figure.name = measure.figure;
    figure.target = measure.target;
    figure.atLeast = measure.throughput;
    figure.information = measure.information;
    figure.ratio = measure.throughput ? 1.0 / runs.medianRatio() : runs.medianRatio();
    figure.baseline = QStringLiteral("%1: %2 ms, client %3 ms (medians of %4)")
                          .arg(measure.baselineName)
                          .arg(runs.medianBaseline(), 0, 'f', 2)
                          .arg(runs.medianSubject(), 0, 'f', 2)
                          .arg(runs.count());
    if (measure.spread && runs.count() > 0) {
        QList<double> each;
        for (const double ratio : runs.ratios())
            each.append(measure.throughput ? 1.0 / ratio : ratio);
        std::sort(each.begin(), each.end());
        const auto at = [&each](double share) {
            return each[qsizetype(share * double(each.size() - 1) + 0.5)];
        };
        figure.baseline += QStringLiteral("; the %1 pairs' figures from %2 to %3, the middle half %4 to %5")
                               .arg(each.size())
                               .arg(each.first(), 0, 'f', 2)
                               .arg(each.last(), 0, 'f', 2)
                               .arg(at(0.25), 0, 'f', 2)
                               .arg(at(0.75), 0, 'f', 2);
    }
    reportFigure(figure);
}

} // namespace

void registerAlternating(Alternating measure)
{
    const int rounds = benchOptions().tiny ? 1 : measure.rounds;
    benchmark::RegisterBenchmark(measure.benchmarkName.c_str(),
                                 [measure](benchmark::State &state) { runAlternating(measure, state); })
        ->Iterations(rounds)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

int runBenchmarks(int &argc, char **argv, const std::function<void()> &registerBenchmarks)
{
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--tiny") == 0) {
            options().tiny = true;
        } else if (std::strcmp(argv[i], "--table") == 0 && i + 1 < argc) {
            options().tableFile = QString::fromLocal8Bit(argv[++i]);
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    registerBenchmarks();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    QTextStream out(stdout);
    for (const Figure &figure : figures())
        out << tableRow(figure) << '\n';
    out.flush();
    if (!options().tableFile.isEmpty()) {
        QFile table(options().tableFile);
        if (!table.open(QIODevice::Append | QIODevice::Text))
            benchFailure(QStringLiteral("cannot write %1").arg(options().tableFile));
        for (const Figure &figure : figures())
            table.write(tableRow(figure).toUtf8() + '\n');
    }
    return 0;
}

void atBenchFailure(std::function<void()> undo)
{
    failureUndos().append(std::move(undo));
}

void benchFailure(const QString &message)
{
    std::fprintf(stderr, "benchmark failed: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    // An undo that fails again must not run itself a second time.
    const QList<std::function<void()>> undos = std::exchange(failureUndos(), {});
    for (auto undo = undos.rbegin(); undo != undos.rend(); ++undo)
        (*undo)();
    // Qt's objects and the server's threads are still alive: no destructors on the way out.
    std::_Exit(1);
}
