#include "systemfile.h"

#include "error.h"
#include "systemerror.h"

#include <QDir>
#include <QUuid>

#include <windows.h>

namespace {

const wchar_t *wide(const QString &path)
{
    return reinterpret_cast<const wchar_t *>(path.utf16());
}

InOutError failure(DWORD error, SystemFile::Mode mode)
{
    return InOutError::fromWindowsError(error, mode == SystemFile::Mode::Write);
}

} // namespace

SystemFile::SystemFile(const QString &path, Mode mode) : m_path(QDir::toNativeSeparators(path)), m_mode(mode)
{
    const HANDLE h = mode == Mode::Read
                         ? CreateFileW(wide(m_path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                         : CreateFileW(wide(m_path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw failure(GetLastError(), m_mode);
    m_handle = reinterpret_cast<qintptr>(h);
}

SystemFile::~SystemFile()
{
    if (m_handle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

qint64 SystemFile::read(char *buffer, qint64 size)
{
    DWORD n = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(m_handle), buffer, DWORD(qMin<qint64>(size, 1 << 30)), &n,
                  nullptr))
        throw failure(GetLastError(), m_mode);
    return n;
}

void SystemFile::write(const char *data, qint64 size)
{
    while (size > 0) {
        DWORD n = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(m_handle), data, DWORD(qMin<qint64>(size, 1 << 30)), &n,
                       nullptr))
            throw failure(GetLastError(), m_mode);
        data += n;
        size -= n;
    }
}

void SystemFile::close()
{
    const HANDLE h = reinterpret_cast<HANDLE>(m_handle);
    m_handle = -1;
    if (!CloseHandle(h))
        throw failure(GetLastError(), m_mode);
}

void SystemFile::replace(const QString &from, const QString &to)
{
    const QString target = QDir::toNativeSeparators(to);
    if (!MoveFileExW(wide(QDir::toNativeSeparators(from)), wide(target), MOVEFILE_REPLACE_EXISTING))
        throw InOutError::fromWindowsError(GetLastError(), true);
}

QString SystemFile::folderWriteRefusal(const QString &folder)
{
    // Windows answers the question only by trying: a file of a name of its own is made in the folder
    // and goes when it is closed.
    const QString probe = QDir::toNativeSeparators(folder) + QStringLiteral("\\.qel31-") +
                          QUuid::createUuid().toString(QUuid::Id128);
    const HANDLE h = CreateFileW(wide(probe), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return systemErrorText(GetLastError());
    CloseHandle(h);
    return {};
}
