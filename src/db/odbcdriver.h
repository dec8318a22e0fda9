#pragma once
// The ODBC driver the connection goes through, and the connection string in its own keywords.
//
// On Linux the driver is FreeTDS's. On Windows the system's driver manager lists the drivers
// installed (SQLDrivers), and the client takes the first of "ODBC Driver 18 for SQL Server", "ODBC
// Driver 17 for SQL Server", "SQL Server" (the driver every Windows has) and "FreeTDS" that is there.
// On either, an administrator may name another driver in the first line of Data/odbc-driver beside
// the settings file.

#include <QString>
#include <QStringList>

// The families of drivers whose connection-string keywords the client knows.
enum class DriverFamily {
    FreeTds,          // FreeTDS: Encryption=request|require|off, a configuration file for certificates
    MicrosoftOdbc,    // "ODBC Driver 17/18 for SQL Server": Encrypt=, TrustServerCertificate=
    WindowsSqlServer, // "SQL Server" of Windows: Encrypt=, TrustServerCertificate=
};

struct OdbcDriver {
    QString name; // as the driver manager lists it
    DriverFamily family = DriverFamily::FreeTds;

    friend bool operator==(const OdbcDriver &, const OdbcDriver &) = default;
};

// The driver of a name: FreeTDS for a name holding "FreeTDS", Microsoft's for "ODBC Driver N for SQL
// Server", Windows' own for "SQL Server"; any other name is taken for one that speaks Microsoft's
// keywords, as the drivers for SQL Server do.
OdbcDriver driverNamed(const QString &name);

// The driver to use: the administrator's (when named), else the first of the platform's preferred
// drivers that is installed, else the platform's fallback, which is always there ("SQL Server" on
// Windows, FreeTDS elsewhere).
OdbcDriver chooseDriver(const QStringList &installed, const QString &administratorsChoice);
QStringList preferredDrivers();
QString fallbackDriver();

// The drivers that the driver manager lists (SQLDrivers); empty when it cannot be asked.
QStringList installedDrivers();

// The driver of this workstation: chooseDriver() with the administrator's choice of the program
// folder and, where there is more than one preferred driver, the drivers installed.
OdbcDriver databaseDriver();

// The administrator's choice: the first line of Data/odbc-driver in the program folder, trimmed, or
// an empty text without the file.
QString administratorsDriver(const QString &programFolder);
