#include "adoconnection.h"

#include "databaseerror.h"
#include "statement.h"

#include <QAtomicInt>
#include <QSqlError>
#include <QSqlQuery>

namespace {

QString uniqueConnectionName()
{
    static QAtomicInt counter;
    return QStringLiteral("qel31-%1").arg(counter.fetchAndAddRelaxed(1));
}

} // namespace

DatabaseError databaseErrorOf(const QSqlError &error)
{
    QString text = withoutDriverPrefixes(error.databaseText());
    if (text.isEmpty())
        text = withoutDriverPrefixes(error.driverText());
    if (text.isEmpty())
        text = QStringLiteral("Unspecified error");
    return DatabaseError(text, error.nativeErrorCode());
}

TADOConnection::TADOConnection(QObject *parent) : QObject(parent), m_name(uniqueConnectionName()) {}

TADOConnection::~TADOConnection()
{
    Close();
    if (m_driverLoaded)
        QSqlDatabase::removeDatabase(m_name);
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
    // The driver and the libraries under it are loaded by the first open, not at start-up: the
    // login window is up sooner.
    if (!m_driverLoaded) {
        QSqlDatabase::addDatabase(QStringLiteral("QODBC"), m_name);
        m_driverLoaded = true;
    }
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (!db.isValid())
        throw DatabaseError(QStringLiteral("The database driver for ODBC is not installed (QODBC)."));
    db.setDatabaseName(odbcConnectionString(m_properties, m_commandTimeout));
    // ODBC 3 states, and the time limit of the login.
    QString options = QStringLiteral("SQL_ATTR_ODBC_VERSION=SQL_OV_ODBC3");
    if (m_connectionTimeout > 0)
        options += QStringLiteral(";SQL_ATTR_LOGIN_TIMEOUT=%1").arg(m_connectionTimeout);
    db.setConnectOptions(options);
    if (!db.open()) {
        const DatabaseError error = databaseErrorOf(db.lastError());
        db.close();
        throw error;
    }
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
                db.close();
            }
            throw;
        }
    }
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
    QSqlDatabase::database(m_name, false).close();
}

void TADOConnection::ConnectionLost()
{
    if (!m_open)
        return;
    m_open = false;
    QSqlDatabase::database(m_name, false).close();
}

bool TADOConnection::Connected() const
{
    return m_open;
}

QSqlDatabase TADOConnection::database() const
{
    return QSqlDatabase::database(m_name, false);
}
