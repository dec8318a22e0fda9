#include "sandbox/engine/tsqltranslator.h"

#include "sandbox/engine/collation.h"
#include "sandbox/engine/constraints.h"
#include "sandbox/engine/exprtypes.h"
#include "sandbox/engine/functions.h"
#include "sandbox/engine/insertvalues.h"
#include "sandbox/engine/sqlerrors.h"
#include "sandbox/engine/sqlitedb.h"
#include "sandbox/engine/values.h"

#include <QRegularExpression>

#include <QStringList>

#include <sqlite3.h>

#include <stdexcept>

namespace sandbox::tsql {

namespace {

using db::quoteName;
using db::quoteText;

// A parse failure, carried out of the nested helpers to parse().
struct ParseError {
    Message message;
};

[[noreturn]] void fail(const Message &m)
{
    throw ParseError{m};
}

const Token *tokenAt(const QList<Token> &tokens, qsizetype i)
{
    return i >= 0 && i < tokens.size() ? &tokens.at(i) : nullptr;
}

bool isOneOf(const Token *t, std::initializer_list<const char *> keywords)
{
    if (!t)
        return false;
    for (const char *k : keywords)
        if (t->is(k))
            return true;
    return false;
}

bool isSymbol(const Token *t, const char *s)
{
    return t && t->isSymbol(s);
}

bool isOneOfSymbols(const Token *t, std::initializer_list<const char *> symbols)
{
    for (const char *s : symbols)
        if (isSymbol(t, s))
            return true;
    return false;
}

// ---------------------------------------------------------------------------------------------
// Splitting a batch into statements.

const std::initializer_list<const char *> kStatementWords = {
    "SELECT",     "INSERT",   "UPDATE",   "DELETE",     "SET",        "EXEC",   "EXECUTE",     "USE",
    "CREATE",     "DROP",     "ALTER",    "DECLARE",    "PRINT",      "IF",     "WHILE",       "BEGIN",
    "COMMIT",     "ROLLBACK", "TRUNCATE", "RETURN",     "MERGE",      "GRANT",  "REVOKE",      "DENY",
    "RAISERROR",  "WAITFOR",  "BREAK",    "CONTINUE",   "GOTO",       "OPEN",   "CLOSE",       "FETCH",
    "DEALLOCATE", "BACKUP",   "RESTORE",  "CHECKPOINT", "DBCC",       "KILL",   "RECONFIGURE", "SHUTDOWN",
    "BULK",       "SAVE",     "READTEXT", "WRITETEXT",  "UPDATETEXT", "SETUSER"};

// Words of valid queries that the sandbox does not run: refused by name wherever they stand.
const std::initializer_list<const char *> kQueryWordsNotRun = {
    "OPTION",   "FOR",       "PIVOT",         "UNPIVOT",        "TABLESAMPLE",
    "COMPUTE",  "OPENQUERY", "OPENROWSET",    "OPENDATASOURCE", "OPENXML",
    "CONTAINS", "FREETEXT",  "CONTAINSTABLE", "FREETEXTTABLE",  "WITHIN",
    "OUTPUT",   "OFFSET",    "CURRENT_USER",  "SESSION_USER",   "SYSTEM_USER",
    "USER"};

// The server's global variables that the sandbox does not give (others are refused as
// undeclared).
const std::initializer_list<const char *> kGlobalsNotGiven = {
    "CONNECTIONS",     "CPU_BUSY",      "CURSOR_ROWS",  "DATEFIRST",  "DBTS",          "ERROR",
    "FETCH_STATUS",    "IDENTITY",      "IDLE",         "IO_BUSY",    "LANGID",        "LOCK_TIMEOUT",
    "MAX_CONNECTIONS", "MAX_PRECISION", "NESTLEVEL",    "OPTIONS",    "PACKET_ERRORS", "PACK_RECEIVED",
    "PACK_SENT",       "PROCID",        "REMSERVER",    "ROWCOUNT",   "SERVICENAME",   "SPID",
    "TEXTSIZE",        "TIMETICKS",     "TOTAL_ERRORS", "TOTAL_READ", "TOTAL_WRITE"};

// A query's word that the sandbox does not run, or a query in parentheses after UNION, EXCEPT or
// INTERSECT: refused by name, never left for SQLite to call bad syntax.
void refuseWhatIsNotRun(const QList<Token> &tokens)
{
    for (qsizetype k = 0; k < tokens.size(); ++k) {
        const Token &t = tokens.at(k);
        const Token *next = tokenAt(tokens, isOneOf(tokenAt(tokens, k + 1), {"ALL"}) ? k + 2 : k + 1);
        if (isOneOf(&t, {"UNION", "EXCEPT", "INTERSECT"}) && isSymbol(next, "("))
            fail(sqlerr::notSupported(t.text.toUpper() + QStringLiteral(" (SELECT ...)"), t.line));
        if (isOneOf(&t, kQueryWordsNotRun))
            fail(sqlerr::notSupported(t.text.toUpper(), t.line));
        if (t.is("INTO") && !isOneOf(tokenAt(tokens, k - 1), {"INSERT"}))
            fail(sqlerr::notSupported(QStringLiteral("SELECT ... INTO"), t.line));
    }
}

class Splitter {
public:
    explicit Splitter(const QList<Token> &tokens) : tokens(tokens) {}

    QList<QList<Token>> run()
    {
        for (qsizetype i = 0; i < tokens.size(); ++i) {
            const Token &t = tokens.at(i);
            if (depth == 0 && t.isSymbol(";")) {
                flush();
                continue;
            }
            if (depth == 0 && !current.isEmpty() && startsStatement(i))
                flush();
            if (depth == 0)
                noteTopLevel(t);
            if (t.isSymbol("("))
                ++depth;
            else if (t.isSymbol(")") && depth > 0)
                --depth;
            current.append(t);
        }
        flush();
        return statements;
    }

private:
    void flush()
    {
        if (!current.isEmpty())
            statements.append(current);
        current.clear();
        depth = 0;
        seenQuery = seenSet = seenValues = false;
    }

    void noteTopLevel(const Token &t)
    {
        if (current.isEmpty())
            return;
        if (isOneOf(&t, {"SELECT", "INSERT", "UPDATE", "DELETE"}))
            seenQuery = true;
        if (t.is("SET"))
            seenSet = true;
        if (t.is("VALUES") || t.is("DEFAULT"))
            seenValues = true;
    }

    bool startsStatement(qsizetype i) const
    {
        const Token &t = tokens.at(i);
        const Token *prev = tokenAt(tokens, i - 1);
        const Token &verb = current.first();
        if (t.is("WITH")) {
            // "WITH cte AS (" or "WITH cte (a, b) AS", not a table hint "WITH (NOLOCK)" or "WITH TIES".
            const Token *name = tokenAt(tokens, i + 1);
            const Token *after = tokenAt(tokens, i + 2);
            return name && name->isName() && !name->is("TIES") &&
                   (isOneOf(after, {"AS"}) || isSymbol(after, "("));
        }
        if (!isOneOf(&t, kStatementWords))
            return false;
        if (t.is("SELECT")) {
            if (isOneOf(prev, {"UNION", "ALL", "EXCEPT", "INTERSECT", "AS"}))
                return false;
            if (verb.is("INSERT") && !seenQuery && !seenValues)
                return false;
            if (verb.is("WITH") && !seenQuery)
                return false;
            return true;
        }
        if (isOneOf(&t, {"INSERT", "UPDATE", "DELETE"}))
            return !(verb.is("WITH") && !seenQuery);
        if (t.is("SET"))
            return !(verb.is("UPDATE") && !seenSet);
        return true;
    }

    const QList<Token> &tokens;
    QList<QList<Token>> statements;
    QList<Token> current;
    int depth = 0;
    bool seenQuery = false; // after the verb, at the top level
    bool seenSet = false;
    bool seenValues = false;
};

// ---------------------------------------------------------------------------------------------
// Rewriting a query for SQLite.

QString globalVariable(const Token &t)
{
    const QString name = t.text.mid(2).toUpper();
    if (name == QLatin1String("VERSION"))
        return quoteText(
            QStringLiteral("QEL 31 sandbox server 1.0 (SQLite %1)").arg(QLatin1String(sqlite3_libversion())));
    if (name == QLatin1String("SERVERNAME"))
        return quoteText(QStringLiteral("QEL31SANDBOX"));
    if (name == QLatin1String("LANGUAGE"))
        return quoteText(QStringLiteral("us_english"));
    if (name == QLatin1String("TRANCOUNT"))
        return QStringLiteral("0");
    const Token word{TokenKind::Word, name, name, t.line};
    if (isOneOf(&word, kGlobalsNotGiven))
        fail(sqlerr::notSupported(t.text.toUpper(), t.line));
    fail(sqlerr::undeclaredVariable(t.text, t.line));
}

class Rewriter {
public:
    // With types, a '+' between text operands becomes SQLite's '||'.
    explicit Rewriter(const QList<Token> &tokens, const ExpressionTypes *types = nullptr, int level = 0)
        : tokens(tokens), types(types), level(level)
    {
        // Each function call, operand and conversion is rewritten by a rewriter of its own; the
        // server refuses an expression nested this deep, and so does the sandbox before its stack
        // runs out.
        if (level > kMaxNesting)
            fail(sqlerr::make(
                191, 15, 1,
                QStringLiteral("Some part of your SQL statement is nested too deeply. Rewrite the "
                               "query or break it up into smaller queries."),
                tokens.isEmpty() ? 1 : tokens.first().line));
    }

    // In a definition: text columns declared without a collation take the database's.
    void collateTextColumns() { definingColumns = true; }

    QString run()
    {
        limits.append(QString());
        for (i = 0; i < tokens.size(); ++i) {
            if (rewriteSimpleCase() || rewriteSelectAlias() || rewriteComparison() || rewriteArithmetic() ||
                rewriteComparedText())
                continue;
            rewrite(tokens.at(i));
        }
        closeLimit();
        return out.join(u' ');
    }

private:
    static constexpr int kMaxNesting = 100;

    Rewriter nested(const QList<Token> &part) const { return Rewriter(part, types, level + 1); }

    const Token *peek(qsizetype k) const { return tokenAt(tokens, i + k); }

    // The type of tokens [from, to) of this rewriter's own tokens (a nested rewriter holds a part
    // of the statement).
    QString typeAt(qsizetype from, qsizetype to) const
    {
        return types ? types->typeOf(tokens.mid(from, to - from)) : QString();
    }

    void closeLimit()
    {
        if (!limits.last().isEmpty())
            out << QStringLiteral("LIMIT") << limits.last();
        limits.last().clear();
    }

    void rewrite(const Token &t)
    {
        switch (t.kind) {
        case TokenKind::Word:
            rewriteWord(t);
            return;
        case TokenKind::Name:
            if (skipSchema(t))
                return;
            out << quoteName(t.value);
            return;
        case TokenKind::String:
            out << t.text << collate();
            return;
        case TokenKind::NString:
            out << t.text.mid(1) << collate();
            return;
        case TokenKind::Number:
            out << t.text;
            return;
        case TokenKind::Binary: {
            QString hex = t.text.mid(2);
            if (hex.size() % 2)
                hex.prepend(u'0');
            out << QStringLiteral("X'%1'").arg(hex);
            return;
        }
        case TokenKind::Variable:
            if (t.text.startsWith(QLatin1String("@@")))
                out << globalVariable(t);
            else
                out << t.text << collate();
            return;
        case TokenKind::Symbol:
            rewriteSymbol(t);
            return;
        }
    }

    // "dbo.x" and "qel.dbo.x" name the object x of the one database; "dbo.x.y" is the column y of x.
    bool skipSchema(const Token &t)
    {
        const Token *prev = tokenAt(tokens, i - 1);
        if (isSymbol(prev, "."))
            return false;
        const auto isDbo = [](const Token *n) {
            return n && n->isName() && n->value.compare(QLatin1String("dbo"), Qt::CaseInsensitive) == 0;
        };
        const Token *d1 = peek(1), *n2 = peek(2), *d2 = peek(3), *n3 = peek(4);
        if (isSymbol(d1, ".") && isDbo(n2) && isSymbol(d2, ".") && n3 && n3->isName()) {
            i += 3; // database . schema . leaves the object, written in the next round
            return true;
        }
        if (isDbo(&t) && isSymbol(d1, ".") && n2 && n2->isName()) {
            ++i; // the dot; the object follows in the next round
            return true;
        }
        return false;
    }

    void rewriteWord(const Token &t)
    {
        if (skipSchema(t))
            return;
        if (t.is("SELECT")) {
            out << t.text;
            if (isOneOf(peek(1), {"ALL", "DISTINCT"})) {
                ++i;
                out << tokens.at(i).text;
            }
            if (isOneOf(peek(1), {"TOP"})) {
                ++i;
                readTop();
            }
            return;
        }
        if (t.is("WITH") && i > 0 && isSymbol(peek(1), "(")) {
            // A table hint, "WITH (NOLOCK)": SQLite has no such thing, and nothing to lock.
            int depth = 0;
            for (++i; i < tokens.size(); ++i) {
                if (tokens.at(i).isSymbol("("))
                    ++depth;
                else if (tokens.at(i).isSymbol(")") && --depth == 0)
                    return;
            }
            fail(sqlerr::syntax(t.text, t.line));
        }
        if (t.is("TOP"))
            fail(sqlerr::notSupported(QStringLiteral("TOP"), t.line));
        if (t.is("CAST") && isSymbol(peek(1), "(") && rewriteCast())
            return;
        if (types && t.is("CONVERT") && isSymbol(peek(1), "(") && rewriteConvert())
            return;
        if (t.is("DATEADD") && isSymbol(peek(1), "(") && rewriteDateAdd())
            return;
        // The other functions of a date part (their first argument is no column) and the aggregates
        // SQLite lacks are refused by name before SQLite could look for them.
        if (isOneOf(&t, {"DATEDIFF", "DATEDIFF_BIG", "DATENAME", "DATEPART", "COUNT_BIG", "STDEV", "STDEVP",
                         "VAR", "VARP"}) &&
            isSymbol(peek(1), "("))
            fail(sqlerr::notSupported(t.text.toUpper(), t.line));
        if (types && isSymbol(peek(1), "(") && isOneOf(&t, {"SUM", "AVG", "MIN", "MAX", "COUNT"}) &&
            rewriteAggregate())
            return;
        if (t.is("COLLATE")) {
            rewriteCollate(t);
            return;
        }
        if (definingColumns && isOneOf(&t, {"VARCHAR", "NVARCHAR", "CHAR", "NCHAR", "TEXT", "NTEXT"}) &&
            tokenAt(tokens, i - 1) && tokenAt(tokens, i - 1)->isName()) {
            out << t.text;
            if (isSymbol(peek(1), "(")) {
                const qsizetype close = matching(i + 1, 1);
                if (close < 0)
                    fail(sqlerr::syntax(t.text, t.line));
                while (i < close)
                    rewrite(tokens.at(++i));
            }
            if (!isOneOf(peek(1), {"COLLATE"}))
                out << QStringLiteral("COLLATE %1").arg(QLatin1String(collation::kName));
            return;
        }
        if (isSymbol(peek(1), "(")) {
            if (t.is("GETDATE") && isSymbol(peek(2), ")")) {
                i += 2;
                out << QStringLiteral("strftime('%Y-%m-%dT%H:%M:%f', 'now', 'localtime')");
                return;
            }
            if (isFunctionCall()) {
                rewriteFunction(t);
                return;
            }
        }
        out << t.text;
    }

    // Whether the word at i, followed by "(", calls one of the server's functions: not a table
    // or a type with its parentheses, nor a construct with its own rewriting.
    bool isFunctionCall() const
    {
        const Token &t = tokens.at(i);
        if (t.kind != TokenKind::Word || (isClauseWord(t) && !isOneOf(&t, {"LEFT", "RIGHT"})))
            return false;
        if (isOneOf(&t, {"CHECK",    "UNIQUE",     "PRIMARY", "FOREIGN",  "KEY",       "DEFAULT",
                         "IDENTITY", "CONSTRAINT", "VARCHAR", "NVARCHAR", "CHAR",      "NCHAR",
                         "BINARY",   "VARBINARY",  "DECIMAL", "NUMERIC",  "FLOAT",     "DATETIME2",
                         "TIME",     "CAST",       "CONVERT", "DATEADD",  "GETDATE",   "COUNT",
                         "SUM",      "MIN",        "MAX",     "AVG",      "COUNT_BIG", "OPTION",
                         "OUTPUT",   "RAISERROR",  "PRINT",   "EXEC",     "EXECUTE",   "REFERENCES"}))
            return false;
        // "WITH name (a, b) AS (...)": the columns of a common table expression.
        const qsizetype close = matching(i + 1, 1);
        if (close > 0 && isOneOf(tokenAt(tokens, close + 1), {"AS"}) &&
            isSymbol(tokenAt(tokens, close + 2), "("))
            return false;
        const Token *prev = tokenAt(tokens, i - 1);
        if (!prev)
            return true;
        if (isOneOf(prev,
                    {"INTO", "INSERT", "TABLE", "UPDATE", "FROM", "JOIN", "EXEC", "EXECUTE", "REFERENCES",
                     "INDEX", "MERGE", "USING", "PROCEDURE", "PROC", "FUNCTION", "VIEW", "TRIGGER"}))
            return false;
        if (prev->kind == TokenKind::Symbol)
            return !prev->isSymbol(")") && !prev->isSymbol(".");
        // "AS x (n)": a derived table's columns; "CREATE INDEX i ON t (c)": an index's.
        if (prev->is("AS") || (prev->is("ON") && !tokens.isEmpty() && tokens.first().is("CREATE")))
            return false;
        return prev->kind == TokenKind::Word && isClauseWord(*prev);
    }

    // A call of the server's function at i: written as the SQLite function that does the same,
    // its arguments counted as the server counts them; a function the sandbox does not run is
    // refused by name, a name the server does not know is 195.
    void rewriteFunction(const Token &t)
    {
        const QString upper = t.text.toUpper();
        const QString sqliteName = functions::sqliteName(upper);
        if (sqliteName.isEmpty()) {
            if (functions::isServerFunction(upper))
                fail(sqlerr::notSupported(upper, t.line));
            fail(sqlerr::unknownFunction(t.text, t.line));
        }
        const qsizetype open = i + 1;
        const qsizetype close = matching(open, 1);
        if (close < 0)
            fail(sqlerr::syntax(t.text, t.line));
        const QList<QList<Token>> args = close > open + 1 ? arguments(open, close) : QList<QList<Token>>();
        for (qsizetype k = 0; k < args.size(); ++k)
            if (args.at(k).isEmpty())
                fail(sqlerr::syntax(k + 1 < args.size() ? QStringLiteral(",") : QStringLiteral(")"), t.line));
        const functions::Arity arity = functions::arity(upper);
        const int given = int(args.size());
        if (given < arity.least || (arity.most >= 0 && given > arity.most)) {
            if (arity.least == arity.most)
                fail(sqlerr::make(174, 15, 1,
                                  QStringLiteral("The %1 function requires %2 argument(s).")
                                      .arg(upper.toLower())
                                      .arg(arity.least),
                                  t.line));
            fail(sqlerr::make(189, 15, 1,
                              QStringLiteral("The %1 function requires %2 to %3 arguments.")
                                  .arg(upper.toLower())
                                  .arg(arity.least)
                                  .arg(arity.most < 0 ? 254 : arity.most),
                              t.line));
        }
        // A length written as a negative number is refused before the statement runs.
        const qsizetype lengthAt = upper == QLatin1String("SUBSTRING")                                 ? 2
                                   : upper == QLatin1String("LEFT") || upper == QLatin1String("RIGHT") ? 1
                                                                                                       : -1;
        if (lengthAt >= 0) {
            const QList<Token> &length = args.at(lengthAt);
            if (length.size() == 2 && length.first().isSymbol("-") &&
                length.last().kind == TokenKind::Number && length.last().text.toDouble() != 0)
                fail(sqlerr::make(536, 16, upper == QLatin1String("SUBSTRING") ? 8 : 6,
                                  QStringLiteral("Invalid length parameter passed to the %1 function.")
                                      .arg(upper.toLower()),
                                  t.line));
        }
        QStringList written;
        for (const QList<Token> &argument : args)
            written << nested(argument).run();
        // ISNULL gives the first argument's type: the second is converted to it, as a CAST would.
        if (upper == QLatin1String("ISNULL") && types) {
            const QString first = types->typeOf(args.at(0)).trimmed();
            const bool nullFirst = args.at(0).size() == 1 && args.at(0).first().is("NULL");
            if (!first.isEmpty() && !nullFirst &&
                first.compare(types->typeOf(args.at(1)).trimmed(), Qt::CaseInsensitive) != 0) {
                QList<Token> cast;
                const auto symbol = [&](const char *text) {
                    Token s;
                    s.kind = TokenKind::Symbol;
                    s.text = s.value = QString::fromLatin1(text);
                    s.line = t.line;
                    return s;
                };
                Token word;
                word.kind = TokenKind::Word;
                word.line = t.line;
                word.text = word.value = QStringLiteral("CAST");
                cast << word << symbol("(") << args.at(1);
                word.text = word.value = QStringLiteral("AS");
                cast << word;
                for (Token typeToken : tokenize(first).tokens) {
                    typeToken.line = t.line;
                    cast << typeToken;
                }
                cast << symbol(")");
                written[1] = nested(cast).run();
            }
        }
        out << QStringLiteral("%1(%2)").arg(sqliteName, written.join(QStringLiteral(", ")));
        i = close;
    }

    // Words that end or join expressions; none of them is an operand.
    static bool isClauseWord(const Token &t)
    {
        return isOneOf(&t, {"SELECT",  "FROM",    "WHERE",     "AND",    "OR",        "NOT",     "ON",
                            "JOIN",    "INNER",   "LEFT",      "RIGHT",  "FULL",      "OUTER",   "CROSS",
                            "GROUP",   "BY",      "ORDER",     "HAVING", "UNION",     "ALL",     "DISTINCT",
                            "TOP",     "AS",      "SET",       "VALUES", "INTO",      "INSERT",  "UPDATE",
                            "DELETE",  "WHEN",    "THEN",      "ELSE",   "END",       "IS",      "IN",
                            "LIKE",    "BETWEEN", "EXISTS",    "ASC",    "DESC",      "WITH",    "ESCAPE",
                            "COLLATE", "OVER",    "PARTITION", "EXCEPT", "INTERSECT", "DEFAULT", "OUTPUT",
                            "PERCENT", "TIES",    "ANY",       "SOME",   "CASE"});
    }

    // The index of the last token of the operand that starts at `at` (after any signs), or -1
    // when no operand starts there.
    qsizetype operandEnd(qsizetype at) const
    {
        qsizetype k = at;
        while (k < tokens.size() &&
               (tokens.at(k).isSymbol("-") || tokens.at(k).isSymbol("+") || tokens.at(k).isSymbol("~")))
            ++k;
        if (k >= tokens.size())
            return -1;
        const Token &t = tokens.at(k);
        switch (t.kind) {
        case TokenKind::Number:
        case TokenKind::String:
        case TokenKind::NString:
        case TokenKind::Binary:
        case TokenKind::Variable:
            return k;
        case TokenKind::Symbol:
            return t.isSymbol("(") ? matching(k, 1) : -1;
        case TokenKind::Word:
            if (t.is("CASE")) {
                int depth = 0;
                for (qsizetype q = k; q < tokens.size(); ++q) {
                    if (tokens.at(q).is("CASE"))
                        ++depth;
                    else if (tokens.at(q).is("END") && --depth == 0)
                        return q;
                }
                return -1;
            }
            if (t.is("NULL"))
                return k;
            if (isClauseWord(t) && !(isOneOf(&t, {"LEFT", "RIGHT"}) && isSymbol(tokenAt(tokens, k + 1), "(")))
                return -1;
            if (isSymbol(tokenAt(tokens, k + 1), "("))
                return matching(k + 1, 1);
            [[fallthrough]];
        case TokenKind::Name:
            while (isSymbol(tokenAt(tokens, k + 1), ".") && tokenAt(tokens, k + 2) &&
                   tokenAt(tokens, k + 2)->isName())
                k += 2;
            return k;
        }
        return -1;
    }

    // Whether an operand may start at i: not in the middle of one.
    bool operandMayStart() const
    {
        const Token *prev = tokenAt(tokens, i - 1);
        if (!prev)
            return true;
        if (prev->kind == TokenKind::Symbol)
            return !prev->isSymbol(")") && !prev->isSymbol(".");
        return prev->kind == TokenKind::Word && isClauseWord(*prev) && !prev->is("END");
    }

    // The declared type of an operand without its signs.
    QString operandType(qsizetype from, qsizetype to) const
    {
        while (from < to && tokens.at(from).kind == TokenKind::Symbol && !tokens.at(from).isSymbol("("))
            ++from;
        return typeAt(from, to + 1);
    }

    // The class of a declared type for arithmetic: "int", "bigint", "float", "date", "text" or
    // "" when unknown.
    static QString arithmeticClass(const QString &declared)
    {
        static const QRegularExpression base(QStringLiteral("^\\s*([a-z ]+)"),
                                             QRegularExpression::CaseInsensitiveOption);
        const QString name = base.match(declared).captured(1).trimmed().toLower();
        if (name.isEmpty())
            return {};
        if (ExpressionTypes::isText(declared))
            return QStringLiteral("text");
        if (name == QLatin1String("bigint") || name == QLatin1String("smallint") ||
            name == QLatin1String("tinyint"))
            return name;
        if (values::integerRange(name))
            return QStringLiteral("int");
        if (name == QLatin1String("float") || name == QLatin1String("real") ||
            name == QLatin1String("double"))
            return QStringLiteral("float");
        if (name.contains(QLatin1String("date")) || name == QLatin1String("time"))
            return QStringLiteral("date");
        if (name == QLatin1String("numeric") || name == QLatin1String("decimal"))
            return QStringLiteral("numeric");
        return {};
    }

    static QString combined(const QString &a, const QString &b)
    {
        if (a == QLatin1String("float") || b == QLatin1String("float"))
            return QStringLiteral("float");
        if (a.isEmpty() || b.isEmpty())
            return {};
        // The server's precedence of types: an operation of two tinyints is a tinyint, and
        // overflows as one.
        for (const char *type : {"bigint", "int", "smallint"})
            if (a == QLatin1String(type) || b == QLatin1String(type))
                return QString::fromLatin1(type);
        return QStringLiteral("tinyint");
    }

    // At the first operand of an arithmetic expression (a + b * c ...): writes it as calls of
    // qel_arith in the order of the operators' precedence, so that a division by zero or an
    // overflow is raised as the server raises it. False (nothing written) for anything else,
    // and for text joined with '+', which concatenates.
    bool rewriteArithmetic()
    {
        if (!types || !operandMayStart())
            return false;
        const qsizetype first = operandEnd(i);
        if (first < 0)
            return false;
        static const std::initializer_list<const char *> operators = {"+", "-", "*", "/", "%"};
        const auto isOperator = [](const Token *t) {
            if (!t || t->kind != TokenKind::Symbol)
                return false;
            for (const char *op : operators)
                if (t->isSymbol(op))
                    return true;
            return false;
        };
        if (!isOperator(tokenAt(tokens, first + 1)))
            return false;
        QList<std::pair<qsizetype, qsizetype>> operands{{i, first}};
        QStringList ops;
        while (isOperator(tokenAt(tokens, operands.last().second + 1))) {
            const qsizetype at = operands.last().second + 2;
            const qsizetype end = operandEnd(at);
            if (end < 0)
                return false;
            ops << tokens.at(at - 1).text;
            operands.append({at, end});
        }
        QStringList classes;
        for (const auto &[from, to] : operands)
            classes << arithmeticClass(operandType(from, to));
        QString numberClass; // the operands' numbers by precedence, which text converts to
        for (const QString &c : std::as_const(classes))
            if (c != QLatin1String("text") && c != QLatin1String("date") && c != QLatin1String("numeric") &&
                !c.isEmpty())
                numberClass = numberClass.isEmpty() ? c : combined(numberClass, c);
        const bool numbers = !numberClass.isEmpty();
        if (ops.contains(QStringLiteral("+")) && classes.contains(QStringLiteral("text")) && !numbers)
            return false; // concatenation; text and a number add, the text converted to the number
        if (classes.contains(QStringLiteral("date")))
            fail(sqlerr::notSupported(QStringLiteral("arithmetic on dates"), tokens.at(i).line));
        // numeric arithmetic is exact in decimal digits, which SQLite's doubles are not; with a
        // float among the operands the server computes in float too.
        if (classes.contains(QStringLiteral("numeric")) && !classes.contains(QStringLiteral("float")))
            fail(sqlerr::notSupported(QStringLiteral("arithmetic on numeric values"), tokens.at(i).line));
        for (QString &c : classes)
            if (c == QLatin1String("text"))
                c = numbers ? numberClass : QStringLiteral("int"); // text converts to the number's type
        const auto operandText = [&](qsizetype k) {
            return nested(tokens.mid(operands.at(k).first, operands.at(k).second - operands.at(k).first + 1))
                .run();
        };
        const auto call = [](const QString &op, const QString &a, const QString &b, const QString &type) {
            return QStringLiteral("qel_arith('%1', %2, %3, '%4')").arg(op, a, b, type);
        };
        QString term = operandText(0), termClass = classes.at(0);
        QString sum, sumClass, pending;
        for (qsizetype k = 0; k < ops.size(); ++k) {
            const QString &op = ops.at(k);
            if (op == QLatin1String("*") || op == QLatin1String("/") || op == QLatin1String("%")) {
                termClass = combined(termClass, classes.at(k + 1));
                term = call(op, term, operandText(k + 1), termClass);
                continue;
            }
            if (pending.isEmpty()) {
                sum = term;
                sumClass = termClass;
            } else {
                sumClass = combined(sumClass, termClass);
                sum = call(pending, sum, term, sumClass);
            }
            pending = op;
            term = operandText(k + 1);
            termClass = classes.at(k + 1);
        }
        if (!pending.isEmpty())
            term = call(pending, sum, term, combined(sumClass, termClass));
        out << term;
        i = operands.last().second;
        return true;
    }

    // When the token at i is an item of "column [NOT] IN (a, b, ...)": the index of the column's
    // last token; -1 otherwise.
    qsizetype inListColumn() const
    {
        const Token *prev = tokenAt(tokens, i - 1);
        if (!prev || !(prev->isSymbol("(") || prev->isSymbol(",")))
            return -1;
        qsizetype k = i - 1;
        int depth = 0;
        for (; k >= 0; --k) {
            if (tokens.at(k).isSymbol(")"))
                ++depth;
            else if (tokens.at(k).isSymbol("(") && depth-- == 0)
                break;
        }
        if (k < 2 || !tokens.at(k - 1).is("IN"))
            return -1;
        qsizetype column = k - 2;
        if (tokens.at(column).is("NOT"))
            --column;
        return column >= 0 && tokens.at(column).isName() && !isClauseWord(tokens.at(column)) ? column : -1;
    }

    // At the first of two operands compared ("a = b", "f(x) < 'y'"): when one is text and the
    // other a number or a date, the text is converted to the other's type, as the server converts
    // by the precedence of types, instead of SQLite comparing text with a number as unequal.
    // False (nothing written) when the types agree, are unknown, or the operands are parts of a
    // longer expression.
    bool rewriteComparison()
    {
        if (!types || !operandMayStart())
            return false;
        const Token *prev = tokenAt(tokens, i - 1);
        if (prev && prev->kind == TokenKind::Symbol && !prev->isSymbol("(") && !prev->isSymbol(","))
            return false; // after an operator: a part of a longer operand
        // "SET a = 1, c = x" and "SELECT name = x" assign; they compare nothing.
        if (inAssignmentList())
            return false;
        const qsizetype leftEnd = expressionEnd(i);
        if (leftEnd < i)
            return false;
        const Token *op = tokenAt(tokens, leftEnd + 1);
        if (!isOneOfSymbols(op, {"=", "<>", "!=", "<", ">", "<=", ">=", "!<", "!>"}))
            return false;
        const qsizetype rightEnd = expressionEnd(leftEnd + 2);
        if (rightEnd < leftEnd + 2)
            return false;
        if (isOneOf(tokenAt(tokens, rightEnd + 1), {"COLLATE"}))
            return false;
        if (tokens.at(i).is("NULL") || tokens.at(leftEnd + 2).is("NULL"))
            return false;
        const QString leftType = typeAt(i, leftEnd + 1).trimmed().toLower();
        const QString rightType = typeAt(leftEnd + 2, rightEnd + 1).trimmed().toLower();
        const QString leftClass = arithmeticClass(leftType), rightClass = arithmeticClass(rightType);
        const bool leftText = leftClass == QLatin1String("text"),
                   rightText = rightClass == QLatin1String("text");
        if (leftText == rightText || leftClass.isEmpty() || rightClass.isEmpty())
            return false;
        const QString target = leftText ? rightType : leftType;
        const QString targetClass = leftText ? rightClass : leftClass;
        if (targetClass == QLatin1String("numeric"))
            fail(sqlerr::notSupported(QStringLiteral("text compared with numeric values"), op->line));
        const auto operand = [&](qsizetype from, qsizetype to, bool text, const QString &declared) {
            const QString written = nested(tokens.mid(from, to - from + 1)).run();
            if (!text)
                return written;
            const QString kind =
                declared.startsWith(u'n') ? QStringLiteral("nvarchar") : QStringLiteral("varchar");
            if (targetClass == QLatin1String("date"))
                return QStringLiteral("qel_datetime(%1, '%2', '', '%3')")
                    .arg(written, target == QLatin1String("date") ? target : QStringLiteral("datetime"),
                         kind);
            return QStringLiteral("qel_convert(%1, '%2', '%3')")
                .arg(written, target == QLatin1String("integer") ? QStringLiteral("int") : target, kind);
        };
        const QString comparison = op->isSymbol("!<")   ? QStringLiteral(">=")
                                   : op->isSymbol("!>") ? QStringLiteral("<=")
                                                        : op->text;
        out << operand(i, leftEnd, leftText, leftType) << comparison
            << operand(leftEnd + 2, rightEnd, rightText, rightType);
        i = rightEnd;
        return true;
    }

    // Whether the token at i starts an item of a SET list or a select list, where "name = x"
    // assigns: the nearest word before it that begins a clause, at its own level, is SET or the
    // select list's.
    bool inAssignmentList() const { return !assignmentList().isEmpty(); }

    // The word that begins the SET list or select list the token at i is in ("SET", "SELECT",
    // ...), or empty.
    QString assignmentList() const
    {
        int depth = 0;
        for (qsizetype k = i - 1; k >= 0; --k) {
            const Token &t = tokens.at(k);
            if (t.isSymbol(")")) {
                ++depth;
                continue;
            }
            if (t.isSymbol("(")) {
                if (depth-- == 0)
                    return {};
                continue;
            }
            if (depth > 0 || t.kind != TokenKind::Word)
                continue;
            if (isOneOf(&t, {"SET", "SELECT", "DISTINCT", "ALL", "TOP"}))
                return t.text.toUpper();
            if (isClauseWord(t) || t.is("END"))
                return {};
        }
        return {};
    }

    // At "CASE x WHEN v THEN r ... END" whose x and v are text and a number (or a date): written
    // as "CASE WHEN (x) = (v) THEN r ... END", as the server defines it, so that each comparison
    // converts the text as any comparison does. Other simple CASEs stay as they are.
    bool rewriteSimpleCase()
    {
        const Token &t = tokens.at(i);
        if (!types || !t.is("CASE") || !peek(1) || peek(1)->is("WHEN"))
            return false;
        struct Part {
            QString word; // WHEN, THEN, ELSE
            QList<Token> tokens;
        };
        QList<Token> input;
        QList<Part> parts;
        int depth = 0, cases = 0;
        qsizetype end = -1;
        for (qsizetype k = i + 1; k < tokens.size() && end < 0; ++k) {
            const Token &u = tokens.at(k);
            if (u.isSymbol("("))
                ++depth;
            else if (u.isSymbol(")"))
                --depth;
            else if (depth == 0 && u.is("CASE"))
                ++cases;
            else if (depth == 0 && u.is("END")) {
                if (cases == 0) {
                    end = k;
                    break;
                }
                --cases;
            }
            if (depth == 0 && cases == 0 && (u.is("WHEN") || u.is("THEN") || u.is("ELSE"))) {
                parts.append(Part{u.text.toUpper(), {}});
                continue;
            }
            (parts.isEmpty() ? input : parts.last().tokens).append(u);
        }
        if (end < 0 || input.isEmpty() || parts.isEmpty())
            return false;
        const auto classOf = [&](const QList<Token> &e) {
            const QString c = arithmeticClass(types->typeOf(e).trimmed().toLower());
            return c == QLatin1String("text") ? c : c.isEmpty() ? QString() : QStringLiteral("other");
        };
        const QString inputClass = classOf(input);
        bool mixed = false;
        for (const Part &part : std::as_const(parts))
            if (part.word == QLatin1String("WHEN")) {
                const QString c = classOf(part.tokens);
                mixed = mixed || (!c.isEmpty() && !inputClass.isEmpty() && c != inputClass);
            }
        if (!mixed)
            return false;
        const auto token = [&](TokenKind kind, const QString &text) {
            Token made;
            made.kind = kind;
            made.text = made.value = text;
            made.line = t.line;
            return made;
        };
        QList<Token> searched{t};
        for (const Part &part : std::as_const(parts)) {
            searched << token(TokenKind::Word, part.word);
            if (part.word == QLatin1String("WHEN"))
                searched << token(TokenKind::Symbol, QStringLiteral("(")) << input
                         << token(TokenKind::Symbol, QStringLiteral(")"))
                         << token(TokenKind::Symbol, QStringLiteral("="))
                         << token(TokenKind::Symbol, QStringLiteral("(")) << part.tokens
                         << token(TokenKind::Symbol, QStringLiteral(")"));
            else
                searched << part.tokens;
        }
        searched << tokens.at(end);
        out << nested(searched).run();
        i = end;
        return true;
    }

    // At "name = expression" in a select list: the server's other way of writing
    // "expression AS name", written as that.
    bool rewriteSelectAlias()
    {
        const Token &t = tokens.at(i);
        if (!t.isName() || isClauseWord(t) || !isSymbol(peek(1), "=") || !operandMayStart())
            return false;
        const Token *prev = tokenAt(tokens, i - 1);
        if (prev && !prev->isSymbol(",") && prev->kind == TokenKind::Symbol)
            return false;
        const QString list = assignmentList();
        if (list.isEmpty() || list == QLatin1String("SET"))
            return false;
        const qsizetype end = expressionEnd(i + 2);
        if (end < i + 2)
            return false;
        out << nested(tokens.mid(i + 2, end - i - 1)).run() << QStringLiteral("AS") << quoteName(t.value);
        i = end;
        return true;
    }

    // The index of the last token of the expression that starts at `from`: up to a comparison, a
    // comma, a closing parenthesis of an enclosing one, or a word that ends an expression (AND,
    // THEN, FROM, ...); from - 1 when none starts there.
    qsizetype expressionEnd(qsizetype from) const
    {
        int depth = 0;
        qsizetype k = from;
        for (; k < tokens.size(); ++k) {
            const Token &t = tokens.at(k);
            if (t.isSymbol("(") || t.is("CASE")) {
                ++depth;
                continue;
            }
            if (t.isSymbol(")") || (t.is("END") && depth > 0)) {
                if (depth == 0)
                    break;
                --depth;
                continue;
            }
            if (depth > 0)
                continue;
            if (t.isSymbol(",") || t.isSymbol(";") ||
                isOneOfSymbols(&t, {"=", "<>", "!=", "<", ">", "<=", ">=", "!<", "!>"}))
                break;
            if (t.kind == TokenKind::Word && (isClauseWord(t) || t.is("END")) &&
                !(isOneOf(&t, {"LEFT", "RIGHT"}) && isSymbol(tokenAt(tokens, k + 1), "(")) && !(t.is("CASE")))
                break;
        }
        return k - 1;
    }

    // Text compared with a column of a number or date type converts to the column's type, as on
    // the server: a text that is no number raises 245 (8114 for float) instead of comparing false,
    // and a date is read under the date format rather than compared as text.
    bool rewriteComparedText()
    {
        if (!types)
            return false;
        const Token &t = tokens.at(i);
        const bool literal = t.kind == TokenKind::String || t.kind == TokenKind::NString ||
                             (t.kind == TokenKind::Variable && !t.text.startsWith(QLatin1String("@@")));
        if (!literal || !operandMayStart())
            return false;
        static const std::initializer_list<const char *> comparisons = {"=",  "<>", "!=", "<", ">",
                                                                        "<=", ">=", "!<", "!>"};
        const auto isComparison = [](const Token *c) {
            if (!c || c->kind != TokenKind::Symbol)
                return false;
            for (const char *s : comparisons)
                if (c->isSymbol(s))
                    return true;
            return false;
        };
        QString other;
        const qsizetype listColumn = inListColumn();
        if (listColumn >= 0) {
            qsizetype from = listColumn;
            while (from >= 2 && tokens.at(from - 1).isSymbol(".") && tokens.at(from - 2).isName())
                from -= 2;
            other = typeAt(from, listColumn + 1);
        } else if (isComparison(tokenAt(tokens, i - 1)) && i >= 2 && tokens.at(i - 2).isName()) {
            qsizetype from = i - 2;
            while (from >= 2 && tokens.at(from - 1).isSymbol(".") && tokens.at(from - 2).isName())
                from -= 2;
            other = typeAt(from, i - 1);
        } else if (isComparison(tokenAt(tokens, i + 1))) {
            const qsizetype end = operandEnd(i + 2);
            const Token *next = tokenAt(tokens, i + 2);
            if (end >= 0 && next && next->isName() && !isSymbol(tokenAt(tokens, i + 3), "("))
                other = typeAt(i + 2, end + 1);
        }
        const QString target = other.trimmed().toLower();
        const bool isDate = target == QLatin1String("datetime") || target == QLatin1String("date");
        if (!values::integerRange(target) && !isDate && target != QLatin1String("float") &&
            target != QLatin1String("real"))
            return false;
        const QString own = typeAt(i, i + 1);
        if (!ExpressionTypes::isText(own))
            return false;
        const QString from =
            own.trimmed().toLower().startsWith(u'n') ? QStringLiteral("nvarchar") : QStringLiteral("varchar");
        if (isDate) {
            // Text compared with a date column is read as a date under the date format.
            out << QStringLiteral("qel_datetime(%1, '%2', '', '%3')").arg(nested({t}).run(), target, from);
            return true;
        }
        out << QStringLiteral("qel_convert(%1, '%2', '%3')")
                   .arg(nested({t}).run(),
                        target == QLatin1String("integer") ? QStringLiteral("int") : target, from);
        return true;
    }

    // The type of text that an expression has, as the errors name it: "varchar" or "nvarchar".
    QString textKind(const QList<Token> &expression) const
    {
        const QString declared = types ? types->typeOf(expression).trimmed().toLower() : QString();
        return declared.startsWith(u'n') ? QStringLiteral("nvarchar") : QStringLiteral("varchar");
    }

    // x converted to the type written in tokens [typeFrom, typeTo), as CAST and CONVERT do;
    // style is CONVERT's third argument (empty: none).
    QString converted(const QList<Token> &x, qsizetype typeFrom, qsizetype typeTo, const QList<Token> &style)
    {
        const Token &type = tokens.at(typeFrom);
        const QString value = nested(x).run();
        if (isOneOf(&type, {"SMALLDATETIME", "DATETIME2", "DATETIMEOFFSET", "TIME"}))
            fail(sqlerr::notSupported(type.text.toUpper(), type.line));
        if (isOneOf(&type, {"DATETIME", "DATE"})) {
            const QString kind = type.is("DATE") ? QStringLiteral("date") : QStringLiteral("datetime");
            if (style.isEmpty())
                return QStringLiteral("qel_datetime(%1, '%2', '', '%3')").arg(value, kind, textKind(x));
            // The styles that read text in a fixed order of day, month and year.
            static const QHash<QString, QString> orders = {
                {"1", "mdy"},   {"101", "mdy"}, {"3", "dmy"},   {"103", "dmy"}, {"4", "dmy"},  {"104", "dmy"},
                {"5", "dmy"},   {"105", "dmy"}, {"10", "mdy"},  {"110", "mdy"}, {"11", "ymd"}, {"111", "ymd"},
                {"112", "ymd"}, {"120", "ymd"}, {"121", "ymd"}, {"126", "ymd"}};
            if (style.size() == 1 && style.first().kind == TokenKind::Number &&
                orders.contains(style.first().text))
                return QStringLiteral("qel_datetime(%1, '%2', '%3', '%4')")
                    .arg(value, kind, orders.value(style.first().text), textKind(x));
            fail(sqlerr::notSupported(QStringLiteral("CONVERT style %1").arg(style.first().text), type.line));
        }
        if (!style.isEmpty())
            fail(sqlerr::notSupported(QStringLiteral("CONVERT style %1").arg(style.first().text), type.line));
        const QString name = type.text.toLower();
        if (values::integerRange(name) || name == QLatin1String("float") || name == QLatin1String("real")) {
            if (typeTo - typeFrom > 1 && name != QLatin1String("float"))
                fail(sqlerr::syntax(tokens.at(typeFrom + 1).text, type.line));
            return QStringLiteral("qel_convert(%1, '%2', '%3')")
                .arg(value, name == QLatin1String("integer") ? QStringLiteral("int") : name, textKind(x));
        }
        if (types &&
            types->typeOf(x).trimmed().compare(QLatin1String("datetime"), Qt::CaseInsensitive) == 0 &&
            isOneOf(&type, {"VARCHAR", "NVARCHAR", "CHAR", "NCHAR", "TEXT", "NTEXT"}))
            fail(sqlerr::notSupported(QStringLiteral("CAST of datetime to %1").arg(type.text.toLower()),
                                      type.line));
        if (isOneOf(&type, {"DECIMAL", "NUMERIC", "MONEY", "SMALLMONEY", "DEC"}))
            fail(sqlerr::notSupported(QStringLiteral("CAST AS %1").arg(type.text.toUpper()), type.line));
        if (!isOneOf(&type, {"VARCHAR", "NVARCHAR", "CHAR", "NCHAR", "VARBINARY", "BINARY"}))
            fail(sqlerr::notSupported(QStringLiteral("CAST AS %1").arg(type.text.toUpper()), type.line));
        // Without a width CAST and CONVERT give 30; (max) is a width no value reaches.
        QString width = QStringLiteral("30");
        if (typeTo - typeFrom == 4 && tokens.at(typeFrom + 2).is("MAX"))
            width = QStringLiteral("2147483647");
        else if (typeTo - typeFrom == 4 && tokens.at(typeFrom + 2).kind == TokenKind::Number)
            width = tokens.at(typeFrom + 2).text;
        else if (typeTo - typeFrom != 1)
            fail(sqlerr::syntax(tokens.at(typeFrom + 1).text, type.line));
        const QString kind = textKind(x);
        if (!isOneOf(&type, {"VARBINARY", "BINARY"}))
            return QStringLiteral("qel_text(%1, %2, '%3')")
                .arg(value, width,
                     name.startsWith(u'n') ? QStringLiteral("nvarchar") : QStringLiteral("varchar"));
        // Text becomes its bytes (Windows-1251 for varchar, UTF-16LE for nvarchar), bytes stay bytes;
        // other types' bytes are not kept here.
        const QString from = types ? types->typeOf(x).section(u'(', 0, 0).trimmed().toLower() : QString();
        if (!from.isEmpty() &&
            !QStringList{"varchar", "nvarchar", "char", "nchar", "varbinary", "binary"}.contains(from))
            fail(sqlerr::notSupported(QStringLiteral("CAST of %1 to %2").arg(from, name), type.line));
        return QStringLiteral("qel_binary(%1, %2, '%3', %4)")
            .arg(value, width, from.endsWith(QLatin1String("binary")) ? from : kind,
                 type.is("BINARY") ? "1" : "0");
    }

    // At CAST: CAST(x AS type) as the server converts, or a refusal of the types kept nowhere.
    bool rewriteCast()
    {
        const qsizetype open = i + 1;
        const qsizetype close = matching(open, 1);
        if (close < 0)
            return false;
        qsizetype as = -1;
        int depth = 0;
        for (qsizetype k = open + 1; k < close; ++k) {
            if (tokens.at(k).isSymbol("("))
                ++depth;
            else if (tokens.at(k).isSymbol(")"))
                --depth;
            else if (depth == 0 && tokens.at(k).is("AS"))
                as = k;
        }
        if (as < 0 || as + 1 >= close || tokens.at(as + 1).kind != TokenKind::Word)
            return false;
        out << converted(tokens.mid(open + 1, as - open - 1), as + 1, close, {});
        i = close;
        return true;
    }

    // The arguments of the call whose parenthesis opens at open and closes at close.
    QList<QList<Token>> arguments(qsizetype open, qsizetype close) const
    {
        QList<QList<Token>> parts(1);
        int depth = 0;
        for (qsizetype k = open + 1; k < close; ++k) {
            const Token &t = tokens.at(k);
            if (t.isSymbol("("))
                ++depth;
            else if (t.isSymbol(")"))
                --depth;
            if (depth == 0 && t.isSymbol(",")) {
                parts.append(QList<Token>());
                continue;
            }
            parts.last().append(t);
        }
        return parts;
    }

    // At CONVERT: CONVERT(type, x [, style]).
    bool rewriteConvert()
    {
        const qsizetype open = i + 1;
        const qsizetype close = matching(open, 1);
        if (close < 0)
            return false;
        const QList<QList<Token>> args = arguments(open, close);
        if (args.size() < 2 || args.size() > 3 || args.first().isEmpty() || args.at(1).isEmpty() ||
            args.first().first().kind != TokenKind::Word)
            fail(sqlerr::syntax(tokens.at(close).text, tokens.at(close).line));
        const qsizetype typeFrom = open + 1;
        out << converted(args.at(1), typeFrom, typeFrom + args.first().size(),
                         args.size() == 3 ? args.at(2) : QList<Token>());
        i = close;
        return true;
    }

    // At DATEADD: DATEADD(part, number, date) computed by qel_dateadd.
    bool rewriteDateAdd()
    {
        const qsizetype open = i + 1;
        const qsizetype close = matching(open, 1);
        if (close < 0)
            return false;
        const QList<QList<Token>> args = arguments(open, close);
        if (args.size() != 3 || args.first().size() != 1 || !args.first().first().isName() ||
            args.at(1).isEmpty() || args.at(2).isEmpty())
            fail(sqlerr::syntax(tokens.at(close).text, tokens.at(close).line));
        const QString declared = types ? types->typeOf(args.at(2)).trimmed().toLower() : QString();
        out << QStringLiteral("qel_dateadd('%1', %2, %3, '%4')")
                   .arg(args.first().first().value.toLower(), nested(args.at(1)).run(),
                        nested(args.at(2)).run(),
                        declared == QLatin1String("date") ? QStringLiteral("date")
                                                          : QStringLiteral("datetime"));
        i = close;
        return true;
    }

    // At an aggregate over an expression: its value, and a note when a NULL was left out of it
    // (warning 8153). COUNT(*) and windowed aggregates are written as they are.
    bool rewriteAggregate()
    {
        const qsizetype open = i + 1;
        const qsizetype close = matching(open, 1);
        if (close < 0 || close == open + 1 || isOneOf(tokenAt(tokens, close + 1), {"OVER"}))
            return false;
        if (close == open + 2 && tokens.at(open + 1).isSymbol("*"))
            return false;
        QList<Token> argument = tokens.mid(open + 1, close - open - 1);
        QString modifier;
        if (isOneOf(&argument.first(), {"DISTINCT", "ALL"})) {
            modifier = argument.first().text + u' ';
            argument.removeFirst();
            if (argument.isEmpty())
                return false;
        }
        const QString value = nested(argument).run();
        const QString function = tokens.at(i).text.toUpper();
        const QString declared = types->typeOf(argument).trimmed().toLower();
        if ((function == QLatin1String("SUM") || function == QLatin1String("AVG")) &&
            ExpressionTypes::isText(declared))
            fail(sqlerr::make(8117, 16, 1,
                              QStringLiteral("Operand data type %1 is invalid for %2 operator.")
                                  .arg(declared.section(u'(', 0, 0).trimmed(), function.toLower()),
                              tokens.at(i).line));
        if (function == QLatin1String("AVG") && values::integerRange(declared)) {
            // The average of integers is their sum divided by their count in the sum's type:
            // integer division, and the sum may overflow as SUM's does.
            const QString type = declared == QLatin1String("bigint") ? declared : QStringLiteral("int");
            out << QStringLiteral(
                       "qel_aggregate(qel_arith('/', qel_arith('+', SUM(%1%2), 0, '%3'), COUNT(%1%2), "
                       "'%3'), COUNT(*) > COUNT(%2))")
                       .arg(modifier, value, type);
            i = close;
            return true;
        }
        out << QStringLiteral("qel_aggregate(%1(%2%3), COUNT(*) > COUNT(%3))")
                   .arg(tokens.at(i).text, modifier, value);
        i = close;
        return true;
    }

    // At COLLATE: the database's collation is kept; another of the server's is refused; a name
    // the server does not know is error 448.
    void rewriteCollate(const Token &t)
    {
        const Token *name = peek(1);
        if (!name || !name->isName())
            fail(sqlerr::syntax(t.text, t.line));
        if (name->value.compare(QLatin1String(collation::kName), Qt::CaseInsensitive) == 0) {
            out << t.text << QLatin1String(collation::kName);
            ++i;
            return;
        }
        if (collation::isServerCollation(name->value))
            fail(sqlerr::notSupported(QStringLiteral("COLLATE %1").arg(name->value), t.line));
        fail(sqlerr::make(448, 16, 1, QStringLiteral("Invalid collation '%1'.").arg(name->value), t.line));
    }

    // At TOP: reads "n", "@P1" or "(expr)" and keeps it as the LIMIT of this query level.
    void readTop()
    {
        const Token &top = tokens.at(i);
        const Token *n = peek(1);
        if (!n)
            fail(sqlerr::syntax(top.text, top.line));
        QString limit;
        if ((n->kind == TokenKind::Number && !n->text.contains(u'.') &&
             !n->text.contains(u'e', Qt::CaseInsensitive)) ||
            (n->kind == TokenKind::Variable && !n->text.startsWith(QLatin1String("@@")))) {
            limit = n->text;
            ++i;
        } else if (n->isSymbol("(")) {
            qsizetype end = i + 1;
            int depth = 0;
            for (; end < tokens.size(); ++end) {
                if (tokens.at(end).isSymbol("("))
                    ++depth;
                else if (tokens.at(end).isSymbol(")") && --depth == 0)
                    break;
            }
            if (end >= tokens.size())
                fail(sqlerr::syntax(n->text, n->line));
            limit = u'(' + nested(tokens.mid(i + 2, end - i - 2)).run() + u')';
            i = end;
        } else {
            fail(sqlerr::syntax(n->text, n->line));
        }
        if (isOneOf(peek(1), {"PERCENT"}) || (isOneOf(peek(1), {"WITH"}) && isOneOf(peek(2), {"TIES"})))
            fail(sqlerr::notSupported(peek(1)->text.toUpper() == QLatin1String("PERCENT")
                                          ? QStringLiteral("PERCENT")
                                          : QStringLiteral("WITH TIES"),
                                      top.line));
        limits.last() = limit;
    }

    // Text literals and parameters compare under the database collation, as on the server; the
    // definitions of tables keep theirs as written.
    QString collate() const
    {
        return types ? QStringLiteral("COLLATE %1").arg(QLatin1String(collation::kName)) : QString();
    }

    // The index of the matching parenthesis, searching from the one at `at` in the direction step.
    qsizetype matching(qsizetype at, int step) const
    {
        int depth = 0;
        for (qsizetype k = at; k >= 0 && k < tokens.size(); k += step) {
            if (tokens.at(k).isSymbol("("))
                depth += step;
            else if (tokens.at(k).isSymbol(")"))
                depth -= step;
            if (depth == 0)
                return k;
        }
        return -1;
    }

    // Whether the operand that ends just before the '+' at i, or the one that starts just after
    // it, is text: then the '+' concatenates.
    bool concatenates() const
    {
        if (!types)
            return false;
        qsizetype from = i - 1;
        if (from >= 0 && tokens.at(from).isSymbol(")")) {
            from = matching(from, -1);
            if (from > 0 && tokens.at(from - 1).kind == TokenKind::Word)
                --from;
        } else {
            while (from >= 2 && tokens.at(from - 1).isSymbol(".") && tokens.at(from - 2).isName())
                from -= 2;
        }
        if (from >= 0 && ExpressionTypes::isText(typeAt(from, i)))
            return true;
        qsizetype to = i + 1;
        if (to < tokens.size() && tokens.at(to).isName() && isSymbol(tokenAt(tokens, to + 1), "(")) {
            to = matching(to + 1, 1);
        } else if (to < tokens.size() && tokens.at(to).isSymbol("(")) {
            to = matching(to, 1);
        } else {
            while (to + 2 < tokens.size() && tokens.at(to + 1).isSymbol(".") && tokens.at(to + 2).isName())
                to += 2;
        }
        return to >= 0 && to < tokens.size() && ExpressionTypes::isText(typeAt(i + 1, to + 1));
    }

    void rewriteSymbol(const Token &t)
    {
        const QString &s = t.text;
        if (s == QLatin1String("+") && concatenates()) {
            out << QStringLiteral("||");
            return;
        }
        if (s == QLatin1String("(")) {
            // "(MAX)" of a type: SQLite's type names take numbers only; a width beyond any sized
            // type keeps the column's type a (max) one.
            if (isOneOf(peek(1), {"MAX"}) && isSymbol(peek(2), ")")) {
                i += 2;
                out << QStringLiteral("(2147483647)");
                return;
            }
            limits.append(QString());
            out << s;
            return;
        }
        if (s == QLatin1String(")")) {
            if (limits.size() > 1) {
                closeLimit();
                limits.removeLast();
            }
            out << s;
            return;
        }
        if (s == QLatin1String("!<")) {
            out << QStringLiteral(">=");
            return;
        }
        if (s == QLatin1String("!>")) {
            out << QStringLiteral("<=");
            return;
        }
        static const QStringList allowed = {QStringLiteral(","),  QStringLiteral("."),  QStringLiteral("+"),
                                            QStringLiteral("-"),  QStringLiteral("*"),  QStringLiteral("/"),
                                            QStringLiteral("%"),  QStringLiteral("="),  QStringLiteral("<"),
                                            QStringLiteral(">"),  QStringLiteral("<>"), QStringLiteral("<="),
                                            QStringLiteral(">="), QStringLiteral("!="), QStringLiteral("&"),
                                            QStringLiteral("|"),  QStringLiteral("^"),  QStringLiteral("~")};
        if (!allowed.contains(s))
            fail(sqlerr::syntax(s, t.line));
        out << s;
    }

    const QList<Token> &tokens;
    const ExpressionTypes *types = nullptr;
    int level = 0; // how deep this rewriter lies inside the statement's own
    bool definingColumns = false;
    qsizetype i = 0;
    QStringList out;
    QStringList limits; // the pending LIMIT of each parenthesis level; [0] is the statement
};

// ---------------------------------------------------------------------------------------------
// Statements.

Statement parseExec(const QList<Token> &tokens, qsizetype start)
{
    Statement s;
    s.kind = StatementKind::Exec;
    s.verb = QStringLiteral("EXEC");
    s.line = tokens.first().line;
    qsizetype i = start;
    const Token *name = tokenAt(tokens, i);
    if (!name)
        fail(sqlerr::syntax(tokens.last().text, tokens.last().line));
    if (name->kind == TokenKind::Variable)
        fail(sqlerr::notSupported(QStringLiteral("EXEC @return_status ="), name->line));
    if (!name->isName())
        fail(sqlerr::syntax(name->text, name->line));
    s.procedure = name->value;
    ++i;
    // database.schema.procedure: the last part names it.
    while (isSymbol(tokenAt(tokens, i), ".")) {
        const Token *part = tokenAt(tokens, i + 1);
        if (!part || !part->isName())
            fail(sqlerr::syntax(tokens.at(i).text, tokens.at(i).line));
        s.procedure = part->value;
        i += 2;
    }
    if (i >= tokens.size())
        return s;
    while (true) {
        Argument a;
        const Token *t = tokenAt(tokens, i);
        if (!t)
            fail(sqlerr::syntax(tokens.last().text, tokens.last().line));
        if (t->kind == TokenKind::Variable && isSymbol(tokenAt(tokens, i + 1), "=")) {
            a.name = t->text;
            i += 2;
            t = tokenAt(tokens, i);
            if (!t)
                fail(sqlerr::syntax(QStringLiteral("="), tokens.last().line));
        }
        if (t->isSymbol("-") || t->isSymbol("+")) {
            const Token *number = tokenAt(tokens, i + 1);
            if (!number || number->kind != TokenKind::Number)
                fail(sqlerr::syntax(t->text, t->line));
            a.negative = t->isSymbol("-");
            ++i;
            t = number;
        }
        switch (t->kind) {
        case TokenKind::String:
        case TokenKind::NString:
        case TokenKind::Number:
        case TokenKind::Binary:
        case TokenKind::Variable:
        case TokenKind::Word:
            break;
        default:
            fail(sqlerr::syntax(t->text, t->line));
        }
        a.value = *t;
        s.arguments.append(a);
        ++i;
        if (isOneOf(tokenAt(tokens, i), {"OUTPUT", "OUT"}))
            ++i;
        const Token *sep = tokenAt(tokens, i);
        if (!sep)
            return s;
        if (!sep->isSymbol(","))
            fail(sqlerr::syntax(sep->text, sep->line));
        ++i;
        if (i >= tokens.size())
            fail(sqlerr::syntax(sep->text, sep->line)); // "EXEC p 17, " ends after the comma
    }
}

// The table that the statement at tokens changes or creates: the last part of the name after its
// verb (and INTO, FROM or TABLE); empty for other statements.
QString targetOf(const QList<Token> &tokens)
{
    qsizetype k = isOneOf(tokenAt(tokens, 1), {"INTO", "FROM", "TABLE"}) ? 2 : 1;
    QString name;
    for (; tokenAt(tokens, k) && tokens.at(k).isName(); k += 2) {
        name = tokens.at(k).value;
        if (!isSymbol(tokenAt(tokens, k + 1), "."))
            break;
    }
    return name;
}

Statement parseStatement(const QList<Token> &tokens, bool firstOfBatch, const Catalog &catalog,
                         const ParameterTypes &parameters)
{
    const Token &first = tokens.first();
    Statement s;
    s.line = first.line;
    if (first.kind == TokenKind::Word)
        s.verb = first.text.toUpper();

    if (isOneOf(&first, {"SELECT", "INSERT", "UPDATE", "DELETE", "WITH"})) {
        s.kind = StatementKind::Query;
        // INTO after INSERT and FROM after DELETE may be left out, as the server allows.
        QList<Token> written = tokens;
        const Token *second = tokenAt(tokens, 1);
        const auto insertWord = [&](const char *word) {
            Token t;
            t.kind = TokenKind::Word;
            t.text = t.value = QString::fromLatin1(word);
            t.line = second->line;
            written.insert(1, t);
        };
        if (first.is("INSERT") && second && !second->is("INTO") && second->isName())
            insertWord("INTO");
        if (first.is("DELETE") && second && !second->is("FROM") && second->isName()) {
            int depth = 0;
            for (qsizetype k = 2; k < tokens.size(); ++k) {
                if (tokens.at(k).isSymbol("("))
                    ++depth;
                else if (tokens.at(k).isSymbol(")"))
                    --depth;
                else if (depth == 0 && tokens.at(k).is("FROM"))
                    fail(sqlerr::notSupported(QStringLiteral("DELETE ... FROM"), first.line));
            }
            insertWord("FROM");
        }
        refuseWhatIsNotRun(written);
        if (first.is("INSERT") || first.is("UPDATE"))
            written = convertUnicodeValues(written, catalog, parameters);
        const ExpressionTypes types(written, catalog, parameters);
        s.resultTypes = types.selectList();
        s.resultNames = types.selectNames();
        s.resultNotNull = types.selectNotNull();
        s.resultAggregates = types.selectAggregates();
        s.sqlite = Rewriter(written, &types).run();
        s.target = isOneOf(&first, {"INSERT", "UPDATE", "DELETE"}) ? targetOf(written) : QString();
        for (qsizetype k = 0; k < written.size(); ++k)
            s.widened = s.widened || written.at(k).is("UNION") ||
                        (isOneOf(&written.at(k), {"LEFT", "RIGHT", "FULL"}) &&
                         isOneOf(tokenAt(written, k + 1), {"JOIN", "OUTER"}));
        // numeric and decimal travel as their own TDS type with a precision and a scale; the
        // sandbox keeps neither, so a result of that type is refused, not sent as float.
        for (const QString &type : std::as_const(s.resultTypes))
            if (type.startsWith(QLatin1String("numeric")) || type.startsWith(QLatin1String("decimal")))
                fail(sqlerr::notSupported(QStringLiteral("a result of type %1").arg(type), first.line));
        return s;
    }
    if (first.is("TRUNCATE")) {
        // TRUNCATE TABLE x empties the table: DELETE FROM x.
        if (tokens.size() < 3 || !tokens.at(1).is("TABLE"))
            fail(sqlerr::syntax(tokens.size() > 1 ? tokens.at(1).text : first.text, first.line));
        QList<Token> rest = tokens.mid(2);
        s.kind = StatementKind::Query;
        s.verb = QStringLiteral("DELETE");
        s.sqlite = QStringLiteral("DELETE FROM ") + Rewriter(rest).run();
        return s;
    }
    if (isOneOf(&first, {"CREATE", "DROP", "ALTER"})) {
        s.kind = StatementKind::Definition;
        // Tables and their indexes; every other kind of object is refused by name.
        const Token *object = tokenAt(tokens, 1);
        if (object && object->kind == TokenKind::Word &&
            !(isOneOf(object, {"TABLE"}) || (first.is("CREATE") && isOneOf(object, {"INDEX", "UNIQUE"}))))
            fail(sqlerr::notSupported(s.verb + u' ' + object->text.toUpper(), object->line));
        // Column types whose values the sandbox cannot keep as the server keeps them.
        for (qsizetype k = 1; k < tokens.size(); ++k) {
            const Token &t = tokens.at(k);
            if (tokens.at(k - 1).isName() &&
                isOneOf(&t, {"DECIMAL", "DEC", "NUMERIC", "MONEY", "SMALLMONEY", "SMALLDATETIME", "DATETIME2",
                             "DATETIMEOFFSET", "TIME", "UNIQUEIDENTIFIER", "SQL_VARIANT", "XML", "TIMESTAMP",
                             "ROWVERSION", "HIERARCHYID", "GEOGRAPHY", "GEOMETRY"}))
                fail(sqlerr::notSupported(t.text.toUpper(), t.line));
            // SQLite does not hold foreign keys to account here: refused rather than ignored.
            if (isOneOf(&t, {"REFERENCES", "FOREIGN"}))
                fail(sqlerr::notSupported(t.text.toUpper() == QLatin1String("FOREIGN")
                                              ? QStringLiteral("FOREIGN KEY")
                                              : QStringLiteral("REFERENCES"),
                                          t.line));
        }
        s.target = first.is("CREATE") ? targetOf(tokens) : QString();
        // Each constraint carries a name, the declared one or the one the server would generate.
        const QList<Token> named = constraints::nameConstraints(tokens);
        Rewriter rewriter(named);
        rewriter.collateTextColumns();
        s.sqlite = rewriter.run();
        return s;
    }
    if (first.is("SET")) {
        s.kind = StatementKind::Set;
        const Token *option = tokenAt(tokens, 1);
        if (!option)
            fail(sqlerr::syntax(first.text, first.line));
        if (option->kind == TokenKind::Variable)
            fail(sqlerr::undeclaredVariable(option->text, option->line));
        if (option->kind != TokenKind::Word)
            fail(sqlerr::syntax(option->text, option->line));
        s.option = option->text.toUpper();
        s.optionValue = tokens.mid(2);
        if (s.optionValue.isEmpty())
            fail(sqlerr::syntax(option->text, option->line));
        return s;
    }
    if (isOneOf(&first, {"EXEC", "EXECUTE"}))
        return parseExec(tokens, 1);
    if (first.is("PRINT")) {
        s.kind = StatementKind::Print;
        s.message = tokens.mid(1);
        if (s.message.isEmpty())
            fail(sqlerr::syntax(first.text, first.line));
        return s;
    }
    if (first.is("RAISERROR")) {
        s.kind = StatementKind::Raiserror;
        const Token *open = tokenAt(tokens, 1);
        if (!isSymbol(open, "("))
            fail(sqlerr::syntax(open ? open->text : first.text, first.line));
        qsizetype close = 1;
        int depth = 0;
        for (; close < tokens.size(); ++close) {
            if (tokens.at(close).isSymbol("("))
                ++depth;
            else if (tokens.at(close).isSymbol(")") && --depth == 0)
                break;
        }
        if (close >= tokens.size())
            fail(sqlerr::syntax(tokens.last().text, tokens.last().line));
        QList<Token> argument;
        for (qsizetype k = 2; k < close; ++k) {
            if (tokens.at(k).isSymbol(",")) {
                s.raiseArguments.append(argument);
                argument.clear();
                continue;
            }
            argument.append(tokens.at(k));
        }
        s.raiseArguments.append(argument);
        if (s.raiseArguments.size() < 3) {
            const Token &at = tokens.at(close);
            fail(sqlerr::syntax(at.text, at.line));
        }
        const Token *with = tokenAt(tokens, close + 1);
        if (with && !with->is("WITH"))
            fail(sqlerr::syntax(with->text, with->line));
        return s;
    }
    if (first.is("USE")) {
        s.kind = StatementKind::Use;
        const Token *name = tokenAt(tokens, 1);
        if (!name || !name->isName())
            fail(sqlerr::syntax(name ? name->text : first.text, first.line));
        if (tokens.size() > 2)
            fail(sqlerr::syntax(tokens.at(2).text, tokens.at(2).line));
        s.database = name->value;
        return s;
    }
    if (isOneOf(&first, kStatementWords))
        fail(sqlerr::notSupported(s.verb, first.line));
    // A batch may open with a procedure's bare name.
    if (firstOfBatch && first.isName())
        return parseExec(tokens, 0);
    fail(sqlerr::syntax(first.text, first.line));
}

} // namespace

// Parentheses and CASEs open at once; far beyond what a statement needs.
constexpr int kMaxNestingDepth = 200;

Batch parse(const QString &text, const Catalog &catalog, const ParameterTypes &parameters)
{
    Batch batch;
    Tokens lexed = tokenize(text);
    if (lexed.error) {
        batch.error = lexed.error;
        return batch;
    }
    try {
        // The translation walks expressions recursively: an expression nested deeper than any
        // statement needs is refused, as the server refuses one, before it could exhaust the stack.
        int depth = 0;
        for (const Token &t : std::as_const(lexed.tokens)) {
            if (t.isSymbol("(") || t.is("CASE"))
                ++depth;
            else if ((t.isSymbol(")") || t.is("END")) && depth > 0)
                --depth;
            if (depth > kMaxNestingDepth)
                fail(sqlerr::make(
                    191, 15, 1,
                    QStringLiteral("Some part of your SQL statement is nested too deeply. Rewrite "
                                   "the query or break it up into smaller queries."),
                    t.line));
        }
        const QList<QList<Token>> pieces = Splitter(lexed.tokens).run();
        for (const QList<Token> &piece : pieces) {
            batch.statements.append(parseStatement(piece, batch.statements.isEmpty(), catalog, parameters));
            batch.statements.last().lastToken = piece.last().text;
        }
    } catch (const ParseError &e) {
        batch.statements.clear();
        batch.error = e.message;
    }
    return batch;
}

} // namespace sandbox::tsql
