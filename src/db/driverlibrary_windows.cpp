// The driver's library on Windows: the module the driver manager loaded, by the file name it gives.
// Under Wine the driver manager hands over to the host's, whose driver is no module of this process:
// the lookup then says so, and the rest of an answer is read as driverresults.h describes.

#include "driverlibrary.h"

#include "common/sharedlibrary.h"

namespace odbc {

DriverEntryPoints lookUpDriverLibrary(const QByteArray &driver)
{
    DriverEntryPoints entries;
    entries.driver = QString::fromLocal8Bit(driver);
    void *library = SharedLibrary::loaded(entries.driver);
    if (!library) {
        entries.missing = QStringLiteral("no module of that name is loaded");
        return entries;
    }
    entries.moreResults =
        reinterpret_cast<MoreResultsFunction>(SharedLibrary::symbol(library, "SQLMoreResults"));
    entries.diagRec = reinterpret_cast<DiagRecFunction>(SharedLibrary::symbol(library, "SQLGetDiagRecW"));
    if (!entries.found())
        entries.missing = QStringLiteral("%1 has no %2")
                              .arg(entries.driver,
                                   QLatin1String(entries.moreResults ? "SQLGetDiagRecW" : "SQLMoreResults"));
    return entries;
}

} // namespace odbc
