#include "workstation.h"

#include "error.h"

#include <QMutex>
#include <QMutexLocker>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kHostNotFound = 11001; // the name is unknown
constexpr int kTryAgain = 11002;     // a temporary failure of the name service
constexpr int kNoRecovery = 11003;   // a failure the name service cannot recover from
constexpr int kNoData = 11004;       // the name is known but has no IPv4 address

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

AddressLookupResult systemLookup(const QByteArray &hostName)
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

QMutex lookupMutex;
AddressLookup currentLookup;

} // namespace

AddressLookup setAddressLookup(AddressLookup lookup)
{
    QMutexLocker lock(&lookupMutex);
    std::swap(currentLookup, lookup);
    return lookup;
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

QString WorkstationIp()
{
    char buffer[250] = {};
    gethostname(buffer, sizeof buffer - 1);
    const QByteArray hostName(buffer, qstrnlen(buffer, sizeof buffer));

    AddressLookup lookup;
    {
        QMutexLocker lock(&lookupMutex);
        lookup = currentLookup;
    }
    const AddressLookupResult result = lookup ? lookup(hostName) : systemLookup(hostName);
    if (result.error != 0 || result.addresses.isEmpty()) {
        const int code = result.error != 0 ? result.error : kNoData;
        throw SocketError(code, code == kHostNotFound ? QStringLiteral("Host not found.") : QString());
    }
    return dottedDecimal(result.addresses.first());
}
