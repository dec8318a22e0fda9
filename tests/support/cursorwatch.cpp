#include "cursorwatch.h"

#include <QCursor>
#include <QGuiApplication>

CursorWatch::CursorWatch() : m_inner(setBusyIndicator(this))
{
    publish();
}

CursorWatch::~CursorWatch()
{
    setBusyIndicator(m_inner);
}

void CursorWatch::show() noexcept
{
    if (m_inner)
        m_inner->show();
    publish();
}

void CursorWatch::hide() noexcept
{
    if (m_inner)
        m_inner->hide();
    publish();
}

int CursorWatch::currentShape()
{
    const QCursor *cursor = QGuiApplication::overrideCursor();
    return cursor ? int(cursor->shape()) : -1;
}

void CursorWatch::publish() noexcept
{
    m_shape = currentShape();
}
