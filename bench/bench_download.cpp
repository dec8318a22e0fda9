// Update download: DownloadFile fetching a 200 MB file from an HTTP server on 127.0.0.1, against
// curl fetching the same file from the same server into the same folder. The figure is the share of
// curl's throughput that the client reaches. The server is a process of its own (bench_body_server),
// as curl is: inside this process it would compete with the client it measures for the same cores,
// and not with curl. A transfer takes a few hundred milliseconds, many times a scheduler's slice, so
// that one slice lost to a neighbour does not decide a pair; the spread of the pairs is reported.

#include "childprocess.h"
#include "figures.h"
#include "update/update.h"

#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

void checkDownloaded(const QString &path, qsizetype size, const QString &who)
{
    if (QFile(path).size() != size)
        benchFailure(QStringLiteral("%1 did not fetch the whole file").arg(who));
    QFile::remove(path);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (curl.isEmpty())
        benchFailure(QStringLiteral("curl is not installed"));
    QTemporaryDir folder;

    return runBenchmarks(argc, argv, [&] {
        const qsizetype size = benchOptions().tiny ? 1000 * 1000 : 200 * 1000 * 1000;
        auto server = std::make_shared<ChildProcess>(QCoreApplication::applicationDirPath() +
                                                         QStringLiteral("/bench_body_server"),
                                                     QStringList{QString::number(size)});
        const QByteArray port = expectLine(*server, "port", QStringLiteral("bench_body_server")).mid(5);
        const QString url =
            QStringLiteral("http://127.0.0.1:%1/qelprogs/qel31").arg(QString::fromLatin1(port));
        const QString path = folder.filePath(QStringLiteral("qel31"));

        Alternating measure;
        measure.benchmarkName = "download/" + std::to_string(size / 1000000) + "MB";
        measure.figure = QStringLiteral("update download, %1 MB").arg(size / 1000000);
        measure.baselineName = QStringLiteral("curl");
        measure.rounds = 11;
        measure.target = 0.8;
        measure.throughput = true;
        measure.spread = true;
        measure.baseline = [server, curl, url, path, size] {
            // curl's own time of the transfer, without its start as a process.
            ChildProcess child(curl, {QStringLiteral("--silent"), QStringLiteral("--show-error"),
                                      QStringLiteral("--output"), path, QStringLiteral("--write-out"),
                                      QStringLiteral("%{time_total}"), url});
            const QByteArray seconds = child.readAll();
            if (child.wait() != 0)
                benchFailure(QStringLiteral("curl failed"));
            checkDownloaded(path, size, QStringLiteral("curl"));
            return seconds.trimmed().toDouble() * 1000.0;
        };
        measure.subject = [server, url, path, size] {
            bool fetched = false;
            const double ms = elapsedMs([&] { fetched = DownloadFile(url, path); });
            if (!fetched)
                benchFailure(QStringLiteral("DownloadFile failed"));
            checkDownloaded(path, size, QStringLiteral("DownloadFile"));
            return ms;
        };
        registerAlternating(measure);
    });
}
