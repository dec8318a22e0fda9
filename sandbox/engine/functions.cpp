#include "sandbox/engine/functions.h"

#include "sandbox/engine/sqlitedb.h"

#include "sandbox/engine/sqlerrors.h"

#include <QHash>
#include <QRegularExpression>

#include <sqlite3.h>

#include <algorithm>
#include <limits>
#include <optional>

namespace sandbox::functions {

namespace {

struct Entry {
    const char *sqlite;
    Arity arity;
};

// The server's functions that run here as they run there. CAST, CONVERT, DATEADD, GETDATE and
// the aggregates have their own rewriting; DAY, MONTH and YEAR are the date module's.
const QHash<QString, Entry> &table()
{
    static const QHash<QString, Entry> entries = {
        {QStringLiteral("LEN"), {"qel_len", {1, 1}}},
        {QStringLiteral("UPPER"), {"qel_upper", {1, 1}}},
        {QStringLiteral("LOWER"), {"qel_lower", {1, 1}}},
        {QStringLiteral("LTRIM"), {"ltrim", {1, 1}}},
        {QStringLiteral("RTRIM"), {"rtrim", {1, 1}}},
        {QStringLiteral("SUBSTRING"), {"qel_substring", {3, 3}}},
        {QStringLiteral("LEFT"), {"qel_left", {2, 2}}},
        {QStringLiteral("RIGHT"), {"qel_right", {2, 2}}},
        {QStringLiteral("REPLACE"), {"qel_replace", {3, 3}}},
        {QStringLiteral("CHARINDEX"), {"qel_charindex", {2, 3}}},
        {QStringLiteral("ISNULL"), {"IFNULL", {2, 2}}},
        {QStringLiteral("COALESCE"), {"COALESCE", {2, -1}}},
        {QStringLiteral("NULLIF"), {"NULLIF", {2, 2}}},
        {QStringLiteral("ABS"), {"ABS", {1, 1}}},
        {QStringLiteral("DAY"), {"day", {1, 1}}},
        {QStringLiteral("MONTH"), {"month", {1, 1}}},
        {QStringLiteral("YEAR"), {"year", {1, 1}}},
    };
    return entries;
}

void resultText(sqlite3_context *ctx, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_result_text(ctx, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

bool anyNull(int argc, sqlite3_value **argv)
{
    for (int k = 0; k < argc; ++k)
        if (sqlite3_value_type(argv[k]) == SQLITE_NULL)
            return true;
    return false;
}

// The text a function works on: text as it is, an integer in decimal. A float's text the server
// writes in its own style (1.5E+20, 0.1 as 0.1), which the sandbox does not imitate.
std::optional<QString> subject(sqlite3_context *ctx, sqlite3_value *v, const char *function)
{
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        return QString::number(sqlite3_value_int64(v));
    case SQLITE_FLOAT:
        sqlerr::raise(ctx,
                      sqlerr::notSupported(QStringLiteral("%1 of a float").arg(QLatin1String(function)), 1));
        return std::nullopt;
    case SQLITE_BLOB:
        sqlerr::raise(
            ctx, sqlerr::notSupported(QStringLiteral("%1 of binary data").arg(QLatin1String(function)), 1));
        return std::nullopt;
    default:
        return db::textOf(v);
    }
}

// A length or position argument: an integer, a float cut to its integer part, text read as int.
std::optional<qint64> integerArgument(sqlite3_context *ctx, sqlite3_value *v)
{
    constexpr qint64 low = std::numeric_limits<qint32>::min(), high = std::numeric_limits<qint32>::max();
    const Message overflow = sqlerr::make(
        8115, 16, 2, QStringLiteral("Arithmetic overflow error converting expression to data type int."));
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: {
        const qint64 n = sqlite3_value_int64(v);
        if (n >= low && n <= high)
            return n;
        sqlerr::raise(ctx, overflow);
        return std::nullopt;
    }
    case SQLITE_FLOAT: {
        const double d = sqlite3_value_double(v);
        if (d > double(low) - 1 && d < double(high) + 1)
            return qint64(d);
        sqlerr::raise(ctx, overflow);
        return std::nullopt;
    }
    default: {
        const QString text = db::textOf(v);
        static const QRegularExpression integer(QStringLiteral("^\\s*[+-]?\\d+\\s*$"));
        if (integer.match(text).hasMatch()) {
            bool ok = false;
            const qint64 n = text.trimmed().toLongLong(&ok);
            if (ok && n >= low && n <= high)
                return n;
            sqlerr::raise(ctx, sqlerr::make(248, 16, 1,
                                            QStringLiteral("The conversion of the varchar value '%1' "
                                                           "overflowed an int column. Use a larger "
                                                           "integer column.")
                                                .arg(text)));
            return std::nullopt;
        }
        sqlerr::raise(
            ctx,
            sqlerr::make(245, 16, 1,
                         QStringLiteral("Conversion failed when converting the varchar value '%1' to data "
                                        "type int.")
                             .arg(text)));
        return std::nullopt;
    }
    }
}

Message invalidLength(const char *function)
{
    if (qstrcmp(function, "RIGHT") == 0)
        return sqlerr::make(536, 16, 2,
                            QStringLiteral("Invalid length parameter passed to the RIGHT function."));
    return sqlerr::make(537, 16, 2,
                        QStringLiteral("Invalid length parameter passed to the LEFT or SUBSTRING function."));
}

void len(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (anyNull(argc, argv))
        return sqlite3_result_null(ctx);
    const auto s = subject(ctx, argv[0], "LEN");
    if (!s)
        return;
    qsizetype n = s->size();
    while (n > 0 && s->at(n - 1) == u' ')
        --n;
    sqlite3_result_int64(ctx, n);
}

template <bool Upper> void changeCase(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (anyNull(argc, argv))
        return sqlite3_result_null(ctx);
    const auto s = subject(ctx, argv[0], Upper ? "UPPER" : "LOWER");
    if (s)
        resultText(ctx, Upper ? s->toUpper() : s->toLower());
}

// Characters [from, from + count) of s, positions counted from 1, cut to those that exist.
QString slice(const QString &s, qint64 from, qint64 count)
{
    const qint64 first = std::max<qint64>(from, 1);
    const qint64 end = std::min<qint64>(from + count, qint64(s.size()) + 1); // exclusive
    if (end <= first)
        return {};
    return s.mid(first - 1, end - first);
}

void substring(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (anyNull(argc, argv))
        return sqlite3_result_null(ctx);
    const auto s = subject(ctx, argv[0], "SUBSTRING");
    const auto from = s ? integerArgument(ctx, argv[1]) : std::nullopt;
    const auto count = from ? integerArgument(ctx, argv[2]) : std::nullopt;
    if (!count)
        return;
    if (*count < 0)
        return sqlerr::raise(ctx, invalidLength("SUBSTRING"));
    resultText(ctx, slice(*s, *from, *count));
}

template <bool Left> void side(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (anyNull(argc, argv))
        return sqlite3_result_null(ctx);
    const auto s = subject(ctx, argv[0], Left ? "LEFT" : "RIGHT");
    const auto count = s ? integerArgument(ctx, argv[1]) : std::nullopt;
    if (!count)
        return;
    if (*count < 0)
        return sqlerr::raise(ctx, invalidLength(Left ? "LEFT" : "RIGHT"));
    const qsizetype n = qsizetype(std::min<qint64>(*count, s->size()));
    resultText(ctx, Left ? s->left(n) : s->right(n));
}

// The database's collation does not count case: REPLACE and CHARINDEX find regardless of it.
void replace(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (anyNull(argc, argv))
        return sqlite3_result_null(ctx);
    const auto s = subject(ctx, argv[0], "REPLACE");
    const auto find = s ? subject(ctx, argv[1], "REPLACE") : std::nullopt;
    const auto with = find ? subject(ctx, argv[2], "REPLACE") : std::nullopt;
    if (!with)
        return;
    if (find->isEmpty())
        return resultText(ctx, *s);
    QString out = *s;
    out.replace(*find, *with, Qt::CaseInsensitive);
    resultText(ctx, out);
}

void charIndex(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (anyNull(argc, argv))
        return sqlite3_result_null(ctx);
    const auto find = subject(ctx, argv[0], "CHARINDEX");
    const auto s = find ? subject(ctx, argv[1], "CHARINDEX") : std::nullopt;
    if (!s)
        return;
    qint64 start = 1;
    if (argc == 3) {
        const auto given = integerArgument(ctx, argv[2]);
        if (!given)
            return;
        start = std::max<qint64>(*given, 1);
    }
    if (find->isEmpty() || start > s->size())
        return sqlite3_result_int64(ctx, 0);
    sqlite3_result_int64(ctx, s->indexOf(*find, qsizetype(start - 1), Qt::CaseInsensitive) + 1);
}

} // namespace

void install(sqlite3 *db)
{
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function_v2(db, "qel_len", 1, flags, nullptr, &len, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "qel_upper", 1, flags, nullptr, &changeCase<true>, nullptr, nullptr,
                               nullptr);
    sqlite3_create_function_v2(db, "qel_lower", 1, flags, nullptr, &changeCase<false>, nullptr, nullptr,
                               nullptr);
    sqlite3_create_function_v2(db, "qel_substring", 3, flags, nullptr, &substring, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "qel_left", 2, flags, nullptr, &side<true>, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "qel_right", 2, flags, nullptr, &side<false>, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "qel_replace", 3, flags, nullptr, &replace, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "qel_charindex", 2, flags, nullptr, &charIndex, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "qel_charindex", 3, flags, nullptr, &charIndex, nullptr, nullptr, nullptr);
}

QString sqliteName(const QString &upperName)
{
    const auto found = table().constFind(upperName);
    return found == table().constEnd() ? QString() : QString::fromLatin1(found->sqlite);
}

Arity arity(const QString &upperName)
{
    const auto found = table().constFind(upperName);
    return found == table().constEnd() ? Arity{} : found->arity;
}

bool isServerFunction(const QString &upperName)
{
    // The server's built-in functions, by name.
    static const QStringList builtIns =
        QStringLiteral(
            "ABS ACOS APP_NAME ASCII ASIN ATAN ATN2 AVG CEILING CHAR CHARINDEX CHECKSUM CHECKSUM_AGG CHOOSE "
            "COALESCE COL_LENGTH COL_NAME COLUMNPROPERTY CONCAT CONCAT_WS COS COT COUNT COUNT_BIG CUBE "
            "CUME_DIST CURRENT_USER DATALENGTH DATEADD DATEDIFF DATEDIFF_BIG DATEFROMPARTS DATENAME DATEPART "
            "DATETIMEFROMPARTS DAY DB_ID DB_NAME DEGREES DENSE_RANK DIFFERENCE EOMONTH ERROR_LINE "
            "ERROR_MESSAGE ERROR_NUMBER ERROR_SEVERITY ERROR_STATE EXP FIRST_VALUE FLOOR FORMAT "
            "FORMATMESSAGE GETDATE GETUTCDATE GREATEST GROUPING HASHBYTES HOST_ID HOST_NAME IDENT_CURRENT "
            "IIF ISDATE ISJSON ISNULL ISNUMERIC JSON_VALUE JSON_QUERY LAG LAST_VALUE LEAD LEAST LEFT LEN LOG "
            "LOG10 LOWER LTRIM MAX MIN MONTH NCHAR NEWID NEWSEQUENTIALID NTILE NULLIF OBJECT_ID OBJECT_NAME "
            "OBJECTPROPERTY PARSE PATINDEX PERCENT_RANK PI POWER QUOTENAME RADIANS RAND RANK REPLACE "
            "REPLICATE REVERSE RIGHT ROLLUP ROUND ROW_NUMBER ROWCOUNT_BIG RTRIM SCHEMA_NAME SCOPE_IDENTITY "
            "SERVERPROPERTY SESSION_USER SIGN SIN SOUNDEX SPACE SQRT SQUARE STDEV STDEVP STR STRING_AGG "
            "STRING_ESCAPE STRING_SPLIT STUFF SUBSTRING SUM SUSER_NAME SUSER_SNAME SWITCHOFFSET SYSDATETIME "
            "SYSDATETIMEOFFSET SYSTEM_USER SYSUTCDATETIME TAN TIMEFROMPARTS TODATETIMEOFFSET TRANSLATE TRIM "
            "TRY_CAST TRY_CONVERT TRY_PARSE TYPE_ID TYPE_NAME UNICODE UPPER USER_ID USER_NAME VAR VARP YEAR")
            .split(u' ');
    return builtIns.contains(upperName);
}

} // namespace sandbox::functions
