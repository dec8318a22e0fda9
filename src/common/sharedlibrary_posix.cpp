#include "sharedlibrary.h"

#include <QFile>

#include <dlfcn.h>

namespace SharedLibrary {

void *open(const QString &fileName, QString *failure)
{
    void *handle = dlopen(QFile::encodeName(fileName).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle && failure) {
        const char *reason = dlerror();
        *failure = reason ? QString::fromLocal8Bit(reason) : QStringLiteral("библиотека не найдена");
    }
    return handle;
}

void *loaded(const QString &fileName)
{
    return dlopen(QFile::encodeName(fileName).constData(), RTLD_LAZY | RTLD_NOLOAD);
}

void *symbol(void *library, const char *name)
{
    return library ? dlsym(library, name) : nullptr;
}

} // namespace SharedLibrary
