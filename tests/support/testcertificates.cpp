#include "testcertificates.h"

#include "files.h"

#include <QDir>
#include <QHostAddress>

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace {

[[noreturn]] void cannot(const char *what)
{
    qFatal("cannot make the test certificates: %s", what);
}

EVP_PKEY *newKey()
{
    EVP_PKEY *key = EVP_EC_gen("P-256");
    if (!key)
        cannot("no key");
    return key;
}

void addExtension(X509 *certificate, X509 *issuer, int nid, const QByteArray &value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.constData());
    if (!extension || X509_add_ext(certificate, extension, -1) != 1)
        cannot(value.constData());
    X509_EXTENSION_free(extension);
}

// "DNS:localhost,IP:127.0.0.1" for {"localhost", "127.0.0.1"}.
QByteArray altNames(const QStringList &names)
{
    QStringList parts;
    for (const QString &name : names)
        parts << (QHostAddress(name).isNull() ? QStringLiteral("DNS:") : QStringLiteral("IP:")) + name;
    return parts.join(u',').toUtf8();
}

// A certificate for key, named commonName, signed by issuerKey (with issuer's name; itself when
// issuer is null). A certificate authority when names is empty.
X509 *makeCertificate(EVP_PKEY *key, const QString &commonName, const QStringList &names, X509 *issuer,
                      EVP_PKEY *issuerKey)
{
    X509 *x = X509_new();
    BIGNUM *serial = BN_new();
    if (!x || !serial || X509_set_version(x, 2) != 1 ||
        BN_rand(serial, 63, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) != 1 ||
        !BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(x)) ||
        !X509_gmtime_adj(X509_getm_notBefore(x), -3600) ||
        !X509_gmtime_adj(X509_getm_notAfter(x), 30L * 24 * 3600) || X509_set_pubkey(x, key) != 1)
        cannot("no certificate");
    BN_free(serial);
    X509_NAME *name = X509_get_subject_name(x);
    const QByteArray cn = commonName.toUtf8();
    if (X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char *>(cn.constData()), -1, -1, 0) != 1 ||
        X509_set_issuer_name(x, issuer ? X509_get_subject_name(issuer) : name) != 1)
        cannot("no name");
    X509 *signer = issuer ? issuer : x;
    addExtension(x, signer, NID_subject_key_identifier, "hash");
    addExtension(x, signer, NID_authority_key_identifier, "keyid:always");
    if (names.isEmpty()) {
        addExtension(x, signer, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(x, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExtension(x, signer, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(x, signer, NID_key_usage, "critical,digitalSignature,keyEncipherment");
        addExtension(x, signer, NID_ext_key_usage, "serverAuth");
        addExtension(x, signer, NID_subject_alt_name, altNames(names));
    }
    if (X509_sign(x, issuerKey ? issuerKey : key, EVP_sha256()) <= 0)
        cannot("no signature");
    return x;
}

TestCertificate save(const QString &folder, const QString &base, X509 *certificate, EVP_PKEY *key)
{
    BIO *pem = BIO_new(BIO_s_mem());
    BIO *keyPem = BIO_new(BIO_s_mem());
    if (!pem || !keyPem || PEM_write_bio_X509(pem, certificate) != 1 ||
        PEM_write_bio_PrivateKey(keyPem, key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        cannot("no PEM");
    auto take = [](BIO *bio) {
        char *data = nullptr;
        const long n = BIO_get_mem_data(bio, &data);
        return QByteArray(data, n);
    };
    const TestCertificate files{QDir(folder).filePath(base + QStringLiteral(".pem")),
                                QDir(folder).filePath(base + QStringLiteral("-key.pem"))};
    writeFile(files.certificate, take(pem));
    writeFile(files.key, take(keyPem));
    BIO_free(pem);
    BIO_free(keyPem);
    return files;
}

} // namespace

TestCertificates makeTestCertificates(const QString &folder, const QStringList &names,
                                      const QString &otherName)
{
    if (names.isEmpty())
        cannot("a server certificate needs a name");
    TestCertificates out;
    EVP_PKEY *caKey = newKey();
    X509 *ca = makeCertificate(caKey, QStringLiteral("QEL 31 Test Authority"), {}, nullptr, nullptr);
    out.authority = save(folder, QStringLiteral("ca"), ca, caKey);

    struct Made {
        QString base;
        QStringList names;
        bool bySelf;
        TestCertificate *into;
    };
    const Made made[] = {
        {QStringLiteral("server"), names, false, &out.server},
        {QStringLiteral("self-signed"), names, true, &out.selfSigned},
        {QStringLiteral("other"), {otherName}, false, &out.other},
    };
    for (const Made &m : made) {
        EVP_PKEY *key = newKey();
        X509 *x = m.bySelf ? makeCertificate(key, m.names.first(), m.names, nullptr, nullptr)
                           : makeCertificate(key, m.names.first(), m.names, ca, caKey);
        *m.into = save(folder, m.base, x, key);
        X509_free(x);
        EVP_PKEY_free(key);
    }
    X509_free(ca);
    EVP_PKEY_free(caKey);
    return out;
}
