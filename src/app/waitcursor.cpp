#include "waitcursor.h"

#include "common/sharedlibrary.h"

#include <QCursor>
#include <QGuiApplication>
#include <QThread>
#include <qguiapplication_platform.h>

namespace {

bool onGuiThread()
{
    return qGuiApp && QThread::currentThread() == qGuiApp->thread();
}

// Sends what Qt has asked of the display so far. A wait on the server or the download holds up the
// event loop, so anything left in the request buffer would only reach the display after the wait.
// Qt's X11 plugin sends a cursor change at once today; the flush keeps it so whatever the plugin
// does. The X client library is already in the process (the platform plugin mapped it), so it is
// looked up there, not linked. Offscreen draws nothing to flush; for Wayland Qt 6.4 offers no public
// flush, and the cursor goes when its plugin sends it. On Windows the plugin sets the cursor with a
// direct call to the system, so there is nothing to flush.
void flushToDisplay()
{
#if QT_CONFIG(xcb)
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return;
    using Flush = int (*)(xcb_connection_t *);
    static const Flush flush = [] {
        void *library = SharedLibrary::loaded(QStringLiteral("libxcb.so.1"));
        return reinterpret_cast<Flush>(SharedLibrary::symbol(library, "xcb_flush"));
    }();
    if (flush)
        flush(x11->connection());
#endif
}

} // namespace

void WaitCursor::show() noexcept
{
    if (!onGuiThread())
        return;
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    flushToDisplay();
}

void WaitCursor::hide() noexcept
{
    if (!onGuiThread())
        return;
    QGuiApplication::restoreOverrideCursor();
    flushToDisplay();
}
