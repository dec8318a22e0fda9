#include "sandbox/engine/values.h"

#include "sandbox/engine/sqlitedb.h"

#include "sandbox/engine/sqlerrors.h"

#include "common/cp1251.h"

#include <QRegularExpression>

#include <sqlite3.h>

#include <cmath>
#include <limits>

namespace sandbox::values {

namespace {

Message overflow(const QString &type)
{
    return sqlerr::make(
        8115, 16, 2,
        QStringLiteral("Arithmetic overflow error converting expression to data type %1.").arg(type));
}

Message divideByZero()
{
    return sqlerr::make(8134, 16, 1, QStringLiteral("Divide by zero error encountered."));
}

Message notANumber(const QString &from, const QString &text, const QString &type)
{
    return sqlerr::make(245, 16, 1,
                        QStringLiteral("Conversion failed when converting the %1 value '%2' to data type %3.")
                            .arg(from, text, type));
}

bool isIntegerType(const QString &type)
{
    return integerRange(type).has_value();
}

// A number as the server reads it from text for an integer type; a message when it cannot.
struct Converted {
    std::optional<qint64> integer;
    std::optional<double> real;
    std::optional<Message> error;
};

Converted textToInteger(const QString &text, const QString &type, const QString &from)
{
    static const QRegularExpression form(QStringLiteral("^\\s*([+-]?)\\s*(\\d*)\\s*$"));
    Converted c;
    const QRegularExpressionMatch m = form.match(text);
    if (type == QLatin1String("bit")) {
        const QString t = text.trimmed();
        if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) {
            c.integer = 1;
            return c;
        }
        if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) {
            c.integer = 0;
            return c;
        }
    }
    if (!m.hasMatch() || (m.captured(2).isEmpty() && !m.captured(1).isEmpty())) {
        c.error = notANumber(from, text, type);
        return c;
    }
    const QString digits = m.captured(2);
    bool ok = digits.isEmpty();
    qint64 n = digits.isEmpty() ? 0 : digits.toLongLong(&ok);
    if (m.captured(1) == QLatin1String("-"))
        n = -n;
    if (type == QLatin1String("bit")) {
        c.integer = ok && n == 0 ? 0 : 1;
        return c;
    }
    const auto range = integerRange(type);
    if (!ok || !range || n < range->low || n > range->high) {
        c.error =
            sqlerr::make(248, 16, 1,
                         QStringLiteral("The conversion of the %1 value '%2' overflowed an %3 column. Use a "
                                        "larger integer column.")
                             .arg(from, text, type));
        return c;
    }
    c.integer = n;
    return c;
}

// qel_convert(x, type, from)
void convert(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    sqlite3_value *v = argv[0];
    const QString type = db::textOf(argv[1]);
    QString from = db::textOf(argv[2]);
    if (from.isEmpty())
        from = QStringLiteral("varchar");
    const int kind = sqlite3_value_type(v);
    if (kind == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const bool toFloat = type == QLatin1String("float") || type == QLatin1String("real");
    if (kind == SQLITE_BLOB) {
        sqlerr::raise(ctx, sqlerr::notSupported(QStringLiteral("CAST of binary to %1").arg(type), 1));
        return;
    }
    if (toFloat) {
        double d = 0;
        if (kind == SQLITE_TEXT) {
            bool ok = false;
            d = db::textOf(v).trimmed().toDouble(&ok);
            if (!ok || !std::isfinite(d)) {
                sqlerr::raise(ctx, sqlerr::conversion(from, QStringLiteral("float"), 1));
                return;
            }
        } else {
            d = sqlite3_value_double(v);
        }
        if (type == QLatin1String("real")) {
            if (std::fabs(d) > double(std::numeric_limits<float>::max())) {
                sqlerr::raise(ctx, overflow(type));
                return;
            }
            d = double(float(d));
        }
        sqlite3_result_double(ctx, d);
        return;
    }
    const auto range = integerRange(type);
    if (!range) {
        sqlerr::raise(ctx, sqlerr::notSupported(QStringLiteral("CAST AS %1").arg(type), 1));
        return;
    }
    qint64 n = 0;
    if (kind == SQLITE_TEXT) {
        const Converted c = textToInteger(db::textOf(v), type, from);
        if (c.error) {
            sqlerr::raise(ctx, *c.error);
            return;
        }
        n = *c.integer;
    } else if (kind == SQLITE_FLOAT) {
        const double d = std::trunc(sqlite3_value_double(v));
        if (type == QLatin1String("bit")) {
            sqlite3_result_int(ctx, d != 0 ? 1 : 0);
            return;
        }
        if (!(d >= double(range->low) && d <= double(range->high))) {
            sqlerr::raise(
                ctx,
                sqlerr::make(
                    8115, 16, 2,
                    QStringLiteral("Arithmetic overflow error converting float to data type %1.").arg(type)));
            return;
        }
        n = qint64(d);
    } else {
        n = sqlite3_value_int64(v);
    }
    if (type == QLatin1String("bit")) {
        sqlite3_result_int(ctx, n != 0 ? 1 : 0);
        return;
    }
    if (n < range->low || n > range->high) {
        // An int value too big for a smallint or tinyint is named with its value; one beyond int
        // (or too big for an int) is the expression's overflow.
        const bool small = type == QLatin1String("smallint") || type == QLatin1String("tinyint");
        if (small && n >= std::numeric_limits<qint32>::min() && n <= std::numeric_limits<qint32>::max()) {
            sqlerr::raise(
                ctx, sqlerr::make(220, 16, 2,
                                  QStringLiteral("Arithmetic overflow error for data type %1, value = %2.")
                                      .arg(type)
                                      .arg(n)));
            return;
        }
        sqlerr::raise(ctx, overflow(type));
        return;
    }
    sqlite3_result_int64(ctx, n);
}

// A value of an arithmetic operand: an integer or a float; text converts as to the other operand.
struct Operand {
    bool isNull = false;
    bool isFloat = false;
    qint64 integer = 0;
    double real = 0;
};

std::optional<Operand> operand(sqlite3_context *ctx, sqlite3_value *v, bool floatContext)
{
    Operand o;
    switch (sqlite3_value_type(v)) {
    case SQLITE_NULL:
        o.isNull = true;
        return o;
    case SQLITE_INTEGER:
        o.integer = sqlite3_value_int64(v);
        return o;
    case SQLITE_FLOAT:
        o.isFloat = true;
        o.real = sqlite3_value_double(v);
        return o;
    case SQLITE_TEXT: {
        const QString text = db::textOf(v);
        if (floatContext) {
            bool ok = false;
            o.isFloat = true;
            o.real = text.trimmed().toDouble(&ok);
            if (!ok) {
                sqlerr::raise(ctx, sqlerr::conversion(QStringLiteral("varchar"), QStringLiteral("float"), 1));
                return std::nullopt;
            }
            return o;
        }
        const Converted c = textToInteger(text, QStringLiteral("int"), QStringLiteral("varchar"));
        if (c.error) {
            sqlerr::raise(ctx, *c.error);
            return std::nullopt;
        }
        o.integer = *c.integer;
        return o;
    }
    default:
        sqlerr::raise(ctx, sqlerr::notSupported(QStringLiteral("arithmetic on binary values"), 1));
        return std::nullopt;
    }
}

bool fitsInt(qint64 n)
{
    return n >= std::numeric_limits<qint32>::min() && n <= std::numeric_limits<qint32>::max();
}

// qel_arith(op, a, b, type)
void arith(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    const QString op = db::textOf(argv[0]);
    QString type = db::textOf(argv[3]);
    const bool floatContext = type == QLatin1String("float") || sqlite3_value_type(argv[1]) == SQLITE_FLOAT ||
                              sqlite3_value_type(argv[2]) == SQLITE_FLOAT;
    const auto a = operand(ctx, argv[1], floatContext);
    if (!a)
        return;
    const auto b = operand(ctx, argv[2], floatContext);
    if (!b)
        return;
    if (a->isNull || b->isNull) {
        sqlite3_result_null(ctx);
        return;
    }
    if (a->isFloat || b->isFloat) {
        const double x = a->isFloat ? a->real : double(a->integer);
        const double y = b->isFloat ? b->real : double(b->integer);
        double r = 0;
        if (op == QLatin1String("+"))
            r = x + y;
        else if (op == QLatin1String("-"))
            r = x - y;
        else if (op == QLatin1String("*"))
            r = x * y;
        else {
            if (y == 0) {
                sqlerr::raise(ctx, divideByZero());
                return;
            }
            r = op == QLatin1String("/") ? x / y : std::fmod(x, y);
        }
        if (!std::isfinite(r)) {
            sqlerr::raise(ctx, overflow(QStringLiteral("float")));
            return;
        }
        sqlite3_result_double(ctx, r);
        return;
    }
    const qint64 x = a->integer, y = b->integer;
    if (type.isEmpty() || !isIntegerType(type))
        type = fitsInt(x) && fitsInt(y) ? QStringLiteral("int") : QStringLiteral("bigint");
    qint64 r = 0;
    bool overflowed = false;
    if (op == QLatin1String("+")) {
        overflowed = __builtin_add_overflow(x, y, &r);
    } else if (op == QLatin1String("-")) {
        overflowed = __builtin_sub_overflow(x, y, &r);
    } else if (op == QLatin1String("*")) {
        overflowed = __builtin_mul_overflow(x, y, &r);
    } else {
        if (y == 0) {
            sqlerr::raise(ctx, divideByZero());
            return;
        }
        if (x == std::numeric_limits<qint64>::min() && y == -1)
            overflowed = op == QLatin1String("/");
        else
            r = op == QLatin1String("/") ? x / y : x % y;
    }
    const auto range = integerRange(type);
    if (overflowed || (range && (r < range->low || r > range->high))) {
        sqlerr::raise(ctx, overflow(type));
        return;
    }
    sqlite3_result_int64(ctx, r);
}

// qel_text(x, width, type): CAST(x AS varchar(width)) and the like. Text is cut to the width; a
// number too long for it is '*' in varchar and error 8115 in nvarchar, as on the server.
void text(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    sqlite3_value *v = argv[0];
    const qint64 width = sqlite3_value_int64(argv[1]);
    const QString type = db::textOf(argv[2]);
    const int kind = sqlite3_value_type(v);
    if (kind == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    QString t;
    if (kind == SQLITE_BLOB) {
        // Bytes read as the target's text: UTF-16LE for nvarchar, Windows-1251 for varchar.
        const QByteArray bytes(static_cast<const char *>(sqlite3_value_blob(v)), sqlite3_value_bytes(v));
        t = type == QLatin1String("nvarchar")
                ? QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData()), bytes.size() / 2)
                : Cp1251::toUnicode(bytes);
    } else {
        t = db::textOf(v);
    }
    if (t.size() > width) {
        if (kind == SQLITE_INTEGER || kind == SQLITE_FLOAT) {
            if (type == QLatin1String("nvarchar")) {
                sqlerr::raise(ctx, overflow(type));
                return;
            }
            t = QStringLiteral("*");
        } else {
            t.truncate(width);
        }
    }
    const QByteArray utf8 = t.toUtf8();
    sqlite3_result_text(ctx, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

// qel_binary(x, width, from, pad): CAST(x AS varbinary(width)), binary(width) with pad. Text
// becomes its bytes in its own type's encoding (from: varchar or nvarchar), cut to the width.
void binary(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    sqlite3_value *v = argv[0];
    const QString from = db::textOf(argv[2]);
    QByteArray bytes;
    switch (sqlite3_value_type(v)) {
    case SQLITE_NULL:
        sqlite3_result_null(ctx);
        return;
    case SQLITE_BLOB:
        bytes = QByteArray(static_cast<const char *>(sqlite3_value_blob(v)), sqlite3_value_bytes(v));
        break;
    case SQLITE_TEXT:
        if (from == QLatin1String("nvarchar")) {
            const QString t = db::textOf(v);
            bytes = QByteArray(reinterpret_cast<const char *>(t.utf16()), t.size() * 2);
        } else {
            bytes = Cp1251::fromUnicode(db::textOf(v));
        }
        break;
    default:
        sqlerr::raise(ctx, sqlerr::notSupported(QStringLiteral("CAST of a number to varbinary"), 1));
        return;
    }
    const qint64 width = sqlite3_value_int64(argv[1]);
    bytes.truncate(width);
    if (sqlite3_value_int(argv[3]) != 0 && bytes.size() < width)
        bytes.append(QByteArray(width - bytes.size(), '\0'));
    sqlite3_result_blob(ctx, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
}

// qel_aggregate(value, eliminated)
void aggregate(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_int(argv[1]) != 0) {
        if (auto *flag = static_cast<bool *>(sqlite3_user_data(ctx)))
            *flag = true;
    }
    sqlite3_result_value(ctx, argv[0]);
}

} // namespace

std::optional<IntegerRange> integerRange(const QString &type)
{
    const QString t = type.trimmed().toLower();
    if (t == QLatin1String("int") || t == QLatin1String("integer"))
        return IntegerRange{std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()};
    if (t == QLatin1String("bigint"))
        return IntegerRange{std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()};
    if (t == QLatin1String("smallint"))
        return IntegerRange{-32768, 32767};
    if (t == QLatin1String("tinyint"))
        return IntegerRange{0, 255};
    if (t == QLatin1String("bit"))
        return IntegerRange{0, 1};
    return std::nullopt;
}

void install(sqlite3 *db, bool *eliminated)
{
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function_v2(db, "qel_convert", 3, flags, nullptr, &convert, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "qel_arith", 4, flags, nullptr, &arith, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "qel_text", 3, flags, nullptr, &text, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "qel_binary", 4, flags, nullptr, &binary, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "qel_aggregate", 2, SQLITE_UTF8, eliminated, &aggregate, nullptr, nullptr,
                               nullptr);
}

} // namespace sandbox::values
