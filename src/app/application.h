#pragma once
#include <QString>

// The text the window system shows for the program as a whole; the main window's caption carries it too.
inline QString applicationTitle()
{
    return QStringLiteral("QEL 31 Регистрация старост академических групп");
}
