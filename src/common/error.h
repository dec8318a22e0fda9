#pragma once
// Failures travel as exceptions carrying the message text the user is shown. Only the windows and the
// default error display show them; everything below the windows throws.

#include <QString>
#include <exception>

class Error : public std::exception {
public:
    explicit Error(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    const QString &message() const { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// A failure of reading or writing a file, with its error number.
class InOutError : public Error {
public:
    InOutError(int code, QString message) : Error(std::move(message)), m_code(code) {}
    int code() const { return m_code; }
    // The error for an error number: the known numbers have their own texts, the rest "I/O error N".
    static InOutError fromCode(int code);
    // The error for a failed file operation on path, from its errno: the numbers the program's users
    // know from its other file errors (2 not found, 3 bad path, 4 too many files, 5 access denied,
    // 101 disk write error), any other errno as "I/O error N".
    static InOutError fromErrno(int error, const QString &path);
    // The same for a failed read: a read never reports the disk write error, so a full disk or a
    // failing device (EIO) is "I/O error N" like any other cause without a text of its own.
    static InOutError fromReadErrno(int error, const QString &path);
    // The same for a Windows error number (GetLastError), which shares the numbers 2 to 5; a full disk
    // is the disk write error only when writing.
    static InOutError fromWindowsError(unsigned long error, bool writing);

private:
    int m_code;
};

// A failure of the sockets layer: "Socket Error # N\r\nDESCRIPTION".
class SocketError : public Error {
public:
    SocketError(int code, const QString &description);
    int code() const { return m_code; }

private:
    int m_code;
};
