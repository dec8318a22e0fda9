#pragma once
// The main window signed in as the demo login (id 12, server account qel_demo) against an in-process
// sandbox server with the demo university: the data module connected with the login's own account,
// the faculty and year lists loaded, the window shown. Choices are made with the mouse, as a user
// makes them; what the server holds is read straight from its SQLite database.

#include "sandbox/tds/sandboxserver.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <memory>

class TDBLookupComboBox;
class MessageBoxRecorder;
class TApplication;

// A group of the demo login's faculties with the year it is taught in and its students.
struct DemoGroup {
    qint32 faculty = 0;
    qint32 year = 0;
    qint32 group = 0;
    QList<qint32> students;
};

class MainWindowSession {
public:
    MainWindowSession();
    ~MainWindowSession();

    sandbox::SandboxServer &server() { return *m_server; }
    sandbox::Engine &engine() { return m_server->engine(); }
    MessageBoxRecorder &boxes() { return *m_boxes; }

    // Signs the data module in and shows the main window; false with the reason in *why. The command
    // time limit takes effect at this connection's open.
    bool open(QString *why, int commandTimeout = 30);

    // The first group (by id) of the demo login's faculties that has at least two students.
    DemoGroup someGroup();

    // A choice with the mouse in a drop-down list: opened when closed, the key's row pressed and
    // released. False when the list cannot open or has no row with the key.
    bool choose(TDBLookupComboBox *list, qint32 key);
    bool chooseFaculty(qint32 key);
    bool chooseYear(qint32 key);
    bool chooseGroup(qint32 key);
    // A press on the student's row of the student list.
    bool chooseStudent(qint32 key);
    // Faculty, year and group in turn.
    bool chooseGroupOf(const DemoGroup &g);
    // A click on ">>" (the question is answered by the message box recorder).
    void assign();

    // A digest of every table of the database, by table name: what changed and what did not.
    QHash<QString, QByteArray> tableDigests();
    // The monitors of a group in QELStudent.
    QList<qint32> monitorsOf(qint32 group);
    // The statements the client sent since the last clearEvents(), without what the driver sends by
    // itself (type information, session options, unpreparing).
    QList<sandbox::Event> clientEvents() const;

private:
    std::unique_ptr<sandbox::SandboxServer> m_server;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
    std::unique_ptr<TApplication> m_app;
};

// The names of the tables whose digests differ.
QStringList changedTables(const QHash<QString, QByteArray> &before, const QHash<QString, QByteArray> &after);
