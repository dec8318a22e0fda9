#pragma once
#include "firstconnectinfo.h"

class TADOConnection;

// Closes the connection, sets its connection string for the values and opens it again.
// Throws DatabaseError with the server's or the driver's text; the connection then stays closed.
void ConnectWith(TADOConnection &connection, const TFirstConnectInfo &info);
