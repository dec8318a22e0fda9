#include "odbcresults.h"

#include <array>

namespace odbc {

namespace {

// Reads a value of variable length in pieces, handing each piece's bytes to take, until the driver
// reports the last piece; the driver ends each piece of text with a terminating zero of
// terminatorBytes. Most values fit the first piece. False for a Null.
template <typename Take>
bool readPieces(SQLHDBC connection, SQLHSTMT statement, SQLUSMALLINT column, SQLSMALLINT cType, void *buffer,
                SQLLEN bufferBytes, SQLLEN terminatorBytes, Take take)
{
    const SQLLEN pieceBytes = bufferBytes - terminatorBytes;
    for (bool first = true;; first = false) {
        SQLLEN indicator = 0;
        const SQLRETURN r = SQLGetData(statement, column, cType, buffer, bufferBytes, &indicator);
        if (r == SQL_NO_DATA && !first)
            return true;
        if (!SQL_SUCCEEDED(r))
            throw callFailure(statement, connection, "SQLGetData");
        if (indicator == SQL_NULL_DATA)
            return false;
        const bool partial =
            r == SQL_SUCCESS_WITH_INFO && (indicator == SQL_NO_TOTAL || indicator > pieceBytes);
        take(partial ? pieceBytes : qBound<SQLLEN>(0, indicator, pieceBytes));
        if (!partial)
            return true;
    }
}

QVariant readText(SQLHDBC connection, SQLHSTMT statement, SQLUSMALLINT column, QMetaType type)
{
    std::array<SQLWCHAR, 2048> buffer;
    QString text;
    const bool notNull =
        readPieces(connection, statement, column, SQL_C_WCHAR, buffer.data(), SQLLEN(sizeof(buffer)),
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

QVariant readBytes(SQLHDBC connection, SQLHSTMT statement, SQLUSMALLINT column, QMetaType type)
{
    std::array<char, 8192> buffer;
    QByteArray bytes;
    const bool notNull =
        readPieces(connection, statement, column, SQL_C_BINARY, buffer.data(), SQLLEN(buffer.size()), 0,
                   [&](SQLLEN size) { bytes.append(buffer.data(), qsizetype(size)); });
    return notNull ? QVariant(bytes) : QVariant(type);
}

template <typename Target>
QVariant readFixed(SQLHDBC connection, SQLHSTMT statement, SQLUSMALLINT column, SQLSMALLINT cType,
                   QMetaType type)
{
    Target value{};
    SQLLEN indicator = 0;
    const SQLRETURN r = SQLGetData(statement, column, cType, &value, SQLLEN(sizeof(value)), &indicator);
    if (!SQL_SUCCEEDED(r))
        throw callFailure(statement, connection, "SQLGetData");
    if (indicator == SQL_NULL_DATA)
        return QVariant(type);
    QVariant v = QVariant::fromValue(value);
    v.convert(type);
    return v;
}

// A column of the row the statement stands on, read once, as a value of the type given.
QVariant readColumn(SQLHDBC connection, SQLHSTMT h, int column, QMetaType type)
{
    const auto number = SQLUSMALLINT(column + 1);
    switch (type.id()) {
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::UShort:
        return readFixed<SQLINTEGER>(connection, h, number, SQL_C_SLONG, type);
    case QMetaType::UInt:
        return readFixed<SQLUINTEGER>(connection, h, number, SQL_C_ULONG, type);
    case QMetaType::LongLong:
        return readFixed<SQLBIGINT>(connection, h, number, SQL_C_SBIGINT, type);
    case QMetaType::ULongLong:
        return readFixed<SQLUBIGINT>(connection, h, number, SQL_C_UBIGINT, type);
    case QMetaType::Double:
    case QMetaType::Float:
        return readFixed<SQLDOUBLE>(connection, h, number, SQL_C_DOUBLE, type);
    case QMetaType::QByteArray:
        return readBytes(connection, h, number, type);
    default:
        return readText(connection, h, number, type);
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

} // namespace

bool hasColumns(SQLHSTMT statement)
{
    SQLSMALLINT count = 0;
    return SQL_SUCCEEDED(SQLNumResultCols(statement, &count)) && count > 0;
}

std::optional<DatabaseError> readResultSet(SQLHDBC connection, SQLHSTMT h, RowSet &rows)
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
            return callFailure(h, connection, "SQLDescribeCol");
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
            return std::nullopt;
        if (!SQL_SUCCEEDED(r))
            return callFailure(h, connection, "SQLFetch");
        try {
            for (int i = 0; i < count; ++i)
                row[i] = readColumn(connection, h, i, types[i]);
        } catch (const DatabaseError &error) {
            return error;
        }
        rows.appendRow(row);
    }
}

} // namespace odbc
