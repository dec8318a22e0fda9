#include "error.h"

#include <QFileInfo>

#include <cerrno>

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

InOutError InOutError::fromErrno(int error, const QString &path)
{
    switch (error) {
    case ENOENT:
        // A missing folder on the way is a bad path, a missing file in an existing folder is not found.
        return fromCode(QFileInfo(QFileInfo(path).path()).isDir() ? 2 : 3);
    case ENOTDIR:
    case ENAMETOOLONG:
        return fromCode(3);
    case EMFILE:
    case ENFILE:
        return fromCode(4);
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: // a folder where the file should be
        return fromCode(5);
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
    case EIO:
        return fromCode(101);
    default:
        // Never one of the texts above by a coincidence of numbers.
        return {error, QStringLiteral("I/O error %1").arg(error)};
    }
}

InOutError InOutError::fromReadErrno(int error, const QString &path)
{
    switch (error) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
    case EIO:
        return {error, QStringLiteral("I/O error %1").arg(error)};
    default:
        return fromErrno(error, path);
    }
}

InOutError InOutError::fromWindowsError(unsigned long error, bool writing)
{
    constexpr unsigned long kFileNotFound = 2, kPathNotFound = 3, kTooManyOpenFiles = 4, kAccessDenied = 5,
                            kHandleDiskFull = 39, kDiskFull = 112, kInvalidName = 123;
    switch (error) {
    case kFileNotFound:
    case kPathNotFound:
    case kTooManyOpenFiles:
    case kAccessDenied:
        return fromCode(int(error));
    case kInvalidName:
        return fromCode(3);
    case kHandleDiskFull:
    case kDiskFull:
        if (writing)
            return fromCode(101);
        break;
    default:
        break;
    }
    return {int(error), QStringLiteral("I/O error %1").arg(error)};
}

SocketError::SocketError(int code, const QString &description)
    : Error(QStringLiteral("Socket Error # %1\r\n%2").arg(code).arg(description)), m_code(code)
{
}
