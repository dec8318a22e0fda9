#include "typeaheadsearch.h"

#include <QElapsedTimer>
#include <QKeyEvent>

namespace {

qint64 systemClock()
{
    static QElapsedTimer timer;
    if (!timer.isValid())
        timer.start();
    return timer.elapsed();
}

TypeAheadClock &installedClock()
{
    static TypeAheadClock clock;
    return clock;
}

qint64 now()
{
    const TypeAheadClock &clock = installedClock();
    return clock ? clock() : systemClock();
}

} // namespace

TypeAheadClock setTypeAheadClock(TypeAheadClock clock)
{
    TypeAheadClock previous = std::move(installedClock());
    installedClock() = std::move(clock);
    return previous;
}

QString TypeAheadSearch::typedText(const QKeyEvent *event)
{
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return {};
    const QString text = event->text();
    for (const QChar c : text) {
        if (!c.isPrint())
            return {};
    }
    return text;
}

int TypeAheadSearch::type(const QString &characters, const std::function<int(const QString &)> &findFirst)
{
    const qint64 time = now();
    if (time - m_lastKey > kPauseMs)
        m_text.clear();
    m_lastKey = time;
    const QString wanted = m_text + characters;
    if (characters.isEmpty() || wanted.size() > kMaxLength)
        return -1;
    const int row = findFirst(wanted);
    if (row >= 0)
        m_text = wanted;
    return row;
}
