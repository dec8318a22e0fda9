#include "systemnetwork.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace SystemNetwork {

namespace {

int winsockErrorOf(int gaiError)
{
    switch (gaiError) {
    case EAI_NONAME:
        return kHostNotFound;
    case EAI_AGAIN:
        return kTryAgain;
#ifdef EAI_NODATA
    case EAI_NODATA:
        return kNoData;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
        return kNoData;
#endif
    default:
        return kNoRecovery;
    }
}

QByteArray hostNameOfAtMost(size_t size)
{
    char buffer[256] = {};
    gethostname(buffer, qMin(size, sizeof buffer) - 1); // not examined: an untouched buffer is ""
    return QByteArray(buffer, qstrnlen(buffer, sizeof buffer));
}

} // namespace

QByteArray computerName()
{
    return hostNameOfAtMost(256);
}

QByteArray hostName()
{
    return hostNameOfAtMost(250);
}

AddressLookupResult lookUpIPv4(const QByteArray &hostName)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    const int rc = getaddrinfo(hostName.constData(), nullptr, &hints, &list);
    AddressLookupResult result;
    if (rc != 0) {
        result.error = winsockErrorOf(rc);
        return result;
    }
    for (const addrinfo *a = list; a; a = a->ai_next) {
        if (a->ai_family != AF_INET)
            continue;
        const auto *in = reinterpret_cast<const sockaddr_in *>(a->ai_addr);
        result.addresses.append(ntohl(in->sin_addr.s_addr));
    }
    freeaddrinfo(list);
    if (result.addresses.isEmpty())
        result.error = kNoData;
    return result;
}

bool ownAddress(quint32 address)
{
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    bool found = false;
    for (const ifaddrs *i = list; i && !found; i = i->ifa_next) {
        if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET)
            found = ntohl(reinterpret_cast<const sockaddr_in *>(i->ifa_addr)->sin_addr.s_addr) == address;
    }
    freeifaddrs(list);
    return found;
}

// A datagram socket connected to the server and never sent on: the kernel picks the route and the
// source address.
std::optional<quint32> routeSource(quint32 server)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(1433);
    to.sin_addr.s_addr = htonl(server);
    std::optional<quint32> source;
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) == 0 && local.sin_family == AF_INET &&
        local.sin_addr.s_addr != htonl(INADDR_ANY))
        source = ntohl(local.sin_addr.s_addr);
    close(fd);
    return source;
}

} // namespace SystemNetwork
