#include "sandbox/engine/dates.h"

#include "sandbox/engine/sqlitedb.h"

#include "sandbox/engine/sqlerrors.h"

#include <QRegularExpression>

#include <sqlite3.h>

#include <limits>

namespace sandbox::dates {

namespace {

const QString kFailed =
    QStringLiteral("Conversion failed when converting date and/or time from character string.");

// What the time part of a text stands for; an error number when it stands for nothing.
struct TimeOf {
    QTime time;
    int error = 0;
};

TimeOf parseTime(const QString &text)
{
    if (text.isEmpty())
        return {QTime(0, 0)};
    static const QRegularExpression form(
        QStringLiteral("^(\\d{1,2})(?::(\\d{1,2})(?::(\\d{1,2})(?:([.:])(\\d{1,3}))?)?)?\\s*(AM|PM)?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch() || (m.captured(2).isEmpty() && m.captured(6).isEmpty()))
        return {QTime(), 241};
    int hour = m.captured(1).toInt();
    const int minute = m.captured(2).toInt();
    const int second = m.captured(3).toInt();
    int ms = 0;
    if (!m.captured(5).isEmpty())
        ms = m.captured(4) == QLatin1String(".") ? m.captured(5).leftJustified(3, u'0').toInt()
                                                 : m.captured(5).toInt();
    const QString half = m.captured(6).toUpper();
    if (!half.isEmpty()) {
        if (hour > 12)
            return {QTime(), 242};
        if (hour == 12)
            hour = 0;
        if (half == QLatin1String("PM"))
            hour += 12;
    }
    const QTime t(hour, minute, second, ms);
    if (!t.isValid())
        return {QTime(), 241};
    return {t};
}

// The date of year, month and day, or the error: a day that does not exist is out of range for
// datetime (242) and no date at all for date (241).
Parsed make(int year, int month, int day, const QString &time, bool dateOnly)
{
    Parsed p;
    const TimeOf t = parseTime(time);
    const QDate date(year, month, day);
    if (!date.isValid() || year < (dateOnly ? 1 : 1753) || year > 9999) {
        p.error = dateOnly ? 241 : 242;
        return p;
    }
    if (t.error) {
        p.error = t.error;
        return p;
    }
    p.value = QDateTime(date, t.time);
    return p;
}

int twoDigitYear(int value)
{
    return value < 50 ? 2000 + value : 1900 + value;
}

int monthNamed(const QString &word)
{
    static const QStringList names = {
        QStringLiteral("january"), QStringLiteral("february"), QStringLiteral("march"),
        QStringLiteral("april"),   QStringLiteral("may"),      QStringLiteral("june"),
        QStringLiteral("july"),    QStringLiteral("august"),   QStringLiteral("september"),
        QStringLiteral("october"), QStringLiteral("november"), QStringLiteral("december")};
    const QString w = word.toLower();
    for (int i = 0; i < names.size(); ++i)
        if (w == names.at(i) || (w.size() == 3 && names.at(i).startsWith(w)))
            return i + 1;
    return 0;
}

Message failure(int error, const QString &from, bool dateOnly)
{
    if (error == 242 && !dateOnly)
        return sqlerr::make(
            242, 16, 3,
            QStringLiteral("The conversion of a %1 data type to a datetime data type resulted in "
                           "an out-of-range value.")
                .arg(from.isEmpty() ? QStringLiteral("varchar") : from));
    return sqlerr::make(241, 16, 1, kFailed);
}

// The date of an argument: text under the date format (order, or the session's when empty).
// Nothing when there is none to work on: a NULL argument (the result is NULL) or a text that is
// no date (the error is raised).
std::optional<QDateTime> argument(sqlite3_context *ctx, sqlite3_value *v, bool dateOnly = false,
                                  const QString &order = QString(), const QString &from = QString())
{
    if (sqlite3_value_type(v) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return std::nullopt;
    }
    const auto *format = static_cast<const QString *>(sqlite3_user_data(ctx));
    const QString dateFormat = !order.isEmpty() ? order : format ? *format : QStringLiteral("mdy");
    const Parsed parsed = parse(db::textOf(v), dateFormat, dateOnly);
    if (!parsed.value)
        sqlerr::raise(ctx, failure(parsed.error, from, dateOnly));
    return parsed.value;
}

QString isoText(const QDateTime &at, bool dateOnly)
{
    return dateOnly ? at.date().toString(Qt::ISODate)
                    : at.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
}

void resultText(sqlite3_context *ctx, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_result_text(ctx, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

// qel_datetime(value, type [, order [, from]])
void toDateTime(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    const bool dateOnly = db::textOf(argv[1]) == QLatin1String("date");
    const auto parsed = argument(ctx, argv[0], dateOnly, argc > 2 ? db::textOf(argv[2]) : QString(),
                                 argc > 3 ? db::textOf(argv[3]) : QString());
    if (!parsed)
        return;
    resultText(ctx, isoText(*parsed, dateOnly));
}

// qel_dateadd(part, number, date, type)
void dateAdd(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    const QString part = db::textOf(argv[0]);
    const bool dateOnly = db::textOf(argv[3]) == QLatin1String("date");
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto at = argument(ctx, argv[2], dateOnly);
    if (!at)
        return;
    if (sqlite3_value_type(argv[1]) == SQLITE_TEXT) {
        bool ok = false;
        db::textOf(argv[1]).trimmed().toLongLong(&ok);
        if (!ok) {
            sqlerr::raise(ctx, sqlerr::make(245, 16, 1,
                                            QStringLiteral("Conversion failed when converting the varchar "
                                                           "value '%1' to data type int.")
                                                .arg(db::textOf(argv[1]))));
            return;
        }
    }
    const qint64 n = sqlite3_value_int64(argv[1]);
    if (n < std::numeric_limits<qint32>::min() || n > std::numeric_limits<qint32>::max()) {
        sqlerr::raise(ctx, sqlerr::make(8115, 16, 2,
                                        QStringLiteral("Arithmetic overflow error converting expression to "
                                                       "data type int.")));
        return;
    }
    const auto is = [&](std::initializer_list<const char *> names) {
        for (const char *name : names)
            if (part == QLatin1String(name))
                return true;
        return false;
    };
    QDateTime r;
    if (is({"year", "yy", "yyyy"}))
        r = at->addYears(int(n));
    else if (is({"quarter", "qq", "q"}))
        r = at->addMonths(int(n) * 3);
    else if (is({"month", "mm", "m"}))
        r = at->addMonths(int(n));
    else if (is({"dayofyear", "dy", "y", "day", "dd", "d", "weekday", "dw", "w"}))
        r = at->addDays(n);
    else if (is({"week", "wk", "ww"}))
        r = at->addDays(n * 7);
    else if (!dateOnly && is({"hour", "hh"}))
        r = at->addSecs(n * 3600);
    else if (!dateOnly && is({"minute", "mi", "n"}))
        r = at->addSecs(n * 60);
    else if (!dateOnly && is({"second", "ss", "s"}))
        r = at->addSecs(n);
    else if (!dateOnly && is({"millisecond", "ms"}))
        r = at->addMSecs(n);
    else {
        sqlerr::raise(
            ctx,
            dateOnly && is({"hour", "hh", "minute", "mi", "n", "second", "ss", "s", "millisecond", "ms"})
                ? sqlerr::make(9810, 16, 1,
                               QStringLiteral("The datepart %1 is not supported by date function dateadd "
                                              "for data type date.")
                                   .arg(part))
                : sqlerr::make(155, 15, 1,
                               QStringLiteral("'%1' is not a recognized dateadd option.").arg(part)));
        return;
    }
    if (!r.isValid() || r.date().year() < (dateOnly ? 1 : 1753) || r.date().year() > 9999) {
        sqlerr::raise(ctx,
                      sqlerr::make(517, 16, 1,
                                   QStringLiteral("Adding a value to a '%1' column caused an overflow.")
                                       .arg(dateOnly ? QStringLiteral("date") : QStringLiteral("datetime"))));
        return;
    }
    resultText(ctx, isoText(r, dateOnly));
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

Parsed parse(const QString &raw, const QString &dateFormat, bool dateOnly)
{
    const QString text = raw.trimmed();
    if (text.isEmpty())
        return make(1900, 1, 1, QString(), dateOnly);
    // ISO 8601 with its T, read alike under every date format; the fraction of a datetime2 (up to 7
    // digits) is kept to the milliseconds.
    static const QRegularExpression iso(
        QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})T(\\d{2}:\\d{2}(?::\\d{2}(?:\\.(\\d{1,7}))?)?)$"));
    QRegularExpressionMatch m;
    if ((m = iso.match(text)).hasMatch()) {
        QString time = m.captured(4);
        if (m.captured(5).size() > 3)
            time.chop(m.captured(5).size() - 3);
        return make(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(), time, dateOnly);
    }

    // The time, when there is one, ends the text: 10:00, 10:00:05.123, 10AM, 10:00 PM.
    static const QRegularExpression timed(QStringLiteral("^(.*?)\\s*(\\d{1,2}:\\d{1,2}(?::\\d{1,2}(?:[.:]\\d{"
                                                         "1,3})?)?\\s*(?:AM|PM)?|\\d{1,2}\\s*(?:AM|PM))$"),
                                          QRegularExpression::CaseInsensitiveOption);
    QString date = text, time;
    if ((m = timed.match(text)).hasMatch() && (m.captured(1).isEmpty() || m.captured(1).back().isSpace() ||
                                               text.at(m.capturedStart(2) - 1).isSpace())) {
        date = m.captured(1).trimmed();
        time = m.captured(2);
    }
    if (date.isEmpty())
        return make(1900, 1, 1, time, dateOnly);

    static const QRegularExpression compact(QStringLiteral("^(\\d{4})(\\d{2})(\\d{2})$"));
    static const QRegularExpression compactShort(QStringLiteral("^(\\d{2})(\\d{2})(\\d{2})$"));
    if ((m = compact.match(date)).hasMatch())
        return make(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(), time, dateOnly);
    if ((m = compactShort.match(date)).hasMatch())
        return make(twoDigitYear(m.captured(1).toInt()), m.captured(2).toInt(), m.captured(3).toInt(), time,
                    dateOnly);

    Parsed notADate;
    notADate.error = 241;
    static const QRegularExpression numeric(QStringLiteral("^(\\d{1,4})([/.-])(\\d{1,4})\\2(\\d{1,4})$"));
    if ((m = numeric.match(date)).hasMatch()) {
        const QString parts[3] = {m.captured(1), m.captured(3), m.captured(4)};
        QString order = dateFormat;
        if (parts[0].size() == 4) {
            // A year written first: the day and the month follow in the order the date format
            // gives them; date reads year, month, day whatever the format.
            order = dateOnly || dateFormat.indexOf(u'm') < dateFormat.indexOf(u'd') ? QStringLiteral("ymd")
                                                                                    : QStringLiteral("ydm");
        }
        if (order.size() != 3)
            return notADate;
        int year = 0, month = 0, day = 0;
        for (int i = 0; i < 3; ++i) {
            const int value = parts[i].toInt();
            switch (order.at(i).unicode()) {
            case 'y':
                if (parts[i].size() == 3 || parts[i].size() == 1)
                    return notADate;
                year = parts[i].size() == 2 ? twoDigitYear(value) : value;
                break;
            case 'm':
                if (parts[i].size() > 2)
                    return notADate;
                month = value;
                break;
            case 'd':
                if (parts[i].size() > 2)
                    return notADate;
                day = value;
                break;
            default:
                return notADate;
            }
        }
        return make(year, month, day, time, dateOnly);
    }

    // A month by its name: Sep 11 2001, 11 September 2001, September 11, 2001, 2001 Sep 11,
    // Sep 2001 (the first day). The names are those of the session's language, us_english.
    static const QRegularExpression separators(QStringLiteral("[\\s,./-]+"));
    const QStringList words = date.split(separators, Qt::SkipEmptyParts);
    int month = 0;
    QStringList numbers;
    for (const QString &w : words) {
        bool isNumber = false;
        w.toInt(&isNumber);
        if (isNumber && w.size() <= 4) {
            numbers << w;
            continue;
        }
        if (month != 0 || (month = monthNamed(w)) == 0)
            return notADate;
    }
    if (month == 0 || numbers.isEmpty() || numbers.size() > 2)
        return notADate;
    int year = 0, day = 1;
    if (numbers.size() == 1) {
        if (numbers.first().size() != 4)
            return notADate;
        year = numbers.first().toInt();
    } else if (numbers.at(0).size() == 4 || numbers.at(1).size() == 4) {
        const int y = numbers.at(0).size() == 4 ? 0 : 1;
        year = numbers.at(y).toInt();
        if (numbers.at(1 - y).size() > 2)
            return notADate;
        day = numbers.at(1 - y).toInt();
    } else {
        if (numbers.at(0).size() > 2 || numbers.at(1).size() == 1)
            return notADate;
        day = numbers.at(0).toInt();
        year = twoDigitYear(numbers.at(1).toInt());
    }
    return make(year, month, day, time, dateOnly);
}

void install(sqlite3 *db, const QString *format)
{
    void *data = const_cast<QString *>(format);
    for (const int argc : {2, 3, 4})
        sqlite3_create_function_v2(db, "qel_datetime", argc, SQLITE_UTF8, data, &toDateTime, nullptr, nullptr,
                                   nullptr);
    sqlite3_create_function_v2(db, "qel_dateadd", 4, SQLITE_UTF8, data, &dateAdd, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "day", 1, SQLITE_UTF8, data, &datePart<0>, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "month", 1, SQLITE_UTF8, data, &datePart<1>, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "year", 1, SQLITE_UTF8, data, &datePart<2>, nullptr, nullptr, nullptr);
}

} // namespace sandbox::dates
