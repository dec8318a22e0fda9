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
        const SQLRETURN r =
            read(handleType, handle, i, state.data(), &native, text.data(), SQLSMALLINT(text.size()), &length);
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

DatabaseError connectFailure(SQLHDBC connection)
{
    if (std::optional<DatabaseError> messages = allMessages(diagRecords(SQL_HANDLE_DBC, connection)))
        return *messages;
    return DatabaseError(dbtext::driverSaidNothing(QStringLiteral("SQLDriverConnect")));
}

// FreeTDS's words (its own messages, in English whatever the locale) where neither the SQLSTATE nor a
// number tells the cases apart; tests/db's driverWords checks them against the driver itself.
namespace freetds {
const QLatin1String kLinkFailure("Communication link failure");
const QLatin1String kUnexpectedEof("Unexpected EOF from the server");
const QLatin1String kSocketReset("Unknown error");
const QLatin1String kUnspecified("Unspecified error");
const QLatin1String kConnectionFailed("Adaptive Server connection failed");
const QLatin1String kReadFailed("Read from the server failed");
const QLatin1String kWriteFailed("Write to the server failed");
} // namespace freetds

bool saysLinkLost(const DatabaseError &error)
{
    const QString &text = error.message();
    return error.state().startsWith(QLatin1String("08")) || text.contains(freetds::kLinkFailure) ||
           text.contains(freetds::kUnexpectedEof) || text == freetds::kSocketReset ||
           text == freetds::kUnspecified;
}

bool saysNoCause(const DatabaseError &error)
{
    return error.message() == freetds::kSocketReset || error.message() == freetds::kUnspecified;
}

bool connectionDead(SQLHDBC connection)
{
    if (!connection)
        return false;
    SQLUINTEGER dead = SQL_CD_FALSE;
    const SQLRETURN r = SQLGetConnectAttr(connection, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
    return SQL_SUCCEEDED(r) && dead == SQL_CD_TRUE;
}

bool saysSetupFailed(const DatabaseError &error)
{
    const QString &text = error.message();
    return text.contains(freetds::kConnectionFailed) || text.contains(freetds::kUnexpectedEof) ||
           text.contains(freetds::kReadFailed) || text.contains(freetds::kWriteFailed);
}

} // namespace odbc
