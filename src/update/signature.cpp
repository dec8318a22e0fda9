// The one place of the update that uses OpenSSL: the key and the check of the signature, through its
// EVP interface. OpenSSL is opened only when a signature is checked (common/openssl.h).

#include "signature.h"

#include "common/error.h"
#include "common/openssl.h"
#include "common/securitysettings.h"

#include <QFile>
#include <QFileInfo>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

#ifdef QEL31_HAVE_BUILTIN_UPDATE_KEY
#include "builtinupdatekey.h"
#endif

namespace {

constexpr qsizetype kEd25519SignatureSize = 64;

#define CRYPTO(name) OPENSSL_FUNCTION(OpenSsl::Crypto, name)

QByteArray &builtInKey()
{
#ifdef QEL31_HAVE_BUILTIN_UPDATE_KEY
    static QByteArray key = QByteArray(kBuiltInUpdateKey);
#else
    static QByteArray key;
#endif
    return key;
}

// OpenSSL's last error in words, and its queue emptied.
QString openSslError()
{
    const unsigned long code = CRYPTO(ERR_get_error)();
    CRYPTO(ERR_clear_error)();
    if (code == 0)
        return QStringLiteral("no reason given");
    char text[256] = {};
    CRYPTO(ERR_error_string_n)(code, text, sizeof text);
    return QString::fromLatin1(text);
}

struct KeyFree {
    void operator()(EVP_PKEY *key) const { CRYPTO(EVP_PKEY_free)(key); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX *context) const { CRYPTO(EVP_MD_CTX_free)(context); }
};
struct BioFree {
    void operator()(BIO *bio) const { CRYPTO(BIO_free)(bio); }
};

} // namespace

QByteArray BuiltInUpdateKey()
{
    return builtInKey();
}

QByteArray setBuiltInUpdateKey(const QByteArray &pem)
{
    return std::exchange(builtInKey(), pem);
}

std::optional<UpdateKey> UpdatePublicKey(const QString &programFolder)
{
    const QString path = programFolder + QLatin1Char('/') + kUpdateKeySettingFile;
    if (QFileInfo(path).exists() || QFileInfo(path).isSymLink()) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw Error(
                QStringLiteral("%1 cannot be read: %2").arg(kUpdateKeySettingFile, file.errorString()));
        // A key is a few hundred bytes; anything much larger is not one.
        const QByteArray pem = file.read(64 * 1024);
        if (file.error() != QFileDevice::NoError)
            throw Error(
                QStringLiteral("%1 cannot be read: %2").arg(kUpdateKeySettingFile, file.errorString()));
        return UpdateKey{pem, kUpdateKeySettingFile};
    }
    const QByteArray builtIn = BuiltInUpdateKey();
    if (builtIn.isEmpty())
        return std::nullopt;
    return UpdateKey{builtIn, QStringLiteral("the key built into the program")};
}

QString VerifyFileSignature(const UpdateKey &key, const QString &file, const QByteArray &signature)
{
    if (const QString why = OpenSsl::unavailable(OpenSsl::Crypto); !why.isEmpty())
        return why;
    CRYPTO(ERR_clear_error)();
    std::unique_ptr<BIO, BioFree> text(CRYPTO(BIO_new_mem_buf)(key.pem.constData(), int(key.pem.size())));
    std::unique_ptr<EVP_PKEY, KeyFree> publicKey(
        text ? CRYPTO(PEM_read_bio_PUBKEY)(text.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!publicKey)
        return QStringLiteral("%1 is not a public key in PEM form (%2)").arg(key.origin, openSslError());
    if (!CRYPTO(EVP_PKEY_is_a)(publicKey.get(), "ED25519"))
        return QStringLiteral("%1 is not an Ed25519 key").arg(key.origin);
    if (signature.size() != kEd25519SignatureSize)
        return QStringLiteral("the signature is %1 bytes long, not the %2 of an Ed25519 signature")
            .arg(signature.size())
            .arg(kEd25519SignatureSize);

    QFile program(file);
    if (!program.open(QIODevice::ReadOnly))
        return QStringLiteral("the downloaded file cannot be read: %1").arg(program.errorString());
    const qint64 size = program.size();
    // Mapped rather than copied: the file may be large, and Ed25519 needs it whole.
    const uchar *bytes = size > 0 ? program.map(0, size) : nullptr;
    QByteArray copy;
    if (size > 0 && !bytes) {
        copy = program.readAll();
        if (copy.size() != size)
            return QStringLiteral("the downloaded file cannot be read: %1").arg(program.errorString());
        bytes = reinterpret_cast<const uchar *>(copy.constData());
    }

    std::unique_ptr<EVP_MD_CTX, ContextFree> context(CRYPTO(EVP_MD_CTX_new)());
    if (!context ||
        CRYPTO(EVP_DigestVerifyInit)(context.get(), nullptr, nullptr, nullptr, publicKey.get()) != 1)
        return QStringLiteral("the signature cannot be checked (%1)").arg(openSslError());
    static const uchar empty = 0;
    const int verdict =
        CRYPTO(EVP_DigestVerify)(context.get(), reinterpret_cast<const uchar *>(signature.constData()),
                                 size_t(signature.size()), bytes ? bytes : &empty, size_t(size));
    if (verdict != 1) {
        CRYPTO(ERR_clear_error)();
        return QStringLiteral("the signature does not match the file and %1").arg(key.origin);
    }
    return {};
}
