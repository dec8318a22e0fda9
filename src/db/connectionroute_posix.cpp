// The connection's socket on Linux: among the process's descriptors in /proc.

#include "connectionroute.h"

#include <QDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

std::optional<quint32> localAddressOfConnectionTo(const QList<quint32> &servers, int port)
{
    const QStringList descriptors =
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System);
    for (const QString &name : descriptors) {
        bool ok = false;
        const int fd = name.toInt(&ok);
        struct stat status {};
        if (!ok || fstat(fd, &status) != 0 || !S_ISSOCK(status.st_mode))
            continue;
        int type = 0;
        socklen_t typeLength = sizeof type;
        if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLength) != 0 || type != SOCK_STREAM)
            continue;
        sockaddr_in peer{};
        socklen_t peerLength = sizeof peer;
        if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerLength) != 0 ||
            peer.sin_family != AF_INET)
            continue;
        if (!servers.contains(ntohl(peer.sin_addr.s_addr)) || (port != 0 && ntohs(peer.sin_port) != port))
            continue;
        sockaddr_in local{};
        socklen_t localLength = sizeof local;
        if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localLength) == 0 &&
            local.sin_family == AF_INET)
            return ntohl(local.sin_addr.s_addr);
    }
    return std::nullopt;
}
