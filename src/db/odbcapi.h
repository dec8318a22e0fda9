#pragma once
// The ODBC API for the layer's sources (never for its public headers), with the conversions between
// its handles and the layer's own (odbchandles.h).

#include "odbchandles.h"

// Windows' headers of the API take the system's types from windows.h, which therefore comes first.
#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

namespace odbc {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager's wide characters are UTF-16");

inline SQLHDBC api(Connection connection)
{
    return static_cast<SQLHDBC>(connection);
}
inline SQLHSTMT api(Statement statement)
{
    return static_cast<SQLHSTMT>(statement);
}
inline Connection connectionOf(SQLHDBC connection)
{
    return static_cast<Connection>(connection);
}
inline Statement statementOf(SQLHSTMT statement)
{
    return static_cast<Statement>(statement);
}

} // namespace odbc
