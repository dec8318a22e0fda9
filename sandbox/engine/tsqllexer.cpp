#include "sandbox/engine/tsqllexer.h"

#include "sandbox/engine/sqlerrors.h"

#include "sandbox/engine/collation.h"

#include "common/cp1251.h"

namespace sandbox::tsql {

bool Token::is(const char *keyword) const
{
    return kind == TokenKind::Word && text.compare(QLatin1String(keyword), Qt::CaseInsensitive) == 0;
}

bool Token::isSymbol(const char *symbol) const
{
    return kind == TokenKind::Symbol && text == QLatin1String(symbol);
}

namespace {

bool isWordStart(QChar c)
{
    return c.isLetter() || c == u'_' || c == u'#';
}
bool isWordPart(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'#' || c == u'$' || c == u'@';
}
bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}
bool isHexDigit(QChar c)
{
    return isDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

class Lexer {
public:
    explicit Lexer(const QString &s) : src(s) {}

    Tokens run()
    {
        Tokens out;
        while (true) {
            skipBlanksAndComments(out);
            if (out.error || pos >= src.size())
                return out;
            const int start = pos;
            const int startLine = line;
            Token t;
            t.line = startLine;
            if (!lexToken(t, out)) {
                return out;
            }
            t.text = src.mid(start, pos - start);
            if (t.kind == TokenKind::String && !Cp1251::canEncode(t.value)) {
                // 'text' is varchar in the database's code page: what it cannot hold is '?'.
                QString refused;
                const auto kept = collation::inCodePage(t.value, &refused);
                if (!kept) {
                    out.error =
                        sqlerr::notSupported(QStringLiteral("varchar text with '%1'").arg(refused), t.line);
                    return out;
                }
                t.value = *kept;
                t.text = u'\'' + QString(t.value).replace(u'\'', QLatin1String("''")) + u'\'';
            }
            if (t.kind != TokenKind::Name && t.kind != TokenKind::String && t.kind != TokenKind::NString)
                t.value = t.text;
            out.tokens.append(t);
        }
    }

private:
    QChar at(int i) const { return i < src.size() ? src.at(i) : QChar(); }

    void advance(int n = 1)
    {
        for (int i = 0; i < n && pos < src.size(); ++i) {
            if (src.at(pos) == u'\n')
                ++line;
            ++pos;
        }
    }

    void skipBlanksAndComments(Tokens &out)
    {
        while (pos < src.size()) {
            const QChar c = src.at(pos);
            if (c.isSpace()) {
                advance();
            } else if (c == u'-' && at(pos + 1) == u'-') {
                while (pos < src.size() && src.at(pos) != u'\n')
                    advance();
            } else if (c == u'/' && at(pos + 1) == u'*') {
                // Block comments nest.
                const int commentLine = line;
                int depth = 0;
                do {
                    if (at(pos) == u'/' && at(pos + 1) == u'*') {
                        ++depth;
                        advance(2);
                    } else if (at(pos) == u'*' && at(pos + 1) == u'/') {
                        --depth;
                        advance(2);
                    } else {
                        advance();
                    }
                } while (depth > 0 && pos < src.size());
                if (depth > 0) {
                    out.error = sqlerr::missingEndComment(commentLine);
                    return;
                }
            } else {
                return;
            }
        }
    }

    // Reads a quoted run closed by `close`, where a doubled `close` stands for one. Returns
    // false at the end of the batch without the closing character.
    bool readQuoted(QChar close, QString &content)
    {
        advance(); // the opening character
        while (pos < src.size()) {
            const QChar c = src.at(pos);
            if (c == close) {
                if (at(pos + 1) == close) {
                    content += close;
                    advance(2);
                    continue;
                }
                advance();
                return true;
            }
            content += c;
            advance();
        }
        return false;
    }

    bool lexToken(Token &t, Tokens &out)
    {
        const QChar c = src.at(pos);
        const QChar next = at(pos + 1);
        if ((c == u'N' || c == u'n') && next == u'\'') {
            advance();
            t.kind = TokenKind::NString;
            if (!readQuoted(u'\'', t.value)) {
                out.error = sqlerr::unclosedQuote(t.value, t.line);
                return false;
            }
            return true;
        }
        if (c == u'\'') {
            t.kind = TokenKind::String;
            if (!readQuoted(u'\'', t.value)) {
                out.error = sqlerr::unclosedQuote(t.value, t.line);
                return false;
            }
            return true;
        }
        if (c == u'[') {
            t.kind = TokenKind::Name;
            if (!readQuoted(u']', t.value)) {
                out.error = sqlerr::unclosedQuote(t.value, t.line);
                return false;
            }
            return true;
        }
        if (c == u'"') {
            t.kind = TokenKind::Name;
            if (!readQuoted(u'"', t.value)) {
                out.error = sqlerr::unclosedQuote(t.value, t.line);
                return false;
            }
            return true;
        }
        if (c == u'0' && (next == u'x' || next == u'X')) {
            t.kind = TokenKind::Binary;
            advance(2);
            while (isHexDigit(at(pos)))
                advance();
            return true;
        }
        if (isDigit(c) || (c == u'.' && isDigit(next))) {
            t.kind = TokenKind::Number;
            while (isDigit(at(pos)))
                advance();
            if (at(pos) == u'.') {
                advance();
                while (isDigit(at(pos)))
                    advance();
            }
            // An exponent only when digits follow: "12e5" is a number, "12else" is 12 and a word.
            if (at(pos) == u'e' || at(pos) == u'E') {
                int k = pos + 1;
                if (at(k) == u'+' || at(k) == u'-')
                    ++k;
                if (isDigit(at(k))) {
                    advance(k - pos);
                    while (isDigit(at(pos)))
                        advance();
                }
            }
            return true;
        }
        if (c == u'@') {
            t.kind = TokenKind::Variable;
            int k = pos + 1;
            if (at(k) == u'@')
                ++k;
            if (!isWordPart(at(k))) {
                t.kind = TokenKind::Symbol;
                advance();
                return true;
            }
            advance(k - pos);
            while (isWordPart(at(pos)))
                advance();
            return true;
        }
        if (isWordStart(c)) {
            t.kind = TokenKind::Word;
            advance();
            while (isWordPart(at(pos)))
                advance();
            return true;
        }
        t.kind = TokenKind::Symbol;
        static const char *const twoCharacter[] = {"<>", "<=", ">=", "!=", "!<", "!>"};
        for (const char *op : twoCharacter) {
            if (c == QLatin1Char(op[0]) && next == QLatin1Char(op[1])) {
                advance(2);
                return true;
            }
        }
        advance();
        return true;
    }

    const QString &src;
    int pos = 0;
    int line = 1;
};

} // namespace

Tokens tokenize(const QString &batch)
{
    return Lexer(batch).run();
}

qsizetype closingParenthesis(const QList<Token> &tokens, qsizetype open)
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

} // namespace sandbox::tsql
