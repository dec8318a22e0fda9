#include "md5.h"

#include "cp1251.h"

#include <QCryptographicHash>

QString Md5Hex(const QByteArray &bytes)
{
    const QByteArray digest = QCryptographicHash::hash(bytes, QCryptographicHash::Md5);
    return QString::fromLatin1(digest.toHex().toUpper());
}

QString Md5Hex(const QString &text)
{
    return Md5Hex(Cp1251::fromUnicode(text));
}
