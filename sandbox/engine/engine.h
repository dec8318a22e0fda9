#pragma once
// The sandbox's database engine: T-SQL in, results out, over one SQLite database.
//
// The engine knows nothing of the wire. The TDS layer (sandbox/tds/) parses packets, turns
// SQL batches and RPCs into calls of Engine::execute() and encodes what comes back. The engine
// is thread-safe: every public call takes the engine's mutex, so connections served on their
// own threads run one statement at a time against the one SQLite handle.

#include "sandbox/engine/types.h"

#include <QDate>

#include <memory>

struct sqlite3;

namespace sandbox {

// Watches a batch while it runs (Engine::execute), so that its answer can travel statement by
// statement, a query's rows as they are read, and the client can stop it. Called without the
// engine's lock held; other connections' statements run meanwhile.
class BatchObserver {
public:
    virtual ~BatchObserver() = default;
    // A query's rows as it reads them, a bounded chunk at a time, so that a result of any length
    // travels without being held whole: `first` with the first chunk (possibly without rows), whose
    // columns are those of the whole result and are announced with it. A runtime error after some
    // rows ends the statement (completed() tells it) after the chunks of the rows before it. False
    // stops the query there (the client cancelled): the batch ends and completed() is not called
    // for it.
    virtual bool rows(const StatementResult &statement, const ResultSet &chunk, bool first) = 0;
    // A statement has completed; `last` when the batch ends with it. False stops the batch there
    // (the client cancelled): no further statement runs.
    virtual bool completed(const StatementResult &statement, bool last) = 0;
    // A procedure has done what `soFar` holds (its inner statements up to now) and waits up to ms
    // before it goes on. False when the client cancelled meanwhile: the procedure stops there.
    virtual bool paused(const StatementResult &soFar, int ms) = 0;
};

enum class LoginVerdict { Ok, BadCredentials, UnknownDatabase };

struct LoginOutcome {
    LoginVerdict verdict = LoginVerdict::BadCredentials;
    Message error;    // filled unless Ok: e.g. 18456 "Login failed for user 'x'." or 4060
    QString database; // the database the session starts in when Ok
};

class Engine {
public:
    // Opens (creating if needed) the database at path; an empty path keeps it in memory.
    // With demo set, a database without the system's tables is filled with the demo university;
    // an existing one is left as it is. Throws std::runtime_error with SQLite's text on failure.
    explicit Engine(const QString &path = QString(), bool demo = false);
    ~Engine();
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    // Checks a server account (SQL Server authentication) and the database the client asked for
    // (empty: the account's default database).
    LoginOutcome login(const QString &user, const QString &password, const QString &database);

    // Runs a T-SQL batch (one or more statements) for the session. Parameters are those of
    // sp_executesql / sp_prepexec, referenced in the text as @P1, @P2, ... (or their declared names).
    // With an observer, each statement is handed to it as it completes, and the batch stops where
    // the observer says so.
    BatchResult execute(Session &session, const QString &sql, const QList<Parameter> &params = {},
                        BatchObserver *observer = nullptr);

    // How long a procedure that waits on purpose (the error-then-store mark of CreateStarasta, see
    // procedures.cpp) waits after its error before it goes on. Default 2000 ms.
    void setProcedurePause(int ms);

    // The database's compatibility level: 160 by default, as for a new database on the version
    // the server announces (16.0). It words a truncation: 2628, naming the table, the column and
    // the value cut, at 150 and above; 8152 at 140 and below.
    void setCompatibilityLevel(int level);
    int compatibilityLevel() const;

    // Scripts the row that the next GET_USER call returns instead of its own verdict (six or more
    // values). Used once, then GET_USER works normally again.
    void scriptNextGetUserRow(const QList<Value> &row);

    // Added for tests. An empty row given to scriptNextGetUserRow() scripts GET_USER's six columns
    // without any row. scriptNextGetUserResult() scripts a result of any shape (fewer columns, no
    // row, several rows), used once like the row.
    void scriptNextGetUserResult(const ResultSet &result);

    // The day from which GET_USER counts password age; an invalid date (the default) means today.
    void setToday(const QDate &date);

    // Direct access for tests and tools: runs SQLite SQL (not T-SQL) outside any session and
    // permission check and returns the rows. Throws std::runtime_error on failure.
    ResultSet sqlite(const QString &sql, const QList<Value> &params = {});

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace sandbox
