#include "httpserver.h"

#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>

HttpServer::HttpServer() : m_server(std::make_unique<QTcpServer>())
{
    listen();
}

HttpServer::HttpServer(const QString &certificateFile, const QString &keyFile)
{
    QFile keyText(keyFile);
    if (!keyText.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(keyFile));
    const QByteArray keyBytes = keyText.readAll();
    QSslKey key(keyBytes, QSsl::Rsa);
    if (key.isNull())
        key = QSslKey(keyBytes, QSsl::Ec);
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(certificateFile, QSsl::Pem);
    if (chain.isEmpty() || key.isNull())
        qFatal("cannot use the certificate %s with the key %s", qPrintable(certificateFile),
               qPrintable(keyFile));
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(key);
    auto server = std::make_unique<QSslServer>();
    server->setSslConfiguration(tls);
    m_server = std::move(server);
    listen();
}

void HttpServer::listen()
{
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        qFatal("cannot listen on 127.0.0.1: %s", qPrintable(m_server->errorString()));
    // Emitted once a connection is ready: for https after its handshake.
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

QString HttpServer::hostAndPort() const
{
    return QStringLiteral("127.0.0.1:%1").arg(port());
}

void HttpServer::readRequest(QTcpSocket *socket)
{
    QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    socket->setProperty("head", head);
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0 || socket->property("answered").toBool())
        return;
    socket->setProperty("answered", true);
    head.truncate(end);
    requests.append(head);
    emit requestReceived(head);

    const QByteArray path = head.left(head.indexOf("\r\n")).split(' ').value(1);
    Response response;
    response.status = 404;
    response = m_responses.value(path, response);

    QByteArray answer = "HTTP/1.1 " + QByteArray::number(response.status) + " Status\r\n";
    if (response.withContentLength)
        answer += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    if (!response.location.isEmpty())
        answer += "Location: " + response.location + "\r\n";
    answer += "Connection: close\r\n\r\n";
    socket->write(answer);
    sendFrom(socket, response, 0);
}

void HttpServer::sendFrom(QTcpSocket *socket, const Response &response, qsizetype from)
{
    qsizetype to = response.body.size();
    if (response.cutAt >= 0)
        to = qMin(to, response.cutAt);
    if (response.holdAt >= from && response.holdAt < to) {
        socket->write(response.body.sliced(from, response.holdAt - from));
        socket->flush();
        m_heldSocket = socket;
        m_heldResponse = response;
        m_heldResponse.holdAt = -1;
        m_heldFrom = response.holdAt;
        emit held();
        return;
    }
    socket->write(response.body.sliced(from, to - from));
    if (response.endless) {
        sendWithoutEnd(socket);
        return;
    }
    // Sends what is still buffered, then closes: the client sees the end of the body, or a cut.
    socket->disconnectFromHost();
}

void HttpServer::sendWithoutEnd(QTcpSocket *socket)
{
    // A little more whenever the last went out, so that the client decides when it has had enough. A
    // client that never does ends a test as a failure, not a hang: the body ends after 64 MiB.
    static const QByteArray chunk(64 * 1024, 'x');
    constexpr qint64 kEnough = 64 * 1024 * 1024;
    const auto more = [socket] {
        if (socket->state() != QAbstractSocket::ConnectedState || socket->bytesToWrite() >= chunk.size())
            return;
        const qint64 sent = socket->property("sentWithoutEnd").toLongLong();
        if (sent >= kEnough) {
            socket->disconnectFromHost();
            return;
        }
        socket->setProperty("sentWithoutEnd", sent + chunk.size());
        socket->write(chunk);
    };
    connect(socket, &QTcpSocket::bytesWritten, socket, more);
    more();
}

void HttpServer::release()
{
    if (m_heldSocket)
        sendFrom(m_heldSocket, m_heldResponse, m_heldFrom);
}

HttpServer::Response answer(int status, const QByteArray &body, qsizetype cutAt)
{
    HttpServer::Response response;
    response.status = status;
    response.body = body;
    response.cutAt = cutAt;
    return response;
}
