#include "sandbox/engine/insertvalues.h"

#include <QStringList>

namespace sandbox::tsql {

namespace {

Token made(TokenKind kind, const QString &text, int line)
{
    Token t;
    t.kind = kind;
    t.text = t.value = text;
    t.line = line;
    return t;
}

// The type a value converts to for a column of the declared type, when it is a number or date
// type: "datetime", "int", ...; empty otherwise.
QString convertedType(const QString &declared)
{
    QString base = declared.trimmed().toLower();
    base = base.left(base.indexOf(u'(')).trimmed();
    if (base == QLatin1String("integer"))
        return QStringLiteral("int");
    static const QStringList types = {
        QStringLiteral("datetime"), QStringLiteral("date"),     QStringLiteral("int"),
        QStringLiteral("bigint"),   QStringLiteral("smallint"), QStringLiteral("tinyint"),
        QStringLiteral("bit"),      QStringLiteral("float"),    QStringLiteral("real")};
    return types.contains(base) ? base : QString();
}

// The value, wrapped in CAST(value AS target) when it is Unicode text and target is a type.
void append(QList<Token> &out, const QList<Token> &value, const QString &target, const ExpressionTypes &types)
{
    if (target.isEmpty() || value.isEmpty() || !types.typeOf(value).trimmed().toLower().startsWith(u'n')) {
        out << value;
        return;
    }
    const int line = value.first().line;
    out << made(TokenKind::Word, QStringLiteral("CAST"), line)
        << made(TokenKind::Symbol, QStringLiteral("("), line) << value
        << made(TokenKind::Word, QStringLiteral("AS"), line) << made(TokenKind::Word, target, line)
        << made(TokenKind::Symbol, QStringLiteral(")"), line);
}

QList<Token> convertInsert(const QList<Token> &statement, const Catalog &catalog,
                           const ParameterTypes &parameters)
{
    if (statement.size() < 4 || !statement.at(1).is("INTO"))
        return statement;
    qsizetype open = 2;
    while (open < statement.size() && !statement.at(open).isSymbol("(") && !statement.at(open).is("VALUES"))
        ++open;
    if (open >= statement.size() || !statement.at(open).isSymbol("(") || !statement.at(open - 1).isName())
        return statement;
    const TableColumns declared = catalog(statement.at(open - 1).value);
    const qsizetype listEnd = closingParenthesis(statement, open);
    if (declared.isEmpty() || listEnd < 0 || listEnd + 1 >= statement.size() ||
        !statement.at(listEnd + 1).is("VALUES"))
        return statement;
    QStringList targets; // the type each value converts to, by position
    for (qsizetype k = open + 1; k < listEnd; ++k)
        if (statement.at(k).isName())
            targets << convertedType(declared.value(statement.at(k).value.toLower()));

    const ExpressionTypes types(statement, catalog, parameters);
    QList<Token> out = statement.mid(0, listEnd + 2);
    qsizetype k = listEnd + 2;
    while (k < statement.size()) {
        if (!statement.at(k).isSymbol("(")) {
            out << statement.at(k++);
            continue;
        }
        const qsizetype rowEnd = closingParenthesis(statement, k);
        if (rowEnd < 0)
            return statement;
        out << statement.at(k);
        qsizetype from = k + 1;
        int position = 0;
        for (qsizetype j = from; j <= rowEnd; ++j) {
            if (j < rowEnd && statement.at(j).isSymbol("(")) {
                j = closingParenthesis(statement, j);
                if (j < 0)
                    return statement;
                continue;
            }
            if (j < rowEnd && !statement.at(j).isSymbol(","))
                continue;
            append(out, statement.mid(from, j - from), targets.value(position++), types);
            out << statement.at(j); // the comma, or the row's closing parenthesis
            from = j + 1;
        }
        k = rowEnd + 1;
    }
    return out;
}

// UPDATE t SET column = value, ... [WHERE ...].
QList<Token> convertUpdate(const QList<Token> &statement, const Catalog &catalog,
                           const ParameterTypes &parameters)
{
    if (statement.size() < 6 || !statement.at(1).isName())
        return statement;
    for (const Token &t : statement)
        if (t.is("FROM"))
            return statement; // the name after UPDATE may be an alias
    qsizetype set = 2;
    while (set < statement.size() && !statement.at(set).is("SET"))
        ++set;
    if (set >= statement.size() || !statement.at(set - 1).isName())
        return statement;
    const TableColumns declared = catalog(statement.at(set - 1).value);
    if (declared.isEmpty())
        return statement;
    const ExpressionTypes types(statement, catalog, parameters);
    QList<Token> out = statement.mid(0, set + 1);
    qsizetype from = set + 1;
    for (qsizetype k = from; k <= statement.size(); ++k) {
        if (k < statement.size() && statement.at(k).isSymbol("(")) {
            k = closingParenthesis(statement, k);
            if (k < 0)
                return statement;
            continue;
        }
        const bool end = k == statement.size() || statement.at(k).is("WHERE") ||
                         statement.at(k).is("OPTION") || statement.at(k).is("OUTPUT");
        if (!end && !statement.at(k).isSymbol(","))
            continue;
        // column = value; the column may be qualified.
        qsizetype equals = from;
        while (equals < k && !statement.at(equals).isSymbol("="))
            ++equals;
        if (equals >= k || equals == from || !statement.at(equals - 1).isName())
            return statement;
        out << statement.mid(from, equals + 1 - from);
        append(out, statement.mid(equals + 1, k - equals - 1),
               convertedType(declared.value(statement.at(equals - 1).value.toLower())), types);
        if (end) {
            out << statement.mid(k);
            break;
        }
        out << statement.at(k);
        from = k + 1;
    }
    return out;
}

} // namespace

QList<Token> convertUnicodeValues(const QList<Token> &statement, const Catalog &catalog,
                                  const ParameterTypes &parameters)
{
    if (!catalog || statement.isEmpty())
        return statement;
    if (statement.at(0).is("INSERT"))
        return convertInsert(statement, catalog, parameters);
    if (statement.at(0).is("UPDATE"))
        return convertUpdate(statement, catalog, parameters);
    return statement;
}

} // namespace sandbox::tsql
