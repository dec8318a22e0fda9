#include "shiftedtext.h"

QByteArray UnshiftText(QByteArrayView shifted)
{
    QByteArray plain(shifted.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < shifted.size(); ++i)
        plain[i] = char(uchar(shifted[i]) + 1);
    return plain;
}
