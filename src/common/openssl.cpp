#include "openssl.h"

#include "error.h"

#include "sharedlibrary.h"

namespace {

struct Opened {
    void *handle = nullptr;
    QString failure;
};

// The libraries' file names, and where they come from.
#ifdef Q_OS_WIN
constexpr const char *kSslFile = "libssl-3-x64.dll";
constexpr const char *kCryptoFile = "libcrypto-3-x64.dll";
constexpr const char *kInstallHint =
    "Установите QEL 31 заново: программа установки кладёт этот файл рядом с программой.";
#else
constexpr const char *kSslFile = "libssl.so.3";
constexpr const char *kCryptoFile = "libcrypto.so.3";
constexpr const char *kInstallHint = "Установите библиотеки OpenSSL 3 системы (пакет Debian libssl3).";
#endif

const char *fileName(OpenSsl::Library library)
{
    return library == OpenSsl::Ssl ? kSslFile : kCryptoFile;
}

const Opened &opened(OpenSsl::Library library)
{
    const auto open = [](OpenSsl::Library which) {
        Opened result;
        QString reason;
        result.handle = SharedLibrary::open(QLatin1String(fileName(which)), &reason);
        if (!result.handle)
            result.failure = QStringLiteral("Не удалось загрузить OpenSSL 3 (%1): %2. %3")
                                 .arg(QLatin1String(fileName(which)), reason, QLatin1String(kInstallHint));
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
    void *address = SharedLibrary::symbol(lib.handle, name);
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
