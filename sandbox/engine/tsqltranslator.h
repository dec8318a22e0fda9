#pragma once
// T-SQL batches into statements the engine can run: queries rewritten for SQLite, SET options,
// procedure calls with their arguments, USE, PRINT and RAISERROR.
//
// The whole batch is parsed before anything runs, as the server does: a syntax error anywhere
// means that no statement of the batch runs.
//
// What the rewriting does:
//   [name] and "name"          -> "name" (SQLite's quoted identifier)
//   SELECT [DISTINCT] TOP n ... -> SELECT [DISTINCT] ... LIMIT n, also TOP (expr), also in a subquery
//   N'text'                    -> 'text'
//   0x1F                       -> X'1F'
//   dbo.x, qel.dbo.x           -> x (and dbo.x.y -> x.y)
//   ISNULL( LEN( GETDATE()     -> IFNULL( LENGTH( CURRENT_TIMESTAMP
//   !< !>                      -> >= <=
//   WITH (NOLOCK) table hints  -> dropped
//   (MAX) after a type name    -> (2147483647), a width that only a (max) type has
//   x + y of text              -> x || y
//   'text', N'text', @P1       -> the same COLLATE Cyrillic_General_CI_AS (the database collation)
//   CAST(x AS datetime)        -> qel_datetime(x, 'datetime'), under SET DATEFORMAT (also date)
//   varchar(n) in CREATE TABLE -> varchar(n) COLLATE Cyrillic_General_CI_AS, unless one is named
//   @@VERSION @@SERVERNAME @@LANGUAGE @@TRANCOUNT -> literals
// Statements split at ';' and, without one, where a new statement begins (SELECT, INSERT, UPDATE,
// DELETE, SET, EXEC, ...), except where the word continues the statement: INSERT ... SELECT,
// UPDATE ... SET, UNION SELECT, WITH cte AS (...) SELECT. A bare name opening a batch is a call
// of that procedure, as in "sp_datatype_info_100 11".

#include "sandbox/engine/exprtypes.h"
#include "sandbox/engine/tsqllexer.h"

namespace sandbox::tsql {

struct Argument {
    QString name;          // "@id_group" when passed by name; empty when positional
    Token value;           // String, NString, Number, Binary, Variable, or Word (NULL, DEFAULT, a bare word)
    bool negative = false; // a leading minus sign before a Number
};

enum class StatementKind {
    Query,      // SELECT, INSERT, UPDATE, DELETE, WITH: run by SQLite
    Definition, // CREATE, DROP, ALTER: run by SQLite, for administrators
    Set,        // SET option value
    Exec,       // a procedure call
    Use,        // USE database
    Print,      // PRINT text: an INFO message (number 0, severity 0)
    Raiserror   // RAISERROR (text, severity, state [, argument ...]) [WITH ...]
};

struct Statement {
    StatementKind kind = StatementKind::Query;
    int line = 1;
    QString verb;                 // the first keyword in upper case (EXEC also for a bare procedure name)
    QString lastToken;            // as written: what a statement that ends too early is "near"
    QString sqlite;               // Query, Definition: the text for SQLite
    QStringList resultTypes;      // Query: the declared types of the select list's items (empty: unknown)
    QStringList resultNames;      // Query: the names of the same items (empty for an unnamed expression)
    QList<bool> resultNotNull;    // Query: for the same items, whether one never holds NULL (a literal)
    QList<bool> resultAggregates; // Query: for the same items, whether one is an aggregate
    bool widened = false;         // Query: an outer join or a UNION may bring NULL into any column
    QString target;               // INSERT, UPDATE, DELETE, CREATE TABLE: the table, without schema
    QString option;               // Set: the option in upper case
    QList<Token> optionValue;     // Set: the tokens after the option
    QString procedure;            // Exec: the procedure's name without database and schema
    QList<Argument> arguments;    // Exec
    QString database;             // Use
    QList<Token> message;         // Print: the tokens of the text; Raiserror: of each argument, split
    QList<QList<Token>> raiseArguments; // Raiserror: text, severity, state, then the arguments
};

struct Batch {
    QList<Statement> statements;
    std::optional<Message> error; // the batch did not parse; nothing of it runs
};

// The catalog and the parameters' declarations give the types of expressions.
Batch parse(const QString &batch, const Catalog &catalog = {}, const ParameterTypes &parameters = {});

} // namespace sandbox::tsql
