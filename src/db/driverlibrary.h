#pragma once
// The driver's own entry points for the bypass of driverresults.h: the SQLMoreResults and
// SQLGetDiagRecW of the library that the driver manager loaded for a connection. This file holds
// every call of the bypass that depends on the operating system (finding a loaded library and its
// symbols); each system has its own source of it.

#include "diagnostics.h"

#include <QByteArray>
#include <QString>

namespace odbc {

using MoreResultsFunction = SQLRETURN(SQL_API *)(SQLHSTMT);

struct DriverEntryPoints {
    MoreResultsFunction moreResults = nullptr;
    DiagRecFunction diagRec = nullptr;
    QString driver;  // the driver's library as the driver manager names it (SQL_DRIVER_NAME)
    QString missing; // why the entry points were not found; empty when they were
    bool found() const { return moreResults && diagRec; }
};

// The entry points of the connection's driver (SQLHDBC of the driver manager). Looked up once per
// driver library, and only among the libraries already loaded.
DriverEntryPoints driverEntryPoints(SQLHDBC connection);

// The system's part of the lookup: the name by which the system knows the loaded library of that file
// name (on POSIX systems its full path, on Windows the file name itself), or an empty text when none
// is loaded (driverlibrary_posix.cpp, driverlibrary_windows.cpp).
QString loadedDriverLibrary(const QByteArray &driver);

// For tests: while hidden, no driver's library is found, as with a tracing library in between or a
// driver without SQLGetDiagRecW.
void setDriverLibrariesHidden(bool hidden);

} // namespace odbc
