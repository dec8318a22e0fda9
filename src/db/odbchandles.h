#pragma once
// The driver manager's handles as the layer's headers pass them: two distinct types of the layer's
// own, so that a statement is never given where a connection is asked for, and no header needs the
// ODBC API's. Only the layer's sources turn them into the API's handles (odbcapi.h).

namespace odbc {

struct ConnectionHandle; // never defined: stands for an SQLHDBC
struct StatementHandle;  // never defined: stands for an SQLHSTMT

using Connection = ConnectionHandle *;
using Statement = StatementHandle *;

} // namespace odbc
