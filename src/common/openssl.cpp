#include "openssl.h"

#include "error.h"

#include <dlfcn.h>

namespace {

struct Opened {
    void *handle = nullptr;
    QString failure;
};

const char *fileName(OpenSsl::Library library)
{
    return library == OpenSsl::Ssl ? "libssl.so.3" : "libcrypto.so.3";
}

const Opened &opened(OpenSsl::Library library)
{
    const auto open = [](OpenSsl::Library which) {
        Opened result;
        result.handle = dlopen(fileName(which), RTLD_NOW | RTLD_LOCAL);
        if (!result.handle) {
            const char *reason = dlerror();
            result.failure =
                QStringLiteral("Не удалось загрузить OpenSSL 3 (%1): %2. Установите библиотеки OpenSSL 3 "
                               "системы (пакет Debian libssl3).")
                    .arg(QLatin1String(fileName(which)),
                         reason ? QString::fromLocal8Bit(reason) : QStringLiteral("библиотека не найдена"));
        }
        return result;
    };
    // Each opened once per process; the statics' initialisation is thread-safe.
    if (library == OpenSsl::Ssl) {
        static const Opened ssl = open(OpenSsl::Ssl);
        return ssl;
    }
    static const Opened crypto = open(OpenSsl::Crypto);
    return crypto;
}

} // namespace

void *OpenSsl::function(Library library, const char *name)
{
    const Opened &lib = opened(library);
    if (!lib.handle)
        throw Error(lib.failure);
    void *address = dlsym(lib.handle, name);
    if (!address)
        throw Error(QStringLiteral("OpenSSL 3 (%1) lacks the function %2: the installed version is too "
                                   "old or not OpenSSL 3.")
                        .arg(QLatin1String(fileName(library)), QLatin1String(name)));
    return address;
}

QString OpenSsl::unavailable(Library library)
{
    return opened(library).failure;
}
