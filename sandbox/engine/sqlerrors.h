#pragma once
// The server's error messages, worded and numbered the way the client's driver knows them.

#include "sandbox/engine/sqlitedb.h"

struct sqlite3_context;

namespace sandbox::sqlerr {

inline constexpr int kUserError = 50000; // raised by a procedure, or an SQLite failure without a better match

Message make(int number, int severity, int state, const QString &text, int line = 1);

Message syntax(const QString &near, int line);                                         // 102
Message unclosedQuote(const QString &rest, int line);                                  // 105
Message missingEndComment(int line);                                                   // 113
Message undeclaredVariable(const QString &name, int line);                             // 137
Message unknownFunction(const QString &name, int line);                                // 195
Message unknownProcedure(const QString &name, int line);                               // 2812
Message tooManyArguments(const QString &procedure, int line);                          // 8144
Message missingArgument(const QString &procedure, const QString &parameter, int line); // 201
Message conversion(const QString &from, const QString &to, int line);                  // 8114
Message unknownDatabase(const QString &name, int line);                                // 911
// 40517 "Keyword or statement option 'BEGIN' is not supported in this version of SQL Server.":
// what the server answers for a keyword it does not know how to run, and so does the sandbox.
Message notSupported(const QString &keyword, int line);
// 229: "The SELECT permission was denied on the object 'faculty', database 'qel', schema 'dbo'."
Message permissionDenied(const QString &permission, const QString &object, int line);
// 262: "CREATE TABLE permission denied in database 'qel'."
Message databasePermissionDenied(const QString &permission, int line);
// A failure inside one of the server's procedures: 50000, severity 16, with the procedure's name.
Message procedure(const QString &procedure, const QString &text, int line = 1);

// The error channel of the engine's own SQLite functions: raise() fails the call with the server's
// message, which waits here while SQLite carries only a marker as its text; raised() is the same
// for a failure the engine finds between SQLite's steps. fromSqlite() gives the message back.
void raise(sqlite3_context *ctx, const Message &m);
db::Error raised(const Message &m);

// An SQLite failure turned into the server's message: one raised above, else decided by SQLite's
// extended result code, and by its words only where no code tells the cases apart.
Message fromSqlite(int code, const QString &sqliteMessage, int line);

inline const QString kDatabase = QStringLiteral("qel");

} // namespace sandbox::sqlerr
