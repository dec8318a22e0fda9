// The connection's socket on Windows: the system's table of TCP connections, those of this process.

#include "connectionroute.h"

#include "common/winsock.h"

#include <iphlpapi.h>
#include <windows.h>

#include <memory>

std::optional<quint32> localAddressOfConnectionTo(const QList<quint32> &servers, int port)
{
    // The table is asked for with a buffer that grows until it fits: connections come and go.
    DWORD size = 16 * 1024;
    std::unique_ptr<char[]> buffer;
    DWORD rc = ERROR_INSUFFICIENT_BUFFER;
    for (int attempt = 0; attempt < 4 && rc == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        buffer = std::make_unique<char[]>(size);
        rc = GetExtendedTcpTable(buffer.get(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
    }
    if (rc != NO_ERROR)
        return std::nullopt;
    const DWORD self = GetCurrentProcessId();
    const auto *table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID *>(buffer.get());
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_TCPROW_OWNER_PID &row = table->table[i];
        if (row.dwOwningPid != self || row.dwState != MIB_TCP_STATE_ESTAB)
            continue;
        const quint32 peer = ntohl(row.dwRemoteAddr);
        const int peerPort = ntohs(u_short(row.dwRemotePort));
        if (servers.contains(peer) && (port == 0 || peerPort == port))
            return ntohl(row.dwLocalAddr);
    }
    return std::nullopt;
}
