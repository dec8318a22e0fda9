#include "odbcresults.h"

#include "connectionproperties.h"
#include "odbcheaders.h"

#include <array>

namespace odbc {

namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager's wide characters are UTF-16");

SQLHSTMT handleOf(void *statement)
{
    return static_cast<SQLHSTMT>(statement);
}

struct DiagRecord {
    QString state;
    QString text;
    int number = 0; // the server's error number; the driver's own messages have none
};

QList<DiagRecord> diagnostics(SQLSMALLINT handleType, SQLHANDLE handle)
{
    QList<DiagRecord> records;
    for (SQLSMALLINT i = 1;; ++i) {
        std::array<SQLWCHAR, 6> state{};
        std::array<SQLWCHAR, 1024> text{};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        const SQLRETURN r = SQLGetDiagRecW(handleType, handle, i, state.data(), &native, text.data(),
                                           SQLSMALLINT(text.size()), &length);
        if (!SQL_SUCCEEDED(r))
            break;
        length = qBound<SQLSMALLINT>(0, length, SQLSMALLINT(text.size() - 1));
        records.append({QString::fromUtf16(reinterpret_cast<const char16_t *>(state.data()), 5),
                        QString::fromUtf16(reinterpret_cast<const char16_t *>(text.data()), length),
                        int(native)});
    }
    return records;
}

std::optional<DatabaseError> firstError(SQLSMALLINT handleType, SQLHANDLE handle);

DatabaseError failureOf(SQLHSTMT statement, const char *call)
{
    if (auto error = statementError(statement))
        return *error;
    if (auto messages = statementMessages(statement))
        return *messages;
    return DatabaseError(
        QStringLiteral("The database driver failed in %1 without saying why").arg(QLatin1String(call)));
}

// Reads a value of variable length in pieces, handing each piece's bytes to take, until the driver
// reports the last piece; the driver ends each piece of text with a terminating zero of
// terminatorBytes. Most values fit the first piece. False for a Null.
template <typename Take>
bool readPieces(SQLHSTMT statement, SQLUSMALLINT column, SQLSMALLINT cType, void *buffer, SQLLEN bufferBytes,
                SQLLEN terminatorBytes, Take take)
{
    const SQLLEN pieceBytes = bufferBytes - terminatorBytes;
    for (bool first = true;; first = false) {
        SQLLEN indicator = 0;
        const SQLRETURN r = SQLGetData(statement, column, cType, buffer, bufferBytes, &indicator);
        if (r == SQL_NO_DATA && !first)
            return true;
        if (!SQL_SUCCEEDED(r))
            throw failureOf(statement, "SQLGetData");
        if (indicator == SQL_NULL_DATA)
            return false;
        const bool partial =
            r == SQL_SUCCESS_WITH_INFO && (indicator == SQL_NO_TOTAL || indicator > pieceBytes);
        take(partial ? pieceBytes : qBound<SQLLEN>(0, indicator, pieceBytes));
        if (!partial)
            return true;
    }
}

QVariant readText(SQLHSTMT statement, SQLUSMALLINT column, QMetaType type)
{
    std::array<SQLWCHAR, 2048> buffer;
    QString text;
    const bool notNull =
        readPieces(statement, column, SQL_C_WCHAR, buffer.data(), SQLLEN(sizeof(buffer)),
                   SQLLEN(sizeof(SQLWCHAR)), [&](SQLLEN bytes) {
                       text.append(QStringView(reinterpret_cast<const char16_t *>(buffer.data()),
                                               bytes / SQLLEN(sizeof(SQLWCHAR))));
                   });
    if (!notNull)
        return QVariant(type);
    if (type == QMetaType::fromType<QString>())
        return text;
    // Dates and the like are given as the driver writes them; the client reads none of them.
    QVariant value(text);
    return value.convert(type) ? value : QVariant(text);
}

QVariant readBytes(SQLHSTMT statement, SQLUSMALLINT column, QMetaType type)
{
    std::array<char, 8192> buffer;
    QByteArray bytes;
    const bool notNull = readPieces(statement, column, SQL_C_BINARY, buffer.data(), SQLLEN(buffer.size()), 0,
                                    [&](SQLLEN size) { bytes.append(buffer.data(), qsizetype(size)); });
    return notNull ? QVariant(bytes) : QVariant(type);
}

template <typename Target>
QVariant readFixed(SQLHSTMT statement, SQLUSMALLINT column, SQLSMALLINT cType, QMetaType type)
{
    Target value{};
    SQLLEN indicator = 0;
    const SQLRETURN r = SQLGetData(statement, column, cType, &value, SQLLEN(sizeof(value)), &indicator);
    if (!SQL_SUCCEEDED(r))
        throw failureOf(statement, "SQLGetData");
    if (indicator == SQL_NULL_DATA)
        return QVariant(type);
    QVariant v = QVariant::fromValue(value);
    v.convert(type);
    return v;
}

} // namespace

QVariant readColumn(void *statement, int column, QMetaType type)
{
    SQLHSTMT h = handleOf(statement);
    const auto number = SQLUSMALLINT(column + 1);
    switch (type.id()) {
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::UShort:
        return readFixed<SQLINTEGER>(h, number, SQL_C_SLONG, type);
    case QMetaType::UInt:
        return readFixed<SQLUINTEGER>(h, number, SQL_C_ULONG, type);
    case QMetaType::LongLong:
        return readFixed<SQLBIGINT>(h, number, SQL_C_SBIGINT, type);
    case QMetaType::ULongLong:
        return readFixed<SQLUBIGINT>(h, number, SQL_C_UBIGINT, type);
    case QMetaType::Double:
    case QMetaType::Float:
        return readFixed<SQLDOUBLE>(h, number, SQL_C_DOUBLE, type);
    case QMetaType::QByteArray:
        return readBytes(h, number, type);
    default:
        return readText(h, number, type);
    }
}

bool connectionDead(void *connection)
{
    if (!connection)
        return false;
    SQLUINTEGER dead = SQL_CD_FALSE;
    const SQLRETURN r = SQLGetConnectAttr(connection, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
    return SQL_SUCCEEDED(r) && dead == SQL_CD_TRUE;
}

std::optional<DatabaseError> statementError(void *statement)
{
    return firstError(SQL_HANDLE_STMT, handleOf(statement));
}

std::optional<DatabaseError> connectionMessage(void *connection)
{
    return firstError(SQL_HANDLE_DBC, static_cast<SQLHDBC>(connection));
}

namespace {

std::optional<DatabaseError> firstError(SQLSMALLINT handleType, SQLHANDLE handle)
{
    const QList<DiagRecord> records = diagnostics(handleType, handle);
    for (const DiagRecord &record : records) {
        // Class 01 is a warning: an INFO message of the server, a truncation the reader deals with.
        if (record.state.startsWith(QLatin1String("01")))
            continue;
        return DatabaseError(withoutDriverPrefixes(record.text), record.state, record.number);
    }
    return std::nullopt;
}

} // namespace

namespace {

// Every message of the handle, as the driver manager gives them, joined; the prefixes go afterwards.
// The state is that of the first error among them, else of the first message.
std::optional<DatabaseError> allMessages(SQLSMALLINT handleType, SQLHANDLE handle)
{
    QString joined;
    QString state;
    QString firstState;
    int number = 0;
    for (const DiagRecord &record : diagnostics(handleType, handle)) {
        if (firstState.isEmpty())
            firstState = record.state;
        if (state.isEmpty() && !record.state.startsWith(QLatin1String("01"))) {
            state = record.state;
            number = record.number;
        }
        if (!joined.isEmpty())
            joined += QLatin1Char(' ');
        joined += record.text;
    }
    const QString text = withoutDriverPrefixes(joined);
    if (text.isEmpty())
        return std::nullopt;
    return DatabaseError(text, state.isEmpty() ? firstState : state, number);
}

} // namespace

std::optional<DatabaseError> statementMessages(void *statement)
{
    return allMessages(SQL_HANDLE_STMT, handleOf(statement));
}

DatabaseError connectionError(void *connection)
{
    if (std::optional<DatabaseError> error = allMessages(SQL_HANDLE_DBC, static_cast<SQLHDBC>(connection)))
        return *error;
    return DatabaseError(QStringLiteral("Unspecified error"));
}

} // namespace odbc
