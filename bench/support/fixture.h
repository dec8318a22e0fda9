#pragma once
// The demo university with groups of any size added, served by the in-process sandbox server on
// 127.0.0.1, and a program folder whose settings file points at it.

#include "sandbox/tds/sandboxserver.h"

#include <QSqlDatabase>
#include <QTemporaryDir>

#include <memory>

// A group added for the benchmarks: its students and its monitor, with ids beyond the demo's.
struct FixtureGroup {
    qint32 id = 0;
    int students = 0;
    qint32 monitor = 0; // a student in the middle of the list
    // The raw size of its student rows: per row the 4 bytes of the key and the name's characters at
    // 2 bytes each, as the client holds text.
    qint64 rawBytes = 0;
};

class BenchServer {
public:
    // Starts the server with the demo university; throws nothing, a failure ends the benchmark.
    BenchServer();
    ~BenchServer();

    // Adds a group of `students` students (ids derived from the group's id, so that groups never
    // share a student) with its monitor.
    FixtureGroup addGroup(qint32 id, int students);

    sandbox::SandboxServer &server() { return *m_server; }
    // "127.0.0.1,PORT", as a settings file holds the server.
    QString address() const;
    // The ODBC connection string of an account of the demo university, as the client gives it to
    // the driver.
    QString driverConnectionString(const QString &user, const QString &password) const;
    // Opens db (a Qt SQL connection over QODBC) with that string, as a plain Qt program would; a
    // failure ends the benchmark.
    void openPlain(QSqlDatabase &db, const QString &user, const QString &password) const;

    // A program folder whose Data/QEL holds the settings account of the demo university; the folder
    // lives as long as this object.
    QString programFolder();

private:
    std::unique_ptr<sandbox::SandboxServer> m_server;
    std::unique_ptr<QTemporaryDir> m_programFolder;
};

// The demo university's accounts.
namespace demo {
inline const QString kDatabase = QStringLiteral("qel");
inline const QString kGateAccount = QStringLiteral("qel_gate");
inline const QString kGatePassword = QStringLiteral("gate");
inline const QString kLogin = QStringLiteral("demo");
inline const QString kLoginPassword = QStringLiteral("demo");
inline const QString kAccount = QStringLiteral("qel_demo");
inline const QString kAccountPassword = QStringLiteral("Группа=17;демо");
} // namespace demo
