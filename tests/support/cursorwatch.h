#pragma once
// Watches the busy pointer: while it exists it stands between the busy scopes and the indicator the
// program's Qt application installed (the wait cursor), passes every change on and then publishes
// the override cursor the application has, so that the sandbox's threads can read it while the
// client waits on them.

#include "common/busy.h"

#include <atomic>

class CursorWatch : public BusyIndicator {
public:
    CursorWatch();
    ~CursorWatch() override;
    CursorWatch(const CursorWatch &) = delete;
    CursorWatch &operator=(const CursorWatch &) = delete;

    void show() noexcept override;
    void hide() noexcept override;

    // The shape of the application's override cursor as the last change left it (Qt::WaitCursor
    // while busy); -1 when there is none.
    int shape() const { return m_shape.load(); }
    // The same, read from the application itself (GUI thread only).
    static int currentShape();

private:
    void publish() noexcept;

    BusyIndicator *m_inner;
    std::atomic<int> m_shape{-1};
};
