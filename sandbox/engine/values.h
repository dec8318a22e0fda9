#pragma once
// Arithmetic and conversions of values as the server does them for a client that signed in
// through ODBC (ANSI_WARNINGS and ARITHABORT on): errors are raised, never a NULL or a wrapped
// number in their place.
//
// The translator rewrites T-SQL into calls of these SQLite functions:
//   qel_arith(op, a, b, type)       a op b for op + - * / %, computed as the server computes the
//                                   type ("int", "bigint", "float", or "" to decide by the values):
//                                   8134 "Divide by zero error encountered." for / and % by zero,
//                                   8115 "Arithmetic overflow error converting expression to data
//                                   type int." when the result leaves the type
//   qel_convert(x, type, from)      CAST(x AS type) for int, bigint, smallint, tinyint, bit, float
//                                   and real, and the implicit conversion of text compared with an
//                                   int column; from names the type of text ("varchar" or
//                                   "nvarchar") in the errors: 245 for text that is no number,
//                                   248 for a number too big for the type, 8114 for text that is
//                                   no float, 220 for an int value outside smallint or
//                                   tinyint ("value = 300"), 8115 for a number outside the type
//                                   otherwise
//   qel_text(x, width, type)        CAST(x AS varchar(width)) and the other sized text types: text
//                                   cut to the width; a number too long is '*' for varchar and
//                                   8115 for nvarchar
//   qel_binary(x, width, from, pad) CAST(x AS varbinary(width)), binary(width) with pad: text as its
//                                   bytes (from: varchar Windows-1251, nvarchar UTF-16LE), cut to
//                                   the width; qel_text reads bytes back the same way
//   qel_aggregate(value, eliminated) the aggregate's value; notes 8153 when eliminated is true
//                                   (a NULL was left out of the aggregate)
// Text converts to an integer type when it is blanks, an optional sign and digits; an empty text
// is 0, as on the server.

#include <QString>

#include <optional>

struct sqlite3;

namespace sandbox::values {

// Registers the functions. eliminated is set when an aggregate left out a NULL; the engine reads
// and clears it around each statement.
void install(sqlite3 *db, bool *eliminated);

// The integer types the server checks ranges for, by declared name ("int", "smallint", ...);
// nothing for other types.
struct IntegerRange {
    qint64 low = 0;
    qint64 high = 0;
};
std::optional<IntegerRange> integerRange(const QString &type);

} // namespace sandbox::values
