#include "sandbox/engine/constraints.h"

#include "sandbox/engine/sqlerrors.h"
#include "sandbox/engine/sqlitedb.h"
#include "sandbox/engine/values.h"

#include <QRegularExpression>
#include <QStringList>

#include <sqlite3.h>

#include <algorithm>
#include <limits>

namespace sandbox::constraints {

namespace {

using db::quoteName;
using db::quoteText;

// A check's message travels through SQLite's error text in this form.
const QString kMarker = QStringLiteral("qel-check\x1f");

void fail(sqlite3_context *ctx, const Message &m)
{
    raise(ctx, m);
}

} // namespace

QString marked(const Message &m)
{
    return kMarker + QString::number(m.number) + u'\x1f' + QString::number(m.severity) + u'\x1f' +
           QString::number(m.state) + u'\x1f' + m.text;
}

void raise(sqlite3_context *ctx, const Message &m)
{
    const QByteArray utf8 = marked(m).toUtf8();
    sqlite3_result_error(ctx, utf8.constData(), int(utf8.size()));
}

namespace {

QString textArg(sqlite3_value *v)
{
    const auto *p = reinterpret_cast<const char *>(sqlite3_value_text(v));
    return p ? QString::fromUtf8(p, sqlite3_value_bytes(v)) : QString();
}

// qel_fits(value, kind, width, table, column): kind is varchar, nvarchar, char, nchar, varbinary,
// binary or int. The function's data is the database's compatibility level, which words a
// truncation.
void fits(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    sqlite3_value *value = argv[0];
    const QString kind = textArg(argv[1]);
    const qint64 width = sqlite3_value_int64(argv[2]);
    const int type = sqlite3_value_type(value);
    sqlite3_result_int(ctx, 1);
    if (type == SQLITE_NULL)
        return;
    if (kind == QLatin1String("int")) {
        if (type == SQLITE_INTEGER) {
            const qint64 n = sqlite3_value_int64(value);
            if (n < std::numeric_limits<qint32>::min() || n > std::numeric_limits<qint32>::max())
                fail(ctx, sqlerr::make(8115, 16, 2,
                                       QStringLiteral("Arithmetic overflow error converting expression to "
                                                      "data type int.")));
            return;
        }
        if (type == SQLITE_TEXT) {
            bool ok = false;
            textArg(value).trimmed().toInt(&ok);
            if (!ok)
                fail(ctx, sqlerr::make(245, 16, 1,
                                       QStringLiteral("Conversion failed when converting the varchar value "
                                                      "'%1' to data type int.")
                                           .arg(textArg(value))));
        }
        return;
    }
    qint64 length = 0;
    if (type == SQLITE_BLOB) {
        length = sqlite3_value_bytes(value);
    } else {
        QString text = textArg(value);
        // Blanks past the width are dropped without a word, as the server does.
        if (kind.endsWith(QLatin1String("char"))) {
            while (text.size() > width && text.endsWith(u' '))
                text.chop(1);
        }
        length = text.size(); // Windows-1251 bytes, or UTF-16 code units of n(var)char
    }
    if (length <= width)
        return;
    const int level = *static_cast<const int *>(sqlite3_user_data(ctx));
    if (level <= 140) {
        fail(ctx, sqlerr::make(8152, 16, 30, QStringLiteral("String or binary data would be truncated.")));
        return;
    }
    QString cut =
        type == SQLITE_BLOB
            ? QString::fromLatin1(
                  QByteArray(static_cast<const char *>(sqlite3_value_blob(value)), int(width)).toHex())
            : textArg(value).left(int(width));
    if (!cut.isEmpty() && cut.back().isHighSurrogate())
        cut.chop(1);
    fail(ctx,
         sqlerr::make(2628, 16, 1,
                      QStringLiteral("String or binary data would be truncated in table '%1.dbo.%2', column "
                                     "'%3'. Truncated value: '%4'.")
                          .arg(sqlerr::kDatabase, textArg(argv[3]), textArg(argv[4]), cut)));
}

// qel_duplicate(constraint, object, key values...): called only when the key is already there.
void duplicate(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    QStringList values;
    for (int i = 2; i < argc; ++i)
        values << (sqlite3_value_type(argv[i]) == SQLITE_NULL ? QStringLiteral("<NULL>") : textArg(argv[i]));
    fail(ctx, sqlerr::make(2627, 14, 1,
                           QStringLiteral("Violation of PRIMARY KEY constraint '%1'. Cannot insert duplicate "
                                          "key in object '%2'. The duplicate key value is (%3).")
                               .arg(textArg(argv[0]), textArg(argv[1]), values.join(QStringLiteral(", ")))));
}

// The check of one column's declared type, or nothing: "varchar", 100.
std::optional<std::pair<QString, qint64>> widthCheck(const QString &declared)
{
    static const QRegularExpression sized(
        QStringLiteral("^\\s*(n?(?:var)?char|(?:var)?binary)\\s*\\(\\s*(\\d+)\\s*\\)\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = sized.match(declared);
    if (m.hasMatch()) {
        const QString kind = m.captured(1).toLower();
        const qint64 width = m.captured(2).toLongLong();
        const qint64 limit = kind.startsWith(u'n') ? 4000 : 8000;
        if (width > limit)
            return std::nullopt; // a (max) column
        return std::make_pair(kind, width);
    }
    return std::nullopt;
}

// The value a column of a number or date type keeps for what was written into it, as an SQL
// expression of the value (written "%1"), raising the server's error when there is none:
// qel_convert for the numbers, qel_datetime for the dates. Nothing for other types.
QString keptValue(const QString &declared)
{
    static const QRegularExpression form(QStringLiteral("^\\s*([a-z]+)\\s*(?:\\(\\s*(\\d+)\\s*\\))?\\s*$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(declared);
    if (!m.hasMatch())
        return {};
    QString base = m.captured(1).toLower();
    if (base == QLatin1String("integer"))
        base = QStringLiteral("int");
    if (base == QLatin1String("float") && !m.captured(2).isEmpty() && m.captured(2).toInt() <= 24)
        base = QStringLiteral("real");
    if (values::integerRange(base) || base == QLatin1String("float") || base == QLatin1String("real"))
        return QStringLiteral("qel_convert(%1, '%2', 'varchar')").arg(QStringLiteral("%1"), base);
    if (base == QLatin1String("datetime") || base == QLatin1String("date"))
        return QStringLiteral("qel_datetime(%1, '%2')").arg(QStringLiteral("%1"), base);
    return {};
}

} // namespace

void registerFunctions(sqlite3 *db, const int *compatibilityLevel)
{
    sqlite3_create_function_v2(db, "qel_fits", 5, SQLITE_UTF8, const_cast<int *>(compatibilityLevel), &fits,
                               nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "qel_duplicate", -1, SQLITE_UTF8, nullptr, &duplicate, nullptr, nullptr,
                               nullptr);
}

void install(sqlite3 *db, qint64 &schemaVersion)
{
    const auto version = [db] {
        return db::toInteger(db::query(db, QStringLiteral("PRAGMA schema_version")).rows.value(0).value(0))
            .value_or(0);
    };
    if (version() == schemaVersion)
        return;

    const ResultSet tables = db::query(
        db,
        QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%'"));
    const ResultSet triggers = db::query(
        db,
        QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'trigger' AND name LIKE 'qel_check_%'"));
    QString sql;
    for (const auto &row : triggers.rows)
        sql += QStringLiteral("DROP TRIGGER IF EXISTS %1;\n").arg(quoteName(db::toText(row.value(0))));
    for (const auto &row : tables.rows) {
        const QString table = db::toText(row.value(0));
        const ResultSet info = db::query(db, QStringLiteral("PRAGMA table_info(%1)").arg(quoteName(table)));
        QStringList checks, keys, kept, changed;
        QList<std::pair<int, QString>> keyColumns;
        for (const auto &column : info.rows) {
            const QString name = db::toText(column.value(1));
            if (const auto check = widthCheck(db::toText(column.value(2))))
                checks << QStringLiteral("qel_fits(NEW.%1, '%2', %3, %4, %5)")
                              .arg(quoteName(name), check->first)
                              .arg(check->second)
                              .arg(quoteText(table), quoteText(name));
            const QString value = keptValue(db::toText(column.value(2)));
            if (!value.isEmpty()) {
                const QString written = QStringLiteral("NEW.") + quoteName(name);
                checks << value.arg(written);
                kept << QStringLiteral("%1 = %2").arg(quoteName(name), value.arg(quoteName(name)));
                changed << QStringLiteral("%1 IS NOT %2").arg(written, value.arg(written));
            }
            const int pk = int(db::toInteger(column.value(5)).value_or(0));
            if (pk > 0)
                keyColumns.append({pk, name});
        }
        std::sort(keyColumns.begin(), keyColumns.end());
        QStringList newKeys, match;
        for (const auto &[order, name] : keyColumns) {
            newKeys << QStringLiteral("NEW.%1").arg(quoteName(name));
            match << QStringLiteral("%1 = NEW.%1").arg(quoteName(name));
        }
        const QString prefix = QStringLiteral("qel_check_") + table;
        for (const bool update : {false, true}) {
            QString body;
            if (!checks.isEmpty())
                body += QStringLiteral("SELECT %1;").arg(checks.join(QStringLiteral(", ")));
            if (!newKeys.isEmpty()) {
                body +=
                    QStringLiteral(
                        "SELECT qel_duplicate(%1, %2, %3) WHERE EXISTS (SELECT 1 FROM %4 WHERE %5%6);")
                        .arg(quoteText(QStringLiteral("PK_") + table),
                             quoteText(QStringLiteral("dbo.") + table), newKeys.join(QStringLiteral(", ")),
                             quoteName(table), match.join(QStringLiteral(" AND ")),
                             update ? QStringLiteral(" AND rowid <> OLD.rowid") : QString());
            }
            if (!kept.isEmpty()) {
                // The value written becomes the value the type keeps: a date as ISO text, a real
                // rounded to single precision, a bit 0 or 1, a fraction in an int column cut.
                sql +=
                    QStringLiteral("CREATE TRIGGER %1 AFTER %2 ON %3 WHEN %4 BEGIN UPDATE %3 SET %5 WHERE "
                                   "rowid = NEW.rowid; END;\n")
                        .arg(quoteName(prefix + (update ? QStringLiteral("_kept_update")
                                                        : QStringLiteral("_kept_insert"))),
                             update ? QStringLiteral("UPDATE") : QStringLiteral("INSERT"), quoteName(table),
                             changed.join(QStringLiteral(" OR ")), kept.join(QStringLiteral(", ")));
            }
            if (body.isEmpty())
                continue;
            sql +=
                QStringLiteral("CREATE TRIGGER %1 BEFORE %2 ON %3 BEGIN %4 END;\n")
                    .arg(quoteName(prefix + (update ? QStringLiteral("_update") : QStringLiteral("_insert"))),
                         update ? QStringLiteral("UPDATE") : QStringLiteral("INSERT"), quoteName(table),
                         body);
        }
    }
    db::exec(db, sql);
    schemaVersion = version();
}

std::optional<Message> raised(const QString &sqliteMessage, int line)
{
    if (!sqliteMessage.startsWith(kMarker))
        return std::nullopt;
    const QStringList parts = sqliteMessage.mid(kMarker.size()).split(u'\x1f');
    if (parts.size() < 4)
        return std::nullopt;
    return sqlerr::make(parts.at(0).toInt(), parts.at(1).toInt(), parts.at(2).toInt(),
                        parts.mid(3).join(u'\x1f'), line);
}

} // namespace sandbox::constraints
