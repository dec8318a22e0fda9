#pragma once
// The workstation's identity as the sign-in reports it to the server.

#include <QList>
#include <QString>
#include <functional>
#include <optional>

// The computer name: the platform's host name up to its first zero byte. Never fails.
QString WorkstationName();

// Where the workstation meets the database server: what the access layer knows of the open connection.
struct ServerRoute {
    std::optional<quint32> connectionLocal; // the local address of the connection's socket
    QList<quint32> serverAddresses;         // the server's IPv4 addresses, in the resolver's order
};

// The workstation's IPv4 address as the server sees it, as dotted decimal ("192.0.2.7"):
// 1. the first address of the machine's own host name that is not loopback and belongs to this
//    machine (where the name resolves as on a workstation with a proper entry);
// 2. else the local address of the connection to the server;
// 3. else the address that the route to the server leaves from.
// A loopback address therefore comes only from a server on this machine. Throws SocketError only when
// none of these gives an address: with the name lookup's error where the name did not resolve
// (11001 "Host not found."), else 10051 (the network is unreachable).
QString WorkstationIp(const ServerRoute &route);

// The lookups behind WorkstationIp, replaceable so that tests can make them fail or answer as
// another machine would. A host name lookup answers either addresses (host byte order, in the
// resolver's order) or a Winsock-style error number (11001 host not found, 11002 try again,
// 11003 non-recoverable, 11004 no data).
struct AddressLookupResult {
    QList<quint32> addresses;
    int error = 0;
};
using AddressLookup = std::function<AddressLookupResult(const QByteArray &hostName)>;
// Whether an address is one of this machine's interfaces.
using OwnAddressCheck = std::function<bool(quint32 address)>;
// The local address that the route to a server leaves from; nothing where no route leads there.
using RouteLookup = std::function<std::optional<quint32>(quint32 server)>;

struct WorkstationLookups {
    AddressLookup hostName;
    OwnAddressCheck ownAddress;
    RouteLookup route;
};
// Installs lookups; an empty member stands for the system's own. Returns the previous ones.
WorkstationLookups setWorkstationLookups(WorkstationLookups lookups);
// Replaces only the host name's lookup, with its answers taken as this machine's addresses (as a
// workstation whose name resolves to its own interfaces). Empty: the system's lookup and check.
void setAddressLookup(AddressLookup lookup);

// The system's IPv4 addresses for a host name (getaddrinfo), in the resolver's order, or its error as
// above. The workstation's own lookup unless tests replace it.
AddressLookupResult LookUpIPv4(const QByteArray &hostName);

// Dotted decimal of an IPv4 address given in host byte order.
QString dottedDecimal(quint32 address);
// 127.0.0.0/8.
inline bool isLoopback(quint32 address)
{
    return (address >> 24) == 127;
}
