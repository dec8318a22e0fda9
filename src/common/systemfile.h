#pragma once
// A local file of raw bytes opened through the system's own calls, so that a failure keeps the
// system's reason: the settings file, the update's download and script. Failures raise InOutError
// with the numbers the program's users know (2 not found, 3 bad path, 5 access denied, 101 disk
// write error, ...). The file is closed on every way out. One implementation for POSIX systems
// (systemfile_posix.cpp) and one for Windows (systemfile_windows.cpp).

#include <QString>

class SystemFile {
public:
    enum class Mode {
        Read,  // an existing file, from its start
        Write, // created, or truncated when it exists
    };
    SystemFile(const QString &path, Mode mode);
    ~SystemFile();
    SystemFile(const SystemFile &) = delete;
    SystemFile &operator=(const SystemFile &) = delete;

    // Up to size bytes; 0 at the end of the file.
    qint64 read(char *buffer, qint64 size);
    // All size bytes.
    void write(const char *data, qint64 size);
    // Closes the file; a failure of closing is raised too.
    void close();

    // Renames from to to, replacing a file at to in one step.
    static void replace(const QString &from, const QString &to);

    // Why this user may not create and replace files in the folder, in the system's words; empty when
    // they may.
    static QString folderWriteRefusal(const QString &folder);

private:
    QString m_path;
    Mode m_mode;
    qintptr m_handle = -1;
};
