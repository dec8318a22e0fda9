#pragma once
// Reading from an ODBC statement of FreeTDS's driver.
//
// The driver answers "more data, total unknown" (SQL_NO_TOTAL) for a text longer than its first
// piece, and the width the server announces for a column counts bytes of its code page: SQL Server
// announces a varchar(100) column as 100 bytes of Windows-1251, whose UTF-8 form may be twice as
// long. Every text is therefore read as UTF-16 in pieces until the driver says it is complete,
// whatever the announced width.
//
// (max), text and ntext values are read whole as the server sends them, and SQL Server sends them
// whole: the driver's login sets the fODBC flag, which makes the session's TEXTSIZE unlimited
// without any SET TEXTSIZE. No column the client reads is of those types.

#include "databaseerror.h"

#include <QMetaType>
#include <QVariant>

#include <optional>

namespace odbc {

// A column of the row the statement stands on, read once, as a value of the type Qt reports for the
// column: integers as such, texts whole, a Null as a null QVariant of that type. Throws
// DatabaseError with the driver's text when the driver fails.
QVariant readColumn(void *statement, int column, QMetaType type);

// Whether the driver has given up on the ODBC connection (SQLHDBC): after a command cut off by the
// time limit whose cancel the server did not confirm, for one. Asking costs no round trip.
bool connectionDead(void *connection);

// The first error that the driver reported on the ODBC connection (SQLHDBC) rather than on a
// statement (a link that broke under a statement, for one), or nullopt when there is none.
std::optional<DatabaseError> connectionMessage(void *connection);

// Every message of the statement's last call joined, warnings too, or nullopt when there is none:
// for a call that failed with no error among its messages (FreeTDS reports a link that broke under
// a statement with class 01 only: "Unexpected EOF from the server").
std::optional<DatabaseError> statementMessages(void *statement);

// Why the ODBC connection (SQLHDBC) failed to open: the driver's and the server's messages in
// order, without the driver manager's prefixes; "Unspecified error" when the driver says nothing.
DatabaseError connectionError(void *connection);

// The error that the statement's last call reported: its first diagnostic record that is not a
// warning (an INFO message of the server is a warning), or nullopt when there is none.
std::optional<DatabaseError> statementError(void *statement);

} // namespace odbc
