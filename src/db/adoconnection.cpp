#include "adoconnection.h"

#include "databaseerror.h"
#include "encryptionprobe.h"
#include "statement.h"

#include <QAtomicInt>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

namespace {

// The driver takes a certificate authority only from its configuration file, which it reads at
// every connect from the file that FREETDSCONF names. The client's own file lies in a private
// folder (mode 0700) for the life of the process; it holds no password.
void installDriverConfiguration(const QByteArray &text)
{
    static QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/qel31-driver-XXXXXX"));
    if (!folder.isValid())
        throw DatabaseError(QStringLiteral("The database driver's configuration cannot be written: %1.")
                                .arg(folder.errorString()));
    const QString path = folder.filePath(QStringLiteral("freetds.conf"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        throw DatabaseError(QStringLiteral("The database driver's configuration cannot be written: %1.")
                                .arg(file.errorString()));
    static const bool named = qputenv("FREETDSCONF", QFile::encodeName(path));
    Q_UNUSED(named);
}

// The driver's own failure to set up the connection, as opposed to the server's refusal of the
// login: only then may the encryption be the cause.
bool isDriverConnectFailure(const QSqlError &error)
{
    const QString text = error.databaseText() + u' ' + error.driverText();
    return text.contains(QLatin1String("Adaptive Server connection failed")) ||
           text.contains(QLatin1String("Unexpected EOF from the server")) ||
           text.contains(QLatin1String("Read from the server failed")) ||
           text.contains(QLatin1String("Write to the server failed"));
}

// What the connection failed on, where the cause lies in its encryption; else the driver's error.
DatabaseError explainedConnectFailure(const QSqlError &failure, const ConnectionProperties &properties,
                                      int timeoutSeconds)
{
    DatabaseError error = databaseErrorOf(failure);
    const ServerAddress address = parseDataSource(properties.dataSource);
    if (!isDriverConnectFailure(failure) || (address.port == 0 && !address.instance.isEmpty()))
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
    if (!m_properties.authorityFile.isEmpty())
        installDriverConfiguration(driverConfiguration(m_properties));
    // ODBC 3 states, and the time limit of the login.
    QString options = QStringLiteral("SQL_ATTR_ODBC_VERSION=SQL_OV_ODBC3");
    if (m_connectionTimeout > 0)
        options += QStringLiteral(";SQL_ATTR_LOGIN_TIMEOUT=%1").arg(m_connectionTimeout);
    db.setConnectOptions(options);
    if (!db.open()) {
        const QSqlError failure = db.lastError();
        db.close();
        throw explainedConnectFailure(failure, m_properties, m_connectionTimeout);
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
