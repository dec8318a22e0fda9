#include "connectionstring.h"

QString BuildConnectionString(const TFirstConnectInfo &info)
{
    return QStringLiteral("Provider=SQLOLEDB.1;Password=") + info.Password +
           QStringLiteral(";Persist Security Info=True;User ID=") + info.User +
           QStringLiteral(";Initial Catalog=") + info.Database + QStringLiteral(";Data Source=") +
           info.Server + QStringLiteral(";Use Procedure for Prepare=1;Auto Translate=True;") +
           QStringLiteral("Packet Size=4096;Use Encryption for Data=False;") +
           QStringLiteral("Tag with column collation when possible=False");
}
