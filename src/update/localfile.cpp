#include "localfile.h"

#include "common/error.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

LocalFile::LocalFile(const QString &path) : m_path(path)
{
    m_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_fd < 0)
        throw InOutError::fromErrno(errno, m_path);
}

LocalFile::~LocalFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void LocalFile::write(const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw InOutError::fromErrno(errno, m_path);
        data += n;
        size -= n;
    }
}

void LocalFile::close()
{
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        throw InOutError::fromErrno(errno, m_path);
}

void writeLocalFile(const QString &path, const QByteArray &bytes)
{
    LocalFile file(path);
    file.write(bytes.constData(), bytes.size());
    file.close();
}

void replaceLocalFile(const QString &path, const QString &partialPath, const QByteArray &bytes)
{
    try {
        writeLocalFile(partialPath, bytes);
    } catch (...) {
        QFile::remove(partialPath);
        throw;
    }
    if (std::rename(QFile::encodeName(partialPath).constData(), QFile::encodeName(path).constData()) != 0) {
        const int error = errno;
        QFile::remove(partialPath);
        throw InOutError::fromErrno(error, path);
    }
}
