#include "settingsconsole.h"

#include <QDir>

#include <windows.h>

namespace {

HANDLE g_input = INVALID_HANDLE_VALUE;
DWORD g_savedMode = 0;

} // namespace

EchoOff::EchoOff()
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode))
        return;
    g_input = input;
    g_savedMode = mode;
    SetConsoleMode(input, mode & ~DWORD(ENABLE_ECHO_INPUT));
}

EchoOff::~EchoOff()
{
    if (g_input == INVALID_HANDLE_VALUE)
        return;
    SetConsoleMode(g_input, g_savedMode);
    g_input = INVALID_HANDLE_VALUE;
    // The line end typed after the password did not show.
    WriteConsoleW(GetStdHandle(STD_ERROR_HANDLE), L"\r\n", 2, nullptr, nullptr);
}

bool inputIsTerminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode);
}

bool makeFolders(const QString &folder, QString *problem)
{
    if (QDir().mkpath(folder))
        return true;
    *problem = QStringLiteral("cannot make the folder %1").arg(QDir::toNativeSeparators(folder));
    return false;
}

// The file takes the rights of its folder, which the installer made for the user of the client.
bool setReadableByAll(QSaveFile &, QString *)
{
    return true;
}

void warnWhenHiddenFromOthers(const QString &, void (*)(const QString &)) {}

QString fileRightsHelp()
{
    return QStringLiteral("The file is replaced as a whole and takes the rights of its folder.");
}
