#pragma once
// The database collation, Cyrillic_General_CI_AS, as an SQLite collation of that name and as the
// LIKE operator.
//
// What it does, level by level, after dropping trailing blanks (as the server compares):
//   1. letters without regard to case or accent, in this order: blanks and punctuation (by code
//      point), digits, Latin letters, Cyrillic letters in the Russian alphabet (ё as е), anything
//      else by code point; the hyphen and the apostrophe are skipped here ("word sort"), so
//      "Петров-Водкин" sorts as "ПетровВодкин";
//   2. accents: е before ё, a Latin letter before its accented forms;
//   3. the skipped hyphens and apostrophes.
// Case never counts: 'Demo' = 'demo', 'Ёлкин' = 'ёлкин'. Accents do: 'Елкин' <> 'Ёлкин', and
// е < ё < ж, so 'Ежов' < 'Елкин' < 'Ёлкин' < 'Ефимов'.
// The server's own tables weigh some rarer characters differently; the letters of Russian
// names, digits, Latin letters and common punctuation sort as there.

#include <QStringView>

struct sqlite3;

#include <optional>

namespace sandbox::collation {

inline constexpr const char *kName = "Cyrillic_General_CI_AS";

int compare(QStringView a, QStringView b);

// LIKE under the collation: % any run, _ one character, [abc] [a-c] [^abc] one of a set.
bool like(QStringView text, QStringView pattern, QChar escape = QChar());

// Whether the name is one of the server's collations (Latin1_General_CI_AS,
// SQL_Latin1_General_CP1_CI_AS, Cyrillic_General_100_CS_AS_KS_WS, ...). The sandbox keeps only
// kName; the others are refused by name, and a name that is none of them is error 448.
bool isServerCollation(QStringView name);

// Text as the collation's code page, Windows-1251, holds it: what a varchar column keeps and what a
// '...' literal is. A character the code page has no byte for becomes '?'. The server writes some
// such characters as a near letter of the code page instead (é as e); the sandbox does not know
// which, so for a character with a compatibility decomposition that starts with a character of the
// code page there is no answer: nothing, and refused is set to the character.
std::optional<QString> inCodePage(const QString &text, QString *refused = nullptr);

// Registers the collation and LIKE (like(pattern, text[, escape])) on the connection.
void install(sqlite3 *db);

} // namespace sandbox::collation
