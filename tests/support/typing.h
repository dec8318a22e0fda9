#pragma once
#include <QString>

class QWidget;

// Types the text into the widget as key presses, one character each, any character (QTest's own
// keyClicks takes Latin-1 only).
void typeText(QWidget *widget, const QString &text);
