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
#include "odbchandles.h"
#include "rowset.h"

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
    // Runs a statement on the open connection and keeps the connection's policy: the answer's error
    // is thrown (DatabaseError) after the answer was read; a lost link closes the connection, so that
    // the next Open() connects again, and is told in the driver's words where it has some; a statement
    // that set an option of the session that the client keeps (sessionOption()) is remembered, and a
    // connection opened again after a loss sets those options again (the latest value of each) before
    // anything else. The queries keep their rows, which are held on the client. Close() forgets the
    // options: a new session starts from the defaults. An answer whose rest could not be read after
    // its error closes the connection as a lost one too: what the server still had to do was cut
    // short, and the next statement starts on a new session.
    RowSet execute(const QString &text, const QList<QVariant> &parameters);
    const QStringList &sessionStatements() const { return m_sessionStatements; }

Q_SIGNALS:
    // Emitted before the connection closes, so that queries on it let go of their statements.
    void aboutToClose();

private:
    // The driver has lost the connection: it counts as closed, so the next Open() connects again.
    void connectionLost();
    void rememberSessionStatement(const QString &text);
    // Lets go of the driver's connection (its statements go with it).
    void disconnect();

    odbc::Connection m_connection = nullptr;
    QString m_connectionString;
    ConnectionProperties m_properties;
    QStringList m_sessionStatements;
    int m_connectionTimeout = 15;
    int m_commandTimeout = 30;
    bool m_open = false;
};
