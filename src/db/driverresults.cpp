#include "driverresults.h"

#include "connectionproperties.h"
#include "odbcheaders.h"

#include <QByteArray>
#include <QHash>
#include <QMutex>

#include <array>
#include <dlfcn.h>
#include <link.h>

namespace odbc {

namespace {

using MoreResultsFunction = SQLRETURN (*)(SQLHSTMT);
using DiagRecFunction = SQLRETURN (*)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLWCHAR *, SQLINTEGER *,
                                      SQLWCHAR *, SQLSMALLINT, SQLSMALLINT *);

struct DriverEntries {
    MoreResultsFunction moreResults = nullptr;
    DiagRecFunction diagRec = nullptr;
};

// The loaded library whose file name is name (as SQL_DRIVER_NAME gives it), by its full path.
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
            const qsizetype slash = path.lastIndexOf('/');
            if (path.mid(slash + 1) == s->name) {
                s->path = path;
                return 1;
            }
            return 0;
        },
        &search);
    return search.path;
}

// The driver's own entry points, found once per driver library.
DriverEntries driverEntries(SQLHDBC dbc)
{
    std::array<char, 512> name{};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetInfo(dbc, SQL_DRIVER_NAME, name.data(), SQLSMALLINT(name.size()), &length)))
        return {};
    const QByteArray driver(name.data());
    static QMutex mutex;
    static QHash<QByteArray, DriverEntries> known;
    QMutexLocker lock(&mutex);
    const auto found = known.constFind(driver);
    if (found != known.cend())
        return *found;
    DriverEntries entries;
    const QByteArray path = loadedLibraryPath(driver);
    // Already loaded by the driver manager: RTLD_NOLOAD only takes another reference to it.
    if (void *library = path.isEmpty() ? nullptr : dlopen(path.constData(), RTLD_LAZY | RTLD_NOLOAD)) {
        entries.moreResults = reinterpret_cast<MoreResultsFunction>(dlsym(library, "SQLMoreResults"));
        entries.diagRec = reinterpret_cast<DiagRecFunction>(dlsym(library, "SQLGetDiagRecW"));
    }
    known.insert(driver, entries);
    return entries;
}

// The first error among the driver's records for its statement, with the server's number; nullopt
// when they hold none. driverOwn is set when the first error is the driver's own (no number).
std::optional<DatabaseError> driverError(const DriverEntries &entries, SQLHSTMT statement, bool &driverOwn)
{
    for (SQLSMALLINT i = 1;; ++i) {
        std::array<SQLWCHAR, 6> state{};
        std::array<SQLWCHAR, 1024> text{};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(entries.diagRec(SQL_HANDLE_STMT, statement, i, state.data(), &native, text.data(),
                                           SQLSMALLINT(text.size()), &length)))
            return std::nullopt;
        const QString sqlState = QString::fromUtf16(reinterpret_cast<const char16_t *>(state.data()), 5);
        if (sqlState.startsWith(QLatin1String("01")))
            continue;
        length = qBound<SQLSMALLINT>(0, length, SQLSMALLINT(text.size() - 1));
        driverOwn = native == 0;
        return DatabaseError(withoutDriverPrefixes(
                                 QString::fromUtf16(reinterpret_cast<const char16_t *>(text.data()), length)),
                             sqlState, int(native));
    }
}

} // namespace

RestOfAnswer readRestAfterFailedExecute(void *connection, void *statement)
{
    RestOfAnswer rest;
    auto *dbc = static_cast<SQLHDBC>(connection);
    const DriverEntries entries = driverEntries(dbc);
    if (!entries.moreResults || !entries.diagRec)
        return rest;
    // In: the driver manager's handle; out: the driver's.
    SQLHSTMT driverStatement = static_cast<SQLHSTMT>(statement);
    if (!SQL_SUCCEEDED(SQLGetInfo(dbc, SQL_DRIVER_HSTMT, &driverStatement,
                                  SQLSMALLINT(sizeof(driverStatement)), nullptr)) ||
        !driverStatement || driverStatement == statement)
        return rest;
    for (;;) {
        const SQLRETURN r = entries.moreResults(driverStatement);
        if (r == SQL_NO_DATA) {
            rest.complete = true;
            return rest;
        }
        if (SQL_SUCCEEDED(r))
            continue; // a count or a row set of what still ran: passed over
        bool driverOwn = true;
        std::optional<DatabaseError> error = driverError(entries, driverStatement, driverOwn);
        if (error && !rest.error)
            rest.error = error;
        // The driver's own failure (a lost connection among them) ends the reading.
        if (driverOwn)
            return rest;
    }
}

} // namespace odbc
