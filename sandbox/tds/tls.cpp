#include "sandbox/tds/tls.h"

#include "sandbox/tds/bytes.h"

#include <QFile>
#include <QtEndian>

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <mutex>

namespace sandbox {

bool parseEncryptionMode(const QString &text, EncryptionMode *mode)
{
    if (text == QLatin1String("none"))
        *mode = EncryptionMode::None;
    else if (text == QLatin1String("supported"))
        *mode = EncryptionMode::Supported;
    else if (text == QLatin1String("forced"))
        *mode = EncryptionMode::Forced;
    else
        return false;
    return true;
}

bool parseTlsVersion(const QString &text, TlsVersion *version)
{
    if (text == QLatin1String("1.0"))
        *version = TlsVersion::Tls10;
    else if (text == QLatin1String("1.1"))
        *version = TlsVersion::Tls11;
    else if (text == QLatin1String("1.2"))
        *version = TlsVersion::Tls12;
    else
        return false;
    return true;
}

} // namespace sandbox

namespace sandbox::tds {

namespace {

// A record's body is at most 2^14 bytes of plain text plus what encryption adds.
constexpr int MaxRecordBody = 16384 + 2048;
constexpr int RecordHeaderSize = 5;

// The reasons OpenSSL queued, oldest first; empties the queue.
std::string openSslErrors()
{
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        char buf[256];
        ERR_error_string_n(code, buf, sizeof buf);
        if (!text.empty())
            text += "; ";
        text += buf;
    }
    return text.empty() ? std::string("unknown TLS error") : text;
}

struct SelfSigned {
    EVP_PKEY *key = nullptr;
    X509 *certificate = nullptr;
};

bool addExtension(X509 *certificate, int nid, const char *value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!extension)
        return false;
    const bool ok = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return ok;
}

// A self-signed certificate for "localhost" and 127.0.0.1 with an RSA 2048 key; the key takes a
// moment to make, so every server of the process shares one. Both stay for the process's life.
SelfSigned makeSelfSigned()
{
    SelfSigned made;
    made.key = EVP_RSA_gen(2048);
    if (!made.key)
        throw TlsError("cannot make a key: " + openSslErrors());
    X509 *x = X509_new();
    BIGNUM *serial = BN_new();
    bool ok = x && serial && X509_set_version(x, 2) == 1 &&
              BN_rand(serial, 63, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
              BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(x)) != nullptr &&
              X509_gmtime_adj(X509_getm_notBefore(x), -24L * 3600) != nullptr &&
              X509_gmtime_adj(X509_getm_notAfter(x), 3650L * 24 * 3600) != nullptr &&
              X509_set_pubkey(x, made.key) == 1;
    BN_free(serial);
    if (ok) {
        X509_NAME *name = X509_get_subject_name(x);
        ok = X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                        reinterpret_cast<const unsigned char *>("localhost"), -1, -1,
                                        0) == 1 &&
             X509_set_issuer_name(x, name) == 1 &&
             addExtension(x, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1") &&
             addExtension(x, NID_basic_constraints, "critical,CA:FALSE") &&
             addExtension(x, NID_key_usage, "critical,digitalSignature,keyEncipherment") &&
             addExtension(x, NID_ext_key_usage, "serverAuth") && X509_sign(x, made.key, EVP_sha256()) > 0;
    }
    if (!ok) {
        X509_free(x);
        EVP_PKEY_free(made.key);
        throw TlsError("cannot make a certificate: " + openSslErrors());
    }
    made.certificate = x;
    return made;
}

const SelfSigned &selfSigned()
{
    static std::once_flag once;
    static SelfSigned made;
    std::call_once(once, [] { made = makeSelfSigned(); });
    return made;
}

int protocolVersion(TlsVersion version)
{
    switch (version) {
    case TlsVersion::Tls10:
        return TLS1_VERSION;
    case TlsVersion::Tls11:
        return TLS1_1_VERSION;
    case TlsVersion::Tls12:
        break;
    }
    return TLS1_2_VERSION;
}

} // namespace

TlsContext::TlsContext(const TlsSettings &settings)
{
    m_ctx = SSL_CTX_new(TLS_server_method());
    if (!m_ctx)
        throw TlsError(openSslErrors());
    // No session tickets (one sent after the handshake would land in the clear stream of a
    // connection that encrypts only its login), no resumption, no renegotiation.
    SSL_CTX_set_options(m_ctx, SSL_OP_NO_TICKET | SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION);
    SSL_CTX_set_num_tickets(m_ctx, 0);
    SSL_CTX_set_session_cache_mode(m_ctx, SSL_SESS_CACHE_OFF);
    const int version = protocolVersion(settings.maxVersion);
    SSL_CTX_set_max_proto_version(m_ctx, version);
    if (version < TLS1_2_VERSION) {
        // The system's defaults allow nothing below 1.2: this context must lower its own
        // minimum and security level to really offer the old version.
        SSL_CTX_set_min_proto_version(m_ctx, version);
        SSL_CTX_set_security_level(m_ctx, 0);
        SSL_CTX_set_cipher_list(m_ctx, "DEFAULT:@SECLEVEL=0");
    }

    bool ok = false;
    std::string what;
    if (settings.certificateFile.isEmpty() && settings.keyFile.isEmpty()) {
        try {
            const SelfSigned &own = selfSigned();
            ok = SSL_CTX_use_certificate(m_ctx, own.certificate) == 1 &&
                 SSL_CTX_use_PrivateKey(m_ctx, own.key) == 1;
        } catch (const TlsError &) {
            SSL_CTX_free(m_ctx);
            throw;
        }
        what = "the self-signed certificate";
    } else if (settings.certificateFile.isEmpty() || settings.keyFile.isEmpty()) {
        SSL_CTX_free(m_ctx);
        throw TlsError("a certificate needs both its file and its key's file");
    } else {
        const QByteArray cert = QFile::encodeName(settings.certificateFile);
        const QByteArray key = QFile::encodeName(settings.keyFile);
        what = "the certificate " + cert.toStdString();
        ok = SSL_CTX_use_certificate_chain_file(m_ctx, cert.constData()) == 1;
        if (ok) {
            what = "the key " + key.toStdString();
            ok = SSL_CTX_use_PrivateKey_file(m_ctx, key.constData(), SSL_FILETYPE_PEM) == 1;
        }
        if (ok) {
            what = "the key " + key.toStdString() + " with its certificate";
            ok = SSL_CTX_check_private_key(m_ctx) == 1;
        }
    }
    if (!ok) {
        const std::string reason = openSslErrors();
        SSL_CTX_free(m_ctx);
        throw TlsError("cannot use " + what + ": " + reason);
    }
}

TlsContext::~TlsContext()
{
    SSL_CTX_free(m_ctx);
}

SecureChannel::~SecureChannel()
{
    SSL_free(m_ssl);
}

void SecureChannel::handshake(const TlsContext &context, quint16 spid)
{
    SSL_free(m_ssl);
    ERR_clear_error();
    m_ssl = SSL_new(context.handle());
    m_in = BIO_new(BIO_s_mem());
    m_out = BIO_new(BIO_s_mem());
    if (!m_ssl || !m_in || !m_out) {
        BIO_free(m_in);
        BIO_free(m_out);
        SSL_free(m_ssl);
        m_ssl = nullptr;
        throw TlsError(openSslErrors());
    }
    BIO_set_mem_eof_return(m_in, -1); // empty means "wait for more", not end of stream
    BIO_set_mem_eof_return(m_out, -1);
    SSL_set_bio(m_ssl, m_in, m_out);
    SSL_set_accept_state(m_ssl);

    auto fail = [this](const std::string &reason) {
        SSL_free(m_ssl);
        m_ssl = nullptr;
        throw TlsError(reason);
    };
    PacketWriter flights(m_socket, spid); // DefaultPacketSize
    bool started = false;                 // the client sent its first handshake message
    for (;;) {
        const int r = SSL_do_handshake(m_ssl);
        const int error = r == 1 ? SSL_ERROR_NONE : SSL_get_error(m_ssl, r);
        const std::string reason =
            error == SSL_ERROR_NONE || error == SSL_ERROR_WANT_READ ? "" : openSslErrors();
        // What OpenSSL wrote (a flight, or the alert of a failure) goes out in PRELOGIN packets.
        QByteArray flight;
        char buf[4096];
        for (int n; (n = BIO_read(m_out, buf, sizeof buf)) > 0;)
            flight.append(buf, n);
        if (!flight.isEmpty() && !flights.send(PacketType::PreLogin, flight))
            fail("the client hung up during the TLS handshake");
        if (r == 1)
            break;
        if (error != SSL_ERROR_WANT_READ)
            fail("TLS handshake failed: " + reason);
        ClientMessage message;
        try {
            if (readMessage(m_socket, message) == ReadOutcome::Closed)
                fail(started ? "the client hung up during the TLS handshake"
                             : "the client hung up instead of starting the TLS handshake");
        } catch (const ProtocolError &e) {
            fail(std::string("TLS handshake broken off: ") + e.what());
        }
        if (message.type != PacketType::PreLogin) {
            fail("a packet of type 0x" + QByteArray::number(int(message.type), 16).toStdString() +
                 " where the TLS handshake was due");
        }
        started = true;
        if (!message.payload.isEmpty() && BIO_write(m_in, message.payload.constData(),
                                                    int(message.payload.size())) != message.payload.size())
            fail(openSslErrors());
    }
    m_protocol = QString::fromLatin1(SSL_get_version(m_ssl));
}

void SecureChannel::drop()
{
    SSL_free(m_ssl);
    m_ssl = nullptr;
    m_in = m_out = nullptr;
}

bool SecureChannel::hasBuffered() const
{
    return m_ssl && (SSL_pending(m_ssl) > 0 || BIO_ctrl_pending(m_in) > 0);
}

bool SecureChannel::flushOutput()
{
    char buf[16384];
    for (int n; (n = BIO_read(m_out, buf, sizeof buf)) > 0;) {
        if (!m_socket.writeAll(buf, n))
            return false;
    }
    return true;
}

// Reads exactly one record from the socket, so that nothing after it (the clear stream once a
// login-only connection drops TLS) is taken from the socket.
bool SecureChannel::readRecord()
{
    char header[RecordHeaderSize];
    if (!m_socket.readExact(header, RecordHeaderSize))
        return false;
    const quint16 length = qFromBigEndian<quint16>(header + 3);
    if (length > MaxRecordBody)
        throw ProtocolError("TLS record too long");
    QByteArray record(RecordHeaderSize + length, Qt::Uninitialized);
    std::memcpy(record.data(), header, RecordHeaderSize);
    if (length > 0 && !m_socket.readExact(record.data() + RecordHeaderSize, length))
        return false;
    return BIO_write(m_in, record.constData(), int(record.size())) == record.size();
}

bool SecureChannel::readExact(char *buf, qsizetype n)
{
    if (!m_ssl)
        return m_socket.readExact(buf, n);
    qsizetype done = 0;
    while (done < n) {
        size_t got = 0;
        if (SSL_read_ex(m_ssl, buf + done, size_t(n - done), &got) == 1) {
            done += qsizetype(got);
            continue;
        }
        // Anything OpenSSL answers by itself (an alert) goes out first.
        const int error = SSL_get_error(m_ssl, 0);
        if (!flushOutput())
            return false;
        if (error != SSL_ERROR_WANT_READ || !readRecord())
            return false; // closing alert, failure or end of stream
    }
    return true;
}

bool SecureChannel::writeAll(const char *buf, qsizetype n)
{
    if (!m_ssl)
        return m_socket.writeAll(buf, n);
    size_t written = 0;
    if (n > 0 && SSL_write_ex(m_ssl, buf, size_t(n), &written) != 1)
        return false;
    return flushOutput();
}

} // namespace sandbox::tds
