#pragma once
// A local file written with raw bytes, for the update's downloaded file and script. Opening creates or
// truncates it; a failure of opening, writing or closing raises InOutError. It is closed on every way
// out.

#include "common/systemfile.h"

#include <QByteArray>
#include <QString>

class LocalFile {
public:
    explicit LocalFile(const QString &path);
    ~LocalFile();
    LocalFile(const LocalFile &) = delete;
    LocalFile &operator=(const LocalFile &) = delete;

    void write(const char *data, qint64 size);
    void close();

private:
    SystemFile m_file;
};

// Writes the bytes to the file, creating or truncating it.
void writeLocalFile(const QString &path, const QByteArray &bytes);

// Writes the bytes to partialPath and renames it to path once all of them are written and the file is
// closed, so that path is either whole or as it was. On a failure the partial file is removed.
void replaceLocalFile(const QString &path, const QString &partialPath, const QByteArray &bytes);
