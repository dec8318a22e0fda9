#pragma once
// What travels through the whole engine and out of it: values, result columns and sets, server
// messages, and what a statement, a batch and a session hold. Every file of the engine stands on
// this one; it includes none of them.

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <variant>
#include <vector>

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
inline constexpr int kUnlimitedTextSize = 2147483647;

struct Session {
    QString login;              // the server account that logged in
    QString database;           // current database
    QString dateFormat = "mdy"; // SET DATEFORMAT
    bool noCount = false;       // SET NOCOUNT
    QString application;        // from the login packet, for the log
    QString host;               // from the login packet, for the log
    bool xactAbort = false;     // SET XACT_ABORT: every error ends the batch
    // SET TEXTSIZE: bytes of a (max) value a result carries. 4096 unless the login asked for ODBC's
    // defaults, which make it unlimited (kUnlimitedTextSize).
    int textSize = 4096;
};

} // namespace sandbox
