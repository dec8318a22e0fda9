#include "connectwith.h"

#include "connectionstring.h"
#include "db/adoconnection.h"

void ConnectWith(TADOConnection &connection, const TFirstConnectInfo &info)
{
    connection.Close();
    const QString text = BuildConnectionString(info);
    // The string carries the values unquoted; the driver gets them exactly as given.
    ConnectionProperties exact = parseConnectionString(text);
    exact.user = info.User;
    exact.password = info.Password;
    exact.database = info.Database;
    exact.dataSource = info.Server;
    connection.setConnectionString(text, exact);
    connection.Open();
}
