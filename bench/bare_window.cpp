// The baseline of the start-up benchmark: a bare Qt Widgets program that paints an empty
// window of the login window's size, says so and its peak memory, and ends. With --label the window
// shows one line of text, so that the font system starts as it does for any window with text.

#include "probe.h"

#include <QApplication>
#include <QLabel>
#include <QWidget>

#include <cstring>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setObjectName(QStringLiteral("bareWindow"));
    window.resize(497, 273);
    if (argc > 1 && std::strcmp(argv[1], "--label") == 0)
        (new QLabel(QStringLiteral("V.1"), &window))->move(6, 5);
    const FirstPaint painted(QStringLiteral("bareWindow"), [] {
        tellBenchmark("painted");
        tellBenchmark("peak-kb " + QByteArray::number(peakResidentKb()));
        QCoreApplication::quit();
    });
    window.show();
    return app.exec();
}
