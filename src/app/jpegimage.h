#pragma once
// Decoding of JPEG pictures (the login window's two pictures) through libjpeg.

#include <QByteArray>
#include <QImage>

// The picture held in the JPEG file data, as QImage::Format_RGB32. Greyscale pictures come out grey.
// Throws Error with libjpeg's own message text when the data is not a whole, sound JPEG file:
// empty, another kind of file, cut short or damaged. libjpeg's warnings count as failures, because
// it only warns when it had to patch up a broken file.
QImage DecodeJpeg(const QByteArray &data);
