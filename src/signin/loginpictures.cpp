#include "loginpictures.h"

#include "app/jpegimage.h"
#include "common/error.h"

#include <QFile>

namespace {

QImage decodeResource(const QString &path, int scale)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("В программе нет картинки %1").arg(path));
    QImage picture = DecodeJpeg(file.readAll());
    picture.setDevicePixelRatio(scale);
    return picture;
}

} // namespace

// QImage shares its pixels when copied.
QImage LoginPicture(qreal devicePixelRatio)
{
    if (devicePixelRatio > 1) {
        static const QImage twice = decodeResource(QStringLiteral(":/login@2x.jpg"), 2);
        return twice;
    }
    static const QImage once = decodeResource(QStringLiteral(":/login.jpg"), 1);
    return once;
}

QImage PasswordPicture(qreal devicePixelRatio)
{
    if (devicePixelRatio > 1) {
        static const QImage twice = decodeResource(QStringLiteral(":/password@2x.jpg"), 2);
        return twice;
    }
    static const QImage once = decodeResource(QStringLiteral(":/password.jpg"), 1);
    return once;
}
