#include "driverlibrary.h"

#include "common/sharedlibrary.h"

#include <QByteArray>
#include <QHash>
#include <QMutex>

#include <array>
#include <atomic>

namespace odbc {

namespace {

std::atomic<bool> g_hidden{false};

DriverEntryPoints lookUp(const QByteArray &driver)
{
    DriverEntryPoints entries;
    entries.driver = QString::fromLocal8Bit(driver);
    const QString library = loadedDriverLibrary(driver);
    // Already loaded by the driver manager: this only takes another reference to it.
    void *handle = library.isEmpty() ? nullptr : SharedLibrary::loaded(library);
    if (!handle) {
        entries.missing = QStringLiteral("no library of that name is loaded");
        return entries;
    }
    entries.moreResults =
        reinterpret_cast<MoreResultsFunction>(SharedLibrary::symbol(handle, "SQLMoreResults"));
    entries.diagRec = reinterpret_cast<DiagRecFunction>(SharedLibrary::symbol(handle, "SQLGetDiagRecW"));
    if (!entries.found())
        entries.missing =
            QStringLiteral("%1 has no %2")
                .arg(library, QLatin1String(entries.moreResults ? "SQLGetDiagRecW" : "SQLMoreResults"));
    return entries;
}

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
    return *known.insert(driver, lookUp(driver));
}

void setDriverLibrariesHidden(bool hidden)
{
    g_hidden = hidden;
}

} // namespace odbc
