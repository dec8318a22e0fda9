#include "workstation.h"

#include "error.h"

#include <QMutex>
#include <QMutexLocker>

#include "systemnetwork.h"

#include <memory>

namespace {

QMutex lookupMutex;
WorkstationLookups currentLookups;

WorkstationLookups lookupsInForce()
{
    QMutexLocker lock(&lookupMutex);
    WorkstationLookups lookups = currentLookups;
    if (!lookups.hostName)
        lookups.hostName = LookUpIPv4;
    if (!lookups.ownAddress)
        lookups.ownAddress = SystemNetwork::ownAddress;
    if (!lookups.route)
        lookups.route = SystemNetwork::routeSource;
    return lookups;
}

} // namespace

AddressLookupResult LookUpIPv4(const QByteArray &hostName)
{
    return SystemNetwork::lookUpIPv4(hostName);
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
    return QString::fromLocal8Bit(SystemNetwork::computerName());
}

QString WorkstationIp(const ServerRoute &route)
{
    const QByteArray hostName = SystemNetwork::hostName();

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
        throw SocketError(named.error, named.error == SystemNetwork::kHostNotFound
                                           ? QStringLiteral("Host not found.")
                                           : QString());
    throw SocketError(SystemNetwork::kNetworkUnreachable, QStringLiteral("Network is unreachable."));
}
