#pragma once
#include <QImage>

// The two pictures that paint the login window, decoded from the JPEG files compiled into the
// program: the login picture (497 by 278) and the password-change picture (497 by 139), in logical
// pixels. Each is drawn twice, at 1x and at 2x (login@2x.jpg: 994 by 556 pixels, with device pixel
// ratio 2). A screen whose device pixel ratio is above 1 gets the 2x drawing, which the painter
// brings down to the screen's pixels where the ratio is below 2; any other screen the 1x drawing.
// Each file is decoded when first asked for and kept for the run.
QImage LoginPicture(qreal devicePixelRatio = 1);
QImage PasswordPicture(qreal devicePixelRatio = 1);
