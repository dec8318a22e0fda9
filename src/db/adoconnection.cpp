#include "adoconnection.h"

#include "databaseerror.h"
#include "driverconfiguration.h"
#include "encryptionprobe.h"
#include "odbcresults.h"
#include "statement.h"

#include "common/busy.h"
#include "odbcheaders.h"

#include <QDir>
#include <QRegularExpression>

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

// The driver's own failure to set up the connection, as opposed to the server's refusal of the
// login: only then may the encryption be the cause.
bool isDriverConnectFailure(const DatabaseError &error)
{
    const QString &text = error.message();
    return text.contains(QLatin1String("Adaptive Server connection failed")) ||
           text.contains(QLatin1String("Unexpected EOF from the server")) ||
           text.contains(QLatin1String("Read from the server failed")) ||
           text.contains(QLatin1String("Write to the server failed"));
}

// What the connection failed on, where the cause lies in its encryption; else the driver's error.
DatabaseError explainedConnectFailure(const DatabaseError &error, const ConnectionProperties &properties,
                                      int timeoutSeconds)
{
    const ServerAddress address = parseDataSource(properties.dataSource);
    if (!isDriverConnectFailure(error) || (address.port == 0 && !address.instance.isEmpty()))
        return error;
    EncryptionProbe probe;
    probe.host = address.host;
    probe.port = address.port != 0 ? address.port : 1433;
    probe.encryption = properties.encrypt ? EncryptionSetting::All : properties.encryption;
    probe.authorityFile = properties.authorityFile;
    probe.timeoutSeconds = timeoutSeconds > 0 ? timeoutSeconds : 15;
    const QString cause = explainEncryptionFailure(probe);
    return cause.isEmpty() ? error : DatabaseError(cause, error.state());
}

} // namespace

std::optional<SessionOption> sessionOption(const QString &text)
{
    // One statement alone, nothing before or after it but blanks and one semicolon: a batch that
    // does more than set the option (SET NOCOUNT ON; INSERT ...) is never run a second time.
    static const QRegularExpression dateFormat(
        QStringLiteral(R"(^\s*SET\s+DATEFORMAT\s+(dmy|mdy|ymd|ydm|myd|dym)\s*;?\s*$)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = dateFormat.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    return SessionOption{QStringLiteral("DATEFORMAT"),
                         QStringLiteral("SET DATEFORMAT ") + m.captured(1).toLower()};
}

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
    const Busy busy; // the connect, the session's statements, a failure's probe
    if (m_open)
        return;
    const OdbcDriver driver = databaseDriver();
    const QString odbcText = odbcConnectionString(m_properties, m_commandTimeout, driver);
    if (!m_properties.authorityFile.isEmpty())
        writeDriverConfiguration(m_properties);
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
        throw explainedConnectFailure(error, m_properties, m_connectionTimeout);
    }
    // Drivers other than FreeTDS take the command limit as an attribute, which the connection's
    // statements inherit.
    if (driver.family != DriverFamily::FreeTds && m_commandTimeout > 0)
        SQLSetConnectAttr(dbc, SQL_ATTR_QUERY_TIMEOUT,
                          reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(m_commandTimeout)), 0);
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
    const Busy busy; // the logout
    SQLHDBC dbc = static_cast<SQLHDBC>(m_connection);
    m_connection = nullptr;
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
}

void TADOConnection::rememberSessionStatement(const QString &text)
{
    const std::optional<SessionOption> option = sessionOption(text);
    if (!option)
        return;
    for (QString &kept : m_sessionStatements) {
        if (sessionOption(kept)->name == option->name) {
            kept = option->statement;
            return;
        }
    }
    m_sessionStatements.append(option->statement);
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
