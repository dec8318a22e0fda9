#include "sandbox/engine/insertvalues.h"

#include <QStringList>

namespace sandbox::tsql {

namespace {

qsizetype closing(const QList<Token> &tokens, qsizetype open)
{
    int depth = 0;
    for (qsizetype k = open; k < tokens.size(); ++k) {
        if (tokens.at(k).isSymbol("("))
            ++depth;
        else if (tokens.at(k).isSymbol(")") && --depth == 0)
            return k;
    }
    return -1;
}

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

} // namespace

QList<Token> convertUnicodeValues(const QList<Token> &statement, const Catalog &catalog,
                                  const ParameterTypes &parameters)
{
    if (!catalog || statement.size() < 4 || !statement.at(0).is("INSERT") || !statement.at(1).is("INTO"))
        return statement;
    qsizetype open = 2;
    while (open < statement.size() && !statement.at(open).isSymbol("(") && !statement.at(open).is("VALUES"))
        ++open;
    if (open >= statement.size() || !statement.at(open).isSymbol("(") || !statement.at(open - 1).isName())
        return statement;
    const TableColumns declared = catalog(statement.at(open - 1).value);
    const qsizetype listEnd = closing(statement, open);
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
        const qsizetype rowEnd = closing(statement, k);
        if (rowEnd < 0)
            return statement;
        out << statement.at(k);
        qsizetype from = k + 1;
        int position = 0;
        for (qsizetype j = from; j <= rowEnd; ++j) {
            if (j < rowEnd && statement.at(j).isSymbol("(")) {
                j = closing(statement, j);
                if (j < 0)
                    return statement;
                continue;
            }
            if (j < rowEnd && !statement.at(j).isSymbol(","))
                continue;
            const QList<Token> value = statement.mid(from, j - from);
            const QString target = targets.value(position++);
            if (!target.isEmpty() && !value.isEmpty() &&
                types.typeOf(value).trimmed().toLower().startsWith(u'n')) {
                const int line = value.first().line;
                out << made(TokenKind::Word, QStringLiteral("CAST"), line)
                    << made(TokenKind::Symbol, QStringLiteral("("), line) << value
                    << made(TokenKind::Word, QStringLiteral("AS"), line)
                    << made(TokenKind::Word, target, line)
                    << made(TokenKind::Symbol, QStringLiteral(")"), line);
            } else {
                out << value;
            }
            out << statement.at(j); // the comma, or the row's closing parenthesis
            from = j + 1;
        }
        k = rowEnd + 1;
    }
    return out;
}

} // namespace sandbox::tsql
