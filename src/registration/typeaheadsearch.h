#pragma once
// Type-ahead of the lookup lists: the characters typed in quick succession, up to 32, looked for at
// the beginning of the entries' texts without regard to case. A pause of more than two seconds
// starts a new search; a character after which no entry matches is dropped, so the entry found
// last stays chosen while the user goes on typing.
//
// One per list, GUI thread only.

#include <QString>

#include <functional>

class QKeyEvent;

// Milliseconds on a clock that never goes back; the search measures the pauses between keys on it.
using TypeAheadClock = std::function<qint64()>;
// Installs a clock (tests step it by hand); an empty function restores the system's. Returns the
// previous one.
TypeAheadClock setTypeAheadClock(TypeAheadClock clock);

class TypeAheadSearch {
public:
    static constexpr int kMaxLength = 32;
    static constexpr qint64 kPauseMs = 2000;

    // The characters a key press types, or empty text for a key that types none (arrows, control
    // characters, anything pressed with Ctrl, Alt or Meta).
    static QString typedText(const QKeyEvent *event);

    // Adds typed characters and returns the row that findFirst gives for the text typed so far, or
    // -1 when no entry begins with it (the characters are then dropped) or the text is full.
    int type(const QString &characters, const std::function<int(const QString &prefix)> &findFirst);
    void clear() { m_text.clear(); }
    const QString &text() const { return m_text; }

private:
    QString m_text;
    qint64 m_lastKey = 0;
};
