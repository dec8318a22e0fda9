#pragma once
// The server's text functions as SQLite functions that behave as the server's do under the
// database's collation (case never counts) and the server's rules for positions and lengths:
//   qel_len(x)                 LEN: characters without the trailing blanks
//   qel_upper(x), qel_lower(x) UPPER, LOWER for every alphabet, not only Latin letters
//   qel_substring(x, s, n)     SUBSTRING: positions s .. s+n-1 that lie within x; n < 0 is 537
//   qel_left(x, n)             LEFT: n < 0 is 537
//   qel_right(x, n)            RIGHT: n < 0 is 536
//   qel_replace(x, f, r)       REPLACE: f found regardless of case
//   qel_charindex(f, x[, s])   CHARINDEX: the 1-based place of f in x from s, regardless of case;
//                              0 when absent
// Each gives NULL for a NULL argument. A number as x is its decimal text; a float as x, whose
// text the server writes in its own style, is refused with 40517.

#include <QString>
#include <QStringList>

struct sqlite3;

namespace sandbox::functions {

void install(sqlite3 *db);

// The server's built-in functions that the sandbox runs as the server does, by upper-case
// name, with the SQLite expression's name they are written as.
QString sqliteName(const QString &upperName);

// How many arguments the server's function takes: {least, most}; {-1, -1} when any number.
struct Arity {
    int least = -1;
    int most = -1;
};
Arity arity(const QString &upperName);

// Names of functions the server has but the sandbox does not run: refused with 40517.
bool isServerFunction(const QString &upperName);

} // namespace sandbox::functions
