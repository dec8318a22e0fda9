#pragma once
#include "firstconnectinfo.h"

#include <QString>

// The connection string of the database connection, the values inserted as they are:
// Provider=SQLOLEDB.1;Password=P;Persist Security Info=True;User ID=U;Initial Catalog=D;
// Data Source=S;Use Procedure for Prepare=1;Auto Translate=True;Packet Size=4096;
// Use Encryption for Data=False;Tag with column collation when possible=False
QString BuildConnectionString(const TFirstConnectInfo &info);
