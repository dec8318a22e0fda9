#pragma once
// Encryption as the database server does it for TDS 7.x: the TLS handshake travels inside
// PRELOGIN packets (type 0x12) in both directions; afterwards TLS records travel raw on the
// socket, each carrying whole TDS packets. OpenSSL does the TLS through memory buffers, so every
// raw byte still goes through Socket::readExact and Socket::writeAll.

#include "sandbox/tds/packet.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <stdexcept>

using SSL_CTX = struct ssl_ctx_st;
using SSL = struct ssl_st;
using BIO = struct bio_st;

namespace sandbox {

// What the server offers, as a server is configured: without a certificate ("not supported"),
// with one (the client chooses: at least the login goes inside TLS unless the client cannot do
// TLS), or forcing encryption of everything.
enum class EncryptionMode { None, Supported, Forced };

enum class TlsVersion { Tls10, Tls11, Tls12 };

struct TlsSettings {
    EncryptionMode mode = EncryptionMode::Supported;
    // PEM files; both empty: a self-signed certificate for localhost and 127.0.0.1, made once
    // per process, in memory.
    QString certificateFile;
    QString keyFile;
    // The highest version offered; below 1.2 it is also the lowest, so that the server offers
    // only that old version.
    TlsVersion maxVersion = TlsVersion::Tls12;
};

// "none", "supported", "forced" and "1.0", "1.1", "1.2"; false for anything else.
bool parseEncryptionMode(const QString &text, EncryptionMode *mode);
bool parseTlsVersion(const QString &text, TlsVersion *version);

} // namespace sandbox

namespace sandbox::tds {

// A handshake that did not complete: the client hung up, sent an alert or something else.
class TlsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The server's TLS configuration, shared by its connections.
class TlsContext {
public:
    // Throws TlsError with the reason (a certificate file that cannot be read, ...).
    explicit TlsContext(const TlsSettings &settings);
    ~TlsContext();
    TlsContext(const TlsContext &) = delete;
    TlsContext &operator=(const TlsContext &) = delete;
    SSL_CTX *handle() const { return m_ctx; }

private:
    SSL_CTX *m_ctx = nullptr;
};

// The byte stream of one connection: the socket itself, or TLS over it.
class SecureChannel : public ByteStream {
public:
    explicit SecureChannel(Socket &socket) : m_socket(socket) {}
    ~SecureChannel() override;
    SecureChannel(const SecureChannel &) = delete;
    SecureChannel &operator=(const SecureChannel &) = delete;

    // Runs the server side of the handshake inside PRELOGIN messages (packets of at most
    // DefaultPacketSize bytes, each flight ending with end-of-message); from then on the
    // stream is encrypted. Throws TlsError when the handshake fails.
    void handshake(const TlsContext &context, quint16 spid);
    // Goes back to the clear socket without a closing alert (the client drops its TLS state
    // after sending the login the same way).
    void drop();
    bool encrypted() const { return m_ssl != nullptr; }
    // "TLSv1.2" and the like, empty in clear.
    QString protocol() const { return m_protocol; }
    // Whether bytes already read from the socket wait to be taken (a poll on the socket would
    // not see them).
    bool hasBuffered() const;

    bool readExact(char *buf, qsizetype n) override;
    bool writeAll(const char *buf, qsizetype n) override;

private:
    bool flushOutput();
    bool readRecord();

    Socket &m_socket;
    SSL *m_ssl = nullptr;
    BIO *m_in = nullptr;  // raw bytes from the client, owned by m_ssl
    BIO *m_out = nullptr; // raw bytes for the client, owned by m_ssl
    QString m_protocol;
};

} // namespace sandbox::tds
