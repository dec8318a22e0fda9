#include "adoconnection.h"

#include "databaseerror.h"
#include "diagnostics.h"
#include "driverconfiguration.h"
#include "encryptionprobe.h"
#include "statement.h"
#include "texts.h"

#include "common/busy.h"
#include "odbcapi.h"

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

// What the connection failed on, where the cause lies in its encryption; else the driver's error.
DatabaseError explainedConnectFailure(const odbc::ConnectFailure &failure,
                                      const ConnectionProperties &properties, int timeoutSeconds)
{
    const DatabaseError &error = failure.error;
    const ServerAddress address = parseDataSource(properties.dataSource);
    if (!failure.inSetup || (address.port == 0 && !address.instance.isEmpty()))
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

// The error the user is shown for a lost link: the driver's own words where they say what happened,
// the layer's words for a broken link and the server's address where they do not.
DatabaseError lostLinkError(const DatabaseError &error, const ConnectionProperties &properties)
{
    if (!odbc::saysNoCause(error))
        return error;
    return DatabaseError(dbtext::linkLost(properties.dataSource), QStringLiteral("08S01"));
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
        throw DatabaseError(dbtext::connectionIsOpen());
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
        throw DatabaseError(dbtext::driverManagerMissing());
    // The time limit of the login.
    if (m_connectionTimeout > 0)
        SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT,
                          reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(m_connectionTimeout)), 0);
    SQLSMALLINT written = 0;
    const SQLRETURN r = SQLDriverConnectW(
        dbc, nullptr, const_cast<SQLWCHAR *>(reinterpret_cast<const SQLWCHAR *>(odbcText.utf16())),
        SQLSMALLINT(odbcText.size()), nullptr, 0, &written, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(r)) {
        const odbc::ConnectFailure failure = odbc::connectFailure(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        throw explainedConnectFailure(failure, m_properties, m_connectionTimeout);
    }
    // Drivers other than FreeTDS take the command limit as an attribute, which the connection's
    // statements inherit.
    if (driver.family != DriverFamily::FreeTds && m_commandTimeout > 0)
        SQLSetConnectAttr(dbc, SQL_ATTR_QUERY_TIMEOUT,
                          reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(m_commandTimeout)), 0);
    m_connection = odbc::connectionOf(dbc);
    m_open = true;
    // The session of a connection lost on the way starts from the server's defaults: what the
    // client had set goes back first. A failure here is the failure of this open.
    for (const QString &statement : std::as_const(m_sessionStatements)) {
        StatementAnswer answer = runStatement(m_connection, statement, {});
        if (answer.error) {
            m_open = false;
            disconnect();
            throw answer.linkLost ? lostLinkError(*answer.error, m_properties) : *answer.error;
        }
    }
}

RowSet TADOConnection::execute(const QString &text, const QList<QVariant> &parameters)
{
    StatementAnswer answer = runStatement(m_connection, text, parameters);
    if (answer.linkLost || answer.restUnread)
        connectionLost();
    if (answer.error)
        throw answer.linkLost ? lostLinkError(*answer.error, m_properties) : *answer.error;
    // Any other statement runs once.
    if (parameters.isEmpty())
        rememberSessionStatement(text);
    return std::move(answer.rows);
}

void TADOConnection::disconnect()
{
    if (!m_connection)
        return;
    const Busy busy; // the logout
    const SQLHDBC dbc = odbc::api(m_connection);
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

void TADOConnection::connectionLost()
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
