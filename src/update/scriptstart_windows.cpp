// Starting the replacement script on Windows: the shell opens the command script without a window and
// returns at once; the script waits for the program file itself. It runs in the program folder, which
// its third line takes from the current directory. The wide form of the call carries a program folder
// whose name the system's ANSI code page cannot write.

#include "update.h"

#include <QDir>

#include <windows.h>

#include <shellapi.h>

bool StartReplacementScript(const QString &script, const QString &programFolder, qint64 /*processId*/)
{
    const QString file = QDir::toNativeSeparators(script);
    const QString folder = QDir::toNativeSeparators(programFolder);
    const HINSTANCE result =
        ShellExecuteW(nullptr, L"open", reinterpret_cast<const wchar_t *>(file.utf16()), nullptr,
                      reinterpret_cast<const wchar_t *>(folder.utf16()), SW_HIDE);
    return reinterpret_cast<INT_PTR>(result) > 32;
}
