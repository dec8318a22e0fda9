#pragma once
// The checks the server makes on every row written, done in SQLite by triggers that call the
// engine's functions:
//   a text or binary value longer than its column's declared width   2628 "String or binary data
//                                      would be truncated in table 'qel.dbo.t', column 'c'. Truncated
//                                      value: '...'." at compatibility level 150 and above; 8152
//                                      "String or binary data would be truncated." at 140 and below
//   an int, bigint, smallint or tinyint column given a number outside   8115 (220 naming the value
//   its type                                                            for an int value in a
//                                                                       smallint or tinyint column)
//   ... or text that is no number                                       245 (248 when too big)
//   a bit column given text other than a number, 'true' or 'false'     245
//   a float or real column given text that is no number                8114
//   a datetime or date column given text that is no date              241 (242 out of range)
// and what such a column keeps is what the server keeps: a date as ISO text, a real rounded to
// single precision, a bit as 0 or 1, the integer part of a fraction in an integer column.
//   a primary key or UNIQUE value that is already there               2627, naming the constraint
//                                                                      and the value (a UNIQUE
//                                                                      constraint holds one NULL)
// and text written to a varchar, char or text column is what the code page keeps: a character
// Windows-1251 has no byte for becomes '?' (a letter with a mark, which the server writes as a
// near letter, is refused with 40517: see collation::inCodePage).
// A failed check fails the whole statement: SQLite undoes every row it wrote. NULL in a NOT NULL
// column (515) and a CHECK constraint (547, worded by checkConflict()) are SQLite's own checks.
//
// Constraints carry their names: the declared one, or for one declared without a name in a table
// that T-SQL created, the name nameConstraints() gave it in the server's form. A table created in
// SQLite directly (the demo's) names an unnamed key PK_<table>, a UNIQUE constraint UQ_<table> and
// a CHECK constraint CK_<table>.

#include "sandbox/engine/tsqllexer.h"
#include "sandbox/engine/types.h"

struct sqlite3;

namespace sandbox::constraints {

// Registers the functions the triggers call. Once per connection, before install(). The level
// (read at each check) lives as long as the connection.
void registerFunctions(sqlite3 *db, const int *compatibilityLevel);

// Creates the triggers of every table anew when the schema version differs from schemaVersion
// (a table created, altered or dropped since the last call), and updates it. Throws db::Error.
void install(sqlite3 *db, qint64 &schemaVersion);

// A CREATE TABLE statement with a name given to each PRIMARY KEY, UNIQUE and CHECK constraint
// declared without one, in the form the server generates: PK__<table>__<16 hex digits>,
// UQ__<table>__<16 hex digits>, CK__<table>__<column>__<8 hex digits> (the table's name cut to 8
// characters for keys and 9 for checks, the column's to 5). The server's hex part differs from one
// database to the next; here it is derived from the table, the kind and the column. Any other
// statement comes back as it is.
QList<tsql::Token> nameConstraints(const QList<tsql::Token> &statement);

// The server's 547 for the CHECK constraint of the table that SQLite found violated (its message
// "CHECK constraint failed: <name or expression>"): the constraint's name, and its column when it
// is on one column. verb is INSERT or UPDATE.
Message checkConflict(sqlite3 *db, const QString &verb, const QString &table, const QString &sqliteMessage,
                      int line);

// For a table just created by the SQL createTable: the first of its constraint names that another
// object of the database already has (a table, or a constraint of any table, this one's included),
// as the server refuses it: 2714 "There is already an object named 'x' in the database." and 1750
// "Could not create constraint or index. See previous errors.". Nothing when every name is free.
std::optional<std::pair<Message, Message>> nameTaken(sqlite3 *db, const QString &createTable, int line);

} // namespace sandbox::constraints
