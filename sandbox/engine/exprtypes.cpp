#include "sandbox/engine/exprtypes.h"

#include <QRegularExpression>

#include <limits>

namespace sandbox::tsql {

namespace {

constexpr int kMaxVarChar = 8000;
constexpr int kMaxNVarChar = 4000;

struct TextType {
    bool valid = false;
    bool wide = false;
    int width = 1; // kMaxWidth for (max)
};

TextType textType(const QString &declaration)
{
    static const QRegularExpression form(
        QStringLiteral("^\\s*(n?)(var)?(char|text)\\s*(?:\\(\\s*(\\d+|max)\\s*\\))?\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(declaration);
    TextType t;
    if (!m.hasMatch())
        return t;
    t.valid = true;
    t.wide = !m.captured(1).isEmpty();
    const QString length = m.captured(4).toLower();
    if (m.captured(3).compare(QLatin1String("text"), Qt::CaseInsensitive) == 0 ||
        length == QLatin1String("max"))
        t.width = kMaxWidth;
    else if (!length.isEmpty())
        t.width =
            length.toInt() > (t.wide ? kMaxNVarChar : kMaxVarChar) ? kMaxWidth : qMax(1, length.toInt());
    return t;
}

QString declare(bool wide, int width)
{
    const QString base = wide ? QStringLiteral("nvarchar") : QStringLiteral("varchar");
    if (width == kMaxWidth)
        return base + QStringLiteral("(max)");
    return QStringLiteral("%1(%2)").arg(base).arg(qMax(1, width));
}

bool isIntegral(const QString &declaration)
{
    const QString d = declaration.toLower();
    return d == QLatin1String("int") || d == QLatin1String("integer") || d == QLatin1String("bigint") ||
           d == QLatin1String("smallint") || d == QLatin1String("tinyint");
}

// The tokens split at top-level occurrences of the symbol.
QList<QList<Token>> splitTop(const QList<Token> &tokens, const char *symbol)
{
    QList<QList<Token>> parts(1);
    int depth = 0;
    for (const Token &t : tokens) {
        if (t.isSymbol("("))
            ++depth;
        else if (t.isSymbol(")"))
            --depth;
        if (depth == 0 && t.isSymbol(symbol)) {
            parts.append(QList<Token>());
            continue;
        }
        parts.last().append(t);
    }
    return parts;
}

// The index of the parenthesis that closes the one at open, or -1.
qsizetype closing(const QList<Token> &tokens, qsizetype open)
{
    int depth = 0;
    for (qsizetype i = open; i < tokens.size(); ++i) {
        if (tokens.at(i).isSymbol("("))
            ++depth;
        else if (tokens.at(i).isSymbol(")") && --depth == 0)
            return i;
    }
    return -1;
}

// A type written in a CAST: "varchar(10)", "nvarchar(max)", or "varchar", which
// means 30 characters there.
QString writtenType(const QList<Token> &tokens)
{
    if (tokens.isEmpty() || tokens.first().kind != TokenKind::Word)
        return {};
    QString text;
    for (const Token &t : tokens)
        text += t.text.toLower();
    static const QRegularExpression bare(QStringLiteral("^n?(var)?char$"));
    if (bare.match(text).hasMatch())
        return text + QStringLiteral("(30)");
    return text;
}

const std::initializer_list<const char *> kClauseEnds = {
    "FROM", "INTO", "WHERE", "GROUP", "HAVING", "ORDER", "UNION", "EXCEPT", "INTERSECT", "FOR", "OPTION"};

bool isKeyword(const Token &t, std::initializer_list<const char *> words)
{
    for (const char *w : words)
        if (t.is(w))
            return true;
    return false;
}

} // namespace

ExpressionTypes::ExpressionTypes(const QList<Token> &statement, Catalog catalog, ParameterTypes parameters)
    : m_tokens(statement), m_catalog(std::move(catalog)), m_parameters(std::move(parameters))
{
    if (!m_catalog)
        return;
    // Tables follow FROM, JOIN, UPDATE, INTO and, inside a FROM list, commas; an alias may follow.
    static const std::initializer_list<const char *> notAliases = {
        "WHERE", "INNER",  "LEFT",  "RIGHT", "FULL",   "CROSS", "JOIN",  "ON",     "ORDER",
        "GROUP", "HAVING", "UNION", "SET",   "VALUES", "WITH",  "OUTER", "SELECT", "AS"};
    bool inFrom = false;
    for (qsizetype i = 0; i < m_tokens.size(); ++i) {
        const Token &t = m_tokens.at(i);
        if (t.is("FROM"))
            inFrom = true;
        else if (isKeyword(t, {"WHERE", "GROUP", "ORDER", "HAVING", "UNION", "SET"}) || t.isSymbol(")"))
            inFrom = false;
        const bool opens = isKeyword(t, {"FROM", "JOIN", "UPDATE", "INTO"}) || (inFrom && t.isSymbol(","));
        if (!opens)
            continue;
        qsizetype k = i + 1;
        // database.schema.table: the last part names it.
        while (k + 2 < m_tokens.size() && m_tokens.at(k).isName() && m_tokens.at(k + 1).isSymbol("."))
            k += 2;
        if (k >= m_tokens.size() || !m_tokens.at(k).isName())
            continue;
        const QString table = m_tokens.at(k).value;
        QString alias = table;
        const Token *next = k + 1 < m_tokens.size() ? &m_tokens.at(k + 1) : nullptr;
        if (next && next->is("AS") && k + 2 < m_tokens.size())
            alias = m_tokens.at(k + 2).value;
        else if (next && next->isName() && !isKeyword(*next, notAliases))
            alias = next->value;
        m_sources.append({alias, table});
    }
}

QString ExpressionTypes::columnType(const QString &qualifier, const QString &column) const
{
    if (!m_catalog)
        return {};
    for (const auto &[alias, table] : m_sources) {
        if (!qualifier.isEmpty() && alias.compare(qualifier, Qt::CaseInsensitive) != 0 &&
            table.compare(qualifier, Qt::CaseInsensitive) != 0)
            continue;
        const TableColumns columns = m_catalog(table);
        const auto found = columns.constFind(column.toLower());
        if (found != columns.constEnd())
            return *found;
    }
    return {};
}

QString ExpressionTypes::functionType(const QString &name, const QList<QList<Token>> &arguments) const
{
    const QString f = name.toUpper();
    const QString first = arguments.isEmpty() ? QString() : typeOf(arguments.first());
    if (f == QLatin1String("COUNT") || f == QLatin1String("LEN") || f == QLatin1String("DATALENGTH") ||
        f == QLatin1String("CHARINDEX") || f == QLatin1String("DAY") || f == QLatin1String("MONTH") ||
        f == QLatin1String("YEAR") || f == QLatin1String("DATEPART"))
        return QStringLiteral("int");
    if (f == QLatin1String("COUNT_BIG"))
        return QStringLiteral("bigint");
    if (f == QLatin1String("GETDATE"))
        return QStringLiteral("datetime");
    if (f == QLatin1String("DATEADD"))
        return arguments.size() == 3 && typeOf(arguments.at(2)).trimmed().toLower() == QLatin1String("date")
                   ? QStringLiteral("date")
                   : QStringLiteral("datetime");
    if (f == QLatin1String("CONVERT"))
        return arguments.isEmpty() ? QString() : writtenType(arguments.first());
    static const QStringList sameAsFirst = {
        QStringLiteral("UPPER"),  QStringLiteral("LOWER"),    QStringLiteral("LTRIM"),
        QStringLiteral("RTRIM"),  QStringLiteral("TRIM"),     QStringLiteral("SUBSTRING"),
        QStringLiteral("LEFT"),   QStringLiteral("RIGHT"),    QStringLiteral("REVERSE"),
        QStringLiteral("ISNULL"), QStringLiteral("COALESCE"), QStringLiteral("MIN"),
        QStringLiteral("MAX")};
    if (sameAsFirst.contains(f))
        return first;
    if (f == QLatin1String("REPLACE") || f == QLatin1String("REPLICATE")) {
        const TextType t = textType(first);
        if (!t.valid)
            return {};
        return declare(t.wide, t.width == kMaxWidth ? kMaxWidth : (t.wide ? kMaxNVarChar : kMaxVarChar));
    }
    if (f == QLatin1String("SUM"))
        return isIntegral(first) ? first : QString();
    return {};
}

QString ExpressionTypes::typeOf(const QList<Token> &expression) const
{
    QList<Token> e = expression;
    while (e.size() >= 2 && e.first().isSymbol("(") && closing(e, 0) == e.size() - 1)
        e = e.mid(1, e.size() - 2);
    if (e.isEmpty())
        return {};

    // Concatenation (or addition): the parts at the top level.
    const QList<QList<Token>> parts = splitTop(e, "+");
    if (parts.size() > 1) {
        bool anyText = false, anyOther = false, wide = false, allIntegral = true, isMax = false;
        qint64 width = 0;
        for (const QList<Token> &part : parts) {
            const QString type = typeOf(part);
            if (type.isEmpty())
                return {};
            const TextType t = textType(type);
            if (t.valid) {
                anyText = true;
                wide = wide || t.wide;
                isMax = isMax || t.width == kMaxWidth;
                width += t.width == kMaxWidth ? 0 : t.width;
            } else {
                anyOther = true;
                allIntegral = allIntegral && isIntegral(type);
            }
        }
        if (!anyText) {
            if (!allIntegral)
                return {};
            for (const QList<Token> &part : parts)
                if (typeOf(part).compare(QLatin1String("bigint"), Qt::CaseInsensitive) == 0)
                    return QStringLiteral("bigint");
            return QStringLiteral("int");
        }
        if (anyOther)
            return {}; // text added to a number: converted to the number, or refused

        const int limit = wide ? kMaxNVarChar : kMaxVarChar;
        return declare(wide, isMax ? kMaxWidth : int(qMin<qint64>(width, limit)));
    }
    for (const Token &t : e) {
        if (t.kind == TokenKind::Symbol && !t.isSymbol("(") && !t.isSymbol(")") && !t.isSymbol(".") &&
            !t.isSymbol(","))
            return {}; // other operators: not typed here
    }

    if (e.size() == 1) {
        const Token &t = e.first();
        switch (t.kind) {
        case TokenKind::String: {
            const int n = int(t.value.size());
            return n > kMaxVarChar ? declare(false, kMaxWidth) : declare(false, n);
        }
        case TokenKind::NString: {
            const int n = int(t.value.size());
            return n > kMaxNVarChar ? declare(true, kMaxWidth) : declare(true, n);
        }
        case TokenKind::Number: {
            if (t.text.contains(u'.') || t.text.contains(u'e', Qt::CaseInsensitive))
                return QStringLiteral("float");
            bool ok = false;
            const qint64 n = t.text.toLongLong(&ok);
            if (!ok)
                return QStringLiteral("float");
            return n > std::numeric_limits<qint32>::max() ? QStringLiteral("bigint") : QStringLiteral("int");
        }
        case TokenKind::Word:
            if (t.is("NULL"))
                return QStringLiteral("int");
            return columnType(QString(), t.value);
        case TokenKind::Name:
            return columnType(QString(), t.value);
        case TokenKind::Variable:
            return m_parameters.value(t.text.mid(1).toLower());
        default:
            return {};
        }
    }
    // qualifier.column, schema.table.column
    if (e.size() >= 3 && e.size() % 2 == 1) {
        bool dotted = true;
        for (qsizetype i = 0; i < e.size(); ++i)
            dotted = dotted && (i % 2 == 0 ? e.at(i).isName() : e.at(i).isSymbol("."));
        if (dotted)
            return columnType(e.at(e.size() - 3).value, e.last().value);
    }
    // name ( arguments )
    if (e.size() >= 3 && e.first().kind == TokenKind::Word && e.at(1).isSymbol("(") &&
        closing(e, 1) == e.size() - 1) {
        const QList<Token> inside = e.mid(2, e.size() - 3);
        if (e.first().is("CAST")) {
            const QList<QList<Token>> asParts = [&] {
                QList<QList<Token>> out(1);
                int depth = 0;
                for (const Token &t : inside) {
                    if (t.isSymbol("("))
                        ++depth;
                    else if (t.isSymbol(")"))
                        --depth;
                    if (depth == 0 && t.is("AS") && out.size() == 1) {
                        out.append(QList<Token>());
                        continue;
                    }
                    out.last().append(t);
                }
                return out;
            }();
            return asParts.size() == 2 ? writtenType(asParts.at(1)) : QString();
        }
        return functionType(e.first().text, splitTop(inside, ","));
    }
    return {};
}

QList<std::pair<QList<Token>, QString>> ExpressionTypes::selectItems() const
{
    if (m_tokens.isEmpty() || !m_tokens.first().is("SELECT"))
        return {};
    qsizetype i = 1;
    if (i < m_tokens.size() && isKeyword(m_tokens.at(i), {"ALL", "DISTINCT"}))
        ++i;
    if (i < m_tokens.size() && m_tokens.at(i).is("TOP")) {
        ++i;
        if (i < m_tokens.size() && m_tokens.at(i).isSymbol("("))
            i = closing(m_tokens, i);
        ++i;
    }
    QList<Token> list;
    int depth = 0;
    for (; i < m_tokens.size(); ++i) {
        const Token &t = m_tokens.at(i);
        if (depth == 0 && isKeyword(t, kClauseEnds))
            break;
        if (t.isSymbol("("))
            ++depth;
        else if (t.isSymbol(")"))
            --depth;
        list.append(t);
    }
    QList<std::pair<QList<Token>, QString>> items;
    for (QList<Token> item : splitTop(list, ",")) {
        if (item.isEmpty() || item.last().isSymbol("*"))
            return {};
        QString alias;
        // alias = expression, expression AS alias, expression alias
        if (item.size() > 2 && item.at(0).isName() && item.at(1).isSymbol("=")) {
            alias = item.at(0).value;
            item = item.mid(2);
        }
        const QList<QList<Token>> beforeAs = [&] {
            QList<QList<Token>> out(1);
            int d = 0;
            for (const Token &t : item) {
                if (t.isSymbol("("))
                    ++d;
                else if (t.isSymbol(")"))
                    --d;
                if (d == 0 && t.is("AS")) {
                    out.append(QList<Token>());
                    continue;
                }
                out.last().append(t);
            }
            return out;
        }();
        item = beforeAs.first();
        if (beforeAs.size() > 1 && !beforeAs.at(1).isEmpty())
            alias = beforeAs.at(1).first().value;
        if (beforeAs.size() == 1 && item.size() > 1) {
            const Token &last = item.last();
            const Token &before = item.at(item.size() - 2);
            const bool trailing = (last.isName() || last.kind == TokenKind::String) && !last.is("END") &&
                                  !before.isSymbol(".") &&
                                  (before.kind != TokenKind::Symbol || before.isSymbol(")"));
            if (trailing) {
                alias = last.value;
                item.removeLast();
            }
        }
        items.append({item, alias});
    }
    return items;
}

QStringList ExpressionTypes::selectList() const
{
    QStringList types;
    for (const auto &[item, alias] : selectItems())
        types << typeOf(item);
    return types;
}

QStringList ExpressionTypes::selectNames() const
{
    QStringList names;
    for (const auto &[item, alias] : selectItems()) {
        if (!alias.isEmpty())
            names << alias;
        else if (!item.isEmpty() && item.last().isName() &&
                 (item.size() == 1 || item.at(item.size() - 2).isSymbol(".")))
            names << item.last().value;
        else
            names << QString();
    }
    return names;
}

QList<bool> ExpressionTypes::selectNotNull() const
{
    QList<bool> notNull;
    for (const auto &[item, alias] : selectItems()) {
        QList<Token> e = item;
        if (e.size() == 2 && (e.first().isSymbol("-") || e.first().isSymbol("+")) &&
            e.last().kind == TokenKind::Number)
            e.removeFirst();
        notNull << (e.size() == 1 &&
                    (e.first().kind == TokenKind::String || e.first().kind == TokenKind::NString ||
                     e.first().kind == TokenKind::Number || e.first().kind == TokenKind::Binary));
    }
    return notNull;
}

bool ExpressionTypes::isText(const QString &declaration)
{
    return textType(declaration).valid;
}

} // namespace sandbox::tsql
