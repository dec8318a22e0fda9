#include "localfile.h"

#include "common/error.h"

#include <QFile>

LocalFile::LocalFile(const QString &path) : m_file(path, SystemFile::Mode::Write) {}

LocalFile::~LocalFile() = default;

void LocalFile::write(const char *data, qint64 size)
{
    m_file.write(data, size);
}

void LocalFile::close()
{
    m_file.close();
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
    try {
        SystemFile::replace(partialPath, path);
    } catch (...) {
        QFile::remove(partialPath);
        throw;
    }
}
