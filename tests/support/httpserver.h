#pragma once
// A small HTTP server on 127.0.0.1 for the update's downloads. It answers each path with the response
// set for it (404 with no body otherwise), one request per connection, and keeps the head of every
// request it received. It runs on the thread that made it, so it answers while the code under test
// waits in its own event loop. Given a certificate and its key it speaks https instead.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

class HttpServer : public QObject {
    Q_OBJECT
public:
    struct Response {
        int status = 200;
        QByteArray body;
        bool withContentLength = true;
        QByteArray location{}; // sent as Location when not empty
        qsizetype cutAt = -1;  // the connection is closed after this many bytes of the body
        qsizetype holdAt = -1; // sending stops after this many bytes of the body until release()
        bool endless = false;  // after the body, bytes follow until the client goes (64 MiB at most)
    };

    HttpServer();
    // An https server with this certificate and key (PEM files).
    HttpServer(const QString &certificateFile, const QString &keyFile);
    quint16 port() const { return m_server->serverPort(); }
    // "127.0.0.1:PORT", as Data/update-server holds it.
    QString hostAndPort() const;

    void respond(const QByteArray &path, const Response &response) { m_responses.insert(path, response); }
    // Sends the rest of a held body.
    void release();
    // Stops listening; connections already made go on.
    void close() { m_server->close(); }

    QList<QByteArray> requests;

Q_SIGNALS:
    // A request has arrived; its answer goes out when the handlers have run.
    void requestReceived(const QByteArray &head);
    // Sending stopped where holdAt said.
    void held();

private:
    void listen();
    void readRequest(QTcpSocket *socket);
    void sendFrom(QTcpSocket *socket, const Response &response, qsizetype from);
    void sendWithoutEnd(QTcpSocket *socket);

    std::unique_ptr<QTcpServer> m_server;
    QHash<QByteArray, Response> m_responses;
    QPointer<QTcpSocket> m_heldSocket;
    Response m_heldResponse;
    qsizetype m_heldFrom = 0;
};

// An answer with this status and body, the connection closed after cutAt bytes of the body when it is
// not -1.
HttpServer::Response answer(int status, const QByteArray &body, qsizetype cutAt = -1);
