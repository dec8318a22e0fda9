#pragma once
// The T-SQL tokenizer: turns a batch into tokens, dropping blanks and comments.

#include "sandbox/engine/types.h"

#include <QList>
#include <QString>

#include <optional>

namespace sandbox::tsql {

enum class TokenKind {
    Word,     // keyword or plain identifier: SELECT, faculty, p20, #temp
    Name,     // delimited identifier: [p23-2] or "p23-2"; value holds the name itself
    String,   // 'text'; value holds the text with '' undone
    NString,  // N'text'
    Number,   // 12, 1.5, 2e3
    Binary,   // 0x1F
    Variable, // @P1, @@VERSION
    Symbol    // ( ) , . ; = <> <= ... and any other single character
};

struct Token {
    TokenKind kind = TokenKind::Symbol;
    QString text;  // exactly as written in the batch
    QString value; // Name, String, NString: the content; otherwise the text
    int line = 1;  // 1-based line of the batch where the token starts

    // A Word equal to the keyword, ignoring case.
    bool is(const char *keyword) const;
    bool isSymbol(const char *symbol) const;
    // A Word or a Name: something that can name an object or a column.
    bool isName() const { return kind == TokenKind::Word || kind == TokenKind::Name; }
};

struct Tokens {
    QList<Token> tokens;
    std::optional<Message> error; // an unclosed string, name or comment
};

Tokens tokenize(const QString &batch);

// The index of the parenthesis that closes the one at open, or -1 when none does.
qsizetype closingParenthesis(const QList<Token> &tokens, qsizetype open);

} // namespace sandbox::tsql
