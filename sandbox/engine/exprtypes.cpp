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

// The rank of a type in the server's precedence of data types, higher wins; -1 when unknown.
int precedence(const QString &declaration)
{
    static const QRegularExpression base(QStringLiteral("^\\s*([a-z0-9_]+)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QString name = base.match(declaration).captured(1).toLower();
    static const QStringList order = {
        QStringLiteral("binary"),  QStringLiteral("varbinary"), QStringLiteral("char"),
        QStringLiteral("varchar"), QStringLiteral("nchar"),     QStringLiteral("nvarchar"),
        QStringLiteral("bit"),     QStringLiteral("tinyint"),   QStringLiteral("smallint"),
        QStringLiteral("int"),     QStringLiteral("bigint"),    QStringLiteral("numeric"),
        QStringLiteral("real"),    QStringLiteral("float"),     QStringLiteral("date"),
        QStringLiteral("datetime")};
    if (name == QLatin1String("integer"))
        return int(order.indexOf(QStringLiteral("int")));
    if (name == QLatin1String("decimal"))
        return int(order.indexOf(QStringLiteral("numeric")));
    return int(order.indexOf(name));
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

// The results of CASE ... END (after each THEN, and after ELSE), not those of a CASE inside them;
// hasElse tells whether there is an ELSE.
QList<QList<Token>> caseResults(const QList<Token> &e, bool *hasElse = nullptr)
{
    QList<QList<Token>> results;
    int depth = 0, cases = 0;
    bool collecting = false;
    for (qsizetype k = 1; k + 1 < e.size(); ++k) {
        const Token &t = e.at(k);
        if (t.isSymbol("("))
            ++depth;
        else if (t.isSymbol(")"))
            --depth;
        else if (depth == 0 && t.is("CASE"))
            ++cases;
        else if (depth == 0 && t.is("END") && cases > 0)
            --cases;
        if (depth == 0 && cases == 0 && (t.is("WHEN") || t.is("THEN") || t.is("ELSE"))) {
            collecting = !t.is("WHEN");
            if (collecting)
                results.append(QList<Token>());
            if (hasElse && t.is("ELSE"))
                *hasElse = true;
            continue;
        }
        if (collecting)
            results.last().append(t);
    }
    return results;
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
    // A derived table or a common table expression: the names and types of its select list.
    const auto derived = [this](qsizetype open, const QList<Token> &names) {
        const qsizetype close = closingParenthesis(m_tokens, open);
        if (close < 0)
            return TableColumns();
        const ExpressionTypes inner(m_tokens.mid(open + 1, close - open - 1), m_catalog, m_parameters);
        const QStringList types = inner.selectList();
        const QStringList own = inner.selectNames();
        TableColumns columns;
        for (qsizetype c = 0; c < types.size(); ++c) {
            const QString name = c < names.size() ? names.at(c).value : own.value(c);
            if (!name.isEmpty())
                columns.insert(name.toLower(), types.at(c));
        }
        return columns;
    };
    if (!m_tokens.isEmpty() && m_tokens.first().is("WITH")) {
        // WITH name [(columns)] AS (SELECT ...) [, name ...]
        qsizetype k = 1;
        while (k + 2 < m_tokens.size() && m_tokens.at(k).isName()) {
            const QString name = m_tokens.at(k).value;
            QList<Token> names;
            qsizetype at = k + 1;
            if (m_tokens.at(at).isSymbol("(")) {
                const qsizetype close = closingParenthesis(m_tokens, at);
                if (close < 0)
                    break;
                for (qsizetype c = at + 1; c < close; ++c)
                    if (m_tokens.at(c).isName())
                        names << m_tokens.at(c);
                at = close + 1;
            }
            if (at + 1 >= m_tokens.size() || !m_tokens.at(at).is("AS") || !m_tokens.at(at + 1).isSymbol("("))
                break;
            m_derived.insert(name.toLower(), derived(at + 1, names));
            k = closingParenthesis(m_tokens, at + 1) + 1;
            if (k <= 0 || k >= m_tokens.size() || !m_tokens.at(k).isSymbol(","))
                break;
            ++k;
        }
    }
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
        if (k + 1 < m_tokens.size() && m_tokens.at(k).isSymbol("(") && m_tokens.at(k + 1).is("SELECT")) {
            const qsizetype close = closingParenthesis(m_tokens, k);
            const QString key = QStringLiteral("(derived %1)").arg(k);
            m_derived.insert(key, derived(k, {}));
            QString alias;
            qsizetype a = close + 1;
            if (close > 0 && a < m_tokens.size() && m_tokens.at(a).is("AS"))
                ++a;
            if (close > 0 && a < m_tokens.size() && m_tokens.at(a).isName() &&
                !isKeyword(m_tokens.at(a), notAliases))
                alias = m_tokens.at(a).value;
            m_sources.append({alias, key});
            continue;
        }
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
        const auto own = m_derived.constFind(table.toLower());
        const TableColumns columns = own != m_derived.constEnd() ? *own : m_catalog(table);
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
        QStringLiteral("UPPER"),  QStringLiteral("LOWER"), QStringLiteral("LTRIM"),
        QStringLiteral("RTRIM"),  QStringLiteral("TRIM"),  QStringLiteral("SUBSTRING"),
        QStringLiteral("LEFT"),   QStringLiteral("RIGHT"), QStringLiteral("REVERSE"),
        QStringLiteral("ISNULL"), QStringLiteral("MIN"),   QStringLiteral("MAX")};
    if (sameAsFirst.contains(f))
        return first;
    if (f == QLatin1String("COALESCE"))
        return dominant(arguments);
    if (f == QLatin1String("REPLACE") || f == QLatin1String("REPLICATE")) {
        const TextType t = textType(first);
        if (!t.valid)
            return {};
        return declare(t.wide, t.width == kMaxWidth ? kMaxWidth : (t.wide ? kMaxNVarChar : kMaxVarChar));
    }
    if (f == QLatin1String("SUM") || f == QLatin1String("AVG")) {
        // tinyint and smallint add up as int; text is no operand of either.
        const QString t = first.trimmed().toLower();
        if (t == QLatin1String("bigint") || t == QLatin1String("float"))
            return t;
        if (t == QLatin1String("real"))
            return QStringLiteral("float");
        return isIntegral(t) ? QStringLiteral("int") : QString();
    }
    if (f == QLatin1String("ABS") || f == QLatin1String("NULLIF"))
        return first;
    return {};
}

QString ExpressionTypes::dominant(const QList<QList<Token>> &expressions) const
{
    QString best;
    bool text = false, other = false, wide = false, isMax = false;
    int width = 0;
    for (const QList<Token> &e : expressions) {
        if (e.size() == 1 && e.first().is("NULL"))
            continue; // NULL takes the others' type
        const QString type = typeOf(e);
        if (type.isEmpty())
            return {};
        const TextType t = textType(type);
        if (t.valid) {
            text = true;
            wide = wide || t.wide;
            isMax = isMax || t.width == kMaxWidth;
            width = qMax(width, t.width);
            continue;
        }
        other = true;
        if (precedence(type) < 0)
            return {};
        if (best.isEmpty() || precedence(type) > precedence(best))
            best = type;
    }
    if (text && other)
        return {}; // text converted to a number or a date at run time: not followed here
    if (text)
        return declare(wide, isMax ? kMaxWidth : width);
    return best.isEmpty() ? QStringLiteral("int") : best;
}

QString ExpressionTypes::typeOf(const QList<Token> &expression) const
{
    QList<Token> e = expression;
    bool parenthesized = false;
    while (e.size() >= 2 && e.first().isSymbol("(") && closingParenthesis(e, 0) == e.size() - 1) {
        e = e.mid(1, e.size() - 2);
        parenthesized = true;
    }
    if (e.isEmpty())
        return {};

    // A scalar subquery: the type of its one item.
    if (parenthesized && e.size() > 1 && e.first().is("SELECT")) {
        const QStringList items = ExpressionTypes(e, m_catalog, m_parameters).selectList();
        return items.size() == 1 ? items.first() : QString();
    }
    // Arithmetic and concatenation: the operands at the top level and the operators between.
    QList<QList<Token>> parts(1);
    QStringList operators;
    {
        int depth = 0;
        for (const Token &t : e) {
            const bool op =
                t.isSymbol("+") || t.isSymbol("-") || t.isSymbol("*") || t.isSymbol("/") || t.isSymbol("%");
            if (depth == 0 && op && !parts.last().isEmpty() && !parts.last().last().isSymbol("~")) {
                const Token &before = parts.last().last();
                const bool binary = before.kind != TokenKind::Symbol || before.isSymbol(")");
                if (binary && !(before.kind == TokenKind::Word && before.is("CASE"))) {
                    operators << t.text;
                    parts.append(QList<Token>());
                    continue;
                }
            }
            if (t.isSymbol("(") || t.is("CASE"))
                ++depth;
            else if (t.isSymbol(")") || t.is("END"))
                --depth;
            parts.last().append(t);
        }
    }
    if (parts.size() == 1 && e.size() >= 2 && (e.first().isSymbol("-") || e.first().isSymbol("+"))) {
        const QString type = typeOf(e.mid(1)).trimmed().toLower();
        if (precedence(type) < precedence(QStringLiteral("bit")))
            return {};
        // A negated tinyint is a smallint, as the server promotes it.
        return e.first().isSymbol("-") && type == QLatin1String("tinyint") ? QStringLiteral("smallint")
                                                                           : type;
    }
    if (parts.size() > 1) {
        bool anyOther = false, wide = false, isMax = false;
        qint64 width = 0;
        QList<QList<Token>> numbers;
        for (const QList<Token> &part : parts) {
            const QString type = typeOf(part);
            if (type.isEmpty())
                return {};
            const TextType t = textType(type);
            if (t.valid) {
                wide = wide || t.wide;
                isMax = isMax || t.width == kMaxWidth;
                width += t.width == kMaxWidth ? 0 : t.width;
            } else {
                anyOther = true;
                numbers << part;
            }
        }
        if (anyOther) {
            // Numbers by the precedence of their types, text converted to the number's type;
            // tinyint and smallint count as themselves, as on the server.
            const QString type = dominant(numbers);
            const int rank = precedence(type);
            if (rank < precedence(QStringLiteral("bit")) || rank > precedence(QStringLiteral("float")))
                return {}; // dates are not added to here
            return type == QLatin1String("bit") ? QStringLiteral("int") : type;
        }
        if (operators.size() != operators.count(QStringLiteral("+")))
            return {}; // text subtracted or multiplied: refused when it runs
        const int limit = wide ? kMaxNVarChar : kMaxVarChar;
        return declare(wide, isMax ? kMaxWidth : int(qMin<qint64>(width, limit)));
    }
    // CASE: the type of its results, by the server's precedence of types.
    if (e.first().is("CASE") && e.last().is("END"))
        return dominant(caseResults(e));

    {
        int depth = 0;
        for (const Token &t : e) {
            if (t.isSymbol("("))
                ++depth;
            else if (t.isSymbol(")"))
                --depth;
            else if (depth == 0 && t.kind == TokenKind::Symbol && !t.isSymbol(".") && !t.isSymbol(","))
                return {}; // other operators: not typed here
        }
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
            if (t.text.contains(u'e', Qt::CaseInsensitive))
                return QStringLiteral("float");
            if (t.text.contains(u'.')) {
                // A number with a point is numeric(p, s): all its digits, those after the point.
                const qsizetype point = t.text.indexOf(u'.');
                QString whole = t.text.left(point);
                while (whole.startsWith(u'0'))
                    whole.remove(0, 1);
                const int scale = int(t.text.size() - point - 1);
                return QStringLiteral("numeric(%1,%2)").arg(qMax(1, int(whole.size()) + scale)).arg(scale);
            }
            bool ok = false;
            const qint64 n = t.text.toLongLong(&ok);
            if (!ok)
                return QStringLiteral("float");
            return n > std::numeric_limits<qint32>::max() ? QStringLiteral("bigint") : QStringLiteral("int");
        }
        case TokenKind::Binary: {
            // 0x0102: two hex digits a byte, an odd count padded in front.
            const int bytes = int((t.text.size() - 2 + 1) / 2);
            return bytes > kMaxVarChar ? QStringLiteral("varbinary(max)")
                                       : QStringLiteral("varbinary(%1)").arg(qMax(1, bytes));
        }
        case TokenKind::Word:
            if (t.is("NULL"))
                return QStringLiteral("int");
            return columnType(QString(), t.value);
        case TokenKind::Name:
            return columnType(QString(), t.value);
        case TokenKind::Variable: {
            static const QHash<QString, QString> globals = {
                {QStringLiteral("@@version"), QStringLiteral("nvarchar(300)")},
                {QStringLiteral("@@servername"), QStringLiteral("nvarchar(128)")},
                {QStringLiteral("@@language"), QStringLiteral("nvarchar(128)")},
                {QStringLiteral("@@trancount"), QStringLiteral("int")}};
            if (t.text.startsWith(QLatin1String("@@")))
                return globals.value(t.text.toLower());
            return m_parameters.value(t.text.mid(1).toLower());
        }
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
        closingParenthesis(e, 1) == e.size() - 1) {
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
        QList<QList<Token>> arguments = splitTop(inside, ",");
        // An aggregate's DISTINCT or ALL is no part of its argument's type.
        if (!arguments.isEmpty() && arguments.first().size() > 1 &&
            isKeyword(arguments.first().first(), {"DISTINCT", "ALL"}))
            arguments.first().removeFirst();
        return functionType(e.first().text, arguments);
    }
    return {};
}

QList<std::pair<QList<Token>, QString>> ExpressionTypes::selectItems() const
{
    if (m_tokens.isEmpty())
        return {};
    qsizetype i = 0;
    if (m_tokens.first().is("WITH")) {
        // The query after its common table expressions.
        int depth = 0;
        for (; i < m_tokens.size(); ++i) {
            if (m_tokens.at(i).isSymbol("("))
                ++depth;
            else if (m_tokens.at(i).isSymbol(")"))
                --depth;
            else if (depth == 0 && m_tokens.at(i).is("SELECT"))
                break;
        }
    }
    if (i >= m_tokens.size() || !m_tokens.at(i).is("SELECT"))
        return {};
    ++i;
    if (i < m_tokens.size() && isKeyword(m_tokens.at(i), {"ALL", "DISTINCT"}))
        ++i;
    if (i < m_tokens.size() && m_tokens.at(i).is("TOP")) {
        ++i;
        if (i < m_tokens.size() && m_tokens.at(i).isSymbol("("))
            i = closingParenthesis(m_tokens, i);
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

bool ExpressionTypes::neverNull(QList<Token> e) const
{
    while (e.size() >= 2 && e.first().isSymbol("(") && closingParenthesis(e, 0) == e.size() - 1)
        e = e.mid(1, e.size() - 2);
    if (e.isEmpty())
        return false;
    if (e.size() == 2 && (e.first().isSymbol("-") || e.first().isSymbol("+")) &&
        e.last().kind == TokenKind::Number)
        e.removeFirst();
    if (e.size() == 1)
        return e.first().kind == TokenKind::String || e.first().kind == TokenKind::NString ||
               e.first().kind == TokenKind::Number || e.first().kind == TokenKind::Binary;
    // ISNULL(x, y) with a y that is never NULL; the server keeps that apart from COALESCE, which
    // it counts as an expression that may be NULL.
    if (e.size() >= 3 && e.first().is("ISNULL") && e.at(1).isSymbol("(") &&
        closingParenthesis(e, 1) == e.size() - 1) {
        const QList<QList<Token>> arguments = splitTop(e.mid(2, e.size() - 3), ",");
        return arguments.size() == 2 && neverNull(arguments.at(1));
    }
    // COALESCE whose every argument is never NULL.
    if (e.size() >= 3 && e.first().is("COALESCE") && e.at(1).isSymbol("(") &&
        closingParenthesis(e, 1) == e.size() - 1) {
        for (const QList<Token> &argument : splitTop(e.mid(2, e.size() - 3), ","))
            if (!neverNull(argument))
                return false;
        return true;
    }
    // CASE with an ELSE whose every result is never NULL.
    if (e.first().is("CASE") && e.last().is("END")) {
        bool hasElse = false;
        const QList<QList<Token>> results = caseResults(e, &hasElse);
        if (!hasElse)
            return false;
        for (const QList<Token> &result : results)
            if (!neverNull(result))
                return false;
        return true;
    }
    return false;
}

QList<bool> ExpressionTypes::selectAggregates() const
{
    QList<bool> aggregates;
    for (const auto &[item, alias] : selectItems()) {
        aggregates << (item.size() >= 3 &&
                       isKeyword(item.first(), {"COUNT", "COUNT_BIG", "SUM", "AVG", "MIN", "MAX"}) &&
                       item.at(1).isSymbol("(") && closingParenthesis(item, 1) == item.size() - 1);
    }
    return aggregates;
}

QList<bool> ExpressionTypes::selectNotNull() const
{
    QList<bool> notNull;
    for (const auto &[item, alias] : selectItems()) {
        QList<Token> e = item;
        if (e.size() == 2 && (e.first().isSymbol("-") || e.first().isSymbol("+")) &&
            e.last().kind == TokenKind::Number)
            e.removeFirst();
        notNull << neverNull(e);
    }
    return notNull;
}

bool ExpressionTypes::isText(const QString &declaration)
{
    return textType(declaration).valid;
}

} // namespace sandbox::tsql
