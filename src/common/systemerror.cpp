#include "systemerror.h"

#include <windows.h>

QString systemErrorText(unsigned long error)
{
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString result =
        length ? QString::fromWCharArray(text, int(length)).trimmed() : QStringLiteral("error %1").arg(error);
    LocalFree(text);
    return result;
}
