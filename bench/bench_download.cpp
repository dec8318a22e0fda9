// Update download: DownloadFile fetching a 200 MB file from an HTTP server, against curl fetching the
// same file from the same server into the same folder. The figure is the share of curl's throughput
// that the client reaches. A workstation fetches its update over its LAN, so the figure with a target
// is taken over such a link: the server runs in a network namespace of its own behind a link shaped
// to 1 Gbit/s (ShapedLink), and curl shows what the link allows. The same on loopback, where no link
// stands between them and the figure compares the two HTTP stacks alone, is in the table for what it
// tells, without a target.
//
// The server is a process of its own (bench_body_server), as curl is: inside this process it would
// compete with the client it measures for the same cores, and not with curl. A transfer takes a few
// hundred milliseconds, many times a scheduler's slice, so that one slice lost to a neighbour does
// not decide a pair; the spread of the pairs is reported.

#include "childprocess.h"
#include "figures.h"
#include "shapedlink.h"
#include "update/update.h"

#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace {

void checkDownloaded(const QString &path, qsizetype size, const QString &who)
{
    if (QFile(path).size() != size)
        benchFailure(QStringLiteral("%1 did not fetch the whole file").arg(who));
    QFile::remove(path);
}

// The server's URL of the file, once it listens.
QString serve(ChildProcess &server, const QString &address)
{
    const QByteArray port = expectLine(server, "port", QStringLiteral("bench_body_server")).mid(5);
    return QStringLiteral("http://%1:%2/qelprogs/qel31").arg(address, QString::fromLatin1(port));
}

struct Download {
    QString figure;
    std::string benchmarkName;
    QString url;
    double target = 0;
    bool information = false;
};

void registerDownload(const Download &download, const QString &curl, const QString &path, qsizetype size)
{
    Alternating measure;
    measure.benchmarkName = download.benchmarkName;
    measure.figure = download.figure;
    measure.baselineName = QStringLiteral("curl");
    measure.rounds = 11;
    measure.target = download.target;
    measure.information = download.information;
    measure.throughput = true;
    measure.spread = true;
    const QString url = download.url;
    measure.baseline = [curl, url, path, size] {
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
    measure.subject = [url, path, size] {
        bool fetched = false;
        const double ms = elapsedMs([&] { fetched = DownloadFile(url, path); });
        if (!fetched)
            benchFailure(QStringLiteral("DownloadFile failed"));
        checkDownloaded(path, size, QStringLiteral("DownloadFile"));
        return ms;
    };
    registerAlternating(measure);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (curl.isEmpty())
        benchFailure(QStringLiteral("curl is not installed"));
    QTemporaryDir folder;
    const QString server = QCoreApplication::applicationDirPath() + QStringLiteral("/bench_body_server");
    // Declared in this order so that the servers end before their link is taken down.
    std::unique_ptr<ShapedLink> link;
    std::unique_ptr<ChildProcess> linkServer;
    std::unique_ptr<ChildProcess> loopbackServer;

    return runBenchmarks(argc, argv, [&] {
        const qsizetype size = benchOptions().tiny ? 1000 * 1000 : 200 * 1000 * 1000;
        const QString sizeText = QString::number(size);
        const QString megabytes = QString::number(size / 1000000);
        const QString path = folder.filePath(QStringLiteral("qel31"));

        const QString why = ShapedLink::unavailable();
        if (why.isEmpty() || !benchOptions().tiny) {
            link = std::make_unique<ShapedLink>(QStringLiteral("1gbit"));
            linkServer = std::make_unique<ChildProcess>(
                link->launcher(), link->inside(server, {sizeText, link->serverAddress()}));
            registerDownload({QStringLiteral("update download over a 1 Gbit/s link, %1 MB").arg(megabytes),
                              "download/link/" + megabytes.toStdString() + "MB",
                              serve(*linkServer, link->serverAddress()), 0.95, false},
                             curl, path, size);
        } else {
            // Under ctest without root the benchmark still shows that the download works.
            std::fprintf(stderr, "the download over a shaped link is left out: %s\n", qPrintable(why));
        }
        loopbackServer = std::make_unique<ChildProcess>(server, QStringList{sizeText});
        registerDownload({QStringLiteral("update download on loopback, %1 MB").arg(megabytes),
                          "download/loopback/" + megabytes.toStdString() + "MB",
                          serve(*loopbackServer, QStringLiteral("127.0.0.1")), 0, true},
                         curl, path, size);
    });
}
