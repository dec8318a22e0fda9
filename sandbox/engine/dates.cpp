#include "sandbox/engine/dates.h"

#include "sandbox/engine/constraints.h"
#include "sandbox/engine/sqlerrors.h"

#include <QRegularExpression>

#include <sqlite3.h>

namespace sandbox::dates {

namespace {

const QString kFailed =
    QStringLiteral("Conversion failed when converting date and/or time from character string.");

std::optional<QTime> parseTime(const QString &text)
{
    if (text.isEmpty())
        return QTime(0, 0);
    static const QRegularExpression form(
        QStringLiteral("^(\\d{1,2}):(\\d{1,2})(?::(\\d{1,2})(?:[.:](\\d{1,3}))?)?$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const int ms = m.captured(4).isEmpty() ? 0 : m.captured(4).leftJustified(3, u'0').toInt();
    const QTime t(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(), ms);
    if (!t.isValid())
        return std::nullopt;
    return t;
}

std::optional<QDateTime> make(int year, int month, int day, const QString &time)
{
    const QDate date(year, month, day);
    const auto t = parseTime(time);
    if (!date.isValid() || !t || year < 1753 || year > 9999)
        return std::nullopt;
    return QDateTime(date, *t);
}

QString textOf(sqlite3_value *v)
{
    const auto *p = reinterpret_cast<const char *>(sqlite3_value_text(v));
    return p ? QString::fromUtf8(p, sqlite3_value_bytes(v)) : QString();
}

// The date of an argument: text under the date format. Nothing when there is none to work on: a NULL
// argument (the result is NULL) or a text that is no date (the error is raised).
std::optional<QDateTime> argument(sqlite3_context *ctx, sqlite3_value *v)
{
    if (sqlite3_value_type(v) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return std::nullopt;
    }
    const auto *format = static_cast<const QString *>(sqlite3_user_data(ctx));
    const auto parsed = parse(textOf(v).trimmed(), format ? *format : QStringLiteral("mdy"));
    if (!parsed)
        constraints::raise(ctx, sqlerr::make(241, 16, 1, kFailed));
    return parsed;
}

void toDateTime(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    const auto parsed = argument(ctx, argv[0]);
    if (!parsed)
        return;
    const QString type = textOf(argv[1]);
    const QString text = type == QLatin1String("date")
                             ? parsed->date().toString(Qt::ISODate)
                             : parsed->toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
    const QByteArray utf8 = text.toUtf8();
    sqlite3_result_text(ctx, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

template <int Part> void datePart(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    const auto parsed = argument(ctx, argv[0]);
    if (!parsed)
        return;
    const QDate d = parsed->date();
    sqlite3_result_int(ctx, Part == 0 ? d.day() : Part == 1 ? d.month() : d.year());
}

} // namespace

std::optional<QDateTime> parse(const QString &text, const QString &dateFormat)
{
    static const QRegularExpression iso(
        QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})T(\\d{2}:\\d{2}(?::\\d{2}(?:\\.\\d{1,3})?)?)$"));
    static const QRegularExpression isoDate(QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})$"));
    static const QRegularExpression compact(QStringLiteral("^(\\d{4})(\\d{2})(\\d{2})(?:\\s+(.*))?$"));
    static const QRegularExpression numeric(
        QStringLiteral("^(\\d{1,4})([/.-])(\\d{1,4})\\2(\\d{1,4})(?:\\s+(.*))?$"));
    QRegularExpressionMatch m;
    if ((m = iso.match(text)).hasMatch())
        return make(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(), m.captured(4));
    if ((m = compact.match(text)).hasMatch())
        return make(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(),
                    m.captured(4).trimmed());
    if (dateFormat == QLatin1String("ymd") && (m = isoDate.match(text)).hasMatch())
        return make(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(), QString());
    if (!(m = numeric.match(text)).hasMatch() || dateFormat.size() != 3)
        return std::nullopt;
    const QString parts[3] = {m.captured(1), m.captured(3), m.captured(4)};
    int year = 0, month = 0, day = 0;
    for (int i = 0; i < 3; ++i) {
        const int value = parts[i].toInt();
        switch (dateFormat.at(i).unicode()) {
        case 'y':
            if (parts[i].size() == 3)
                return std::nullopt;
            year = parts[i].size() <= 2 ? (value < 50 ? 2000 + value : 1900 + value) : value;
            break;
        case 'm':
            if (parts[i].size() > 2)
                return std::nullopt;
            month = value;
            break;
        case 'd':
            if (parts[i].size() > 2)
                return std::nullopt;
            day = value;
            break;
        default:
            return std::nullopt;
        }
    }
    return make(year, month, day, m.captured(5).trimmed());
}

void install(sqlite3 *db, const QString *format)
{
    void *data = const_cast<QString *>(format);
    sqlite3_create_function_v2(db, "qel_datetime", 2, SQLITE_UTF8, data, &toDateTime, nullptr, nullptr,
                               nullptr);
    sqlite3_create_function_v2(db, "day", 1, SQLITE_UTF8, data, &datePart<0>, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "month", 1, SQLITE_UTF8, data, &datePart<1>, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "year", 1, SQLITE_UTF8, data, &datePart<2>, nullptr, nullptr, nullptr);
}

} // namespace sandbox::dates
