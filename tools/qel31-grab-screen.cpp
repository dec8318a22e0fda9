// qel31-grab-screen: saves the whole screen of an X display as a PNG, for pictures of windows that
// other programs draw there (the Windows build under Wine, tests/windows):
//
//     DISPLAY=:99 qel31-grab-screen picture.png [X Y WIDTH HEIGHT]
//
// With a rectangle, only that part of the screen (a window's, as xdotool getwindowgeometry tells it).
// Exits with 1 when the display cannot be read or the file cannot be written.

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 2 && argc != 6) {
        std::fprintf(stderr, "usage: qel31-grab-screen FILE.png [X Y WIDTH HEIGHT]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    QScreen *screen = QGuiApplication::primaryScreen();
    QPixmap picture = screen ? screen->grabWindow(0) : QPixmap();
    if (argc == 6)
        picture = picture.copy(QString::fromLatin1(argv[2]).toInt(), QString::fromLatin1(argv[3]).toInt(),
                               QString::fromLatin1(argv[4]).toInt(), QString::fromLatin1(argv[5]).toInt());
    if (picture.isNull() || !picture.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "qel31-grab-screen: the screen could not be saved to %s\n", argv[1]);
        return 1;
    }
    return 0;
}
