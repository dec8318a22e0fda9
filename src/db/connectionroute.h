#pragma once
// Where this workstation meets the database server, for the workstation's address that the sign-in
// reports. The ODBC driver tells nothing of its socket (neither SQLGetInfo nor SQLGetConnectAttr has
// it), so the socket is found among the process's own: the TCP connection whose peer is the
// server's address and port.

#include "common/workstation.h"

class TADOConnection;

// The server's IPv4 addresses as its name resolves, and the local address of the open connection's
// socket where one is found. Never throws: what cannot be had stays empty.
ServerRoute connectionRoute(const TADOConnection &connection);

// The local IPv4 address of a TCP socket of this process that is connected to one of the addresses
// at the port (0: any port). Nothing when there is none.
std::optional<quint32> localAddressOfConnectionTo(const QList<quint32> &servers, int port);
