#include "threads.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <cstdio>

namespace {

QStringList threadsOfThisProcess()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
}

} // namespace

bool waitForOtherThreadsToEnd(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (threadsOfThisProcess().size() > 1) {
        if (deadline.hasExpired()) {
            for (const QString &id : threadsOfThisProcess()) {
                QFile name(QStringLiteral("/proc/self/task/%1/comm").arg(id));
                const QByteArray text =
                    name.open(QIODevice::ReadOnly) ? name.readAll().trimmed() : QByteArray();
                std::fprintf(stderr, "thread %s (%s) still runs at the end of the tests\n", qPrintable(id),
                             text.constData());
            }
            return false;
        }
        // A thread that winds down needs no event of ours; look again shortly.
        QThread::msleep(5);
    }
    return true;
}
