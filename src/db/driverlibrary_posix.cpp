// The driver's library on POSIX systems: among the shared objects the process has loaded, by the file
// name the driver manager gives.

#include "driverlibrary.h"

#include <dlfcn.h>
#include <link.h>

namespace odbc {

namespace {

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

} // namespace

DriverEntryPoints lookUpDriverLibrary(const QByteArray &driver)
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

} // namespace odbc
