#pragma once
// The two messages that open a connection: PRELOGIN (answered with "encryption not supported",
// so the client logs in in clear) and LOGIN7 with SQL Server authentication.

#include <QByteArray>
#include <QString>

namespace sandbox::tds {

struct PreLoginRequest {
    quint8 encryption = 0x02;
    bool hasEncryption = false;
};

// Parses the option table of a PRELOGIN message; throws ProtocolError when an option points
// outside the message.
PreLoginRequest parsePreLogin(const QByteArray &payload);
// The answer: VERSION, ENCRYPTION = not supported, INSTOPT, THREADID, MARS off.
QByteArray preLoginAnswer();

struct Login7 {
    quint32 tdsVersion = 0;
    quint32 packetSize = 0;
    QString hostName;
    QString userName;
    QString password;
    QString appName;
    QString serverName;
    QString libraryName;
    QString language;
    QString database;
};

// Parses LOGIN7: the fixed part, the offset/length table (every field checked against the
// record), the descrambled password. The FeatureExt block is skipped.
Login7 parseLogin7(const QByteArray &payload);

// LOGIN7 password bytes: each byte had its nibbles swapped and was XORed with 0xA5.
QString descramblePassword(const QByteArray &scrambled);

} // namespace sandbox::tds
