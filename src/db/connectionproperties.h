#pragma once
// The database connection is described by an OLE DB-style connection string
// ("Provider=SQLOLEDB.1;User ID=...;Data Source=..."); the driver underneath is FreeTDS's ODBC driver,
// which wants its own ODBC connection string. This file maps the one onto the other.

#include "common/securitysettings.h"
#include "odbcdriver.h"

#include <QByteArray>
#include <QString>

struct ConnectionProperties {
    QString provider;
    QString user;
    QString password;
    QString database;   // Initial Catalog
    QString dataSource; // the server in any of SQL Server's forms
    int packetSize = 4096;
    bool encrypt = false;      // Use Encryption for Data: everything inside TLS
    bool autoTranslate = true; // character translation between client and server
    // The workstation's own settings: how much travels inside TLS when the string does not ask for
    // everything, and the authority that the server's certificate must come from (empty: none).
    EncryptionSetting encryption = EncryptionSetting::Login;
    QString authorityFile;

    friend bool operator==(const ConnectionProperties &, const ConnectionProperties &) = default;
};

// Reads an OLE DB connection string: "key=value" pairs separated by ';', keys without regard to case,
// values optionally in double or single quotes (a quote doubled inside stands for itself).
// Unknown keys are ignored. Throws DatabaseError for a malformed string.
ConnectionProperties parseConnectionString(const QString &text);

// Where a Data Source points: "host", "host,port", "host\instance", "tcp:host,port", "(local)", ".".
struct ServerAddress {
    QString host;
    int port = 0;     // 0: not given
    QString instance; // empty: the default instance
};
ServerAddress parseDataSource(const QString &dataSource);

// A value as the driver's connection-string grammar carries it: in braces when it holds anything the
// ODBC grammar gives a meaning to, else as it is. Microsoft's drivers take a '}' inside braces
// doubled; FreeTDS ends a braced value at the first "};" and takes every other '}' as it is, so a
// value holding "};" cannot be carried to FreeTDS (odbcConnectionString() refuses it).
QString odbcValue(const QString &value, DriverFamily family = DriverFamily::FreeTds);

// FreeTDS's encryption for the properties: "request" (the login inside TLS whenever the server can
// encrypt, everything when it requires it), "require" (everything) or "off".
QString driverEncryption(const ConnectionProperties &properties);

// The ODBC connection string for FreeTDS's driver, with a time limit in seconds for each command
// (0: none). With an authority the server is named by the entry kDriverServerEntry of the driver's
// configuration (driverConfiguration()), since the driver takes a certificate authority only from
// there. Throws DatabaseError when the provider is not one this client can stand in for.
//
// Microsoft's drivers and Windows' own take the server as "tcp:host,port" or "host\instance", keep
// the login inside TLS whenever the server can encrypt (Encrypt=no) and everything inside it when
// asked (Encrypt=yes), and check the server's certificate against the authorities Windows trusts
// (TrustServerCertificate=no) only when the workstation names an authority; their command limit is
// an attribute of the connection (TADOConnection::Open), not a keyword.
QString odbcConnectionString(const ConnectionProperties &properties, int commandTimeout = 0,
                             const OdbcDriver &driver = OdbcDriver{QStringLiteral("FreeTDS"),
                                                                   DriverFamily::FreeTds});

// The driver's configuration file for properties with an authority: one entry with the server's
// address, the encryption, the authority at authorityPath (the client's own copy of the file that
// properties name, in its private folder) and the check of the certificate's name against the
// server's name as the settings write it. Throws DatabaseError for a name or a path that the file
// cannot carry: its reader takes 256 bytes a line and folds runs of blanks.
inline constexpr char kDriverServerEntry[] = "qel31";
inline constexpr int kLongestDriverPath = 200;
QByteArray driverConfiguration(const ConnectionProperties &properties, const QString &authorityPath);

// The driver manager and the driver put "[unixODBC][FreeTDS][SQL Server]" before a server's text and
// add their own messages after it; the user is shown the server's text alone.
QString withoutDriverPrefixes(const QString &message);
