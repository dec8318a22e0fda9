#pragma once
// The sandbox's database engine: T-SQL in, results out, over one SQLite database.
//
// The engine knows nothing of the wire. The TDS layer (sandbox/tds/) parses packets, turns
// SQL batches and RPCs into calls of Engine::execute() and encodes what comes back. The engine
// is thread-safe: every public call takes the engine's mutex, so connections served on their
// own threads run one statement at a time against the one SQLite handle.

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QRegularExpression>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>
#include <variant>
#include <vector>

struct sqlite3;

namespace sandbox {

// A value as it travels between the wire and the engine. Text is Unicode; the TDS layer decides
// whether it travels as VARCHAR (Windows-1251) or NVARCHAR.
using Value = std::variant<std::monostate, qint64, double, QString, QByteArray>;

inline bool isNull(const Value &v)
{
    return std::holds_alternative<std::monostate>(v);
}

// A value as text: numbers in decimal, bytes as UTF-8, NULL as the empty text.
inline QString valueToText(const Value &v)
{
    if (const auto *s = std::get_if<QString>(&v))
        return *s;
    if (const auto *i = std::get_if<qint64>(&v))
        return QString::number(*i);
    if (const auto *d = std::get_if<double>(&v))
        return QString::number(*d, 'g', 17);
    if (const auto *b = std::get_if<QByteArray>(&v))
        return QString::fromUtf8(*b);
    return QString();
}

// The wire types named are those of a nullable column; a column that cannot hold NULL travels
// in the fixed-length type of the same size (INT4, INT8, INT2, INT1, BIT, FLT8, FLT4, DATETIME).
enum class ColumnType {
    Int,       // INTN, 4 bytes
    BigInt,    // INTN, 8 bytes
    SmallInt,  // INTN, 2 bytes
    TinyInt,   // INTN, 1 byte, 0 to 255
    Bit,       // BITN
    Float,     // FLTN, 8 bytes
    Real,      // FLTN, 4 bytes
    VarChar,   // BIGVARCHR, Windows-1251 bytes, with the server collation
    NVarChar,  // NVARCHAR, UTF-16LE
    VarBinary, // BIGVARBIN
    Char,      // BIGCHAR: varchar padded with blanks to its width
    NChar,     // NCHAR: nvarchar padded with blanks to its width
    DateTime,  // DATETIMN, 8 bytes; the value is ISO text yyyy-mm-ddThh:mm:ss.zzz
    Date       // DATEN; the value is ISO text yyyy-mm-dd
};

// The width of varchar(max), nvarchar(max) and varbinary(max).
inline constexpr int kMaxWidth = -1;

struct Column {
    QString name;
    ColumnType type = ColumnType::NVarChar;
    // As declared: characters of varchar and char (one byte each in Windows-1251), UTF-16 code
    // units of nvarchar and nchar, bytes of varbinary; kMaxWidth for (max). Ignored for numbers.
    int maxLength = 255;
    bool nullable = true;   // false for a NOT NULL table column and a literal other than NULL
    bool computed = false;  // an expression rather than a table's column
    bool aggregate = false; // COUNT, SUM, ...: neither a table's column nor flagged as computed
};

struct ResultSet {
    QList<Column> columns;
    QList<QList<Value>> rows;
};

// An ERROR or INFO token's content.
struct Message {
    int number = 0;
    int state = 1;
    int severity = 16; // class; 10 and below is an INFO
    QString text;
    QString procedure; // empty outside a procedure
    int line = 1;
};

// A parameter of a parameterised statement: the name as declared ("@P1"), its value and its
// declared type ("nvarchar(4000)"; empty when the call declared none).
struct Parameter {
    QString name;
    Value value;
    QString type{};
};

// What one statement of a batch produced, in the order the statements ran.
struct StatementResult {
    QString verb;                       // SELECT, INSERT, UPDATE, DELETE, EXEC, SET, PRINT, RAISERROR, ...
    std::optional<ResultSet> resultSet; // a SELECT (also one without rows)
    qint64 rowCount = -1;               // rows affected or returned; -1 when there is no count (SET)
    std::optional<int> returnStatus;    // set for EXEC of a procedure
    QList<Message> infos;               // PRINT and other messages, before the statement's results
    std::optional<Message> error;       // the statement failed; unless raised, nothing after it ran
    QList<Message> afterError;          // messages that follow the error, such as 3621
    bool raised = false;                // the error came from RAISERROR: the batch goes on
    bool noCount = false;               // SET NOCOUNT ON was in force: counts do not travel
    // The result's columns and rows went to BatchObserver::rows() while the query ran; resultSet
    // keeps the columns only (none when the query failed), rowCount counts the rows sent.
    bool streamed = false;
    // EXEC: the statements the procedure ran, in order; the call's own error (raised after them)
    // and return status are the fields above.
    std::vector<StatementResult> inner;
};

struct BatchResult {
    QList<StatementResult> statements;
    bool cancelled = false; // the observer stopped the batch (Engine::execute)
    bool failed() const
    {
        for (const StatementResult &st : statements)
            if (st.error && st.error->severity > 10)
                return true;
        return false;
    }
};

// The state of one client connection that the engine reads and changes.
struct Session {
    QString login;              // the server account that logged in
    QString database;           // current database
    QString dateFormat = "mdy"; // SET DATEFORMAT
    bool noCount = false;       // SET NOCOUNT
    QString application;        // from the login packet, for the log
    QString host;               // from the login packet, for the log
    bool xactAbort = false;     // SET XACT_ABORT: every error ends the batch
    int textSize = 4096;        // SET TEXTSIZE: bytes of a (max) value a result carries
};

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
