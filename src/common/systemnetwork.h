#pragma once
// The system's side of the workstation's identity: its names, the lookup of a host name, its own
// addresses and the route to a server. One implementation for POSIX systems (systemnetwork_posix.cpp)
// and one for Windows (systemnetwork_windows.cpp); the rule that picks the address is the same on
// both (workstation.cpp).

#include "workstation.h"

#include <QByteArray>
#include <optional>

namespace SystemNetwork {

// The name lookup's errors, with the numbers of the Windows sockets layer on every platform.
constexpr int kHostNotFound = 11001; // the name is unknown
constexpr int kTryAgain = 11002;     // a temporary failure of the name service
constexpr int kNoRecovery = 11003;   // a failure the name service cannot recover from
constexpr int kNoData = 11004;       // the name is known but has no IPv4 address
constexpr int kNetworkUnreachable = 10051;

// The computer's name, up to the first zero byte of a 256-byte buffer: GetComputerNameA on Windows,
// the host name elsewhere. Never fails: a failed call gives the empty text.
QByteArray computerName();

// The machine's own host name, as the sockets layer's gethostname gives it (a 250-byte buffer, up to
// its first zero byte).
QByteArray hostName();

// The IPv4 addresses of a host name (host byte order, the resolver's order), or the error as above.
AddressLookupResult lookUpIPv4(const QByteArray &hostName);

// Whether an address is one of this machine's interfaces.
bool ownAddress(quint32 address);

// The local address that the route to the server leaves from, found without a packet leaving the
// machine; nothing where no route leads there.
std::optional<quint32> routeSource(quint32 server);

} // namespace SystemNetwork
