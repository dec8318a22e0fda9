#include "odbcdriver.h"

#include "common/programfolder.h"
#include "odbcapi.h"

#include <QDir>
#include <QFile>

OdbcDriver driverNamed(const QString &name)
{
    if (name.contains(QLatin1String("FreeTDS"), Qt::CaseInsensitive))
        return {name, DriverFamily::FreeTds};
    if (name.compare(QLatin1String("SQL Server"), Qt::CaseInsensitive) == 0)
        return {name, DriverFamily::WindowsSqlServer};
    return {name, DriverFamily::MicrosoftOdbc};
}

QStringList preferredDrivers()
{
#ifdef Q_OS_WIN
    return {QStringLiteral("ODBC Driver 18 for SQL Server"), QStringLiteral("ODBC Driver 17 for SQL Server"),
            QStringLiteral("SQL Server"), QStringLiteral("FreeTDS")};
#else
    return {QStringLiteral("FreeTDS")};
#endif
}

QString fallbackDriver()
{
#ifdef Q_OS_WIN
    return QStringLiteral("SQL Server");
#else
    return QStringLiteral("FreeTDS");
#endif
}

OdbcDriver chooseDriver(const QStringList &installed, const QString &administratorsChoice)
{
    if (!administratorsChoice.isEmpty())
        return driverNamed(administratorsChoice);
    for (const QString &name : preferredDrivers()) {
        if (installed.contains(name, Qt::CaseInsensitive))
            return driverNamed(name);
    }
    return driverNamed(fallbackDriver());
}

QStringList installedDrivers()
{
    QStringList names;
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        return names;
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
        SQLWCHAR name[256] = {};
        SQLWCHAR attributes[1024] = {};
        SQLSMALLINT nameLength = 0, attributesLength = 0;
        const SQLRETURN r = SQLDriversW(env, direction, name, SQLSMALLINT(std::size(name)), &nameLength,
                                        attributes, SQLSMALLINT(std::size(attributes)), &attributesLength);
        if (!SQL_SUCCEEDED(r))
            break;
        names.append(QString::fromUtf16(reinterpret_cast<const char16_t *>(name),
                                        qMin<qsizetype>(nameLength, std::size(name) - 1)));
        direction = SQL_FETCH_NEXT;
    }
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return names;
}

OdbcDriver databaseDriver()
{
    const QString named = administratorsDriver(ProgramFolder());
    if (!named.isEmpty() || preferredDrivers().size() == 1)
        return chooseDriver({}, named);
    // The drivers installed change only with an installation: asked once a run.
    static const QStringList installed = installedDrivers();
    return chooseDriver(installed, named);
}

QString administratorsDriver(const QString &programFolder)
{
    QFile file(programFolder + QDir::separator() + QStringLiteral("Data") + QDir::separator() +
               QStringLiteral("odbc-driver"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readLine(1024)).trimmed();
}
