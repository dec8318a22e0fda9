#include "app/application.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qel31"));
    QApplication::setApplicationDisplayName(applicationTitle());

    QWidget window;
    window.setWindowTitle(applicationTitle());
    window.resize(655, 623);
    window.show();
    return app.exec();
}
