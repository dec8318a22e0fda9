#include "probelink.h"

#include "common/winsock.h"

ProbeLink::ProbeLink(const QString &host, int port, Clock::time_point deadline) : m_deadline(deadline)
{
    startWinsock();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    if (getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(), &hints, &list) != 0)
        return;
    for (addrinfo *a = list; a && m_socket == kNoSocket; a = a->ai_next) {
        const SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET)
            continue;
        u_long nonBlocking = 1;
        int error = 0;
        int size = sizeof error;
        if (ioctlsocket(s, FIONBIO, &nonBlocking) == 0 &&
            (::connect(s, a->ai_addr, int(a->ai_addrlen)) == 0 ||
             (WSAGetLastError() == WSAEWOULDBLOCK && wait(qintptr(s), POLLWRNORM) &&
              ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &size) == 0 &&
              error == 0)))
            m_socket = qintptr(s);
        else
            ::closesocket(s);
    }
    freeaddrinfo(list);
}

ProbeLink::~ProbeLink()
{
    if (m_socket != kNoSocket)
        ::closesocket(SOCKET(m_socket));
}

bool ProbeLink::send(const char *data, qsizetype size)
{
    while (size > 0) {
        const int n = ::send(SOCKET(m_socket), data, int(qMin<qsizetype>(size, 1 << 30)), 0);
        if (n > 0) {
            data += n;
            size -= n;
        } else if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
            if (!wait(m_socket, POLLWRNORM))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

bool ProbeLink::read(char *data, qsizetype size)
{
    while (size > 0) {
        const int n = ::recv(SOCKET(m_socket), data, int(qMin<qsizetype>(size, 1 << 30)), 0);
        if (n > 0) {
            data += n;
            size -= n;
        } else if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
            if (!wait(m_socket, POLLRDNORM))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

bool ProbeLink::wait(qintptr socket, short events) const
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now()).count();
    if (left <= 0)
        return false;
    WSAPOLLFD p{SOCKET(socket), events, 0};
    // A refused connection shows as an error or a hang-up of the socket, which the caller then reads.
    return WSAPoll(&p, 1, int(left)) > 0;
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
