#pragma once
// What Qt SQL's ODBC driver does not read right, read from the ODBC statement underneath.
//
// Qt 6.4's driver reads text through the narrow (8-bit) calls when it judges the driver not to be
// Unicode-capable, as it judges FreeTDS's, and it takes the driver's answer "more data, total
// unknown" (SQL_NO_TOTAL) for a Null: a text whose UTF-8 form is longer than the width the server
// announces for its column then arrives as Null, without an error. SQL Server announces a
// varchar(100) column as 100 bytes of Windows-1251, so 51 Cyrillic letters are already too many.
// Here every text is read as UTF-16 in pieces until the driver says it is complete, whatever the
// announced width.
//
// Qt also finishes a statement without looking at the results after its first: an error that the
// server raises after a statement has counted its rows (a procedure that stores and then fails)
// would be dropped. drainResults() reads every remaining result to its end.

#include "databaseerror.h"

#include <QMetaType>
#include <QVariant>

#include <optional>

class QSqlQuery;

namespace odbc {

// The ODBC statement under an executed query, or nullptr when the driver gives none.
void *statementHandle(const QSqlQuery &query);

// A column of the row the statement stands on, read once, as a value of the type Qt reports for the
// column: integers as such, texts whole, a Null as a null QVariant of that type. Throws
// DatabaseError with the driver's text when the driver fails.
QVariant readColumn(void *statement, int column, QMetaType type);

// Reads every result after the current one to its end and returns the first error among them (INFO
// messages are no errors). The statement has no pending results afterwards.
std::optional<DatabaseError> drainResults(void *statement);

// Whether the driver has given up on the connection under a QSqlDriver's handle (a void pointer to
// the ODBC connection): after a command cut off by the time limit whose cancel the server did not
// confirm, for one. Asking costs no round trip.
bool connectionDead(const QVariant &driverHandle);

// The error that the statement's last call reported: its first diagnostic record that is not a
// warning (an INFO message of the server is a warning), or nullopt when there is none.
std::optional<DatabaseError> statementError(void *statement);

} // namespace odbc
