#pragma once
// The stored procedures of the sandbox, written in C++ over the SQLite database.
// Their rules are described at the top of procedures.cpp.

#include "sandbox/engine/permissions.h"
#include "sandbox/engine/types.h"

#include <QDate>

#include <functional>
#include <optional>

struct sqlite3;

namespace sandbox::procedures {

// One argument of a call as the batch gave it.
struct Argument {
    QString name; // "@id_group" when passed by name; empty when positional
    Value value;
    bool isDefault = false; // the word DEFAULT
};

struct Context {
    sqlite3 *db = nullptr;
    Session *session = nullptr;
    permissions::Role role = permissions::Role::None;
    int line = 1;
    QDate today;
    std::optional<ResultSet> *scriptedGetUser = nullptr; // the next GET_USER answer, used once
    // A procedure that waits on purpose hands what it has done so far (its inner statements) and
    // goes on when this returns true; false: the client cancelled, the procedure stops there.
    // Empty when nobody watches the batch: the procedure goes on at once.
    std::function<bool(const StatementResult &soFar)> pause;

    // Set by call(): the procedure's name as the server gives it in its messages (with the
    // schema), its text (null for a system procedure) and the line in that text of the statement
    // that runs.
    QString procedureName;
    const char *definition = nullptr;
    int statementLine = 0;
};

// Runs the procedure: checks that it exists and that the role may run it, binds the arguments
// to its parameters and calls it. Never throws for a user's mistake; the outcome's error says it.
// Throws db::Error only when SQLite itself fails.
StatementResult call(Context &ctx, const QString &procedure, const QList<Argument> &arguments);

// The text of the procedure as the server holds it (its CREATE PROCEDURE batch); empty for an
// unknown procedure and for a system procedure.
QString definition(const QString &procedure);

// The result set GET_USER answers with, for one row: the six columns typed as GET_USER types them
// (text, text, int, int, text, int); a value that does not fit its column, and any column after
// the sixth, is typed from the value.
ResultSet getUserResult(const QList<QList<Value>> &rows);

// The Windows-1251 bytes of the text, each one lower, as text again: how GET_USER sends the
// database user and password.
QString shifted(const QString &text);

} // namespace sandbox::procedures
