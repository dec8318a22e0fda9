#pragma once
// The one place where text changes between Qt's Unicode and the single-byte Windows-1251 code page.
// Every one of the 256 byte values has a character, so bytes survive a trip through QString
// unchanged; a character the code page cannot hold becomes '?'.

#include <QByteArray>
#include <QString>

namespace Cp1251 {
QByteArray fromUnicode(QStringView text);
QString toUnicode(QByteArrayView bytes);
// Whether every character of text has a Windows-1251 byte.
bool canEncode(QStringView text);
} // namespace Cp1251
