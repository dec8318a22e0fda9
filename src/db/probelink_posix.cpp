#include "probelink.h"

#include <cerrno>

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

ProbeLink::ProbeLink(const QString &host, int port, Clock::time_point deadline) : m_deadline(deadline)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    if (getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(), &hints, &list) != 0)
        return;
    for (addrinfo *a = list; a && m_socket == kNoSocket; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        int error = 0;
        socklen_t size = sizeof error;
        if ((::connect(fd, a->ai_addr, a->ai_addrlen) == 0 ||
             (errno == EINPROGRESS && wait(fd, POLLOUT) &&
              ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0)))
            m_socket = fd;
        else
            ::close(fd);
    }
    freeaddrinfo(list);
}

ProbeLink::~ProbeLink()
{
    if (m_socket != kNoSocket)
        ::close(int(m_socket));
}

bool ProbeLink::send(const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::send(int(m_socket), data, size_t(size), MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            size -= n;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else if (n < 0 && errno == EAGAIN && !wait(m_socket, POLLOUT)) {
            return false;
        }
    }
    return true;
}

bool ProbeLink::read(char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::recv(int(m_socket), data, size_t(size), 0);
        if (n > 0) {
            data += n;
            size -= n;
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            return false;
        } else if (errno == EAGAIN && !wait(m_socket, POLLIN)) {
            return false;
        }
    }
    return true;
}

bool ProbeLink::wait(qintptr socket, short events) const
{
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd p{int(socket), events, 0};
        const int rc = ::poll(&p, 1, int(left));
        if (rc > 0)
            return true;
        if (rc == 0 || errno != EINTR)
            return false;
    }
}

QString ipAddressText(const unsigned char *bytes, int length)
{
    char buffer[INET6_ADDRSTRLEN] = {};
    if ((length != 4 && length != 16) ||
        !inet_ntop(length == 4 ? AF_INET : AF_INET6, bytes, buffer, sizeof buffer))
        return {};
    return QString::fromLatin1(buffer);
}

bool isAddress(const QString &host)
{
    unsigned char buffer[16];
    const QByteArray text = host.toUtf8();
    return inet_pton(AF_INET, text.constData(), buffer) == 1 ||
           inet_pton(AF_INET6, text.constData(), buffer) == 1;
}
