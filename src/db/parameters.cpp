#include "parameters.h"

#include "diagnostics.h"
#include "texts.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <limits>

namespace {

bool isNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

} // namespace

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

// A parameter's value as the driver reads it when the statement runs.
struct BoundParameters::Value {
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

namespace {

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
    return DatabaseError(dbtext::parameterNotSent(number, why));
}

// Binds one value as the statement's parameter `number` (from 1); throws the refusal.
SQLRETURN bindParameter(SQLHSTMT statement, SQLUSMALLINT number, const QVariant &value,
                        BoundParameters::Value &bound)
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
            throw unboundParameter(number, dbtext::beyondBigint(value.toString()));
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
            throw unboundParameter(number, dbtext::dateOutsideYears(d.toString(Qt::ISODate)));
        return bind(SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, &bound.date, SQLLEN(sizeof(bound.date)));
    }
    case QMetaType::QTime: {
        const QTime t = value.toTime();
        if (!null && t.msec() != 0)
            throw unboundParameter(number, dbtext::timeWithMilliseconds(t.toString(Qt::ISODateWithMs)));
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
            throw unboundParameter(number, dbtext::dateOutsideDatetime(d.toString(Qt::ISODate)));
        bound.timestamp = {SQLSMALLINT(d.year()),           SQLUSMALLINT(d.month()),
                           SQLUSMALLINT(d.day()),           SQLUSMALLINT(t.hour()),
                           SQLUSMALLINT(t.minute()),        SQLUSMALLINT(t.second()),
                           SQLUINTEGER(t.msec()) * 1000000u};
        return bind(SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 23, 3, &bound.timestamp,
                    SQLLEN(sizeof(bound.timestamp)));
    }
    case QMetaType::UnknownType:
        throw unboundParameter(number, dbtext::noValueNoType());
    default:
        throw unboundParameter(number, dbtext::unknownValueType(QLatin1String(value.metaType().name())));
    }
}

} // namespace

BoundParameters::BoundParameters() = default;
BoundParameters::~BoundParameters() = default;

std::optional<DatabaseError> BoundParameters::bind(odbc::Connection connection, odbc::Statement statement,
                                                   const QList<QVariant> &values)
{
    m_values.clear();
    for (qsizetype i = 0; i < values.size(); ++i) {
        m_values.push_back(std::make_unique<Value>());
        try {
            if (!SQL_SUCCEEDED(
                    bindParameter(odbc::api(statement), SQLUSMALLINT(i + 1), values[i], *m_values.back())))
                return odbc::callFailure(odbc::api(statement), odbc::api(connection), "SQLBindParameter");
        } catch (const DatabaseError &refused) {
            return refused;
        }
    }
    return std::nullopt;
}
