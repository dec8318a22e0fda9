#include "sandbox/engine/collation.h"

#include "sandbox/engine/sqlitedb.h"

#include "common/cp1251.h"

#include <QRegularExpression>

#include <QList>
#include <QString>

#include <sqlite3.h>

namespace sandbox::collation {

namespace {

struct Weight {
    quint32 primary = 0; // 0: skipped at the first level
    quint32 accent = 0;
};

bool isSkipped(QChar c)
{
    return c == u'-' || c == u'\'' || c == QChar(0x2019);
}

Weight weigh(QChar raw)
{
    Weight w;
    QChar c = raw.toLower();
    if (c == QChar(0x0451)) { // ё: е with an accent
        c = QChar(0x0435);
        w.accent = 1;
    } else if (c.decompositionTag() == QChar::Canonical) {
        const QString parts = c.decomposition();
        if (!parts.isEmpty()) {
            w.accent = parts.size() > 1 ? parts.at(1).unicode() : 1;
            c = parts.at(0).toLower();
        }
    }
    quint32 group = 5;
    quint32 value = c.unicode();
    if (c.isSpace() || c.isPunct() || c.isSymbol()) {
        group = 1;
    } else if (c.isDigit()) {
        group = 2;
        value = quint32(c.digitValue());
    } else if (c.script() == QChar::Script_Latin) {
        group = 3;
    } else if (c.script() == QChar::Script_Cyrillic) {
        group = 4;
    }
    w.primary = (group << 20) | value;
    return w;
}

QStringView trimmedRight(QStringView s)
{
    qsizetype n = s.size();
    while (n > 0 && s.at(n - 1) == u' ')
        --n;
    return s.first(n);
}

template <typename T> int compareLists(const QList<T> &a, const QList<T> &b)
{
    const qsizetype n = qMin(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        if (a.at(i) != b.at(i))
            return a.at(i) < b.at(i) ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

struct Key {
    QList<quint32> primary;
    QList<quint32> accents;
    QList<quint32> skipped; // position * 0x10000 + character
};

Key keyOf(QStringView s)
{
    Key k;
    s = trimmedRight(s);
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (isSkipped(c)) {
            k.skipped.append(quint32(i) << 16 | c.unicode());
            continue;
        }
        const Weight w = weigh(c);
        k.primary.append(w.primary);
        k.accents.append(w.accent);
    }
    return k;
}

// One character of the text against one of the pattern: equal without regard to case.
bool sameLetter(QChar a, QChar b)
{
    if (a == b)
        return true;
    const Weight x = weigh(a), y = weigh(b);
    return x.primary == y.primary && x.accent == y.accent;
}

bool likeAt(QStringView text, qsizetype t, QStringView pattern, qsizetype p, QChar escape)
{
    while (p < pattern.size()) {
        const QChar c = pattern.at(p);
        if (!escape.isNull() && c == escape && p + 1 < pattern.size()) {
            if (t >= text.size() || !sameLetter(text.at(t), pattern.at(p + 1)))
                return false;
            ++t;
            p += 2;
            continue;
        }
        if (c == u'%') {
            while (p < pattern.size() && pattern.at(p) == u'%')
                ++p;
            if (p == pattern.size())
                return true;
            for (qsizetype from = t; from <= text.size(); ++from)
                if (likeAt(text, from, pattern, p, escape))
                    return true;
            return false;
        }
        if (t >= text.size())
            return false;
        if (c == u'_') {
            ++t;
            ++p;
            continue;
        }
        if (c == u'[') {
            const qsizetype close = pattern.indexOf(u']', p + 1);
            if (close > p + 1) {
                QStringView set = pattern.sliced(p + 1, close - p - 1);
                const bool negate = set.startsWith(u'^');
                if (negate)
                    set = set.sliced(1);
                bool found = false;
                const Weight tw = weigh(text.at(t));
                for (qsizetype i = 0; i < set.size() && !found; ++i) {
                    if (i + 2 < set.size() && set.at(i + 1) == u'-') {
                        const Weight lo = weigh(set.at(i)), hi = weigh(set.at(i + 2));
                        found = tw.primary >= lo.primary && tw.primary <= hi.primary;
                        i += 2;
                    } else {
                        found = sameLetter(text.at(t), set.at(i));
                    }
                }
                if (found == negate)
                    return false;
                ++t;
                p = close + 1;
                continue;
            }
        }
        if (!sameLetter(text.at(t), c))
            return false;
        ++t;
        ++p;
    }
    // Trailing blanks of the text do not count.
    while (t < text.size() && text.at(t) == u' ')
        ++t;
    return t == text.size();
}

int sqliteCompare(void *, int aBytes, const void *a, int bBytes, const void *b)
{
    const QString x = QString::fromUtf8(static_cast<const char *>(a), aBytes);
    const QString y = QString::fromUtf8(static_cast<const char *>(b), bBytes);
    return compare(x, y);
}

void sqliteLike(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    for (int i = 0; i < argc; ++i) {
        if (sqlite3_value_type(argv[i]) == SQLITE_NULL) {
            sqlite3_result_null(ctx);
            return;
        }
    }
    const QString pattern = db::textOf(argv[0]);
    const QString text = db::textOf(argv[1]);
    QChar escape;
    if (argc == 3) {
        const QString e = db::textOf(argv[2]);
        if (e.size() != 1) {
            sqlite3_result_error(ctx, "ESCAPE expression must be a single character", -1);
            return;
        }
        escape = e.at(0);
    }
    sqlite3_result_int(ctx, like(text, pattern, escape) ? 1 : 0);
}

} // namespace

int compare(QStringView a, QStringView b)
{
    const Key x = keyOf(a), y = keyOf(b);
    if (const int c = compareLists(x.primary, y.primary))
        return c;
    if (const int c = compareLists(x.accents, y.accents))
        return c;
    return compareLists(x.skipped, y.skipped);
}

bool like(QStringView text, QStringView pattern, QChar escape)
{
    return likeAt(text, 0, pattern, 0, escape);
}

bool isServerCollation(QStringView name)
{
    // Windows collations: a locale's name, an optional version, then the sensitivities or BIN.
    static const QRegularExpression windows(
        QStringLiteral(
            "^(Albanian|Arabic|Assamese|Azeri_Cyrillic|Azeri_Latin|Bashkir|Bengali|Bosnian_Cyrillic|"
            "Bosnian_Latin|Breton|Chinese_Hong_Kong_Stroke|Chinese_PRC|Chinese_PRC_Stroke|"
            "Chinese_Simplified_Pinyin|Chinese_Simplified_Stroke_Order|Chinese_Taiwan_Bopomofo|"
            "Chinese_Taiwan_Stroke|Chinese_Traditional_Bopomofo|Chinese_Traditional_Pinyin|"
            "Chinese_Traditional_Stroke_Count|Chinese_Traditional_Stroke_Order|Corsican|Croatian|"
            "Cyrillic_General|Czech|Danish_Greenlandic|Danish_Norwegian|Dari|Divehi|Estonian|"
            "Finnish_Swedish|French|Frisian|Georgian_Modern_Sort|German_PhoneBook|Greek|Hebrew|"
            "Hindi|Hungarian|Hungarian_Technical|Icelandic|Indic_General|Japanese|Japanese_Bushu_"
            "Kakusu|Japanese_XJIS|Kazakh|Khmer|Korean|Korean_Wansung|Lao|Latin1_General|Latvian|"
            "Lithuanian|Macedonian_FYROM|Maltese|Maori|Mapudungan|Modern_Spanish|Mohawk|Nepali|"
            "Norwegian|Pashto|Persian|Polish|Romanian|Romansh|Sami_Norway|Sami_Sweden_Finland|"
            "Serbian_Cyrillic|Serbian_Latin|Slovak|Slovenian|Syriac|Tamazight|Tatar|Thai|Tibetan|"
            "Traditional_Spanish|Turkish|Turkmen|Uighur|Ukrainian|Upper_Sorbian|Urdu|Uzbek_Latin|"
            "Vietnamese|Welsh|Yakut)(_\\d{2,3})?_(BIN2?|C[IS]_A[IS](_KS)?(_WS)?(_SC)?(_UTF8)?)$"),
        QRegularExpression::CaseInsensitiveOption);
    // SQL collations: SQL_ and a code page's name, then the sensitivities or BIN.
    static const QRegularExpression sql(
        QStringLiteral("^SQL_(Latin1_General_CP1|Latin1_General_CP437|Latin1_General_CP850|"
                       "Latin1_General_CP1250|Latin1_General_CP1251|Latin1_General_CP1253|"
                       "Latin1_General_CP1254|Latin1_General_CP1255|Latin1_General_CP1256|"
                       "Latin1_General_CP1257|Latin1_General_Pref_CP1|Latin1_General_Pref_CP437|"
                       "Latin1_General_Pref_CP850|Czech_CP1250|Croatian_CP1250|Danish_Pref_CP1|"
                       "Estonian_CP1257|Hungarian_CP1250|Icelandic_Pref_CP1|Latvian_CP1257|"
                       "Lithuanian_CP1257|Polish_CP1250|Romanian_CP1250|Scandinavian_CP850|"
                       "Scandinavian_Pref_CP850|Slovak_CP1250|Slovenian_CP1250|SwedishPhone_Pref_CP1|"
                       "SwedishStd_Pref_CP1|Ukrainian_CP1251|AltDiction_CP850|AltDiction_Pref_CP850|"
                       "AltDiction2_CP1253|EBCDIC037_CP1|EBCDIC273_CP1|EBCDIC277_CP1|EBCDIC278_CP1|"
                       "EBCDIC280_CP1|EBCDIC284_CP1|EBCDIC285_CP1|EBCDIC297_CP1|MixDiction_CP1253|"
                       "1xCompat_CP850)_(C[IS]_A[IS]|BIN2?|CI_AI_KI_WI)$"),
        QRegularExpression::CaseInsensitiveOption);
    const QString n = name.toString();
    return windows.match(n).hasMatch() || sql.match(n).hasMatch();
}

void install(sqlite3 *db)
{
    sqlite3_create_collation_v2(db, kName, SQLITE_UTF8, nullptr, &sqliteCompare, nullptr);
    sqlite3_create_function_v2(db, "like", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, &sqliteLike,
                               nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "like", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, &sqliteLike,
                               nullptr, nullptr, nullptr);
}

std::optional<QString> inCodePage(const QString &text, QString *refused)
{
    if (Cp1251::canEncode(text))
        return text;
    for (qsizetype k = 0; k < text.size(); ++k) {
        const QChar c = text.at(k);
        if (c.isSurrogate() || Cp1251::canEncode(QStringView(&c, 1)))
            continue;
        const QString decomposed = QString(c).normalized(QString::NormalizationForm_KD);
        if (decomposed != QString(c) && Cp1251::canEncode(decomposed.left(1))) {
            if (refused)
                *refused = QString(c);
            return std::nullopt;
        }
    }
    return Cp1251::toUnicode(Cp1251::fromUnicode(text));
}

} // namespace sandbox::collation
