#include "driverresults.h"

#include "driverlibrary.h"

#include <QDebug>

namespace odbc {

namespace {

// Reads results from r on until there are no more, or until a failure that is not the server's.
RestOfAnswer readRest(MoreResultsFunction moreResults, DiagRecFunction diagRec, SQLHSTMT statement,
                      SQLRETURN r, QString *why)
{
    RestOfAnswer rest;
    for (;; r = moreResults(statement)) {
        if (r == SQL_NO_DATA) {
            rest.complete = true;
            return rest;
        }
        if (SQL_SUCCEEDED(r))
            continue; // a count or a row set of what still ran: passed over
        const QList<DiagRecord> records = diagRecords(SQL_HANDLE_STMT, statement, diagRec);
        const std::optional<DatabaseError> error = firstError(records);
        if (error && !rest.error)
            rest.error = error;
        // A lost link, or the driver's own failure (no server's number), ends the reading.
        if (!error || error->number() == 0 || saysLinkLost(*error)) {
            const std::optional<DatabaseError> said = error ? error : allMessages(records);
            *why = said ? said->message() : QStringLiteral("the driver failed without saying why");
            return rest;
        }
    }
}

// Whether the driver manager's SQLMoreResults reached the driver: anything but "no more results", or
// an error that is not its own (a call out of sequence).
bool reachedDriver(SQLHSTMT statement, SQLRETURN r)
{
    if (r == SQL_NO_DATA)
        return false;
    if (SQL_SUCCEEDED(r))
        return true;
    const std::optional<DatabaseError> error = firstError(diagRecords(SQL_HANDLE_STMT, statement));
    return error && error->number() != 0;
}

} // namespace

RestOfAnswer readRestAfterFailedExecute(SQLHDBC connection, SQLHSTMT statement)
{
    const DriverEntryPoints entries = driverEntryPoints(connection);
    QString why = entries.missing;
    RestOfAnswer rest;
    if (entries.found()) {
        // In: the driver manager's handle; out: the driver's.
        SQLHSTMT driverStatement = statement;
        if (SQL_SUCCEEDED(SQLGetInfo(connection, SQL_DRIVER_HSTMT, &driverStatement,
                                     SQLSMALLINT(sizeof(driverStatement)), nullptr)) &&
            driverStatement && driverStatement != statement) {
            rest = readRest(entries.moreResults, entries.diagRec, driverStatement,
                            entries.moreResults(driverStatement), &why);
        } else {
            why = QStringLiteral("the driver manager gives out no statement handle of the driver");
        }
    } else {
        const SQLRETURN r = SQLMoreResults(statement);
        if (reachedDriver(statement, r))
            rest = readRest(&SQLMoreResults, &SQLGetDiagRecW, statement, r, &why);
        else
            why += QStringLiteral(", and the driver manager ends the answer itself");
    }
    if (!rest.complete) {
        qWarning().noquote() << QStringLiteral("The rest of an answer after a failed statement was not read "
                                               "through the database driver %1: %2.")
                                    .arg(entries.driver.isEmpty() ? QStringLiteral("(unnamed)")
                                                                  : entries.driver,
                                         why);
    }
    return rest;
}

} // namespace odbc
