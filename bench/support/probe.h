#pragma once
// The side of the programs that the start-up and memory benchmarks start as processes of their own.
// They tell their benchmark what happened in lines on standard output:
//   "painted"     the watched window has been drawn for the first time
//   "peak-kb N"   the process's peak resident memory so far (VmHWM), in KiB
// Links Qt Widgets only, so that the bare window program stays bare.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

// Writes one line to standard output at once (unbuffered).
void tellBenchmark(const QByteArray &line);

// The peak resident memory of this process in KiB (VmHWM), -1 when unknown.
qint64 peakResidentKb();

// Calls `then` once, after the first paint of the widget with the given object name has been drawn
// and handed to the window system: the call is queued behind the paint. Watches every widget of the
// application while it exists.
class FirstPaint : public QObject {
public:
    FirstPaint(const QString &objectName, std::function<void()> then);
    ~FirstPaint() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QString m_objectName;
    std::function<void()> m_then;
    bool m_seen = false;
};
