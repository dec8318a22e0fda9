#pragma once
#include <QByteArray>

// Stored credentials are kept one code lower than the real characters. Each byte comes back one
// higher, modulo 256; the result is exactly as long as the input (a byte 255 becomes 0 and stays).
QByteArray UnshiftText(QByteArrayView shifted);
