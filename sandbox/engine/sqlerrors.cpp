#include "sandbox/engine/sqlerrors.h"

#include "sandbox/engine/collation.h"

#include <QRegularExpression>

#include <sqlite3.h>

namespace sandbox::sqlerr {

namespace {

// SQLite's text for a failure whose server message waits in `pending` (on the thread that ran
// the statement).
const QString kRaised = QStringLiteral("qel: raised");
thread_local Message pending;

} // namespace

void raise(sqlite3_context *ctx, const Message &m)
{
    pending = m;
    sqlite3_result_error(ctx, "qel: raised", -1);
}

db::Error raised(const Message &m)
{
    pending = m;
    return db::Error(SQLITE_ERROR, kRaised);
}

Message make(int number, int severity, int state, const QString &text, int line)
{
    Message m;
    m.number = number;
    m.severity = severity;
    m.state = state;
    m.text = text;
    m.line = line;
    return m;
}

Message syntax(const QString &near, int line)
{
    return make(102, 15, 1, QStringLiteral("Incorrect syntax near '%1'.").arg(near), line);
}

Message unclosedQuote(const QString &rest, int line)
{
    return make(105, 15, 1,
                QStringLiteral("Unclosed quotation mark after the character string '%1'.").arg(rest), line);
}

Message missingEndComment(int line)
{
    return make(113, 15, 1, QStringLiteral("Missing end comment mark '*/'."), line);
}

Message undeclaredVariable(const QString &name, int line)
{
    return make(137, 15, 2, QStringLiteral("Must declare the scalar variable \"%1\".").arg(name), line);
}

Message unknownFunction(const QString &name, int line)
{
    return make(195, 15, 10, QStringLiteral("'%1' is not a recognized built-in function name.").arg(name),
                line);
}

Message unknownProcedure(const QString &name, int line)
{
    return make(2812, 16, 62, QStringLiteral("Could not find stored procedure '%1'.").arg(name), line);
}

Message tooManyArguments(const QString &procedure, int line)
{
    Message m = make(
        8144, 16, 2,
        QStringLiteral("Procedure or function %1 has too many arguments specified.").arg(procedure), line);
    m.procedure = procedure;
    return m;
}

Message missingArgument(const QString &procedure, const QString &parameter, int line)
{
    Message m =
        make(201, 16, 4,
             QStringLiteral("Procedure or function '%1' expects parameter '%2', which was not supplied.")
                 .arg(procedure, parameter),
             line);
    m.procedure = procedure;
    return m;
}

Message conversion(const QString &from, const QString &to, int line)
{
    return make(8114, 16, 5, QStringLiteral("Error converting data type %1 to %2.").arg(from, to), line);
}

Message unknownDatabase(const QString &name, int line)
{
    return make(911, 16, 1,
                QStringLiteral("Database '%1' does not exist. Make sure that the name is entered correctly.")
                    .arg(name),
                line);
}

Message notSupported(const QString &what, int line)
{
    return make(
        40517, 16, 1,
        QStringLiteral("Keyword or statement option '%1' is not supported in this version of SQL Server.")
            .arg(what),
        line);
}

Message permissionDenied(const QString &permission, const QString &object, int line)
{
    return make(
        229, 14, 5,
        QStringLiteral("The %1 permission was denied on the object '%2', database '%3', schema 'dbo'.")
            .arg(permission, object, kDatabase),
        line);
}

Message databasePermissionDenied(const QString &permission, int line)
{
    return make(262, 14, 1,
                QStringLiteral("%1 permission denied in database '%2'.").arg(permission, kDatabase), line);
}

Message procedure(const QString &procedure, const QString &text, int line)
{
    Message m = make(kUserError, 16, 1, text, line);
    m.procedure = procedure;
    return m;
}

Message fromSqlite(int code, const QString &msg, int line)
{
    if (msg.startsWith(kRaised)) {
        Message m = pending;
        m.line = line;
        return m;
    }
    // Decided by the result code; the words give only the names the message carries.
    static const QRegularExpression names(QStringLiteral("^[A-Z ]+ constraint failed: ([^.]+)\\.([^,]+)"));
    const QRegularExpressionMatch named = names.match(msg);
    switch (code) {
    case SQLITE_CONSTRAINT_UNIQUE:
    case SQLITE_CONSTRAINT_PRIMARYKEY:
        // A primary key's duplicates are found by the row checks first; what SQLite finds is a
        // UNIQUE constraint's.
        return make(
            2627, 14, 1,
            QStringLiteral("Violation of UNIQUE KEY constraint 'UQ_%1'. Cannot insert duplicate key in "
                           "object 'dbo.%1'.")
                .arg(named.captured(1)),
            line);
    case SQLITE_CONSTRAINT_NOTNULL:
        return make(515, 16, 2,
                    QStringLiteral("Cannot insert the value NULL into column '%1', table '%2.dbo.%3'; column "
                                   "does not allow nulls. INSERT fails.")
                        .arg(named.captured(2), kDatabase, named.captured(1)),
                    line);
    case SQLITE_CONSTRAINT_CHECK:
    case SQLITE_CONSTRAINT_TRIGGER:
        // A table's check or one of the database's own; the engine words it with the constraint's
        // name and column (constraints::checkConflict), a procedure with its statement's verb and table.
        return make(
            547, 16, 0,
            QStringLiteral("The %VERB% statement conflicted with the CHECK constraint \"CK_%TABLE%\". The "
                           "conflict occurred in database \"%1\", table \"dbo.%TABLE%\".")
                .arg(kDatabase),
            line);
    }
    switch (code & 0xff) {
    case SQLITE_LOCKED:
        // On the one handle the connections share, only a table dropped while another
        // connection's result is still being read (its rows travel as they are read) conflicts.
        // The server would wait for that reader; the sandbox cannot wait on its own handle.
        return notSupported(QStringLiteral("DROP while another connection's result is being read"), line);
    case SQLITE_BUSY:
        return make(1222, 16, 56, QStringLiteral("Lock request time out period exceeded."), line);
    case SQLITE_ERROR:
        break;
    default:
        return notSupported(QStringLiteral("this form of the statement"), line);
    }
    // SQLITE_ERROR alone tells these apart only by SQLite's words (each has a row in the engine's
    // tests, which fail when the words change): the server's number, severity, state and text, with
    // %1 and %2 the words' captures.
    struct Worded {
        QRegularExpression words;
        int number, severity, state;
        QString text;
    };
    static const QList<Worded> worded = {
        {QRegularExpression("^no such table: (?:main\\.)?(.+)$"), 208, 16, 1, "Invalid object name '%1'."},
        {QRegularExpression("^no such column: ([^.]+)$"), 207, 16, 1, "Invalid column name '%1'."},
        {QRegularExpression("^no such column: (.+)$"), 4104, 16, 1,
         "The multi-part identifier \"%1\" could not be bound."},
        {QRegularExpression("^near \"(.*)\": syntax error$", QRegularExpression::DotMatchesEverythingOption),
         102, 15, 1, "Incorrect syntax near '%1'."},
        {QRegularExpression("^incomplete input$"), 102, 15, 1, "Incorrect syntax near the end of the batch."},
        {QRegularExpression("^ambiguous column name: (.+)$"), 209, 16, 1, "Ambiguous column name '%1'."},
        {QRegularExpression("^no such function: (.+)$"), 195, 15, 10,
         "'%1' is not a recognized built-in function name."},
        {QRegularExpression("^(?:table|index|view) \"?([^\" ]+)\"? already exists$"), 2714, 16, 6,
         "There is already an object named '%1' in the database."},
        {QRegularExpression("^no such collation sequence: (.+)$"), 448, 16, 1, "Invalid collation '%1'."},
        {QRegularExpression("^(\\d+) values for (\\d+) columns$"), 109, 15, 1,
         "There are %3 columns in the INSERT statement than values specified in the VALUES clause. The "
         "number "
         "of values in the VALUES clause must match the number of columns specified in the INSERT "
         "statement."},
        {QRegularExpression("^table \\S+ has \\d+ columns but \\d+ values were supplied$"), 213, 16, 1,
         "Column name or number of supplied values does not match table definition."},
        {QRegularExpression("^(\\d+)(?:st|nd|rd|th) ORDER BY term out of range"), 108, 15, 1,
         "The ORDER BY position number %1 is out of range of the number of items in the select list."},
        {QRegularExpression("do not have the same number of result columns"), 205, 16, 1,
         "All queries combined using a UNION, INTERSECT or EXCEPT operator must have an equal number of "
         "expressions in their target lists."},
        {QRegularExpression("^misuse of aggregate"), 147, 15, 1,
         "An aggregate may not appear in the WHERE clause unless it is in a subquery contained in a HAVING "
         "clause or a select list, and the column being aggregated is an outer reference."},
        {QRegularExpression("^integer overflow$"), 8115, 16, 2,
         "Arithmetic overflow error converting expression to data type bigint."},
    };
    for (const Worded &w : worded) {
        const QRegularExpressionMatch m = w.words.match(msg);
        if (!m.hasMatch())
            continue;
        if (w.number == 448 && collation::isServerCollation(m.captured(1)))
            return notSupported(QStringLiteral("COLLATE %1").arg(m.captured(1)), line);
        // More values than columns is 110, fewer 109.
        const bool more = w.number == 109 && m.captured(1).toInt() > m.captured(2).toInt();
        QString text = w.text;
        text.replace(QLatin1String("%1"), m.captured(1))
            .replace(QLatin1String("%3"), more ? "fewer" : "more");
        return make(more ? 110 : w.number, w.severity, w.state, text, line);
    }
    // Whatever else SQLite refuses is a form of statement the sandbox does not run.
    return notSupported(QStringLiteral("this form of the statement"), line);
}

} // namespace sandbox::sqlerr
