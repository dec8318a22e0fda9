#pragma once
// A thin layer over the sqlite3 C API: prepared statements that clean up after themselves,
// values in the engine's Value form, and result columns typed the way the wire layer sends them.

#include "sandbox/engine/types.h"

#include <optional>
#include <stdexcept>

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_value;

namespace sandbox::db {

// An SQLite failure: its extended result code and its message.
class Error : public std::runtime_error {
public:
    Error(int code, const QString &message);
    int code() const { return m_code; }
    QString message() const { return m_message; }

private:
    int m_code;
    QString m_message;
};

class Statement {
public:
    // Prepares the first statement of sql; tail() gives what follows it. Throws Error.
    Statement(sqlite3 *db, const QString &sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool isEmpty() const { return m_stmt == nullptr; } // only blanks or comments
    QString tail() const;

    int parameterCount() const;
    QString parameterName(int index) const; // 1-based, e.g. "@P1"; empty for "?"
    void bind(int index, const Value &value);
    void bind(const QList<Value> &values); // positional, from 1

    bool step();  // true while a row is there; throws Error
    void reset(); // ready to run again, the values unbound
    int columnCount() const;
    QString columnName(int i) const;
    QString declaredType(int i) const; // empty for an expression
    Value value(int i) const;
    bool isReadOnly() const;

    // All remaining rows, with columns typed from the declared types. A column that is an
    // expression takes its type from expressionTypes (one declaration per column, empty where
    // unknown) and, failing that, from its values.
    ResultSet fetchAll(qsizetype maxRows = -1, const QStringList &expressionTypes = {});

    // The column as a table declares it (nullable as declared), or an expression's, typed as
    // typeColumn() types it from the rows given. byValues: the type follows the values, as no
    // declaration fixed it.
    Column column(int i, const QString &type, QList<QList<Value>> &rows, bool *byValues = nullptr) const;

private:
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
    QByteArray m_sql;
    int m_tailOffset = 0;
};

// Reads a query's rows a bounded chunk at a time, so that a long result is never held whole. The
// columns are those fetchAll() would give, decided by the first chunk's rows; later rows are brought
// into the same form. A later value that the columns decided cannot carry (text in a column typed
// int by the first rows, a longer text than they had) is not changed to fit: the reading stops
// before its row and misfit() names its column.
class RowReader {
public:
    RowReader(Statement &statement, const QStringList &expressionTypes = {});

    // Up to maxRows further rows, fewer when they would exceed about maxBytes or the reading ends.
    // An SQLite failure ends the reading: the rows read before it are returned and error() holds it.
    QList<QList<Value>> next(qsizetype maxRows, qsizetype maxBytes);
    bool atEnd() const { return m_end; }
    const std::optional<Error> &error() const { return m_error; }
    int misfit() const { return m_misfit; } // the column of the value that did not fit; -1: none
    // Valid after the first next().
    const QList<Column> &columns() const { return m_columns; }
    bool typedByValues(int column) const { return m_byValues.value(column); }

private:
    bool fits(int column, Value &value) const;

    Statement &m_statement;
    QStringList m_types;
    QList<Column> m_columns;
    QList<bool> m_byValues;
    bool m_typed = false;
    bool m_end = false;
    std::optional<Error> m_error;
    int m_misfit = -1;
};

// Runs statements that return nothing (several allowed). Throws Error.
void exec(sqlite3 *db, const QString &sql);
// Runs one statement with positional values and returns its rows. Throws Error.
ResultSet query(sqlite3 *db, const QString &sql, const QList<Value> &params = {});

// The column the wire layer sends for a result column: the declared type where there is one
// (int, bigint, varchar(n), nvarchar(n), char(n), nchar(n), the (max) types, real, float,
// varbinary(n)), with its declared width whatever the values; otherwise the type that the values
// need. Only values that SQLite alone can store (text in an int column) make a declared column
// follow the values. The values of the column in rows are brought into the column's form
// (numbers of a text column become text, integers of a float column become doubles).
// byValues, when given, tells whether the type followed the values.
// The text of an SQLite value (a number's in decimal), empty for NULL.
QString textOf(sqlite3_value *v);

Column typeColumn(const QString &name, const QString &declaredType, QList<QList<Value>> &rows, int index,
                  bool *byValues = nullptr);

// A name and a text as SQLite reads them: "name" and 'text', with the quote doubled inside.
QString quoteName(const QString &name);
QString quoteText(const QString &text);

// Value helpers.
QString toText(const Value &v);
std::optional<qint64> toInteger(const Value &v);

} // namespace sandbox::db
