#include "connectionroute.h"

#include "adoconnection.h"
#include "connectionproperties.h"

namespace {

constexpr int kDefaultPort = 1433;

} // namespace

ServerRoute connectionRoute(const TADOConnection &connection)
{
    ServerRoute route;
    const ServerAddress server = parseDataSource(connection.properties().dataSource);
    route.serverAddresses = LookUpIPv4(server.host.toUtf8()).addresses;
    if (!connection.Connected() || route.serverAddresses.isEmpty())
        return route;
    // A named instance's port comes from the server's browser service; any port of the server will do
    // then, since every connection to one address leaves by the same route.
    const int port = server.port != 0 ? server.port : server.instance.isEmpty() ? kDefaultPort : 0;
    route.connectionLocal = localAddressOfConnectionTo(route.serverAddresses, port);
    return route;
}
