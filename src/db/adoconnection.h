#pragma once
// The one database connection of the client. It keeps the OLE DB-style connection string the system
// builds and opens the real connection through the ODBC driver manager with FreeTDS's driver.
//
// The connection is the driver's own: opening it costs the pre-login and the login and nothing else
// (Qt SQL's ODBC driver would ask the server for its type information and set an option through a
// server cursor at every open, two more round trips that nothing here uses).
//
// Owned by the data module; used on the GUI thread only. Every call blocks until the server answers
// or a time limit runs out.

#include "connectionproperties.h"

#include <QObject>
#include <QStringList>

#include <optional>

// An option of the session that the client sets and that a connection opened again after a loss
// gets again: its name and the one statement that sets it.
struct SessionOption {
    QString name;
    QString statement;
};
// The option that text sets, when text is exactly one statement of the options the client keeps
// (SET DATEFORMAT with its order); nullopt for any other text, SET statements of other options and
// batches that do more included.
std::optional<SessionOption> sessionOption(const QString &text);

class TADOConnection : public QObject {
    Q_OBJECT
public:
    explicit TADOConnection(QObject *parent = nullptr);
    ~TADOConnection() override;

    // Set only while the connection is closed; throws DatabaseError otherwise.
    void setConnectionString(const QString &text);
    // The same, with the values that the string carries unquoted taken as given: a value holding ';'
    // or '=' cannot be told apart from the string's own separators once it is inside.
    void setConnectionString(const QString &text, const ConnectionProperties &exactValues);
    const QString &connectionString() const { return m_connectionString; }
    const ConnectionProperties &properties() const { return m_properties; }

    // Seconds to wait for the server when opening and for each command (0: no limit); both take
    // effect at the next Open().
    int connectionTimeout() const { return m_connectionTimeout; }
    void setConnectionTimeout(int seconds) { m_connectionTimeout = seconds; }
    int commandTimeout() const { return m_commandTimeout; }
    void setCommandTimeout(int seconds) { m_commandTimeout = seconds; }

    // Opens with the connection string in force; does nothing when open. Throws DatabaseError with the
    // server's or the driver's text; the connection then stays closed.
    void Open();
    // Does nothing when closed.
    void Close();
    bool Connected() const;
    // The driver has lost the connection: it counts as closed, so the next Open() connects again.
    // The queries keep their rows, which are held on the client, and the session is put back as it
    // was: the options that the client set on it (sessionOption()) are set again before anything
    // else.
    void ConnectionLost();
    // A statement without parameters ran on the connection. When it set an option of the session
    // that the client keeps, a connection opened again after a loss sets it again (the latest value
    // of each option); any other statement is not kept. Close() forgets them: a new session starts
    // from the defaults.
    void rememberSessionStatement(const QString &text);
    const QStringList &sessionStatements() const { return m_sessionStatements; }

    // The ODBC connection (SQLHDBC) underneath, for the statements; nullptr while closed.
    void *odbcConnection() const { return m_connection; }

Q_SIGNALS:
    // Emitted before the connection closes, so that queries on it let go of their statements.
    void aboutToClose();

private:
    // Lets go of the driver's connection (its statements go with it).
    void disconnect();

    void *m_connection = nullptr;
    QString m_connectionString;
    ConnectionProperties m_properties;
    QStringList m_sessionStatements;
    int m_connectionTimeout = 15;
    int m_commandTimeout = 30;
    bool m_open = false;
};
