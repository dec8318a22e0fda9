#include "bodyserver.h"

#include "figures.h"

#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

BodyServer::BodyServer(QByteArray body) : BodyServer(body, body.size()) {}

BodyServer::BodyServer(QByteArray piece, qint64 size, const QByteArray &listenAddress)
    : m_body(std::move(piece)), m_size(size)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (m_listener < 0 || ::inet_pton(AF_INET, listenAddress.constData(), &address.sin_addr) != 1 ||
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 8) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        benchFailure(QStringLiteral("the HTTP server cannot listen on %1").arg(QLatin1String(listenAddress)));
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
}

BodyServer::~BodyServer()
{
    m_stop = true;
    m_thread.join();
    ::close(m_listener);
}

void BodyServer::serve()
{
    while (!m_stop) {
        pollfd fd{m_listener, POLLIN, 0};
        if (::poll(&fd, 1, 100) <= 0)
            continue;
        const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        answer(connection);
        ::close(connection);
    }
}

void BodyServer::answer(int connection)
{
    // The request's head, up to the blank line; its content does not matter.
    QByteArray head;
    char chunk[4096];
    while (!head.contains("\r\n\r\n")) {
        const ssize_t n = ::recv(connection, chunk, sizeof chunk, 0);
        if (n <= 0)
            return;
        head.append(chunk, n);
    }
    const QByteArray response =
        "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
        QByteArray::number(m_size) + "\r\nConnection: close\r\n\r\n";
    const auto sendAll = [connection](const char *data, qint64 size) {
        while (size > 0) {
            const ssize_t n = ::send(connection, data, size_t(size), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            data += n;
            size -= n;
        }
        return true;
    };
    if (!sendAll(response.constData(), response.size()))
        return;
    for (qint64 left = m_size; left > 0;) {
        const qint64 piece = qMin<qint64>(left, m_body.size());
        if (!sendAll(m_body.constData(), piece))
            return;
        left -= piece;
    }
    // The client reads to the end of the body; give it time to close rather than cut the stream.
    ::shutdown(connection, SHUT_WR);
    pollfd fd{connection, POLLIN, 0};
    while (::poll(&fd, 1, 5000) > 0 && ::recv(connection, chunk, sizeof chunk, 0) > 0) {
    }
}
