#include "adoconnection.h"

#include "databaseerror.h"
#include "odbcresults.h"
#include "statement.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

namespace {

// The driver manager's environment, one for the process, asking for ODBC 3 behaviour (and its
// SQLSTATEs).
SQLHENV environment()
{
    static const SQLHENV env = [] {
        SQLHENV h = SQL_NULL_HENV;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h)))
            return SQLHENV(SQL_NULL_HENV);
        SQLSetEnvAttr(h, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        return h;
    }();
    return env;
}

} // namespace

TADOConnection::TADOConnection(QObject *parent) : QObject(parent) {}

TADOConnection::~TADOConnection()
{
    Close();
}

void TADOConnection::setConnectionString(const QString &text)
{
    setConnectionString(text, parseConnectionString(text));
}

void TADOConnection::setConnectionString(const QString &text, const ConnectionProperties &exactValues)
{
    if (m_open)
        throw DatabaseError(QStringLiteral("Operation is not allowed when the object is open."));
    m_connectionString = text;
    m_properties = exactValues;
    m_sessionStatements.clear(); // another connection string is another session
}

void TADOConnection::Open()
{
    if (m_open)
        return;
    const QString odbcText = odbcConnectionString(m_properties, m_commandTimeout);
    const SQLHENV env = environment();
    SQLHDBC dbc = SQL_NULL_HDBC;
    if (env == SQL_NULL_HENV || !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc)))
        throw DatabaseError(QStringLiteral("The ODBC driver manager cannot be used (unixODBC)."));
    // The time limit of the login.
    if (m_connectionTimeout > 0)
        SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT,
                          reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(m_connectionTimeout)), 0);
    SQLSMALLINT written = 0;
    const SQLRETURN r = SQLDriverConnectW(
        dbc, nullptr, const_cast<SQLWCHAR *>(reinterpret_cast<const SQLWCHAR *>(odbcText.utf16())),
        SQLSMALLINT(odbcText.size()), nullptr, 0, &written, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(r)) {
        const DatabaseError error = odbc::connectionError(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        throw error;
    }
    m_connection = dbc;
    m_open = true;
    // The session of a connection lost on the way starts from the server's defaults: what the
    // client had set goes back first. A failure here is the failure of this open.
    const QStringList statements = m_sessionStatements;
    for (const QString &statement : statements) {
        try {
            runStatement(*this, statement, {});
        } catch (...) {
            if (m_open) {
                m_open = false;
                disconnect();
            }
            throw;
        }
    }
}

void TADOConnection::disconnect()
{
    if (!m_connection)
        return;
    SQLHDBC dbc = static_cast<SQLHDBC>(m_connection);
    m_connection = nullptr;
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
}

void TADOConnection::rememberSessionStatement(const QString &text)
{
    if (!m_sessionStatements.contains(text))
        m_sessionStatements.append(text);
}

void TADOConnection::Close()
{
    if (!m_open)
        return;
    Q_EMIT aboutToClose();
    m_open = false;
    m_sessionStatements.clear();
    disconnect();
}

void TADOConnection::ConnectionLost()
{
    if (!m_open)
        return;
    m_open = false;
    disconnect();
}

bool TADOConnection::Connected() const
{
    return m_open;
}
