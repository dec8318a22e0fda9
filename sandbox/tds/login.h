#pragma once
// The two messages that open a connection: PRELOGIN, whose ENCRYPTION option decides what
// travels inside TLS, and LOGIN7 with SQL Server authentication.

#include "sandbox/tds/tls.h"

#include <QByteArray>
#include <QString>

namespace sandbox::tds {

// The values of the ENCRYPTION option, in both directions.
namespace encrypt {
constexpr quint8 Off = 0x00;          // available but off: only the login goes inside TLS
constexpr quint8 On = 0x01;           // everything inside TLS
constexpr quint8 NotSupported = 0x02; // no TLS at all
constexpr quint8 Required = 0x03;     // the server insists on TLS for everything
} // namespace encrypt

struct PreLoginRequest {
    quint8 encryption = 0x02;
    bool hasEncryption = false;
};

// Parses the option table of a PRELOGIN message; throws ProtocolError when an option points
// outside the message.
PreLoginRequest parsePreLogin(const QByteArray &payload);
// The server's ENCRYPTION answer to the client's, as a server in that mode gives it:
//   none:      not supported, whatever the client says;
//   supported: the client's own value (off: the login inside TLS; on: everything; not
//              supported: nothing); an unknown value counts as on;
//   forced:    on when the client asked for it, otherwise required (a client that cannot do
//              TLS is then refused).
// A PRELOGIN without the option is a client that cannot do TLS.
quint8 encryptionAnswer(EncryptionMode mode, const PreLoginRequest &request);
// The answer: VERSION, ENCRYPTION, INSTOPT, THREADID, MARS off.
QByteArray preLoginAnswer(quint8 encryption);

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
    // OptionFlags2's fODBC: the client asks for ODBC's session defaults (TEXTSIZE unlimited among
    // them).
    bool odbc = false;
};

// Parses LOGIN7: the fixed part, the offset/length table (every field checked against the
// record), the descrambled password. The FeatureExt block is skipped.
Login7 parseLogin7(const QByteArray &payload);

// LOGIN7 password bytes: each byte had its nibbles swapped and was XORed with 0xA5.
QString descramblePassword(const QByteArray &scrambled);

} // namespace sandbox::tds
