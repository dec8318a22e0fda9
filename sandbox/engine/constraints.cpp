#include "sandbox/engine/constraints.h"

#include "sandbox/engine/collation.h"
#include "sandbox/engine/sqlerrors.h"
#include "sandbox/engine/sqlitedb.h"
#include "sandbox/engine/values.h"

#include "common/cp1251.h"

#include <QCryptographicHash>
#include <QHash>
#include <QRegularExpression>
#include <QStringList>

#include <sqlite3.h>

#include <algorithm>
#include <limits>

namespace sandbox::constraints {

namespace {

using db::quoteName;
using db::quoteText;

using tsql::Token;
using tsql::TokenKind;

// A PRIMARY KEY, UNIQUE or CHECK constraint as a CREATE TABLE declares it.
struct Declared {
    QString kind;        // PK, UQ or CK
    QString name;        // empty when declared without one
    QString column;      // the column whose definition holds it; empty for a table's constraint
    QStringList columns; // a key's columns; for a check the table's columns it refers to
    qsizetype at = 0;    // the token of PRIMARY, UNIQUE or CHECK
};

struct Definition {
    QString table;
    QList<Declared> constraints;
};

// The closing parenthesis of the one at open; the end of the tokens when none closes it.
qsizetype closing(const QList<Token> &tokens, qsizetype open)
{
    const qsizetype close = closingParenthesis(tokens, open);
    return close < 0 ? tokens.size() : close;
}

bool startsConstraint(const Token &t)
{
    return t.is("CONSTRAINT") || t.is("PRIMARY") || t.is("UNIQUE") || t.is("CHECK") || t.is("FOREIGN");
}

// The constraints of a CREATE TABLE statement (T-SQL, or the SQL that SQLite keeps of a table).
Definition declaredConstraints(const QList<Token> &tokens)
{
    Definition d;
    if (tokens.size() < 4 || !tokens.at(0).is("CREATE") || !tokens.at(1).is("TABLE"))
        return d;
    qsizetype open = 2;
    while (open < tokens.size() && !tokens.at(open).isSymbol("("))
        ++open;
    if (open >= tokens.size() || !tokens.at(open - 1).isName())
        return d;
    d.table = tokens.at(open - 1).value;
    const qsizetype end = closing(tokens, open);
    // The items of the list, each as the range [first, last) of its tokens.
    QList<std::pair<qsizetype, qsizetype>> items;
    qsizetype from = open + 1;
    for (qsizetype k = from; k <= end && k < tokens.size(); ++k) {
        if (k < end && tokens.at(k).isSymbol("(")) {
            k = closing(tokens, k);
            continue;
        }
        if (k == end || tokens.at(k).isSymbol(",")) {
            if (k > from)
                items.append({from, k});
            from = k + 1;
        }
    }
    QStringList columns;
    for (const auto &[first, last] : items)
        if (!startsConstraint(tokens.at(first)) && tokens.at(first).isName())
            columns << tokens.at(first).value;
    const auto columnNamed = [&](const QString &name) -> QString {
        for (const QString &c : columns)
            if (c.compare(name, Qt::CaseInsensitive) == 0)
                return c;
        return {};
    };
    for (const auto &[first, last] : items) {
        const QString column = startsConstraint(tokens.at(first)) ? QString() : tokens.at(first).value;
        QString pending;
        for (qsizetype k = column.isEmpty() ? first : first + 1; k < last; ++k) {
            const Token &t = tokens.at(k);
            if (t.isSymbol("(")) {
                k = closing(tokens, k);
                continue;
            }
            if (t.is("CONSTRAINT") && k + 1 < last) {
                pending = tokens.at(++k).value;
                continue;
            }
            Declared c;
            if (t.is("PRIMARY"))
                c.kind = QStringLiteral("PK");
            else if (t.is("UNIQUE"))
                c.kind = QStringLiteral("UQ");
            else if (t.is("CHECK"))
                c.kind = QStringLiteral("CK");
            else
                continue;
            c.name = pending;
            pending.clear();
            c.column = column;
            c.at = k;
            // The parenthesised column list or expression that follows, if any.
            qsizetype list = k + 1;
            while (list < last && !tokens.at(list).isSymbol("(") && !startsConstraint(tokens.at(list)))
                ++list;
            const bool hasList = list < last && tokens.at(list).isSymbol("(");
            const qsizetype listEnd = hasList ? closing(tokens, list) : list;
            if (!column.isEmpty() && c.kind != QLatin1String("CK")) {
                c.columns << column;
            } else if (hasList) {
                for (qsizetype j = list + 1; j < listEnd; ++j) {
                    const Token &n = tokens.at(j);
                    const QString named = n.isName() ? columnNamed(n.value) : QString();
                    const bool call = j + 1 < listEnd && tokens.at(j + 1).isSymbol("(");
                    if (!named.isEmpty() && !call && !c.columns.contains(named))
                        c.columns << named;
                }
            }
            d.constraints.append(c);
            if (hasList)
                k = listEnd;
        }
    }
    return d;
}

Definition storedDefinition(sqlite3 *db, const QString &table)
{
    const ResultSet rs =
        db::query(db, QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = %1")
                          .arg(quoteText(table)));
    if (rs.rows.isEmpty())
        return {};
    return declaredConstraints(tsql::tokenize(db::toText(rs.rows.first().value(0))).tokens);
}

// The name the server generates for a constraint declared without one.
QString generatedName(const QString &kind, const QString &table, const QString &column, qsizetype ordinal)
{
    const QString seed = kind + u'\x1f' + table + u'\x1f' + column + u'\x1f' + QString::number(ordinal);
    const QString hex = QString::fromLatin1(
        QCryptographicHash::hash(seed.toUtf8(), QCryptographicHash::Md5).toHex().toUpper());
    if (kind == QLatin1String("CK")) {
        if (column.isEmpty())
            return QStringLiteral("CK__%1__%2").arg(table.left(9), hex.left(8));
        return QStringLiteral("CK__%1__%2__%3").arg(table.left(9), column.left(5), hex.left(8));
    }
    return QStringLiteral("%1__%2__%3").arg(kind, table.left(8), hex.left(16));
}

// The name of a constraint declared without one in a table created in SQLite directly.
QString fallbackName(const QString &kind, const QString &table)
{
    return kind + u'_' + table;
}

} // namespace

QList<Token> nameConstraints(const QList<Token> &statement)
{
    const Definition d = declaredConstraints(statement);
    QList<Token> named = statement;
    for (qsizetype i = d.constraints.size() - 1; i >= 0; --i) {
        const Declared &c = d.constraints.at(i);
        if (!c.name.isEmpty())
            continue;
        const Token &at = statement.at(c.at);
        Token keyword;
        keyword.kind = TokenKind::Word;
        keyword.text = keyword.value = QStringLiteral("CONSTRAINT");
        keyword.line = at.line;
        Token name;
        name.kind = TokenKind::Name;
        name.value = generatedName(c.kind, d.table, c.kind == QLatin1String("CK") ? c.column : QString(), i);
        name.text = u'[' + name.value + u']';
        name.line = at.line;
        named.insert(c.at, name);
        named.insert(c.at, keyword);
    }
    return named;
}

std::optional<std::pair<Message, Message>> nameTaken(sqlite3 *db, const QString &createTable, int line)
{
    const Definition created = declaredConstraints(tsql::tokenize(createTable).tokens);
    if (created.table.isEmpty())
        return std::nullopt;
    QStringList taken;
    const ResultSet tables = db::query(
        db,
        QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%'"));
    for (const auto &row : tables.rows) {
        const QString table = db::toText(row.value(0));
        taken << table.toLower();
        if (table.compare(created.table, Qt::CaseInsensitive) == 0)
            continue;
        for (const Declared &c : storedDefinition(db, table).constraints)
            taken << (c.name.isEmpty() ? fallbackName(c.kind, table) : c.name).toLower();
    }
    for (const Declared &c : created.constraints) {
        if (c.name.isEmpty())
            continue;
        if (taken.contains(c.name.toLower()))
            return std::make_pair(
                sqlerr::make(
                    2714, 16, 5,
                    QStringLiteral("There is already an object named '%1' in the database.").arg(c.name),
                    line),
                sqlerr::make(1750, 16, 0,
                             QStringLiteral("Could not create constraint or index. See previous errors."),
                             line));
        taken << c.name.toLower();
    }
    return std::nullopt;
}

Message checkConflict(sqlite3 *db, const QString &verb, const QString &table, const QString &sqliteMessage,
                      int line)
{
    static const QRegularExpression failed(QStringLiteral("^CHECK constraint failed: (.*)$"),
                                           QRegularExpression::DotMatchesEverythingOption);
    const QString reported = failed.match(sqliteMessage).captured(1);
    const Definition d = storedDefinition(db, table);
    std::optional<Declared> found;
    QList<Declared> unnamed;
    for (const Declared &c : d.constraints) {
        if (c.kind != QLatin1String("CK"))
            continue;
        if (!c.name.isEmpty() && c.name == reported)
            found = c;
        else if (c.name.isEmpty())
            unnamed << c;
    }
    if (!found && unnamed.size() == 1)
        found = unnamed.first();
    const QString name =
        found && !found->name.isEmpty() ? found->name : fallbackName(QStringLiteral("CK"), table);
    QString column;
    if (found && found->columns.size() == 1)
        column = QStringLiteral(", column '%1'").arg(found->columns.first());
    return sqlerr::make(547, 16, 0,
                        QStringLiteral("The %1 statement conflicted with the CHECK constraint \"%2\". The "
                                       "conflict occurred in database \"%3\", table \"dbo.%4\"%5.")
                            .arg(verb, name, sqlerr::kDatabase, table, column),
                        line);
}

namespace {

// qel_fits(value, kind, width, table, column): kind is varchar, nvarchar, char, nchar, varbinary,
// binary or int. The function's data is the database's compatibility level, which words a
// truncation.
void fits(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    sqlite3_value *value = argv[0];
    const QString kind = db::textOf(argv[1]);
    const qint64 width = sqlite3_value_int64(argv[2]);
    const int type = sqlite3_value_type(value);
    sqlite3_result_int(ctx, 1);
    if (type == SQLITE_NULL)
        return;
    if (kind == QLatin1String("int")) {
        if (type == SQLITE_INTEGER) {
            const qint64 n = sqlite3_value_int64(value);
            if (n < std::numeric_limits<qint32>::min() || n > std::numeric_limits<qint32>::max())
                sqlerr::raise(
                    ctx, sqlerr::make(8115, 16, 2,
                                      QStringLiteral("Arithmetic overflow error converting expression to "
                                                     "data type int.")));
            return;
        }
        if (type == SQLITE_TEXT) {
            bool ok = false;
            db::textOf(value).trimmed().toInt(&ok);
            if (!ok)
                sqlerr::raise(
                    ctx, sqlerr::make(245, 16, 1,
                                      QStringLiteral("Conversion failed when converting the varchar value "
                                                     "'%1' to data type int.")
                                          .arg(db::textOf(value))));
        }
        return;
    }
    qint64 length = 0;
    if (type == SQLITE_BLOB) {
        length = sqlite3_value_bytes(value);
    } else {
        QString text = db::textOf(value);
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
        sqlerr::raise(
            ctx, sqlerr::make(8152, 16, 30, QStringLiteral("String or binary data would be truncated.")));
        return;
    }
    QString cut =
        type == SQLITE_BLOB
            ? QString::fromLatin1(
                  QByteArray(static_cast<const char *>(sqlite3_value_blob(value)), int(width)).toHex())
            : db::textOf(value).left(int(width));
    if (!cut.isEmpty() && cut.back().isHighSurrogate())
        cut.chop(1);
    sqlerr::raise(
        ctx,
        sqlerr::make(2628, 16, 1,
                     QStringLiteral("String or binary data would be truncated in table '%1.dbo.%2', column "
                                    "'%3'. Truncated value: '%4'.")
                         .arg(sqlerr::kDatabase, db::textOf(argv[3]), db::textOf(argv[4]), cut)));
}

// qel_duplicate(kind, constraint, object, key values...): called only when the key is already
// there; kind is PRIMARY KEY or UNIQUE KEY.
void duplicate(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    QStringList values;
    for (int i = 3; i < argc; ++i)
        values << (sqlite3_value_type(argv[i]) == SQLITE_NULL ? QStringLiteral("<NULL>")
                                                              : db::textOf(argv[i]));
    sqlerr::raise(
        ctx, sqlerr::make(2627, 14, 1,
                          QStringLiteral("Violation of %1 constraint '%2'. Cannot insert duplicate key in "
                                         "object '%3'. The duplicate key value is (%4).")
                              .arg(db::textOf(argv[0]), db::textOf(argv[1]), db::textOf(argv[2]),
                                   values.join(QStringLiteral(", ")))));
}

// qel_codepage(value): text as a varchar column of the database keeps it, each character that
// Windows-1251 has no byte for a '?'; any other value as it is.
void codepage(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) != SQLITE_TEXT || Cp1251::canEncode(db::textOf(argv[0]))) {
        sqlite3_result_value(ctx, argv[0]);
        return;
    }
    QString refused;
    const auto kept = collation::inCodePage(db::textOf(argv[0]), &refused);
    if (!kept) {
        sqlerr::raise(ctx, sqlerr::notSupported(QStringLiteral("varchar text with '%1'").arg(refused), 1));
        return;
    }
    const QByteArray utf8 = kept->toUtf8();
    sqlite3_result_text(ctx, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
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
    static const QRegularExpression form(
        QStringLiteral("^\\s*([a-z]+)\\s*(?:\\(\\s*(\\d+|max)\\s*\\))?\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(declared);
    if (!m.hasMatch())
        return {};
    QString base = m.captured(1).toLower();
    if (base == QLatin1String("integer"))
        base = QStringLiteral("int");
    if (base == QLatin1String("float") && !m.captured(2).isEmpty() && m.captured(2) != QLatin1String("max") &&
        m.captured(2).toInt() <= 24)
        base = QStringLiteral("real");
    if (values::integerRange(base) || base == QLatin1String("float") || base == QLatin1String("real"))
        return QStringLiteral("qel_convert(%1, '%2', 'varchar')").arg(QStringLiteral("%1"), base);
    if (base == QLatin1String("datetime") || base == QLatin1String("date"))
        return QStringLiteral("qel_datetime(%1, '%2')").arg(QStringLiteral("%1"), base);
    if (base == QLatin1String("varchar") || base == QLatin1String("char") || base == QLatin1String("text"))
        return QStringLiteral("qel_codepage(%1)");
    return {};
}

} // namespace

void registerFunctions(sqlite3 *db, const int *compatibilityLevel)
{
    sqlite3_create_function_v2(db, "qel_fits", 5, SQLITE_UTF8, const_cast<int *>(compatibilityLevel), &fits,
                               nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "qel_duplicate", -1, SQLITE_UTF8, nullptr, &duplicate, nullptr, nullptr,
                               nullptr);
    sqlite3_create_function_v2(db, "qel_codepage", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, &codepage,
                               nullptr, nullptr, nullptr);
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
        QHash<QString, QString> keptOfNew; // by column: the value the column keeps of NEW's

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
                keptOfNew.insert(name.toLower(), value.arg(written));
            }
            const int pk = int(db::toInteger(column.value(5)).value_or(0));
            if (pk > 0)
                keyColumns.append({pk, name});
        }
        std::sort(keyColumns.begin(), keyColumns.end());
        // The keys, each with its name, the columns and how its values compare: a primary key's
        // never NULL, a UNIQUE constraint holding one NULL as the server's does.
        struct Key {
            QString kind, name;
            QStringList columns;
            bool nullIsValue = false;
        };
        QList<Key> uniqueKeys;
        const Definition declared = storedDefinition(db, table);
        if (!keyColumns.isEmpty()) {
            Key primary{QStringLiteral("PRIMARY KEY"), fallbackName(QStringLiteral("PK"), table), {}, false};
            for (const auto &[order, name] : keyColumns)
                primary.columns << name;
            for (const Declared &c : declared.constraints)
                if (c.kind == QLatin1String("PK") && !c.name.isEmpty())
                    primary.name = c.name;
            uniqueKeys << primary;
        }
        for (const Declared &c : declared.constraints)
            if (c.kind == QLatin1String("UQ") && !c.columns.isEmpty())
                uniqueKeys << Key{QStringLiteral("UNIQUE KEY"),
                                  c.name.isEmpty() ? fallbackName(QStringLiteral("UQ"), table) : c.name,
                                  c.columns, true};
        const QString prefix = QStringLiteral("qel_check_") + table;
        for (const bool update : {false, true}) {
            QString body;
            if (!checks.isEmpty())
                body += QStringLiteral("SELECT %1;").arg(checks.join(QStringLiteral(", ")));
            for (const Key &key : uniqueKeys) {
                QStringList newKeys, match;
                for (const QString &name : key.columns) {
                    const QString written =
                        keptOfNew.value(name.toLower(), QStringLiteral("NEW.") + quoteName(name));
                    newKeys << written;
                    match << QStringLiteral("%1 %2 %3")
                                 .arg(quoteName(name),
                                      key.nullIsValue ? QStringLiteral("IS") : QStringLiteral("="), written);
                }
                body +=
                    QStringLiteral("SELECT qel_duplicate(%1, %2, %3, %4) WHERE EXISTS (SELECT 1 FROM %5 "
                                   "WHERE %6%7);")
                        .arg(quoteText(key.kind), quoteText(key.name),
                             quoteText(QStringLiteral("dbo.") + table), newKeys.join(QStringLiteral(", ")),
                             quoteName(table), match.join(QStringLiteral(" AND ")),
                             update ? QStringLiteral(" AND rowid <> OLD.rowid") : QString());
            }
            if (!kept.isEmpty()) {
                // The value written becomes the value the type keeps: a date as ISO text, a real
                // rounded to single precision, a bit 0 or 1, a fraction in an int column cut, text
                // in a varchar column in the code page.
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

} // namespace sandbox::constraints
