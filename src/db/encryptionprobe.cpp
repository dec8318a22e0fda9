#include "encryptionprobe.h"

#include "common/error.h"
#include "common/openssl.h"
#include "probelink.h"
#include "texts.h"

#include <QStringList>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <memory>

namespace {

using Clock = ProbeLink::Clock;
using Link = ProbeLink;

// The OpenSSL functions the probe uses. OpenSSL is opened when a probe first reaches a handshake,
// never at the start of the program (common/openssl.h); the types come from OpenSSL's headers.
#define QEL31_TLS_FUNCTION(name)                                                                             \
    decltype(&::name) name = OpenSsl::resolve<decltype(::name)>(OpenSsl::Ssl, #name)
struct TlsFunctions {
    QEL31_TLS_FUNCTION(ASN1_STRING_get0_data);
    QEL31_TLS_FUNCTION(ASN1_STRING_length);
    QEL31_TLS_FUNCTION(BIO_ctrl_pending);
    QEL31_TLS_FUNCTION(BIO_new);
    QEL31_TLS_FUNCTION(BIO_read);
    QEL31_TLS_FUNCTION(BIO_s_mem);
    QEL31_TLS_FUNCTION(BIO_write);
    QEL31_TLS_FUNCTION(ERR_clear_error);
    QEL31_TLS_FUNCTION(ERR_peek_last_error);
    QEL31_TLS_FUNCTION(ERR_reason_error_string);
    QEL31_TLS_FUNCTION(GENERAL_NAMES_free);
    QEL31_TLS_FUNCTION(OPENSSL_sk_num);
    QEL31_TLS_FUNCTION(OPENSSL_sk_value);
    QEL31_TLS_FUNCTION(SSL_CTX_ctrl);
    QEL31_TLS_FUNCTION(SSL_CTX_free);
    QEL31_TLS_FUNCTION(SSL_CTX_new);
    QEL31_TLS_FUNCTION(SSL_CTX_set_cipher_list);
    QEL31_TLS_FUNCTION(SSL_CTX_set_security_level);
    QEL31_TLS_FUNCTION(SSL_CTX_set_verify);
    QEL31_TLS_FUNCTION(SSL_ctrl);
    QEL31_TLS_FUNCTION(SSL_do_handshake);
    QEL31_TLS_FUNCTION(SSL_free);
    QEL31_TLS_FUNCTION(SSL_get0_peer_certificate);
    QEL31_TLS_FUNCTION(SSL_get_error);
    QEL31_TLS_FUNCTION(SSL_get_peer_cert_chain);
    QEL31_TLS_FUNCTION(SSL_is_init_finished);
    QEL31_TLS_FUNCTION(SSL_new);
    QEL31_TLS_FUNCTION(SSL_set_bio);
    QEL31_TLS_FUNCTION(SSL_set_connect_state);
    QEL31_TLS_FUNCTION(TLS_client_method);
    QEL31_TLS_FUNCTION(X509_NAME_get_text_by_NID);
    QEL31_TLS_FUNCTION(X509_STORE_CTX_free);
    QEL31_TLS_FUNCTION(X509_STORE_CTX_get0_param);
    QEL31_TLS_FUNCTION(X509_STORE_CTX_get_error);
    QEL31_TLS_FUNCTION(X509_STORE_CTX_init);
    QEL31_TLS_FUNCTION(X509_STORE_CTX_new);
    QEL31_TLS_FUNCTION(X509_STORE_free);
    QEL31_TLS_FUNCTION(X509_STORE_load_file);
    QEL31_TLS_FUNCTION(X509_STORE_new);
    QEL31_TLS_FUNCTION(X509_VERIFY_PARAM_set1_host);
    QEL31_TLS_FUNCTION(X509_VERIFY_PARAM_set1_ip_asc);
    QEL31_TLS_FUNCTION(X509_VERIFY_PARAM_set_purpose);
    QEL31_TLS_FUNCTION(X509_get_ext_d2i);
    QEL31_TLS_FUNCTION(X509_get_subject_name);
    QEL31_TLS_FUNCTION(X509_verify_cert);
    QEL31_TLS_FUNCTION(X509_verify_cert_error_string);
};
#undef QEL31_TLS_FUNCTION

// Throws Error when OpenSSL cannot be opened.
const TlsFunctions &tls()
{
    static const TlsFunctions functions;
    return functions;
}

constexpr quint8 kPreLogin = 0x12;
constexpr quint8 kEndOfMessage = 0x01;
constexpr int kPacketSize = 4096;
constexpr int kHeaderSize = 8;

// The pre-login's ENCRYPTION values.
constexpr quint8 kEncryptOff = 0x00;
constexpr quint8 kEncryptOn = 0x01;
constexpr quint8 kEncryptNotSupported = 0x02;
constexpr quint8 kEncryptRequired = 0x03;

// Sends payload as one message of the type, in packets of the pre-login's size.
bool sendMessage(Link &link, quint8 type, const QByteArray &payload)
{
    quint8 number = 1;
    qsizetype at = 0;
    do {
        const qsizetype size = qMin<qsizetype>(payload.size() - at, kPacketSize - kHeaderSize);
        const bool last = at + size == payload.size();
        const quint16 length = quint16(size + kHeaderSize);
        QByteArray packet;
        packet.reserve(length);
        packet.append(char(type)).append(char(last ? kEndOfMessage : 0));
        packet.append(char(length >> 8)).append(char(length & 0xFF));
        packet.append(2, '\0').append(char(number++)).append('\0');
        packet.append(payload.constData() + at, size);
        if (!link.send(packet.constData(), packet.size()))
            return false;
        at += size;
    } while (at < payload.size());
    return true;
}

// Reads one whole message of the server; false when the server ends the connection or breaks the
// framing first.
bool readMessage(Link &link, QByteArray *payload)
{
    payload->clear();
    for (;;) {
        unsigned char header[kHeaderSize];
        if (!link.read(reinterpret_cast<char *>(header), kHeaderSize))
            return false;
        const int length = (header[2] << 8) | header[3];
        if (length < kHeaderSize)
            return false;
        const qsizetype start = payload->size();
        payload->resize(start + length - kHeaderSize);
        if (!link.read(payload->data() + start, length - kHeaderSize))
            return false;
        if (header[1] & kEndOfMessage)
            return true;
        if (payload->size() > 1024 * 1024)
            return false;
    }
}

QByteArray preLogin(quint8 encryption)
{
    struct Option {
        quint8 token;
        QByteArray data;
    };
    const Option options[] = {
        {0x00, QByteArray("\x0C\x00\x00\x00\x00\x00", 6)}, // VERSION
        {0x01, QByteArray(1, char(encryption))},           // ENCRYPTION
        {0x02, QByteArray(1, '\0')},                       // INSTOPT: the default instance
        {0x03, QByteArray(4, '\0')},                       // THREADID
        {0x04, QByteArray(1, '\0')},                       // MARS off
    };
    const int tableSize = int(std::size(options)) * 5 + 1;
    QByteArray table;
    QByteArray data;
    for (const Option &option : options) {
        const int offset = tableSize + int(data.size());
        table.append(char(option.token)).append(char(offset >> 8)).append(char(offset & 0xFF));
        table.append(char(option.data.size() >> 8)).append(char(option.data.size() & 0xFF));
        data.append(option.data);
    }
    table.append(char(0xFF));
    return table + data;
}

// The ENCRYPTION value of a pre-login answer; -1 when the answer has none.
int answeredEncryption(const QByteArray &answer)
{
    for (qsizetype at = 0; at + 5 <= answer.size() && quint8(answer[at]) != 0xFF; at += 5) {
        const int offset = (quint8(answer[at + 1]) << 8) | quint8(answer[at + 2]);
        const int length = (quint8(answer[at + 3]) << 8) | quint8(answer[at + 4]);
        if (quint8(answer[at]) == 0x01 && length >= 1 && offset < answer.size())
            return quint8(answer[offset]);
    }
    return -1;
}

QString lastTlsError()
{
    const TlsFunctions &t = tls();
    const unsigned long code = t.ERR_peek_last_error();
    t.ERR_clear_error();
    const char *reason = code ? t.ERR_reason_error_string(code) : nullptr;
    return reason ? QString::fromUtf8(reason) : dbtext::serverEndedConnection();
}

// The names a certificate carries: its subject's common name, then its alternative names.
QString certificateNames(X509 *certificate)
{
    const TlsFunctions &t = tls();
    QStringList names;
    char common[256] = {};
    if (t.X509_NAME_get_text_by_NID(t.X509_get_subject_name(certificate), NID_commonName, common,
                                    sizeof common) > 0)
        names << QString::fromUtf8(common);
    auto *alternatives =
        static_cast<GENERAL_NAMES *>(t.X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    const auto *stack = reinterpret_cast<const OPENSSL_STACK *>(alternatives);
    for (int i = 0; alternatives && i < t.OPENSSL_sk_num(stack); ++i) {
        const auto *name = static_cast<const GENERAL_NAME *>(t.OPENSSL_sk_value(stack, i));
        QString text;
        if (name->type == GEN_DNS) {
            text = QString::fromUtf8(reinterpret_cast<const char *>(t.ASN1_STRING_get0_data(name->d.dNSName)),
                                     t.ASN1_STRING_length(name->d.dNSName));
        } else if (name->type == GEN_IPADD) {
            text = ipAddressText(t.ASN1_STRING_get0_data(name->d.iPAddress),
                                 t.ASN1_STRING_length(name->d.iPAddress));
        }
        if (!text.isEmpty() && !names.contains(text))
            names << text;
    }
    t.GENERAL_NAMES_free(alternatives);
    if (names.isEmpty())
        return dbtext::noCertificateName();
    return u'"' + names.join(QLatin1String("\", \"")) + u'"';
}

// Checks the certificate the server showed against the authority, for the server's name as the
// settings write it; the failure in words, or an empty text when the certificate passes.
QString checkCertificate(SSL *ssl, const EncryptionProbe &probe)
{
    const TlsFunctions &t = tls();
    X509 *certificate = t.SSL_get0_peer_certificate(ssl);
    if (!certificate)
        return dbtext::noCertificate(probe.host);
    const std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(t.X509_STORE_new(),
                                                                        t.X509_STORE_free);
    if (!t.X509_STORE_load_file(store.get(), probe.authorityFile.toLocal8Bit().constData()))
        return dbtext::authorityUnreadable(kAuthoritySettingFile, lastTlsError());
    const std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> context(t.X509_STORE_CTX_new(),
                                                                                  t.X509_STORE_CTX_free);
    if (!t.X509_STORE_CTX_init(context.get(), store.get(), certificate, t.SSL_get_peer_cert_chain(ssl)))
        return QString();
    X509_VERIFY_PARAM *parameters = t.X509_STORE_CTX_get0_param(context.get());
    t.X509_VERIFY_PARAM_set_purpose(parameters, X509_PURPOSE_SSL_SERVER);
    const QByteArray host = probe.host.toUtf8();
    if (isAddress(probe.host))
        t.X509_VERIFY_PARAM_set1_ip_asc(parameters, host.constData());
    else
        t.X509_VERIFY_PARAM_set1_host(parameters, host.constData(), size_t(host.size()));
    if (t.X509_verify_cert(context.get()) == 1)
        return QString();

    const int error = t.X509_STORE_CTX_get_error(context.get());
    const QString names = certificateNames(certificate);
    if (error == X509_V_ERR_HOSTNAME_MISMATCH || error == X509_V_ERR_IP_ADDRESS_MISMATCH)
        return dbtext::certificateForOtherName(probe.host, names);
    return dbtext::certificateNotTrusted(probe.host, names, kAuthoritySettingFile,
                                         QString::fromUtf8(t.X509_verify_cert_error_string(error)));
}

// Completes a TLS handshake inside pre-login messages, as the driver does, accepting any certificate
// so that the one the server shows can be judged.
QString explainHandshake(Link &link, const EncryptionProbe &probe)
{
    const TlsFunctions &t = tls();
    const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(t.SSL_CTX_new(t.TLS_client_method()),
                                                                    t.SSL_CTX_free);
    if (!context)
        return QString();
    t.SSL_CTX_ctrl(context.get(), SSL_CTRL_SET_MIN_PROTO_VERSION, 0, nullptr);
    t.SSL_CTX_set_security_level(context.get(), 0);
    t.SSL_CTX_set_cipher_list(context.get(), "ALL:@SECLEVEL=0");
    t.SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
    const std::unique_ptr<SSL, decltype(&SSL_free)> ssl(t.SSL_new(context.get()), t.SSL_free);
    if (!ssl)
        return QString();
    BIO *incoming = t.BIO_new(t.BIO_s_mem());
    BIO *outgoing = t.BIO_new(t.BIO_s_mem());
    t.SSL_set_bio(ssl.get(), incoming, outgoing); // owned by ssl from here
    t.SSL_set_connect_state(ssl.get());
    const QByteArray serverName = probe.host.toUtf8();
    if (!isAddress(probe.host))
        t.SSL_ctrl(ssl.get(), SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                   const_cast<char *>(serverName.constData()));

    t.ERR_clear_error();
    for (;;) {
        const int rc = t.SSL_do_handshake(ssl.get());
        const int error = rc == 1 ? SSL_ERROR_NONE : t.SSL_get_error(ssl.get(), rc);
        if (t.BIO_ctrl_pending(outgoing) > 0) {
            QByteArray flight(int(t.BIO_ctrl_pending(outgoing)), Qt::Uninitialized);
            flight.resize(t.BIO_read(outgoing, flight.data(), int(flight.size())));
            if (!sendMessage(link, kPreLogin, flight))
                break;
        }
        if (rc == 1)
            break;
        if (error != SSL_ERROR_WANT_READ)
            return dbtext::handshakeFailed(probe.host, lastTlsError());
        QByteArray answer;
        if (!readMessage(link, &answer))
            return dbtext::handshakeEnded(probe.host);
        t.BIO_write(incoming, answer.constData(), int(answer.size()));
    }
    if (!t.SSL_is_init_finished(ssl.get()))
        return QString();

    if (!probe.authorityFile.isEmpty())
        return checkCertificate(ssl.get(), probe);
    return QString();
}

} // namespace

QString explainEncryptionFailure(const EncryptionProbe &probe)
{
    Link link(probe.host, probe.port, Clock::now() + std::chrono::seconds(qMax(1, probe.timeoutSeconds)));
    if (!link.connected())
        return QString();
    const quint8 asked = probe.encryption == EncryptionSetting::All   ? kEncryptOn
                         : probe.encryption == EncryptionSetting::Off ? kEncryptNotSupported
                                                                      : kEncryptOff;
    QByteArray answer;
    if (!sendMessage(link, kPreLogin, preLogin(asked)) || !readMessage(link, &answer))
        return QString();
    const int offered = answeredEncryption(answer);
    // Told not to ask, the driver still encrypts when the server requires it.
    if (asked == kEncryptNotSupported && offered != kEncryptOn && offered != kEncryptRequired)
        return QString();
    if (offered == kEncryptNotSupported) {
        if (asked == kEncryptOn)
            return dbtext::serverCannotEncrypt(probe.host, kEncryptionSettingFile);
        return QString();
    }
    if (offered < 0)
        return QString();
    try {
        return explainHandshake(link, probe);
    } catch (const Error &missing) {
        return dbtext::encryptionFailedUnexplained(probe.host, missing.message());
    }
}
