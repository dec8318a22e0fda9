#pragma once
// The workstation's identity as the sign-in reports it to the server.

#include <QList>
#include <QString>
#include <functional>

// The computer name: the platform's host name up to its first zero byte. Never fails.
QString WorkstationName();

// The first IPv4 address of the machine's own host name, as dotted decimal ("127.0.0.1").
// Throws SocketError when the name does not resolve.
QString WorkstationIp();

// The name lookup behind WorkstationIp, replaceable so tests can make it fail or answer several
// addresses. A lookup answers either addresses (host byte order, in the resolver's order) or a
// Winsock-style error number (11001 host not found, 11002 try again, 11003 non-recoverable,
// 11004 no data).
struct AddressLookupResult {
    QList<quint32> addresses;
    int error = 0;
};
using AddressLookup = std::function<AddressLookupResult(const QByteArray &hostName)>;
// Installs a lookup; an empty function restores the system's. Returns the previous one.
AddressLookup setAddressLookup(AddressLookup lookup);

// Dotted decimal of an IPv4 address given in host byte order.
QString dottedDecimal(quint32 address);
