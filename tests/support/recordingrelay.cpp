#include "recordingrelay.h"

#include <QMutexLocker>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool writeAll(int fd, const char *data, ssize_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size_t(size), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

RecordingRelay::RecordingRelay(quint16 serverPort) : m_serverPort(serverPort)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t size = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 16) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size) != 0)
        qFatal("the relay cannot listen on 127.0.0.1: %s", strerror(errno));
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { acceptLoop(); });
}

RecordingRelay::~RecordingRelay()
{
    m_stopping = true;
    ::shutdown(m_listener, SHUT_RDWR);
    {
        QMutexLocker lock(&m_mutex);
        for (int fd : m_sockets)
            ::shutdown(fd, SHUT_RDWR);
    }
    m_acceptor.join();
    for (std::thread &thread : m_threads)
        thread.join();
    for (int fd : m_sockets)
        ::close(fd);
    ::close(m_listener);
}

QByteArray RecordingRelay::clientBytes() const
{
    QMutexLocker lock(&m_mutex);
    return m_clientBytes;
}

void RecordingRelay::acceptLoop()
{
    while (!m_stopping) {
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return; // shut down
        }
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in address = loopback(m_serverPort);
        if (server < 0 ||
            ::connect(server, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
            ::close(client);
            if (server >= 0)
                ::close(server);
            continue;
        }
        ++m_connections;
        QMutexLocker lock(&m_mutex);
        if (m_stopping) {
            ::close(client);
            ::close(server);
            return;
        }
        m_sockets.push_back(client);
        m_sockets.push_back(server);
        m_threads.emplace_back([this, client, server] { relay(client, server, true); });
        m_threads.emplace_back([this, client, server] { relay(server, client, false); });
    }
}

void RecordingRelay::relay(int from, int to, bool fromClient)
{
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (fromClient) {
            QMutexLocker lock(&m_mutex);
            m_clientBytes.append(buffer, n);
        }
        if (!writeAll(to, buffer, n))
            break;
    }
    // The other side learns that this one has ended, as it would without the relay.
    ::shutdown(to, SHUT_WR);
    ::shutdown(from, SHUT_RD);
}
