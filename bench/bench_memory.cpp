// Memory: the peak resident memory of the client with the 20,000-student group shown, against a
// plain Qt program that reads the same rows through the same driver stack into a plain list view:
// both map the libraries that any such program maps (Qt's text paths, ICU, unixODBC, FreeTDS and the
// libraries under it, the fonts) and hold the rows, so what the client takes beyond it is its own.
// A second figure compares the client with a group of 30 and with the large group: the memory that
// grows with the rows may be at most twice their raw size. Each run is a process of its own; the
// sandbox server runs in this process, so its memory is not counted.

#include "childprocess.h"
#include "db/dm.h"
#include "db/statement.h"
#include "figures.h"
#include "fixture.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

namespace {

constexpr qint32 kGroup = 9020;

qint64 peakKb(const QString &name, const QStringList &arguments)
{
    const QString program = QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
    ChildProcess child(program, arguments);
    for (;;) {
        const std::optional<QByteArray> line = child.readLine();
        if (!line)
            benchFailure(QStringLiteral("%1 ended without its peak memory").arg(name));
        if (line->startsWith("failed"))
            benchFailure(QStringLiteral("%1: %2").arg(name, QString::fromUtf8(*line)));
        if (line->startsWith("peak-kb ")) {
            const qint64 kb = line->mid(8).toLongLong();
            if (child.wait() != 0 || kb <= 0)
                benchFailure(QStringLiteral("%1 did not end cleanly").arg(name));
            return kb;
        }
    }
}

QString megabytes(double kb)
{
    return QString::number(kb / 1024.0, 'f', 1) + QStringLiteral(" MiB");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    BenchServer server;
    return runBenchmarks(argc, argv, [&server] {
        constexpr int small = 30;
        const int large = benchOptions().tiny ? 300 : 20000;
        const int rounds = benchOptions().tiny ? 1 : 5;
        benchmark::RegisterBenchmark(
            "memory/group_shown",
            [&server, large](benchmark::State &state) {
                const FixtureGroup smallGroup = server.addGroup(kGroup, small);
                const FixtureGroup largeGroup = server.addGroup(kGroup + 1, large);
                const QString folder = server.programFolder();
                const QString connection =
                    server.driverConnectionString(demo::kAccount, demo::kAccountPassword);
                const QString students = [] {
                    TDM_MB dm;
                    return replaceParameterMarkers(dm.ADOQ_Students.commandText()).text;
                }();
                QList<double> plain;
                QList<double> clientSmall;
                QList<double> clientLarge;
                for (auto _ : state) {
                    plain.append(double(peakKb(QStringLiteral("bench_memory_plain"),
                                               {connection, students, QString::number(largeGroup.id)})));
                    clientSmall.append(double(peakKb(QStringLiteral("bench_memory_client"),
                                                     {folder, QString::number(smallGroup.id)})));
                    clientLarge.append(double(peakKb(QStringLiteral("bench_memory_client"),
                                                     {folder, QString::number(largeGroup.id)})));
                }
                const double addedRowsKb = double(largeGroup.rawBytes - smallGroup.rawBytes) / 1024.0;
                state.counters["plain_kb"] = median(plain);
                state.counters["client_small_kb"] = median(clientSmall);
                state.counters["client_large_kb"] = median(clientLarge);
                state.counters["rows_kb"] = double(largeGroup.rawBytes) / 1024.0;

                Figure whole;
                whole.name = QStringLiteral("peak memory, group of %1 students shown").arg(large);
                whole.baseline = QStringLiteral("plain Qt program, the same rows through the same driver "
                                                "into a list view: %1, client %2 (medians of %3)")
                                     .arg(megabytes(median(plain)), megabytes(median(clientLarge)))
                                     .arg(plain.size());
                whole.ratio = median(clientLarge) / median(plain);
                whole.target = 1.2;
                reportFigure(whole);

                // The part that grows with the rows: the same client with a group of 30 and the large one.
                Figure growth;
                growth.name =
                    QStringLiteral("peak memory growth, group of %1 → %2 students").arg(small).arg(large);
                growth.baseline = QStringLiteral("client with %1 students: %2, with %3: %4, rows added %5")
                                      .arg(small)
                                      .arg(megabytes(median(clientSmall)))
                                      .arg(large)
                                      .arg(megabytes(median(clientLarge)), megabytes(addedRowsKb));
                growth.ratio = (median(clientLarge) - median(clientSmall)) / addedRowsKb;
                growth.ratioText = QStringLiteral("growth / rows added");
                growth.target = 2.0;
                reportFigure(growth);
            })
            ->Iterations(rounds)
            ->Unit(benchmark::kMillisecond);
    });
}
