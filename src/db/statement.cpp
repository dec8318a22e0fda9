#include "statement.h"

#include "common/busy.h"
#include "diagnostics.h"
#include "driverresults.h"
#include "odbcresults.h"
#include "texts.h"

namespace {

// An ODBC statement on the connection, let go of when it goes out of scope. A statement let go of
// with results pending makes the driver cancel them.
class OdbcStatement {
public:
    explicit OdbcStatement(SQLHDBC connection)
    {
        if (!connection || !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection, &m_handle)))
            m_handle = SQL_NULL_HSTMT;
    }
    ~OdbcStatement()
    {
        if (m_handle != SQL_NULL_HSTMT)
            SQLFreeHandle(SQL_HANDLE_STMT, m_handle);
    }
    OdbcStatement(const OdbcStatement &) = delete;
    OdbcStatement &operator=(const OdbcStatement &) = delete;
    SQLHSTMT handle() const { return m_handle; }

private:
    SQLHSTMT m_handle = SQL_NULL_HSTMT;
};

// The answer as it is read: the first error kept, a lost link ending it.
class AnswerSoFar {
public:
    explicit AnswerSoFar(SQLHDBC connection) : m_connection(connection) {}

    // Notes a failure; whether reading goes on after it. A lost link, or a failure of the driver itself
    // (no server's error number), ends the reading; the server's errors do not.
    bool note(const DatabaseError &error)
    {
        if (odbc::saysLinkLost(error) || odbc::connectionDead(m_connection)) {
            // The lost link is what the user is told, whatever came before it.
            m_answer.error = error;
            m_answer.linkLost = true;
            return false;
        }
        if (!m_answer.error)
            m_answer.error = error;
        return error.number() != 0;
    }
    StatementAnswer &answer() { return m_answer; }

private:
    SQLHDBC m_connection;
    StatementAnswer m_answer;
};

} // namespace

StatementAnswer runStatement(odbc::Connection connection, const QString &text,
                             const QList<QVariant> &parameters)
{
    const Busy busy; // until the last result is read, on every way out
    const SQLHDBC dbc = odbc::api(connection);
    AnswerSoFar answer(dbc);
    OdbcStatement statement(dbc);
    const SQLHSTMT h = statement.handle();
    if (h == SQL_NULL_HSTMT) {
        answer.note(DatabaseError(dbtext::noStatement()));
        return std::move(answer.answer());
    }

    // Bind: without parameters the text goes as a batch, exactly as written; with them, in one call
    // that carries the text and the values (sp_executesql): nothing is left prepared on the server, so
    // nothing needs letting go of afterwards.
    BoundParameters bound;
    if (std::optional<DatabaseError> refused = bound.bind(connection, odbc::statementOf(h), parameters)) {
        answer.note(*refused);
        return std::move(answer.answer());
    }

    // Execute. The driver manager takes a failed execute for the end of the statement; the driver
    // itself reads on (driverresults.h).
    SQLRETURN r = SQLExecDirectW(h, const_cast<SQLWCHAR *>(reinterpret_cast<const SQLWCHAR *>(text.utf16())),
                                 SQLINTEGER(text.size()));
    if (r == SQL_NO_DATA)
        return std::move(answer.answer());
    if (!SQL_SUCCEEDED(r)) {
        if (answer.note(odbc::callFailure(h, dbc, "SQLExecDirect"))) {
            const odbc::RestOfAnswer rest = odbc::readRestAfterFailedExecute(dbc, h);
            if (rest.error && odbc::saysLinkLost(*rest.error))
                answer.note(*rest.error);
            answer.answer().restUnread = !rest.complete;
        }
        return std::move(answer.answer());
    }

    // Read: the statement's rows are those of its first result set; counts and messages before it,
    // and whatever results follow it, are read and passed over.
    bool haveRows = false;
    for (;;) {
        if (SQL_SUCCEEDED(r) && !haveRows && odbc::hasColumns(h)) {
            haveRows = true;
            if (std::optional<DatabaseError> failed = odbc::readResultSet(dbc, h, answer.answer().rows)) {
                if (!answer.note(*failed))
                    break;
            }
        }
        r = SQLMoreResults(h);
        if (r == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(r) && !answer.note(odbc::callFailure(h, dbc, "SQLMoreResults")))
            break;
    }
    return std::move(answer.answer());
}
