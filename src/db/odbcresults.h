#pragma once
// Reading a result set from an ODBC statement of FreeTDS's driver.
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
//
// Internal to the layer: its sources only.

#include "diagnostics.h"
#include "rowset.h"

#include <optional>

namespace odbc {

// Whether the statement's current result has columns; false with nothing to read.
bool hasColumns(SQLHSTMT statement);

// Reads the statement's current result set into rows: its columns, then every row, each value once,
// as the type the driver reports for its column: integers as such, texts whole, a Null as a null
// QVariant of that type. Returns why a call failed (an error of the server among the rows ends them
// there, the rest of the answer still to be read), nullopt when every row was read.
std::optional<DatabaseError> readResultSet(SQLHDBC connection, SQLHSTMT statement, RowSet &rows);

} // namespace odbc
