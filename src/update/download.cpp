// The download of the new program file.

#include "update.h"

#include "localfile.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>

#include <exception>

namespace {

// What arrived is read and written in pieces of this size: small enough that a piece is still in the
// processor's cache when it is written, large enough that the system calls do not count.
constexpr qint64 kPieceSize = 64 * 1024;

int &stallLimit()
{
    static int limit = kDownloadStallLimit;
    return limit;
}

// The user agent: the file name of the running executable.
QString agentName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

bool hasSuccessStatus(const QNetworkReply &reply)
{
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status >= 200 && status <= 299;
}

} // namespace

int DownloadStallLimit()
{
    return stallLimit();
}

int setDownloadStallLimit(int milliseconds)
{
    return std::exchange(stallLimit(), milliseconds);
}

bool DownloadFile(const QString &url, const QString &path, const QString &authorityFile, qint64 sizeLimit,
                  QString *reason)
{
    const auto failed = [reason](const QString &why) {
        if (reason)
            *reason = why;
        return false;
    };
    // Declared in this order so that every way out closes the file, then the transfer, then the rest.
    QNetworkAccessManager internet;
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::UserAgentHeader, agentName());
    // The file is stored as the server holds it: no compressed transfer for the network layer to undo
    // behind our back, and Content-Length counts the bytes we write.
    request.setRawHeader("Accept-Encoding", "identity");
    // With the organisation's authority an https server's certificate must come from it, and from it
    // alone; an authority that cannot be read leaves no certificate that passes.
    if (!authorityFile.isEmpty() &&
        request.url().scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(QSslCertificate::fromPath(authorityFile, QSsl::Pem));
        tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
        request.setSslConfiguration(tls);
    }
    QNetworkReply *reply = internet.get(request); // owned by internet
    LocalFile file(path);

    qint64 written = 0;
    bool tooLarge = false;
    // One buffer for the whole download, however much has piled up while the event loop was busy: a
    // buffer as large as the pile would hold a second copy of it, up to the whole file, and each byte
    // would pass through memory that is no longer in the processor's cache.
    QByteArray piece(kPieceSize, Qt::Uninitialized);
    // What has arrived, read and written piece by piece. An error page is never written: the transfer
    // ends at its first piece (the network layer ends those with an error status of its own).
    const auto takeArrived = [&] {
        if (!hasSuccessStatus(*reply)) {
            if (reply->error() == QNetworkReply::NoError)
                reply->abort();
            return;
        }
        qint64 count;
        while ((count = reply->read(piece.data(), piece.size())) > 0) {
            // Counted as the bytes arrive, whatever Content-Length said: a server that sends without
            // end is stopped at the limit.
            if (sizeLimit >= 0 && written + count > sizeLimit) {
                tooLarge = true;
                reply->abort();
                return;
            }
            file.write(piece.constData(), count);
            written += count;
        }
    };
    // A body announced larger than the limit is not begun.
    const auto checkAnnounced = [&] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (sizeLimit >= 0 && hasSuccessStatus(*reply) && length.isValid() &&
            length.toLongLong() > sizeLimit) {
            tooLarge = true;
            reply->abort();
        }
    };

    QEventLoop loop;
    std::exception_ptr failure;
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        // Nothing may unwind through the network layer's frames: the error is carried out of the loop.
        try {
            takeArrived();
        } catch (...) {
            failure = std::current_exception();
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, checkAnnounced);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // A server that goes silent ends the download as a failed one: no byte for the limit, and the
    // transfer is given up. Every arrival, the headers included, starts the wait afresh.
    QTimer stall;
    stall.setSingleShot(true);
    stall.setInterval(stallLimit());
    QObject::connect(&stall, &QTimer::timeout, reply, &QNetworkReply::abort);
    const auto arrival = [&stall] { stall.start(); };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &stall, arrival);
    QObject::connect(reply, &QNetworkReply::downloadProgress, &stall, arrival);
    QObject::connect(reply, &QNetworkReply::readyRead, &stall, arrival);
    if (!reply->isFinished()) {
        stall.start();
        loop.exec();
    }
    stall.stop();
    if (failure)
        std::rethrow_exception(failure);
    if (reply->error() == QNetworkReply::NoError && !tooLarge)
        takeArrived();
    file.close();

    if (tooLarge) {
        // No part of a file too large is left behind.
        QFile::resize(path, 0);
        return failed(
            QStringLiteral("the file at %1 is larger than the limit of %2 bytes").arg(url).arg(sizeLimit));
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError && status == 0)
        return failed(QStringLiteral("%1: %2").arg(url, reply->errorString()));
    if (!hasSuccessStatus(*reply))
        return failed(QStringLiteral("%1 answered with HTTP status %2").arg(url).arg(status));
    if (reply->error() != QNetworkReply::NoError)
        return failed(QStringLiteral("%1: %2").arg(url, reply->errorString()));
    if (written == 0)
        return failed(QStringLiteral("%1 is empty").arg(url));
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() != written)
        return failed(
            QStringLiteral("%1 ended after %2 of %3 bytes").arg(url).arg(written).arg(length.toLongLong()));
    return true;
}
