#include "loginpictures.h"

#include "app/jpegimage.h"
#include "common/error.h"

#include <QFile>

namespace {

QImage decodeResource(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("The picture %1 is missing from the program").arg(path));
    return DecodeJpeg(file.readAll());
}

} // namespace

// Each picture is decoded on first use and kept for the run; QImage shares its pixels when copied.
QImage LoginPicture()
{
    static const QImage picture = decodeResource(QStringLiteral(":/login.jpg"));
    return picture;
}

QImage PasswordPicture()
{
    static const QImage picture = decodeResource(QStringLiteral(":/password.jpg"));
    return picture;
}
