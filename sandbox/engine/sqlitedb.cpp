#include "sandbox/engine/sqlitedb.h"

#include "common/cp1251.h"

#include <QRegularExpression>
#include <QStringList>

#include <sqlite3.h>

#include <limits>

namespace sandbox::db {

Error::Error(int code, const QString &message)
    : std::runtime_error(message.toStdString()), m_code(code), m_message(message)
{
}

namespace {

[[noreturn]] void raise(sqlite3 *db, int rc)
{
    const char *msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    throw Error(db ? sqlite3_extended_errcode(db) : rc, QString::fromUtf8(msg));
}

} // namespace

Statement::Statement(sqlite3 *db, const QString &sql) : m_db(db), m_sql(sql.toUtf8())
{
    const char *tail = nullptr;
    const int rc = sqlite3_prepare_v2(m_db, m_sql.constData(), int(m_sql.size()), &m_stmt, &tail);
    if (rc != SQLITE_OK) {
        m_stmt = nullptr;
        raise(m_db, rc);
    }
    m_tailOffset = tail ? int(tail - m_sql.constData()) : int(m_sql.size());
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

QString Statement::tail() const
{
    return QString::fromUtf8(m_sql.mid(m_tailOffset));
}

int Statement::parameterCount() const
{
    return m_stmt ? sqlite3_bind_parameter_count(m_stmt) : 0;
}

QString Statement::parameterName(int index) const
{
    return QString::fromUtf8(sqlite3_bind_parameter_name(m_stmt, index));
}

void Statement::bind(int index, const Value &value)
{
    int rc = SQLITE_OK;
    if (std::holds_alternative<std::monostate>(value)) {
        rc = sqlite3_bind_null(m_stmt, index);
    } else if (const auto *i = std::get_if<qint64>(&value)) {
        rc = sqlite3_bind_int64(m_stmt, index, *i);
    } else if (const auto *d = std::get_if<double>(&value)) {
        rc = sqlite3_bind_double(m_stmt, index, *d);
    } else if (const auto *s = std::get_if<QString>(&value)) {
        const QByteArray utf8 = s->toUtf8();
        rc = sqlite3_bind_text64(m_stmt, index, utf8.constData(), sqlite3_uint64(utf8.size()),
                                 SQLITE_TRANSIENT, SQLITE_UTF8);
    } else if (const auto *b = std::get_if<QByteArray>(&value)) {
        rc = sqlite3_bind_blob64(m_stmt, index, b->constData(), sqlite3_uint64(b->size()), SQLITE_TRANSIENT);
    }
    if (rc != SQLITE_OK)
        raise(m_db, rc);
}

void Statement::bind(const QList<Value> &values)
{
    for (int i = 0; i < values.size() && i < parameterCount(); ++i)
        bind(i + 1, values.at(i));
}

bool Statement::step()
{
    if (!m_stmt)
        return false;
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    raise(m_db, rc);
}

void Statement::reset()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

int Statement::columnCount() const
{
    return m_stmt ? sqlite3_column_count(m_stmt) : 0;
}

QString Statement::columnName(int i) const
{
    return QString::fromUtf8(sqlite3_column_name(m_stmt, i));
}

QString Statement::declaredType(int i) const
{
    return QString::fromUtf8(sqlite3_column_decltype(m_stmt, i));
}

bool Statement::isReadOnly() const
{
    return !m_stmt || sqlite3_stmt_readonly(m_stmt);
}

Value Statement::value(int i) const
{
    switch (sqlite3_column_type(m_stmt, i)) {
    case SQLITE_INTEGER:
        return qint64(sqlite3_column_int64(m_stmt, i));
    case SQLITE_FLOAT:
        return sqlite3_column_double(m_stmt, i);
    case SQLITE_TEXT: {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, i));
        return QString::fromUtf8(text, sqlite3_column_bytes(m_stmt, i));
    }
    case SQLITE_BLOB: {
        const auto *data = static_cast<const char *>(sqlite3_column_blob(m_stmt, i));
        return QByteArray(data, sqlite3_column_bytes(m_stmt, i));
    }
    default:
        return std::monostate{};
    }
}

ResultSet Statement::fetchAll(qsizetype maxRows, const QStringList &expressionTypes)
{
    ResultSet rs;
    const int n = columnCount();
    while (step()) {
        if (maxRows >= 0 && rs.rows.size() >= maxRows)
            throw Error(SQLITE_TOOBIG, QStringLiteral("The result has more than %1 rows.").arg(maxRows));
        QList<Value> row;
        row.reserve(n);
        for (int c = 0; c < n; ++c)
            row.append(value(c));
        rs.rows.append(row);
    }
    for (int c = 0; c < n; ++c)
        rs.columns.append(
            column(c, expressionTypes.size() == n ? expressionTypes.at(c) : QString(), rs.rows));
    return rs;
}

Column Statement::column(int i, const QString &type, QList<QList<Value>> &rows, bool *byValues) const
{
    const QString declared = declaredType(i);
    Column column = typeColumn(columnName(i), declared.isEmpty() ? type : declared, rows, i, byValues);
    // A table's column is nullable as declared; an expression is, until the caller knows better.
    const char *table = sqlite3_column_table_name(m_stmt, i);
    const char *origin = sqlite3_column_origin_name(m_stmt, i);
    column.computed = !table || !origin;
    if (!column.computed) {
        int notNull = 0, primaryKey = 0;
        if (sqlite3_table_column_metadata(m_db, sqlite3_column_database_name(m_stmt, i), table, origin,
                                          nullptr, nullptr, &notNull, &primaryKey, nullptr) == SQLITE_OK)
            column.nullable = !(notNull || primaryKey);
    }
    return column;
}

RowReader::RowReader(Statement &statement, const QStringList &expressionTypes)
    : m_statement(statement), m_types(expressionTypes)
{
}

QList<QList<Value>> RowReader::next(qsizetype maxRows, qsizetype maxBytes)
{
    QList<QList<Value>> rows;
    if (m_end)
        return rows;
    const int n = m_statement.columnCount();
    qsizetype bytes = 0;
    try {
        while (rows.size() < maxRows && bytes < maxBytes) {
            if (!m_statement.step()) {
                m_end = true;
                break;
            }
            QList<Value> row;
            row.reserve(n);
            for (int c = 0; c < n; ++c) {
                row.append(m_statement.value(c));
                const Value &v = row.last();
                if (const auto *s = std::get_if<QString>(&v))
                    bytes += s->size() * 2;
                else if (const auto *b = std::get_if<QByteArray>(&v))
                    bytes += b->size();
                else
                    bytes += 8;
            }
            if (m_typed) {
                for (int c = 0; c < n; ++c) {
                    if (!fits(c, row[c])) {
                        m_misfit = c;
                        m_end = true;
                        return rows;
                    }
                }
            }
            rows.append(row);
        }
    } catch (const Error &e) {
        m_error = e;
        m_end = true;
    }
    if (!m_typed) {
        m_typed = true;
        for (int c = 0; c < n; ++c) {
            bool byValues = false;
            m_columns.append(
                m_statement.column(c, m_types.size() == n ? m_types.at(c) : QString(), rows, &byValues));
            m_byValues.append(byValues);
        }
    }
    return rows;
}

bool RowReader::fits(int column, Value &value) const
{
    if (isNull(value))
        return true; // whether the column may hold it is the caller's to say
    const Column &c = m_columns.at(column);
    const bool byValues = m_byValues.at(column);
    switch (c.type) {
    case ColumnType::Int:
    case ColumnType::BigInt:
    case ColumnType::SmallInt:
    case ColumnType::TinyInt:
    case ColumnType::Bit: {
        const auto *i = std::get_if<qint64>(&value);
        // An int typed by its first values cannot take a later one beyond int; a declared int is
        // the caller's to check (the server's overflow).
        return i && !(byValues && c.type == ColumnType::Int &&
                      (*i < std::numeric_limits<qint32>::min() || *i > std::numeric_limits<qint32>::max()));
    }
    case ColumnType::Float:
    case ColumnType::Real:
        if (const auto *i = std::get_if<qint64>(&value))
            value = double(*i);
        return std::holds_alternative<double>(value);
    case ColumnType::VarBinary:
        if (const auto *b = std::get_if<QByteArray>(&value))
            return !byValues || c.maxLength == kMaxWidth || b->size() <= c.maxLength;
        return false;
    case ColumnType::VarChar:
    case ColumnType::NVarChar:
    case ColumnType::Char:
    case ColumnType::NChar:
    case ColumnType::DateTime:
    case ColumnType::Date:
        if (!std::holds_alternative<QString>(value)) {
            // A text column typed by its values took numbers as text only when there was text
            // among them; a later number would have made it so as well.
            if (byValues && std::holds_alternative<QByteArray>(value))
                return false;
            value = toText(value);
        }
        return !byValues || c.maxLength == kMaxWidth || std::get<QString>(value).size() <= c.maxLength;
    }
    return false;
}

void exec(sqlite3 *db, const QString &sql)
{
    char *err = nullptr;
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        const QString msg = QString::fromUtf8(err ? err : sqlite3_errstr(rc));
        sqlite3_free(err);
        throw Error(sqlite3_extended_errcode(db), msg);
    }
}

ResultSet query(sqlite3 *db, const QString &sql, const QList<Value> &params)
{
    Statement st(db, sql);
    st.bind(params);
    return st.fetchAll();
}

QString quoteName(const QString &name)
{
    QString n = name;
    n.replace(u'"', QStringLiteral("\"\""));
    return u'"' + n + u'"';
}

QString quoteText(const QString &text)
{
    QString t = text;
    t.replace(u'\'', QStringLiteral("''"));
    return u'\'' + t + u'\'';
}

QString toText(const Value &v)
{
    return valueToText(v);
}

std::optional<qint64> toInteger(const Value &v)
{
    if (const auto *i = std::get_if<qint64>(&v))
        return *i;
    if (const auto *d = std::get_if<double>(&v)) {
        if (*d == double(qint64(*d)))
            return qint64(*d);
        return std::nullopt;
    }
    if (const auto *s = std::get_if<QString>(&v)) {
        bool ok = false;
        const qint64 n = s->trimmed().toLongLong(&ok);
        if (ok)
            return n;
    }
    return std::nullopt;
}

namespace {

constexpr int kMaxVarChar = 8000;
constexpr int kMaxNVarChar = 4000;

bool fitsInt32(qint64 v)
{
    return v >= std::numeric_limits<qint32>::min() && v <= std::numeric_limits<qint32>::max();
}

// The type that the values of one column need, and the values brought into it.
Column typeFromValues(const QString &name, QList<QList<Value>> &rows, int index)
{
    bool anyText = false, anyDouble = false, anyInteger = false, anyBlob = false, allInt32 = true;
    int longest = 1;
    for (const auto &row : rows) {
        const Value &v = row.at(index);
        if (const auto *i = std::get_if<qint64>(&v)) {
            anyInteger = true;
            allInt32 = allInt32 && fitsInt32(*i);
        } else if (std::holds_alternative<double>(v)) {
            anyDouble = true;
        } else if (const auto *s = std::get_if<QString>(&v)) {
            anyText = true;
            longest = std::max(longest, int(s->size()));
        } else if (const auto *b = std::get_if<QByteArray>(&v)) {
            anyBlob = true;
            longest = std::max(longest, int(b->size()));
        }
    }
    Column c;
    c.name = name;
    if (anyText || (anyBlob && (anyInteger || anyDouble))) {
        c.type = ColumnType::NVarChar;
        for (auto &row : rows) {
            Value &v = row[index];
            if (!isNull(v) && !std::holds_alternative<QString>(v))
                v = toText(v);
            if (const auto *s = std::get_if<QString>(&v))
                longest = std::max(longest, int(s->size()));
        }
        c.maxLength = longest > kMaxNVarChar ? kMaxWidth : longest;
    } else if (anyBlob) {
        c.type = ColumnType::VarBinary;
        c.maxLength = longest > kMaxVarChar ? kMaxWidth : longest;
    } else if (anyDouble) {
        c.type = ColumnType::Float;
        c.maxLength = 8;
        for (auto &row : rows)
            if (const auto *i = std::get_if<qint64>(&row[index]))
                row[index] = double(*i);
    } else {
        c.type = allInt32 ? ColumnType::Int : ColumnType::BigInt;
        c.maxLength = allInt32 ? 4 : 8;
    }
    return c;
}

} // namespace

QString textOf(sqlite3_value *v)
{
    const auto *p = reinterpret_cast<const char *>(sqlite3_value_text(v));
    return p ? QString::fromUtf8(p, sqlite3_value_bytes(v)) : QString();
}

Column typeColumn(const QString &name, const QString &declaredType, QList<QList<Value>> &rows, int index,
                  bool *byValues)
{
    const auto fromValues = [&] {
        if (byValues)
            *byValues = true;
        return typeFromValues(name, rows, index);
    };
    if (byValues)
        *byValues = false;
    static const QRegularExpression form(
        QStringLiteral("^\\s*([a-z_ ]+?)\\s*(?:\\(\\s*(\\d+|max)\\s*(?:,\\s*\\d+\\s*)?\\))?\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(declaredType);
    if (!m.hasMatch())
        return fromValues();
    const QString base = m.captured(1).toLower();
    const QString lengthText = m.captured(2).toLower();
    bool hasLength = false;
    const qint64 length = lengthText.toLongLong(&hasLength);
    const bool isMax = lengthText == QLatin1String("max");

    Column c;
    c.name = name;
    static const QStringList ints = {QStringLiteral("int"), QStringLiteral("integer"),
                                     QStringLiteral("smallint"), QStringLiteral("tinyint"),
                                     QStringLiteral("bit")};
    static const QStringList floats = {QStringLiteral("real"),    QStringLiteral("float"),
                                       QStringLiteral("double"),  QStringLiteral("double precision"),
                                       QStringLiteral("decimal"), QStringLiteral("numeric"),
                                       QStringLiteral("money")};
    static const QStringList narrow = {QStringLiteral("varchar"), QStringLiteral("character varying"),
                                       QStringLiteral("text")};
    static const QStringList wide = {QStringLiteral("nvarchar"), QStringLiteral("ntext"),
                                     QStringLiteral("national varchar")};
    static const QStringList padded = {QStringLiteral("char"), QStringLiteral("character"),
                                       QStringLiteral("nchar"), QStringLiteral("national char")};
    static const QStringList binary = {QStringLiteral("varbinary"), QStringLiteral("binary"),
                                       QStringLiteral("blob"), QStringLiteral("image")};
    static const QStringList dates = {QStringLiteral("date"), QStringLiteral("datetime"),
                                      QStringLiteral("smalldatetime"), QStringLiteral("datetime2")};

    if (ints.contains(base) || base == QLatin1String("bigint")) {
        for (const auto &row : rows) {
            const Value &v = row.at(index);
            if (!isNull(v) && !std::holds_alternative<qint64>(v))
                return fromValues(); // only SQLite itself stores such a value
        }
        if (base == QLatin1String("bigint")) {
            c.type = ColumnType::BigInt;
            c.maxLength = 8;
        } else if (base == QLatin1String("smallint")) {
            c.type = ColumnType::SmallInt;
            c.maxLength = 2;
        } else if (base == QLatin1String("tinyint")) {
            c.type = ColumnType::TinyInt;
            c.maxLength = 1;
        } else if (base == QLatin1String("bit")) {
            c.type = ColumnType::Bit;
            c.maxLength = 1;
        } else {
            c.type = ColumnType::Int;
            c.maxLength = 4;
        }
        return c;
    }
    if (floats.contains(base)) {
        for (const auto &row : rows) {
            const Value &v = row.at(index);
            if (!isNull(v) && !std::holds_alternative<qint64>(v) && !std::holds_alternative<double>(v))
                return fromValues();
        }
        for (auto &row : rows)
            if (const auto *i = std::get_if<qint64>(&row[index]))
                row[index] = double(*i);
        const bool single =
            base == QLatin1String("real") || (base == QLatin1String("float") && hasLength && length <= 24);
        c.type = single ? ColumnType::Real : ColumnType::Float;
        c.maxLength = single ? 4 : 8;
        return c;
    }
    const bool isPadded = padded.contains(base);
    const bool isWide =
        wide.contains(base) || base == QLatin1String("nchar") || base == QLatin1String("national char");
    if (narrow.contains(base) || wide.contains(base) || isPadded || dates.contains(base)) {
        for (auto &row : rows) {
            Value &v = row[index];
            if (!isNull(v) && !std::holds_alternative<QString>(v))
                v = toText(v);
        }
        if (dates.contains(base)) {
            c.type = base == QLatin1String("date") ? ColumnType::Date : ColumnType::DateTime;
            c.maxLength = base == QLatin1String("date") ? 3 : 8;
            return c;
        }
        if (isPadded)
            c.type = isWide ? ColumnType::NChar : ColumnType::Char;
        else
            c.type = isWide ? ColumnType::NVarChar : ColumnType::VarChar;
        const int limit = isWide ? kMaxNVarChar : kMaxVarChar;
        if (isMax || base == QLatin1String("text") || base == QLatin1String("ntext") || length > limit)
            c.maxLength = kMaxWidth;
        else
            c.maxLength =
                hasLength ? int(qMax<qint64>(1, length)) : 1; // a declaration without a width means 1
        return c;
    }
    if (binary.contains(base)) {
        for (const auto &row : rows) {
            const Value &v = row.at(index);
            if (!isNull(v) && !std::holds_alternative<QByteArray>(v))
                return fromValues();
        }
        c.type = ColumnType::VarBinary;
        if (isMax || base == QLatin1String("blob") || base == QLatin1String("image") || length > kMaxVarChar)
            c.maxLength = kMaxWidth;
        else
            c.maxLength = hasLength ? int(qMax<qint64>(1, length)) : 1;
        return c;
    }
    return fromValues();
}

} // namespace sandbox::db
