#include "waitcursor.h"

#include <QCursor>
#include <QGuiApplication>
#include <QThread>
#include <qguiapplication_platform.h>

#include <dlfcn.h>

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
// flush, and the cursor goes when its plugin sends it.
void flushToDisplay()
{
#if QT_CONFIG(xcb)
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return;
    using Flush = int (*)(xcb_connection_t *);
    static const Flush flush = [] {
        void *library = dlopen("libxcb.so.1", RTLD_LAZY | RTLD_NOLOAD);
        return library ? reinterpret_cast<Flush>(dlsym(library, "xcb_flush")) : Flush(nullptr);
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
