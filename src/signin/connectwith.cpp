#include "connectwith.h"

#include "common/programfolder.h"
#include "common/securitysettings.h"
#include "connectionstring.h"
#include "db/adoconnection.h"

void ConnectWith(TADOConnection &connection, const TFirstConnectInfo &info)
{
    connection.Close();
    const QString text = BuildConnectionString(info);
    // The string carries the values unquoted, so a value holding ';' or '=' cannot be read back out of
    // it; the driver gets them exactly as given, with the string's fixed settings.
    ConnectionProperties exact;
    exact.provider = QStringLiteral("SQLOLEDB.1");
    exact.packetSize = 4096;
    exact.encrypt = false;
    exact.autoTranslate = true;
    exact.user = info.User;
    exact.password = info.Password;
    exact.database = info.Database;
    exact.dataSource = info.Server;
    // The string asks for no encryption of the data; the workstation's settings may ask for more.
    const SecuritySettings security = ReadSecuritySettings(ProgramFolder());
    exact.encryption = security.encryption;
    exact.authorityFile = security.authorityFile;
    connection.setConnectionString(text, exact);
    connection.Open();
}
