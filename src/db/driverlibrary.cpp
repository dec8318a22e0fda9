#include "driverlibrary.h"

#include <QByteArray>
#include <QHash>
#include <QMutex>

#include <array>
#include <atomic>

namespace odbc {

namespace {

std::atomic<bool> g_hidden{false};

} // namespace

DriverEntryPoints driverEntryPoints(SQLHDBC connection)
{
    std::array<char, 512> name{};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(
            SQLGetInfo(connection, SQL_DRIVER_NAME, name.data(), SQLSMALLINT(name.size()), &length))) {
        DriverEntryPoints unnamed;
        unnamed.missing = QStringLiteral("the driver manager does not name the driver");
        return unnamed;
    }
    const QByteArray driver(name.data());
    if (g_hidden) {
        DriverEntryPoints hidden;
        hidden.driver = QString::fromLocal8Bit(driver);
        hidden.missing = QStringLiteral("the driver's library is hidden");
        return hidden;
    }
    static QMutex mutex;
    static QHash<QByteArray, DriverEntryPoints> known;
    const QMutexLocker lock(&mutex);
    const auto found = known.constFind(driver);
    if (found != known.cend())
        return *found;
    return *known.insert(driver, lookUpDriverLibrary(driver));
}

void setDriverLibrariesHidden(bool hidden)
{
    g_hidden = hidden;
}

} // namespace odbc
