#include "systemfile.h"

#include "error.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

InOutError failure(int error, const QString &path, SystemFile::Mode mode)
{
    return mode == SystemFile::Mode::Read ? InOutError::fromReadErrno(error, path)
                                          : InOutError::fromErrno(error, path);
}

} // namespace

SystemFile::SystemFile(const QString &path, Mode mode) : m_path(path), m_mode(mode)
{
    const int flags = mode == Mode::Read ? O_RDONLY | O_CLOEXEC : O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
    m_handle = ::open(QFile::encodeName(path).constData(), flags, 0666);
    if (m_handle < 0)
        throw failure(errno, m_path, m_mode);
}

SystemFile::~SystemFile()
{
    if (m_handle >= 0)
        ::close(int(m_handle));
}

qint64 SystemFile::read(char *buffer, qint64 size)
{
    for (;;) {
        const ssize_t n = ::read(int(m_handle), buffer, size_t(size));
        if (n >= 0)
            return n;
        if (errno != EINTR)
            throw failure(errno, m_path, m_mode);
    }
}

void SystemFile::write(const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(int(m_handle), data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw failure(errno, m_path, m_mode);
        data += n;
        size -= n;
    }
}

void SystemFile::close()
{
    const int fd = int(m_handle);
    m_handle = -1;
    if (::close(fd) != 0)
        throw failure(errno, m_path, m_mode);
}

void SystemFile::replace(const QString &from, const QString &to)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        throw InOutError::fromErrno(errno, to);
}

QString SystemFile::folderWriteRefusal(const QString &folder)
{
    // Asked of the system for this user's effective ids, so that a folder on a file system mounted
    // read-only counts too.
    if (::faccessat(AT_FDCWD, QFile::encodeName(folder).constData(), W_OK | X_OK, AT_EACCESS) == 0)
        return {};
    return QString::fromLocal8Bit(std::strerror(errno));
}
