#include "statement.h"

#include "adoconnection.h"
#include "common/busy.h"
#include "databaseerror.h"
#include "odbcresults.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <array>

namespace {

bool isNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

} // namespace

void RowSet::addColumn(const QString &name, QMetaType type)
{
    Column column;
    column.type = type;
    if (type == QMetaType::fromType<qint32>())
        column.storage = Storage::Integer;
    else if (type == QMetaType::fromType<QString>())
        column.storage = Storage::Text;
    m_names.append(name);
    m_columns.push_back(std::move(column));
}

void RowSet::appendRow(const QList<QVariant> &values)
{
    for (size_t i = 0; i < m_columns.size(); ++i) {
        Column &column = m_columns[i];
        const QVariant &value = values.at(qsizetype(i));
        const bool null = value.isNull();
        column.nulls.push_back(null);
        switch (column.storage) {
        case Storage::Integer:
            column.integers.append(null ? 0 : value.toInt());
            break;
        case Storage::Text:
            if (!null)
                column.text.append(value.toString());
            column.textEnds.append(qint32(column.text.size()));
            break;
        case Storage::Variant:
            column.variants.append(value);
            break;
        }
    }
    ++m_rowCount;
}

QVariant RowSet::value(int row, int column) const
{
    if (row < 0 || row >= m_rowCount || column < 0 || column >= columnCount())
        return {};
    const Column &c = m_columns[size_t(column)];
    if (c.nulls[size_t(row)])
        return QVariant(c.type);
    switch (c.storage) {
    case Storage::Integer:
        return QVariant(c.integers[row]);
    case Storage::Text: {
        const qsizetype begin = row > 0 ? c.textEnds[row - 1] : 0;
        return QVariant(c.text.mid(begin, c.textEnds[row] - begin));
    }
    case Storage::Variant:
        break;
    }
    return c.variants[row];
}

std::optional<qint32> RowSet::integerAt(int row, int column) const
{
    if (row < 0 || row >= m_rowCount || column < 0 || column >= columnCount())
        return std::nullopt;
    const Column &c = m_columns[size_t(column)];
    if (c.storage != Storage::Integer || c.nulls[size_t(row)])
        return std::nullopt;
    return c.integers[row];
}

MarkedText replaceParameterMarkers(const QString &text)
{
    MarkedText marked;
    if (!text.contains(QLatin1Char(':'))) {
        marked.text = text;
        return marked;
    }
    marked.text.reserve(text.size());
    // Quoted texts and names are copied as they are: a colon inside '...', "..." or [...] is data.
    QChar closing;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!closing.isNull()) {
            if (c == closing)
                closing = QChar();
            marked.text.append(c);
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            closing = c;
            marked.text.append(c);
        } else if (c == QLatin1Char('[')) {
            closing = QLatin1Char(']');
            marked.text.append(c);
        } else if (c == QLatin1Char(':') && i + 1 < text.size() && isNameChar(text[i + 1])) {
            qsizetype end = i + 1;
            while (end < text.size() && isNameChar(text[end]))
                ++end;
            marked.names.append(text.mid(i + 1, end - i - 1));
            marked.text.append(QLatin1Char('?'));
            i = end - 1;
        } else {
            marked.text.append(c);
        }
    }
    return marked;
}

namespace {

// Whether the driver has lost the connection: its SQLSTATE class 08, or FreeTDS's own texts for a
// server gone away or a reset socket. A command cut off by the time limit is not among them: the
// driver cancels it and the connection goes on; when the server never confirms the cancel the
// driver gives the connection up, and odbc::connectionDead() says so.
bool connectionLost(const DatabaseError &error)
{
    return error.state().startsWith(QLatin1String("08")) ||
           error.message().contains(QLatin1String("Communication link failure")) ||
           error.message().contains(QLatin1String("Unexpected EOF")) ||
           error.message() == QLatin1String("Unknown error") || // FreeTDS: the socket was reset
           error.message() == QLatin1String("Unspecified error");
}

// The error the user is shown for a lost connection: the driver's own words where it has some, the
// standard words for a broken link and the server's address where it has none.
DatabaseError lostConnectionError(const DatabaseError &error, const TADOConnection &connection)
{
    if (error.message() != QLatin1String("Unknown error") &&
        error.message() != QLatin1String("Unspecified error"))
        return error;
    return DatabaseError(
        QStringLiteral("Communication link failure: the connection to the server %1 was lost.")
            .arg(connection.properties().dataSource),
        QStringLiteral("08S01"));
}

bool isSessionStatement(const QString &text)
{
    return text.trimmed().startsWith(QLatin1String("SET "), Qt::CaseInsensitive);
}

// An ODBC statement on the connection, let go of when it goes out of scope (or before the
// connection is given up, which would take it along).
class OdbcStatement {
public:
    explicit OdbcStatement(SQLHDBC connection)
    {
        if (!connection || !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection, &m_handle)))
            m_handle = SQL_NULL_HSTMT;
    }
    ~OdbcStatement() { free(); }
    OdbcStatement(const OdbcStatement &) = delete;
    OdbcStatement &operator=(const OdbcStatement &) = delete;
    SQLHSTMT handle() const { return m_handle; }
    void free()
    {
        if (m_handle != SQL_NULL_HSTMT)
            SQLFreeHandle(SQL_HANDLE_STMT, m_handle);
        m_handle = SQL_NULL_HSTMT;
    }

private:
    SQLHSTMT m_handle = SQL_NULL_HSTMT;
};

// A parameter's value as the driver reads it when the statement runs.
struct BoundValue {
    qint32 integer = 0;
    qint64 bigInteger = 0;
    double real = 0;
    QByteArray bytes;
    SQLLEN indicator = 0;
};

// Binds a value as the statement's parameter `number` (from 1): integers as int or bigint, texts as
// varchar in the client's character set (UTF-8; the driver converts them to the server's), bytes as
// varbinary. A null value of a type is NULL of that type.
SQLRETURN bindParameter(SQLHSTMT statement, SQLUSMALLINT number, const QVariant &value, BoundValue &bound)
{
    const bool null = value.isNull();
    bound.indicator = null ? SQL_NULL_DATA : 0;
    const auto bind = [&](SQLSMALLINT cType, SQLSMALLINT sqlType, SQLULEN size, SQLPOINTER data,
                          SQLLEN length) {
        if (!null)
            bound.indicator = length;
        return SQLBindParameter(statement, number, SQL_PARAM_INPUT, cType, sqlType, size, 0, data, length,
                                &bound.indicator);
    };
    switch (value.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::UChar:
        bound.integer = value.toInt();
        return bind(SQL_C_SLONG, SQL_INTEGER, 0, &bound.integer, 0);
    case QMetaType::Bool:
        bound.integer = value.toBool() ? 1 : 0;
        return bind(SQL_C_SLONG, SQL_BIT, 0, &bound.integer, 0);
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        bound.bigInteger = value.toLongLong();
        return bind(SQL_C_SBIGINT, SQL_BIGINT, 0, &bound.bigInteger, 0);
    case QMetaType::Double:
    case QMetaType::Float:
        bound.real = value.toDouble();
        return bind(SQL_C_DOUBLE, SQL_DOUBLE, 0, &bound.real, 0);
    case QMetaType::QByteArray:
        bound.bytes = value.toByteArray();
        return bind(SQL_C_BINARY, bound.bytes.size() > 8000 ? SQL_LONGVARBINARY : SQL_VARBINARY,
                    SQLULEN(qMax<qsizetype>(1, bound.bytes.size())), bound.bytes.data(),
                    SQLLEN(bound.bytes.size()));
    case QMetaType::UnknownType:
        // No type at all: a NULL of one byte, as a parameter never given a value.
        bound.indicator = SQL_NULL_DATA;
        return SQLBindParameter(statement, number, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_VARBINARY, 1, 0,
                                &bound.integer, 0, &bound.indicator);
    default:
        bound.bytes = value.toString().toUtf8();
        return bind(SQL_C_CHAR, bound.bytes.size() > 8000 ? SQL_LONGVARCHAR : SQL_VARCHAR,
                    SQLULEN(qMax<qsizetype>(1, bound.bytes.size())), bound.bytes.data(),
                    SQLLEN(bound.bytes.size()));
    }
}

// The type of a result column's values, as the client reads them.
QMetaType columnType(SQLSMALLINT sqlType, bool isSigned)
{
    switch (sqlType) {
    case SQL_DECIMAL:
    case SQL_NUMERIC:
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
        return QMetaType::fromType<double>();
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIT:
        return isSigned ? QMetaType::fromType<qint32>() : QMetaType::fromType<quint32>();
    case SQL_TINYINT:
        return QMetaType::fromType<quint32>();
    case SQL_BIGINT:
        return isSigned ? QMetaType::fromType<qint64>() : QMetaType::fromType<quint64>();
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
        return QMetaType::fromType<QByteArray>();
    case SQL_DATE:
    case SQL_TYPE_DATE:
        return QMetaType(QMetaType::QDate);
    case SQL_TIME:
    case SQL_TYPE_TIME:
        return QMetaType(QMetaType::QTime);
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIMESTAMP:
        return QMetaType(QMetaType::QDateTime);
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_GUID:
        return QMetaType::fromType<QString>();
    default:
        return QMetaType::fromType<QByteArray>();
    }
}

// Whether the statement's current result has columns; false with nothing to read.
bool hasColumns(SQLHSTMT statement)
{
    SQLSMALLINT count = 0;
    return SQL_SUCCEEDED(SQLNumResultCols(statement, &count)) && count > 0;
}

} // namespace

RowSet runStatement(TADOConnection &connection, const QString &text, const QList<QVariant> &parameters)
{
    const Busy busy; // until the last result is read, on every way out
    auto *dbc = static_cast<SQLHDBC>(connection.odbcConnection());
    OdbcStatement statement(dbc);
    // A lost connection is closed, so that the next statement opens it again instead of failing on
    // a connection that only looks open.
    const auto failure = [&](const DatabaseError &error) {
        if (!connectionLost(error) && !odbc::connectionDead(dbc))
            return error;
        const DatabaseError lost = lostConnectionError(error, connection);
        statement.free();
        connection.ConnectionLost();
        return lost;
    };
    // The statement's own diagnostics name the first error alone, without the server's INFO messages;
    // the driver tells of a link that broke under a statement on the connection instead.
    const auto statementFailure = [&](const char *call) {
        std::optional<DatabaseError> error = odbc::statementError(statement.handle());
        if (!error)
            error = odbc::connectionMessage(dbc);
        if (!error)
            error = odbc::statementMessages(statement.handle());
        return failure(
            error ? *error
                  : DatabaseError(QStringLiteral("The database driver failed in %1 without saying why")
                                      .arg(QLatin1String(call))));
    };
    SQLHSTMT h = statement.handle();
    if (h == SQL_NULL_HSTMT)
        throw failure(
            DatabaseError(QStringLiteral("The database driver gives no statement on the connection.")));

    // Without parameters the text goes as a batch, exactly as written; with them, in one call that
    // carries the text and the values (sp_executesql): nothing is left prepared on the server, so
    // nothing needs letting go of afterwards.
    std::vector<BoundValue> bound(size_t(parameters.size()));
    for (qsizetype i = 0; i < parameters.size(); ++i) {
        if (!SQL_SUCCEEDED(bindParameter(h, SQLUSMALLINT(i + 1), parameters[i], bound[size_t(i)])))
            throw statementFailure("SQLBindParameter");
    }
    SQLRETURN r = SQLExecDirectW(h, const_cast<SQLWCHAR *>(reinterpret_cast<const SQLWCHAR *>(text.utf16())),
                                 SQLINTEGER(text.size()));
    if (!SQL_SUCCEEDED(r) && r != SQL_NO_DATA)
        throw statementFailure("SQLExecDirect");

    // The first result set is the statement's: counts and messages before it are passed over.
    bool select = hasColumns(h);
    while (!select) {
        r = SQLMoreResults(h);
        if (r == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(r))
            throw statementFailure("SQLMoreResults");
        select = hasColumns(h);
    }

    RowSet rows;
    if (select) {
        SQLSMALLINT count = 0;
        SQLNumResultCols(h, &count);
        QList<QMetaType> types;
        for (SQLUSMALLINT i = 1; i <= SQLUSMALLINT(count); ++i) {
            std::array<SQLWCHAR, 256> name{};
            SQLSMALLINT nameLength = 0;
            SQLSMALLINT sqlType = 0;
            SQLULEN size = 0;
            SQLSMALLINT digits = 0;
            SQLSMALLINT nullable = 0;
            if (!SQL_SUCCEEDED(SQLDescribeColW(h, i, name.data(), SQLSMALLINT(name.size()), &nameLength,
                                               &sqlType, &size, &digits, &nullable)))
                throw statementFailure("SQLDescribeCol");
            SQLLEN isUnsigned = SQL_FALSE;
            SQLColAttributeW(h, i, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &isUnsigned);
            const QMetaType type = columnType(sqlType, isUnsigned == SQL_FALSE);
            nameLength = qBound<SQLSMALLINT>(0, nameLength, SQLSMALLINT(name.size() - 1));
            rows.addColumn(QString::fromUtf16(reinterpret_cast<const char16_t *>(name.data()), nameLength),
                           type);
            types.append(type);
        }
        // The values are read from the statement, each column once and in order.
        QList<QVariant> row(count);
        for (;;) {
            r = SQLFetch(h);
            if (r == SQL_NO_DATA)
                break;
            // A connection lost in the middle of the rows ends them with an error.
            if (!SQL_SUCCEEDED(r))
                throw statementFailure("SQLFetch");
            try {
                for (int i = 0; i < count; ++i)
                    row[i] = odbc::readColumn(h, i, types[i]);
            } catch (const DatabaseError &error) {
                throw failure(error);
            }
            rows.appendRow(row);
        }
    }
    // Whatever the server sent after the first result is read too: an error raised after a
    // statement counted its rows belongs to this statement.
    if (const std::optional<DatabaseError> error = odbc::drainResults(h))
        throw failure(*error);
    statement.free();
    // SET statements shape the session; a session opened again after a loss gets them again.
    if (parameters.isEmpty() && isSessionStatement(text))
        connection.rememberSessionStatement(text);
    return rows;
}
