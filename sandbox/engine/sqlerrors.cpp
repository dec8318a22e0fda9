#include "sandbox/engine/sqlerrors.h"

#include "sandbox/engine/collation.h"
#include "sandbox/engine/constraints.h"
#include "sandbox/engine/functions.h"

#include <QRegularExpression>

#include <sqlite3.h>

namespace sandbox::sqlerr {

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

Message invalidObject(const QString &name, int line)
{
    return make(208, 16, 1, QStringLiteral("Invalid object name '%1'.").arg(name), line);
}

Message invalidColumn(const QString &name, int line)
{
    return make(207, 16, 1, QStringLiteral("Invalid column name '%1'.").arg(name), line);
}

Message multiPartIdentifier(const QString &name, int line)
{
    return make(4104, 16, 1, QStringLiteral("The multi-part identifier \"%1\" could not be bound.").arg(name),
                line);
}

Message ambiguousColumn(const QString &name, int line)
{
    return make(209, 16, 1, QStringLiteral("Ambiguous column name '%1'.").arg(name), line);
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
    static const QRegularExpression noTable(QStringLiteral("^no such table: (?:main\\.)?(.+)$"));
    static const QRegularExpression noColumn(QStringLiteral("^no such column: (.+)$"));
    static const QRegularExpression near(QStringLiteral("^near \"(.*)\": syntax error$"),
                                         QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression ambiguous(QStringLiteral("^ambiguous column name: (.+)$"));
    static const QRegularExpression noFunction(QStringLiteral("^no such function: (.+)$"));
    static const QRegularExpression unique(QStringLiteral("^UNIQUE constraint failed: ([^.]+)\\."));
    static const QRegularExpression notNull(QStringLiteral("^NOT NULL constraint failed: ([^.]+)\\.(.+)$"));
    static const QRegularExpression exists(
        QStringLiteral("^(?:table|index|view) \"?([^\" ]+)\"? already exists$"));

    if (const auto checked = constraints::raised(msg, line))
        return *checked;
    QRegularExpressionMatch m;
    if ((m = noTable.match(msg)).hasMatch())
        return invalidObject(m.captured(1), line);
    if ((m = noColumn.match(msg)).hasMatch()) {
        const QString name = m.captured(1);
        return name.contains(u'.') ? multiPartIdentifier(name, line) : invalidColumn(name, line);
    }
    if ((m = near.match(msg)).hasMatch())
        return syntax(m.captured(1), line);
    if (msg == QLatin1String("incomplete input"))
        return make(102, 15, 1, QStringLiteral("Incorrect syntax near the end of the batch."), line);
    if ((m = ambiguous.match(msg)).hasMatch())
        return ambiguousColumn(m.captured(1), line);
    if ((m = noFunction.match(msg)).hasMatch()) {
        // The server's own functions that the sandbox does not have are refused by name; any
        // other name is unknown to the server too.
        if (functions::isServerFunction(m.captured(1).toUpper()))
            return notSupported(m.captured(1).toUpper(), line);
        return unknownFunction(m.captured(1), line);
    }
    if ((m = unique.match(msg)).hasMatch()) {
        // A primary key's duplicates are found by the row checks first; what SQLite finds is a
        // UNIQUE constraint's.
        return make(
            2627, 14, 1,
            QStringLiteral("Violation of UNIQUE KEY constraint 'UQ_%1'. Cannot insert duplicate key in "
                           "object 'dbo.%1'.")
                .arg(m.captured(1)),
            line);
    }
    if ((m = notNull.match(msg)).hasMatch())
        return make(
            515, 16, 2,
            QStringLiteral("Cannot insert the value NULL into column '%1', table '%2.dbo.%3'; column does "
                           "not allow nulls. INSERT fails.")
                .arg(m.captured(2), kDatabase, m.captured(1)),
            line);
    if ((m = exists.match(msg)).hasMatch())
        return make(
            2714, 16, 6,
            QStringLiteral("There is already an object named '%1' in the database.").arg(m.captured(1)),
            line);
    static const QRegularExpression collationSequence(QStringLiteral("^no such collation sequence: (.+)$"));
    static const QRegularExpression valuesForColumns(QStringLiteral("^(\\d+) values for (\\d+) columns$"));
    static const QRegularExpression orderByRange(
        QStringLiteral("^(\\d+)(?:st|nd|rd|th) ORDER BY term out of range"));
    if ((m = collationSequence.match(msg)).hasMatch()) {
        if (collation::isServerCollation(m.captured(1)))
            return notSupported(QStringLiteral("COLLATE %1").arg(m.captured(1)), line);
        return make(448, 16, 1, QStringLiteral("Invalid collation '%1'.").arg(m.captured(1)), line);
    }
    if ((m = valuesForColumns.match(msg)).hasMatch()) {
        if (m.captured(1).toInt() > m.captured(2).toInt())
            return make(
                110, 15, 1,
                QStringLiteral("There are fewer columns in the INSERT statement than values specified in "
                               "the VALUES clause. The number of values in the VALUES clause must match "
                               "the number of columns specified in the INSERT statement."),
                line);
        return make(
            109, 15, 1,
            QStringLiteral("There are more columns in the INSERT statement than values specified in the "
                           "VALUES clause. The number of values in the VALUES clause must match the "
                           "number of columns specified in the INSERT statement."),
            line);
    }
    if (msg.startsWith(QLatin1String("table ")) && msg.contains(QLatin1String(" values were supplied")))
        return make(
            213, 16, 1,
            QStringLiteral("Column name or number of supplied values does not match table definition."),
            line);
    if ((m = orderByRange.match(msg)).hasMatch())
        return make(
            108, 15, 1,
            QStringLiteral("The ORDER BY position number %1 is out of range of the number of items in "
                           "the select list.")
                .arg(m.captured(1)),
            line);
    if (msg.contains(QLatin1String("do not have the same number of result columns")))
        return make(
            205, 16, 1,
            QStringLiteral("All queries combined using a UNION, INTERSECT or EXCEPT operator must have an "
                           "equal number of expressions in their target lists."),
            line);
    if (msg.startsWith(QLatin1String("misuse of aggregate")))
        return make(
            147, 15, 1,
            QStringLiteral("An aggregate may not appear in the WHERE clause unless it is in a subquery "
                           "contained in a HAVING clause or a select list, and the column being "
                           "aggregated is an outer reference."),
            line);
    if (msg == QLatin1String("integer overflow"))
        return make(8115, 16, 2,
                    QStringLiteral("Arithmetic overflow error converting expression to data type bigint."),
                    line);
    if ((code & 0xff) == SQLITE_LOCKED) {
        // On the one handle the connections share, only a table dropped while another
        // connection's result is still being read (its rows travel as they are read) conflicts.
        // The server would wait for that reader; the sandbox cannot wait on its own handle.
        return notSupported(QStringLiteral("DROP while another connection's result is being read"), line);
    }
    if ((code & 0xff) == SQLITE_BUSY)
        return make(1222, 16, 56, QStringLiteral("Lock request time out period exceeded."), line);
    if ((code & 0xff) == SQLITE_CONSTRAINT) {
        // A CHECK constraint (the only other kind the sandbox keeps); the engine words it with the
        // constraint's name and column (constraints::checkConflict), which it knows.
        return make(547, 16, 0,
                    QStringLiteral("The %1 statement conflicted with the CHECK constraint \"CK_%2\". The "
                                   "conflict occurred in database \"%3\", table \"dbo.%2\".")
                        .arg(QStringLiteral("%VERB%"), QStringLiteral("%TABLE%"), kDatabase),
                    line);
    }
    // Whatever else SQLite refuses is a form of statement the sandbox does not run.
    return notSupported(QStringLiteral("this form of the statement"), line);
}

} // namespace sandbox::sqlerr
