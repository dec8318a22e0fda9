#include "statement.h"

#include "adoconnection.h"
#include "common/busy.h"
#include "databaseerror.h"
#include "driverresults.h"
#include "odbcheaders.h"
#include "odbcresults.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <array>
#include <limits>

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
    unsigned char bit = 0;
    double real = 0;
    float single = 0;
    QByteArray bytes;
    QString text;
    SQL_DATE_STRUCT date{};
    SQL_TIME_STRUCT time{};
    SQL_TIMESTAMP_STRUCT timestamp{};
    SQLLEN indicator = 0;
};

// The declared size of a text or binary parameter: one size for every value up to the largest that
// (n)varchar(n) and varbinary(n) take, so that the server sees the same declaration (and reuses its
// plan) whatever the value's length; a longer value goes as (max).
constexpr SQLULEN kLargestUnicodeText = 4000; // characters of nvarchar(n)
constexpr SQLULEN kLargestBinary = 8000;      // bytes of varbinary(n)

bool longer(qsizetype length, SQLULEN largest)
{
    return SQLULEN(length) > largest;
}

SQLULEN declaredSize(qsizetype length, SQLULEN largest)
{
    return SQLULEN(length) <= largest ? largest : SQLULEN(length);
}

DatabaseError unboundParameter(SQLUSMALLINT number, const QString &why)
{
    return DatabaseError(
        QStringLiteral("Parameter %1 cannot be sent to the server: %2.").arg(number).arg(why));
}

// Binds a value as the statement's parameter `number` (from 1) as what it is: integers as int or
// bigint, a bool as bit, reals as float or real, texts as Unicode (nvarchar: every character reaches
// the server, whatever its code page), bytes as varbinary, dates and times with their ODBC types. A
// null value of a type is NULL of that type. Anything else is refused with a DatabaseError, never
// sent as something it is not.
SQLRETURN bindParameter(SQLHSTMT statement, SQLUSMALLINT number, const QVariant &value, BoundValue &bound)
{
    const bool null = value.isNull();
    bound.indicator = null ? SQL_NULL_DATA : 0;
    const auto bind = [&](SQLSMALLINT cType, SQLSMALLINT sqlType, SQLULEN size, SQLSMALLINT digits,
                          SQLPOINTER data, SQLLEN length) {
        if (!null)
            bound.indicator = length;
        return SQLBindParameter(statement, number, SQL_PARAM_INPUT, cType, sqlType, size, digits, data,
                                length, &bound.indicator);
    };
    switch (value.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        bound.integer = value.toInt();
        return bind(SQL_C_SLONG, SQL_INTEGER, 0, 0, &bound.integer, 0);
    case QMetaType::Bool:
        bound.bit = value.toBool() ? 1 : 0;
        return bind(SQL_C_BIT, SQL_BIT, 0, 0, &bound.bit, 0);
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        if (!null && value.toULongLong() > quint64(std::numeric_limits<qint64>::max()))
            throw unboundParameter(number,
                                   QStringLiteral("%1 is beyond the largest bigint").arg(value.toString()));
        Q_FALLTHROUGH();
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
        bound.bigInteger = value.toLongLong();
        return bind(SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &bound.bigInteger, 0);
    case QMetaType::Double:
        bound.real = value.toDouble();
        return bind(SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &bound.real, 0);
    case QMetaType::Float:
        bound.single = value.toFloat();
        return bind(SQL_C_FLOAT, SQL_REAL, 0, 0, &bound.single, 0);
    case QMetaType::QByteArray:
        bound.bytes = value.toByteArray();
        return bind(SQL_C_BINARY,
                    longer(bound.bytes.size(), kLargestBinary) ? SQL_LONGVARBINARY : SQL_VARBINARY,
                    declaredSize(bound.bytes.size(), kLargestBinary), 0, bound.bytes.data(),
                    SQLLEN(bound.bytes.size()));
    case QMetaType::QString:
        bound.text = value.toString();
        return bind(SQL_C_WCHAR,
                    longer(bound.text.size(), kLargestUnicodeText) ? SQL_WLONGVARCHAR : SQL_WVARCHAR,
                    declaredSize(bound.text.size(), kLargestUnicodeText), 0,
                    const_cast<ushort *>(bound.text.utf16()), SQLLEN(bound.text.size() * 2));
    case QMetaType::QDate: {
        const QDate d = value.toDate();
        bound.date = {SQLSMALLINT(d.year()), SQLUSMALLINT(d.month()), SQLUSMALLINT(d.day())};
        if (!null && (d.year() < 1 || d.year() > 9999))
            throw unboundParameter(
                number,
                QStringLiteral("the date %1 is outside the years 1 to 9999").arg(d.toString(Qt::ISODate)));
        return bind(SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, &bound.date, SQLLEN(sizeof(bound.date)));
    }
    case QMetaType::QTime: {
        const QTime t = value.toTime();
        if (!null && t.msec() != 0)
            throw unboundParameter(number,
                                   QStringLiteral("the time %1 has milliseconds, which the driver's time "
                                                  "type does not carry")
                                       .arg(t.toString(Qt::ISODateWithMs)));
        bound.time = {SQLUSMALLINT(t.hour()), SQLUSMALLINT(t.minute()), SQLUSMALLINT(t.second())};
        return bind(SQL_C_TYPE_TIME, SQL_TYPE_TIME, 8, 0, &bound.time, SQLLEN(sizeof(bound.time)));
    }
    case QMetaType::QDateTime: {
        // The date and time as the value shows them, without a conversion between time zones: the
        // server's datetime has none.
        const QDateTime dt = value.toDateTime();
        const QDate d = dt.date();
        const QTime t = dt.time();
        if (!null && (d.year() < 1753 || d.year() > 9999))
            throw unboundParameter(number, QStringLiteral("the date %1 is outside the years 1753 to 9999 of "
                                                          "the server's datetime")
                                               .arg(d.toString(Qt::ISODate)));
        bound.timestamp = {SQLSMALLINT(d.year()),           SQLUSMALLINT(d.month()),
                           SQLUSMALLINT(d.day()),           SQLUSMALLINT(t.hour()),
                           SQLUSMALLINT(t.minute()),        SQLUSMALLINT(t.second()),
                           SQLUINTEGER(t.msec()) * 1000000u};
        return bind(SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 23, 3, &bound.timestamp,
                    SQLLEN(sizeof(bound.timestamp)));
    }
    case QMetaType::UnknownType:
        throw unboundParameter(number, QStringLiteral("it has no value and no type"));
    default:
        throw unboundParameter(number, QStringLiteral("the database layer cannot send a value of the type %1")
                                           .arg(QLatin1String(value.metaType().name())));
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

namespace {

// Reads the statement's current result set: its columns, then every row. Returns the name of the
// driver's call that failed (an error of the server among the rows ends them there, the rest of the
// answer still to be read), nullptr when every row was read; throws DatabaseError when a value
// cannot be read.
const char *readRows(SQLHSTMT h, RowSet &rows)
{
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
        if (!SQL_SUCCEEDED(SQLDescribeColW(h, i, name.data(), SQLSMALLINT(name.size()), &nameLength, &sqlType,
                                           &size, &digits, &nullable)))
            return "SQLDescribeCol";
        SQLLEN isUnsigned = SQL_FALSE;
        SQLColAttributeW(h, i, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &isUnsigned);
        const QMetaType type = columnType(sqlType, isUnsigned == SQL_FALSE);
        nameLength = qBound<SQLSMALLINT>(0, nameLength, SQLSMALLINT(name.size() - 1));
        rows.addColumn(QString::fromUtf16(reinterpret_cast<const char16_t *>(name.data()), nameLength), type);
        types.append(type);
    }
    // The values are read from the statement, each column once and in order.
    QList<QVariant> row(count);
    for (;;) {
        const SQLRETURN r = SQLFetch(h);
        if (r == SQL_NO_DATA)
            return nullptr;
        if (!SQL_SUCCEEDED(r))
            return "SQLFetch";
        for (int i = 0; i < count; ++i)
            row[i] = odbc::readColumn(h, i, types[i]);
        rows.appendRow(row);
    }
}

} // namespace

RowSet runStatement(TADOConnection &connection, const QString &text, const QList<QVariant> &parameters)
{
    const Busy busy; // until the last result is read, on every way out
    auto *dbc = static_cast<SQLHDBC>(connection.odbcConnection());
    OdbcStatement statement(dbc);
    // A lost connection is closed, so that the next statement opens it again instead of failing on
    // a connection that only looks open.
    const auto lost = [&](const DatabaseError &error) {
        return connectionLost(error) || odbc::connectionDead(dbc);
    };
    const auto failure = [&](const DatabaseError &error) {
        if (!lost(error))
            return error;
        const DatabaseError gone = lostConnectionError(error, connection);
        statement.free();
        connection.ConnectionLost();
        return gone;
    };
    // The statement's own diagnostics name the first error alone, without the server's INFO messages;
    // the driver tells of a link that broke under a statement on the connection instead.
    const auto callFailure = [&](const char *call) {
        std::optional<DatabaseError> error = odbc::statementError(statement.handle());
        if (!error)
            error = odbc::connectionMessage(dbc);
        if (!error)
            error = odbc::statementMessages(statement.handle());
        return error ? *error
                     : DatabaseError(QStringLiteral("The database driver failed in %1 without saying why")
                                         .arg(QLatin1String(call)));
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
            throw failure(callFailure("SQLBindParameter"));
    }

    // The answer is read to its end, whatever it holds. At the server an error ends only its own
    // statement (most do): the batch or the procedure goes on, and its tokens arrive after the error.
    // A statement let go of with results pending would be cancelled, stopping what the server had
    // not yet done; so the first error is kept, the rest read, and only then is the error raised. A
    // lost connection, or a failure of the driver itself (no server's error number), ends the
    // reading at once.
    std::optional<DatabaseError> firstError;
    // Whether reading goes on after a call that failed.
    const auto noteFailure = [&](const char *call) {
        const DatabaseError error = callFailure(call);
        if (lost(error))
            throw failure(error);
        if (!firstError)
            firstError = error;
        return error.number() != 0;
    };

    RowSet rows;
    bool haveRows = false;
    SQLRETURN r = SQLExecDirectW(h, const_cast<SQLWCHAR *>(reinterpret_cast<const SQLWCHAR *>(text.utf16())),
                                 SQLINTEGER(text.size()));
    bool reading = r != SQL_NO_DATA;
    if (!SQL_SUCCEEDED(r) && r != SQL_NO_DATA) {
        // The driver manager ends the statement here; the driver itself reads on.
        if (noteFailure("SQLExecDirect")) {
            const odbc::RestOfAnswer rest = odbc::readRestAfterFailedExecute(dbc, h);
            if (rest.error && lost(*rest.error))
                throw failure(*rest.error);
        }
        reading = false;
    }
    while (reading) {
        // The statement's rows are those of its first result set: counts and messages before it, and
        // whatever results follow it, are read and passed over.
        if (SQL_SUCCEEDED(r) && !haveRows && hasColumns(h)) {
            haveRows = true;
            const char *failedCall = nullptr;
            try {
                failedCall = readRows(h, rows);
            } catch (const DatabaseError &error) {
                throw failure(error);
            }
            if (failedCall && !noteFailure(failedCall))
                break;
        }
        r = SQLMoreResults(h);
        if (r == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(r) && !noteFailure("SQLMoreResults"))
            break;
    }
    if (firstError)
        throw failure(*firstError);
    statement.free();
    // The options of the session that the client sets are put back on a connection opened again
    // after a loss; any other statement runs once.
    if (parameters.isEmpty())
        connection.rememberSessionStatement(text);
    return rows;
}
