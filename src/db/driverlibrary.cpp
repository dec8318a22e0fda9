#include "driverlibrary.h"

#include <QByteArray>
#include <QHash>
#include <QMutex>

#include <array>
#include <atomic>
#include <dlfcn.h>
#include <link.h>

namespace odbc {

namespace {

std::atomic<bool> g_hidden{false};

// The loaded library whose file name is name, by its full path; empty when none is loaded.
QByteArray loadedLibraryPath(const QByteArray &name)
{
    struct Search {
        QByteArray name;
        QByteArray path;
    } search{name, {}};
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *data) {
            auto *s = static_cast<Search *>(data);
            const QByteArray path(info->dlpi_name ? info->dlpi_name : "");
            if (path.mid(path.lastIndexOf('/') + 1) == s->name) {
                s->path = path;
                return 1;
            }
            return 0;
        },
        &search);
    return search.path;
}

DriverEntryPoints lookUp(const QByteArray &driver)
{
    DriverEntryPoints entries;
    entries.driver = QString::fromLocal8Bit(driver);
    const QByteArray path = loadedLibraryPath(driver);
    if (path.isEmpty()) {
        entries.missing = QStringLiteral("no library of that name is loaded");
        return entries;
    }
    // Already loaded by the driver manager: RTLD_NOLOAD only takes another reference to it.
    void *library = dlopen(path.constData(), RTLD_LAZY | RTLD_NOLOAD);
    if (!library) {
        entries.missing = QString::fromLocal8Bit(dlerror());
        return entries;
    }
    entries.moreResults = reinterpret_cast<MoreResultsFunction>(dlsym(library, "SQLMoreResults"));
    entries.diagRec = reinterpret_cast<DiagRecFunction>(dlsym(library, "SQLGetDiagRecW"));
    if (!entries.found())
        entries.missing = QStringLiteral("%1 has no %2")
                              .arg(QString::fromLocal8Bit(path),
                                   QLatin1String(entries.moreResults ? "SQLGetDiagRecW" : "SQLMoreResults"));
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
