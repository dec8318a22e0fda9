#include "error.h"

InOutError InOutError::fromCode(int code)
{
    switch (code) {
    case 2:
        return {code, QStringLiteral("File not found")};
    case 3:
        return {code, QStringLiteral("Invalid filename")};
    case 4:
        return {code, QStringLiteral("Too many open files")};
    case 5:
        return {code, QStringLiteral("File access denied")};
    case 100:
        return {code, QStringLiteral("Read beyond end of file")};
    case 101:
        return {code, QStringLiteral("Disk write error")};
    default:
        return {code, QStringLiteral("I/O error %1").arg(code)};
    }
}

SocketError::SocketError(int code, const QString &description)
    : Error(QStringLiteral("Socket Error # %1\r\n%2").arg(code).arg(description)), m_code(code)
{
}
