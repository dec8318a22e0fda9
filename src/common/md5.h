#pragma once
#include <QByteArray>
#include <QString>

// The MD5 digest (RFC 1321) of the text's Windows-1251 bytes as 32 upper-case hexadecimal digits.
QString Md5Hex(const QString &text);
// The same over raw bytes.
QString Md5Hex(const QByteArray &bytes);
