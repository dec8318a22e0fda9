#include "sharedlibrary.h"

#include "systemerror.h"

#include <windows.h>

namespace SharedLibrary {

void *open(const QString &fileName, QString *failure)
{
    HMODULE handle = LoadLibraryW(reinterpret_cast<const wchar_t *>(fileName.utf16()));
    if (!handle && failure)
        *failure = systemErrorText(GetLastError());
    return handle;
}

void *loaded(const QString &fileName)
{
    return GetModuleHandleW(reinterpret_cast<const wchar_t *>(fileName.utf16()));
}

void *symbol(void *library, const char *name)
{
    return library ? reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name)) : nullptr;
}

} // namespace SharedLibrary
