#include "systemnetwork.h"

#include "winsock.h"

#include <iphlpapi.h>
#include <windows.h>

#include <memory>

namespace SystemNetwork {

namespace {

int lookupErrorOf(int error)
{
    switch (error) {
    case WSAHOST_NOT_FOUND:
    case kTryAgain:
    case kNoRecovery:
    case kNoData:
        return error;
    default:
        return kNoRecovery;
    }
}

} // namespace

QByteArray computerName()
{
    char buffer[256] = {};
    DWORD size = sizeof buffer;
    GetComputerNameA(buffer, &size); // not examined: an untouched buffer is ""
    return QByteArray(buffer, qstrnlen(buffer, sizeof buffer));
}

QByteArray hostName()
{
    startWinsock();
    char buffer[250] = {};
    gethostname(buffer, sizeof buffer - 1);
    return QByteArray(buffer, qstrnlen(buffer, sizeof buffer));
}

AddressLookupResult lookUpIPv4(const QByteArray &hostName)
{
    startWinsock();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    AddressLookupResult result;
    if (const int rc = getaddrinfo(hostName.constData(), nullptr, &hints, &list); rc != 0) {
        result.error = lookupErrorOf(rc);
        return result;
    }
    for (const addrinfo *a = list; a; a = a->ai_next) {
        if (a->ai_family == AF_INET)
            result.addresses.append(
                ntohl(reinterpret_cast<const sockaddr_in *>(a->ai_addr)->sin_addr.s_addr));
    }
    freeaddrinfo(list);
    if (result.addresses.isEmpty())
        result.error = kNoData;
    return result;
}

bool ownAddress(quint32 address)
{
    // The adapters' list is asked for with a buffer that grows until it fits.
    ULONG size = 16 * 1024;
    std::unique_ptr<char[]> buffer;
    ULONG rc = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer = std::make_unique<char[]>(size);
        rc = GetAdaptersAddresses(AF_INET,
                                  GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                  nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.get()), &size);
    }
    if (rc != NO_ERROR)
        return false;
    for (auto *adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES *>(buffer.get()); adapter;
         adapter = adapter->Next) {
        for (const IP_ADAPTER_UNICAST_ADDRESS *unicast = adapter->FirstUnicastAddress; unicast;
             unicast = unicast->Next) {
            const sockaddr *a = unicast->Address.lpSockaddr;
            if (a && a->sa_family == AF_INET &&
                ntohl(reinterpret_cast<const sockaddr_in *>(a)->sin_addr.s_addr) == address)
                return true;
        }
    }
    return false;
}

// A datagram socket connected to the server and never sent on: the system picks the route and the
// source address.
std::optional<quint32> routeSource(quint32 server)
{
    startWinsock();
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return std::nullopt;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(1433);
    to.sin_addr.s_addr = htonl(server);
    std::optional<quint32> source;
    sockaddr_in local{};
    int length = sizeof local;
    if (::connect(s, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr *>(&local), &length) == 0 && local.sin_family == AF_INET &&
        local.sin_addr.s_addr != htonl(INADDR_ANY))
        source = ntohl(local.sin_addr.s_addr);
    closesocket(s);
    return source;
}

} // namespace SystemNetwork
