#include "workstation.h"

#include "error.h"

#include <QMutex>
#include <QMutexLocker>

#include <memory>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kHostNotFound = 11001; // the name is unknown
constexpr int kTryAgain = 11002;     // a temporary failure of the name service
constexpr int kNoRecovery = 11003;   // a failure the name service cannot recover from
constexpr int kNoData = 11004;       // the name is known but has no IPv4 address
constexpr int kNetworkUnreachable = 10051;

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

bool systemOwnAddress(quint32 address)
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
// source address without a packet leaving the machine.
std::optional<quint32> systemRoute(quint32 server)
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

QMutex lookupMutex;
WorkstationLookups currentLookups;

WorkstationLookups lookupsInForce()
{
    QMutexLocker lock(&lookupMutex);
    WorkstationLookups lookups = currentLookups;
    if (!lookups.hostName)
        lookups.hostName = LookUpIPv4;
    if (!lookups.ownAddress)
        lookups.ownAddress = systemOwnAddress;
    if (!lookups.route)
        lookups.route = systemRoute;
    return lookups;
}

} // namespace

AddressLookupResult LookUpIPv4(const QByteArray &hostName)
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

WorkstationLookups setWorkstationLookups(WorkstationLookups lookups)
{
    QMutexLocker lock(&lookupMutex);
    std::swap(currentLookups, lookups);
    return lookups;
}

void setAddressLookup(AddressLookup lookup)
{
    WorkstationLookups lookups;
    if (lookup) {
        auto answered = std::make_shared<QList<quint32>>();
        lookups.hostName = [lookup = std::move(lookup), answered](const QByteArray &name) {
            AddressLookupResult result = lookup(name);
            *answered = result.addresses;
            return result;
        };
        lookups.ownAddress = [answered](quint32 address) { return answered->contains(address); };
    }
    setWorkstationLookups(std::move(lookups));
}

QString dottedDecimal(quint32 address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xFF)
        .arg((address >> 8) & 0xFF)
        .arg(address & 0xFF);
}

QString WorkstationName()
{
    char buffer[256] = {};
    gethostname(buffer, sizeof buffer - 1); // the result is not examined: an untouched buffer is ""
    return QString::fromLocal8Bit(buffer, qstrnlen(buffer, sizeof buffer));
}

QString WorkstationIp(const ServerRoute &route)
{
    char buffer[250] = {};
    gethostname(buffer, sizeof buffer - 1);
    const QByteArray hostName(buffer, qstrnlen(buffer, sizeof buffer));

    const WorkstationLookups lookups = lookupsInForce();
    const AddressLookupResult named = lookups.hostName(hostName);
    // A name that resolves to the machine's own network address says what the server sees; a name
    // mapped to a loopback address (as installers write it) or to nothing does not.
    for (const quint32 address : named.addresses) {
        if (!isLoopback(address) && lookups.ownAddress(address))
            return dottedDecimal(address);
    }
    if (route.connectionLocal)
        return dottedDecimal(*route.connectionLocal);
    for (const quint32 server : route.serverAddresses) {
        if (const std::optional<quint32> source = lookups.route(server))
            return dottedDecimal(*source);
    }
    if (named.error != 0)
        throw SocketError(named.error,
                          named.error == kHostNotFound ? QStringLiteral("Host not found.") : QString());
    throw SocketError(kNetworkUnreachable, QStringLiteral("Network is unreachable."));
}
