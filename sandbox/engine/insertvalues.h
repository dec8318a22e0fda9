#pragma once
// The values of INSERT ... VALUES and UPDATE ... SET as the server converts them to their columns'
// types.
//
// Unicode text (N'...', an nvarchar parameter) written to a column of a number or date type is
// converted as CAST converts it, so that its errors name it nvarchar as the server's do (242 "The
// conversion of a nvarchar data type to a datetime data type ...", 245 "... the nvarchar value
// ..."); the row checks of the table then see a value of the column's type. Text that is varchar
// is left to those checks, which name it varchar.

#include "sandbox/engine/exprtypes.h"
#include "sandbox/engine/tsqllexer.h"

#include <QList>

namespace sandbox::tsql {

// INSERT INTO t (columns) VALUES (...), ... and UPDATE t SET column = value, ... with each such
// value wrapped in CAST(value AS type); any other statement (an INSERT without its list of columns,
// INSERT ... SELECT, UPDATE ... FROM) comes back as it is.
QList<Token> convertUnicodeValues(const QList<Token> &statement, const Catalog &catalog,
                                  const ParameterTypes &parameters);

} // namespace sandbox::tsql
