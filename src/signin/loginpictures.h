#pragma once
#include <QImage>

// The two pictures that paint the login window, decoded from the JPEG files compiled into the
// program: the login picture (497 by 278) and the password-change picture (497 by 139).
QImage LoginPicture();
QImage PasswordPicture();
