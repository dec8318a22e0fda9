#include "diagnostics.h"

#include "connectionproperties.h"
#include "texts.h"

#include <array>

namespace odbc {

namespace {

bool isWarning(const DiagRecord &record)
{
    return record.state.startsWith(QLatin1String("01"));
}

} // namespace

QList<DiagRecord> diagRecords(SQLSMALLINT handleType, SQLHANDLE handle, DiagRecFunction read)
{
    QList<DiagRecord> records;
    if (!handle)
        return records;
    for (SQLSMALLINT i = 1;; ++i) {
        std::array<SQLWCHAR, 6> state{};
        std::array<SQLWCHAR, 1024> text{};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        const SQLRETURN r = read(handleType, handle, i, state.data(), &native, text.data(),
                                 SQLSMALLINT(text.size()), &length);
        if (!SQL_SUCCEEDED(r))
            return records;
        length = qBound<SQLSMALLINT>(0, length, SQLSMALLINT(text.size() - 1));
        records.append({QString::fromUtf16(reinterpret_cast<const char16_t *>(state.data()), 5),
                        QString::fromUtf16(reinterpret_cast<const char16_t *>(text.data()), length),
                        int(native)});
    }
}

std::optional<DatabaseError> firstError(const QList<DiagRecord> &records)
{
    for (const DiagRecord &record : records) {
        if (!isWarning(record))
            return DatabaseError(withoutDriverPrefixes(record.text), record.state, record.number);
    }
    return std::nullopt;
}

std::optional<DatabaseError> allMessages(const QList<DiagRecord> &records)
{
    QString joined;
    const DiagRecord *chosen = nullptr;
    for (const DiagRecord &record : records) {
        if (!chosen || (isWarning(*chosen) && !isWarning(record)))
            chosen = &record;
        if (!joined.isEmpty())
            joined += QLatin1Char(' ');
        joined += record.text;
    }
    // The prefixes go after joining: the driver manager puts them before each message.
    const QString text = withoutDriverPrefixes(joined);
    if (text.isEmpty())
        return std::nullopt;
    return DatabaseError(text, chosen->state, chosen->number);
}

DatabaseError callFailure(SQLHSTMT statement, SQLHDBC connection, const char *call)
{
    const QList<DiagRecord> statementRecords = diagRecords(SQL_HANDLE_STMT, statement);
    if (std::optional<DatabaseError> error = firstError(statementRecords))
        return *error;
    if (std::optional<DatabaseError> error = firstError(diagRecords(SQL_HANDLE_DBC, connection)))
        return *error;
    if (std::optional<DatabaseError> messages = allMessages(statementRecords))
        return *messages;
    return DatabaseError(dbtext::driverSaidNothing(QLatin1String(call)));
}

// FreeTDS's own message numbers, which its ODBC driver gives as the native number of its own records,
// under states that do not tell them apart (01000, HY000). Its texts are English and may change with
// a version; the numbers are those of its public db-lib interface. tests/db pins them against the
// driver itself.
namespace freetds {
constexpr int kConnectionFailed = 20002; // "Adaptive Server connection failed"
constexpr int kReadFailed = 20004;       // "Read from the server failed"
constexpr int kWriteFailed = 20006;      // "Write to the server failed"
constexpr int kUnexpectedEof = 20017;    // "Unexpected EOF from the server"
} // namespace freetds

namespace {

bool isLinkFailure(int number)
{
    return number == freetds::kReadFailed || number == freetds::kWriteFailed ||
           number == freetds::kUnexpectedEof;
}

} // namespace

ConnectFailure connectFailure(SQLHDBC connection)
{
    const QList<DiagRecord> records = diagRecords(SQL_HANDLE_DBC, connection);
    ConnectFailure failure{DatabaseError(dbtext::driverSaidNothing(QStringLiteral("SQLDriverConnect")))};
    if (std::optional<DatabaseError> messages = allMessages(records))
        failure.error = *messages;
    // The driver's records of a link that failed while it was being set up, rather than a refusal
    // of the server (a number of its own) or a server not reached at all (20009).
    for (const DiagRecord &record : records)
        failure.inSetup =
            failure.inSetup || record.number == freetds::kConnectionFailed || isLinkFailure(record.number);
    return failure;
}

bool saysLinkLost(const DatabaseError &error)
{
    return error.state().startsWith(QLatin1String("08")) || isLinkFailure(error.number());
}

bool saysNoCause(const DatabaseError &error)
{
    return error.state() == QLatin1String("HY000") && error.number() == 0;
}

bool connectionDead(SQLHDBC connection)
{
    if (!connection)
        return false;
    SQLUINTEGER dead = SQL_CD_FALSE;
    const SQLRETURN r = SQLGetConnectAttr(connection, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
    return SQL_SUCCEEDED(r) && dead == SQL_CD_TRUE;
}

} // namespace odbc
