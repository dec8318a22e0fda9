// The driver's library on POSIX systems: among the shared objects the process has loaded, by the file
// name the driver manager gives.

#include "driverlibrary.h"

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

QString loadedDriverLibrary(const QByteArray &driver)
{
    return QString::fromLocal8Bit(loadedLibraryPath(driver));
}

} // namespace odbc
