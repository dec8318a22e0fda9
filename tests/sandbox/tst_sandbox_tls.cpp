// Encryption in the sandbox server: the pre-login's ENCRYPTION answer in each mode, the TLS
// handshake inside PRELOGIN packets, the login alone or everything inside TLS, TLS versions,
// certificates of one's own and broken handshakes; through a small TLS client of the test's own
// (OpenSSL over memory buffers, as a driver does it) and through tsql.

#include "sandbox/tds/sandboxserver.h"

#include "files.h"
#include "rawtds.h"
#include "testcertificates.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <memory>

using sandbox::EncryptionMode;
using sandbox::Event;
using sandbox::EventKind;
using sandbox::SandboxServer;
using sandbox::SessionEncryption;
using sandbox::TlsSettings;
using sandbox::TlsVersion;

Q_DECLARE_METATYPE(EncryptionMode)
Q_DECLARE_METATYPE(SessionEncryption)
Q_DECLARE_METATYPE(TlsVersion)

namespace {

const QString Admin = QStringLiteral("qel_admin");
const QString AdminPassword = QStringLiteral("admin");

struct PacketHeader {
    quint8 type = 0;
    quint8 status = 0;
    int length = 0;
};

// What the client does after the pre-login answer.
enum class Then {
    ClearLogin,     // logs in in clear and is served
    LoginInsideTls, // handshake, the login inside TLS, then everything in clear
    AllInsideTls,   // handshake, everything inside TLS
    Refused,        // a login in clear is not served: the connection closes
};

// A TDS client over a QTcpSocket that can put TLS in between as a driver does: the handshake
// inside PRELOGIN packets, then records raw on the socket, and back to clear on drop().
class TlsClient {
public:
    explicit TlsClient(quint16 port)
    {
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        m_socket.waitForConnected(Patience);
    }
    ~TlsClient()
    {
        SSL_free(m_ssl);
        SSL_CTX_free(m_ctx);
    }

    bool connected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    // Sends a PRELOGIN with this ENCRYPTION value; the answer's ENCRYPTION value, -1 when none.
    int preLogin(quint8 encryption)
    {
        m_socket.write(packet(0x12, ::preLogin(encryption)));
        QList<PacketHeader> headers;
        const QByteArray answer = readMessage(&headers);
        if (answer.isEmpty() || headers.first().type != 0x04)
            return -1;
        // The option table: token, offset, length; ENCRYPTION is token 1.
        for (qsizetype at = 0; at + 5 <= answer.size() && quint8(answer[at]) != 0xFF; at += 5) {
            const quint16 offset = qFromBigEndian<quint16>(answer.constData() + at + 1);
            if (quint8(answer[at]) == 0x01 && offset < answer.size())
                return quint8(answer[offset]);
        }
        return -1;
    }

    // Runs the handshake; false with the reason in error() when it fails. The server's packets
    // are kept in serverPackets(). versions: the lowest and highest the client offers (0: the
    // library's own); caFile: verify the server's certificate for "localhost" against it.
    bool handshake(int minVersion = 0, int maxVersion = 0, const QString &caFile = QString())
    {
        m_ctx = SSL_CTX_new(TLS_client_method());
        if (minVersion && minVersion < TLS1_2_VERSION) {
            SSL_CTX_set_security_level(m_ctx, 0);
            SSL_CTX_set_cipher_list(m_ctx, "DEFAULT:@SECLEVEL=0");
        }
        if (minVersion)
            SSL_CTX_set_min_proto_version(m_ctx, minVersion);
        if (maxVersion)
            SSL_CTX_set_max_proto_version(m_ctx, maxVersion);
        if (!caFile.isEmpty()) {
            SSL_CTX_load_verify_locations(m_ctx, QFile::encodeName(caFile).constData(), nullptr);
            SSL_CTX_set_verify(m_ctx, SSL_VERIFY_PEER, nullptr);
        }
        m_ssl = SSL_new(m_ctx);
        if (!caFile.isEmpty())
            SSL_set1_host(m_ssl, "localhost");
        m_in = BIO_new(BIO_s_mem());
        m_out = BIO_new(BIO_s_mem());
        BIO_set_mem_eof_return(m_in, -1);
        SSL_set_bio(m_ssl, m_in, m_out);
        SSL_set_connect_state(m_ssl);
        for (;;) {
            const int r = SSL_do_handshake(m_ssl);
            const int error = r == 1 ? SSL_ERROR_NONE : SSL_get_error(m_ssl, r);
            const QByteArray flight = pending();
            for (qsizetype at = 0; at < flight.size(); at += 4096 - 8) {
                const bool last = at + 4096 - 8 >= flight.size();
                m_socket.write(packet(0x12, flight.mid(at, 4096 - 8), last ? 0x01 : 0x00));
            }
            m_socket.flush();
            if (r == 1)
                break;
            if (error != SSL_ERROR_WANT_READ) {
                m_error = openSslErrors();
                return false;
            }
            const QByteArray answer = readMessage(&m_serverPackets);
            if (answer.isEmpty()) {
                m_error = QStringLiteral("the server closed the connection");
                return false;
            }
            BIO_write(m_in, answer.constData(), int(answer.size()));
        }
        m_encrypted = true;
        return true;
    }
    QString error() const { return m_error; }
    QString version() const { return QString::fromLatin1(SSL_get_version(m_ssl)); }
    // Whether the server's certificate is good for this host name and this IP address.
    bool certificateNames(const char *host, const char *ip) const
    {
        X509 *certificate = SSL_get1_peer_certificate(m_ssl);
        const bool good = certificate && X509_check_host(certificate, host, 0, 0, nullptr) == 1 &&
                          X509_check_ip_asc(certificate, ip, 0) == 1;
        X509_free(certificate);
        return good;
    }
    QList<PacketHeader> serverPackets() const { return m_serverPackets; }
    // Back to clear, without a closing alert.
    void drop() { m_encrypted = false; }

    // Sends a whole TDS packet, inside TLS when encrypted.
    void send(const QByteArray &tdsPacket)
    {
        if (!m_encrypted) {
            m_socket.write(tdsPacket);
            return;
        }
        size_t written = 0;
        SSL_write_ex(m_ssl, tdsPacket.constData(), size_t(tdsPacket.size()), &written);
        m_socket.write(pending());
        m_socket.flush();
    }
    // One whole TDS message (its packets' payloads), inside TLS when encrypted; empty when the
    // server closed. The packets' headers go to headers when given.
    QByteArray readMessage(QList<PacketHeader> *headers = nullptr)
    {
        QByteArray message;
        for (;;) {
            char header[8];
            if (!readExact(header, 8))
                return {};
            const PacketHeader h{quint8(header[0]), quint8(header[1]), qFromBigEndian<quint16>(header + 2)};
            if (headers)
                headers->append(h);
            QByteArray body(qMax(0, h.length - 8), Qt::Uninitialized);
            if (!readExact(body.data(), body.size()))
                return {};
            message += body;
            if (h.status & 0x01)
                return message;
        }
    }
    // Whether the server closes the connection (after what it still sends, an alert say).
    bool closedByServer()
    {
        char byte;
        for (int n = 0; n < 65536; ++n) {
            if (!readRaw(&byte, 1))
                return true;
        }
        return false;
    }

private:
    static QString openSslErrors()
    {
        QStringList reasons;
        while (const unsigned long code = ERR_get_error()) {
            char buf[256];
            ERR_error_string_n(code, buf, sizeof buf);
            reasons << QString::fromLatin1(buf);
        }
        return reasons.join(QStringLiteral("; "));
    }
    QByteArray pending()
    {
        QByteArray out;
        char buf[4096];
        for (int n; (n = BIO_read(m_out, buf, sizeof buf)) > 0;)
            out.append(buf, n);
        return out;
    }
    bool readRaw(char *buf, qint64 n)
    {
        qint64 done = 0;
        while (done < n) {
            if (m_socket.bytesAvailable() == 0 && !m_socket.waitForReadyRead(Patience))
                return false;
            done += m_socket.read(buf + done, n - done);
        }
        return true;
    }
    // Decrypts record by record, so that nothing after the last record is taken off the socket.
    bool readExact(char *buf, qint64 n)
    {
        if (!m_encrypted)
            return readRaw(buf, n);
        qint64 done = 0;
        while (done < n) {
            size_t got = 0;
            if (SSL_read_ex(m_ssl, buf + done, size_t(n - done), &got) == 1) {
                done += qint64(got);
                continue;
            }
            char header[5];
            if (SSL_get_error(m_ssl, 0) != SSL_ERROR_WANT_READ || !readRaw(header, 5))
                return false;
            QByteArray record(header, 5);
            record.resize(5 + qFromBigEndian<quint16>(header + 3));
            if (!readRaw(record.data() + 5, record.size() - 5))
                return false;
            BIO_write(m_in, record.constData(), int(record.size()));
        }
        return true;
    }

    QTcpSocket m_socket;
    SSL_CTX *m_ctx = nullptr;
    SSL *m_ssl = nullptr;
    BIO *m_in = nullptr;
    BIO *m_out = nullptr;
    bool m_encrypted = false;
    QString m_error;
    QList<PacketHeader> m_serverPackets;
};

QByteArray batch(const QString &sql)
{
    return packet(0x01, allHeaders() + ucs2(sql));
}

// Whether a login answer carries LOGINACK.
bool loggedIn(const QByteArray &answer)
{
    return answer.contains(char(0xAD)) && !tokenWords(answer).contains(QStringLiteral("ERROR 18456"));
}

QString binDir()
{
    const QByteArray fromEnv = qgetenv("QEL31_BIN_DIR");
    return fromEnv.isEmpty() ? QCoreApplication::applicationDirPath() : QString::fromLocal8Bit(fromEnv);
}

struct TsqlRun {
    bool finished = false;
    QString output; // stdout and stderr
};

// tsql with a private freetds.conf that says how to encrypt.
TsqlRun runTsql(const QString &folder, quint16 port, const QString &encryption, const QString &script)
{
    const QString conf = QDir(folder).filePath(QStringLiteral("freetds-%1.conf").arg(encryption));
    writeFile(conf, QStringLiteral("[global]\n[sandbox]\n\thost = 127.0.0.1\n\tport = %1\n"
                                   "\ttds version = 7.4\n\tencryption = %2\n")
                        .arg(port)
                        .arg(encryption)
                        .toUtf8());
    QProcess tsql;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FREETDSCONF"), conf);
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    env.remove(QStringLiteral("TDSVER"));
    tsql.setProcessEnvironment(env);
    tsql.setProcessChannelMode(QProcess::MergedChannels);
    tsql.start(QStringLiteral("tsql"),
               {QStringLiteral("-S"), QStringLiteral("sandbox"), QStringLiteral("-U"), Admin,
                QStringLiteral("-P"), AdminPassword, QStringLiteral("-D"), QStringLiteral("qel")});
    TsqlRun run;
    if (!tsql.waitForStarted(Patience))
        return run;
    tsql.write(script.toUtf8());
    tsql.closeWriteChannel();
    run.finished = tsql.waitForFinished(Patience);
    if (!run.finished) {
        tsql.kill();
        tsql.waitForFinished();
    }
    run.output = QString::fromUtf8(tsql.readAll());
    return run;
}

bool isLogin(const Event &e)
{
    return e.kind == EventKind::LoginOk || e.kind == EventKind::LoginFailed;
}

} // namespace

Q_DECLARE_METATYPE(Then)

class TestSandboxTls : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    TestCertificates m_certificates;

    // A server of its own with these settings (the shared default server would hide them).
    std::unique_ptr<SandboxServer> startServer(const TlsSettings &settings)
    {
        auto server = std::make_unique<SandboxServer>(QString(), true);
        server->setTlsSettings(settings);
        QString error;
        if (!server->start(QStringLiteral("127.0.0.1"), 0, &error))
            qWarning("cannot start the server: %s", qPrintable(error));
        return server;
    }
    static TlsSettings mode(EncryptionMode m)
    {
        TlsSettings settings;
        settings.mode = m;
        return settings;
    }
    // The server still serves: a login on a new connection works (inside TLS, unless the server
    // has none; offering TLS from minVersion on).
    static bool stillServes(quint16 port, int minVersion = 0)
    {
        TlsClient client(port);
        const int answer = client.preLogin(0x01);
        if (answer < 0 || (answer != 0x02 && !client.handshake(minVersion)))
            return false;
        client.send(packet(0x10, login7(Admin, AdminPassword, QStringLiteral("qel"))));
        return loggedIn(client.readMessage());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_certificates = makeTestCertificates(m_dir.path());
    }

    // The server's ENCRYPTION answer in each mode to each value a client sends, and what then
    // goes inside TLS.
    void negotiation_data()
    {
        QTest::addColumn<EncryptionMode>("mode");
        QTest::addColumn<int>("client");
        QTest::addColumn<int>("answer");
        QTest::addColumn<Then>("then");

        QTest::newRow("none, client off") << EncryptionMode::None << 0x00 << 0x02 << Then::ClearLogin;
        QTest::newRow("none, client on") << EncryptionMode::None << 0x01 << 0x02 << Then::ClearLogin;
        QTest::newRow("none, client cannot") << EncryptionMode::None << 0x02 << 0x02 << Then::ClearLogin;
        QTest::newRow("supported, client off")
            << EncryptionMode::Supported << 0x00 << 0x00 << Then::LoginInsideTls;
        QTest::newRow("supported, client on")
            << EncryptionMode::Supported << 0x01 << 0x01 << Then::AllInsideTls;
        QTest::newRow("supported, client cannot")
            << EncryptionMode::Supported << 0x02 << 0x02 << Then::ClearLogin;
        QTest::newRow("supported, client requires")
            << EncryptionMode::Supported << 0x03 << 0x01 << Then::AllInsideTls;
        QTest::newRow("forced, client off") << EncryptionMode::Forced << 0x00 << 0x03 << Then::AllInsideTls;
        QTest::newRow("forced, client on") << EncryptionMode::Forced << 0x01 << 0x01 << Then::AllInsideTls;
        QTest::newRow("forced, client cannot") << EncryptionMode::Forced << 0x02 << 0x03 << Then::Refused;
    }

    void negotiation()
    {
        QFETCH(EncryptionMode, mode);
        QFETCH(int, client);
        QFETCH(int, answer);
        QFETCH(Then, then);
        const auto server = startServer(this->mode(mode));
        QVERIFY(server->isRunning());
        TlsClient tds(server->port());
        QVERIFY(tds.connected());
        QCOMPARE(tds.preLogin(quint8(client)), answer);

        const QByteArray login = packet(0x10, login7(Admin, AdminPassword, QStringLiteral("qel")));
        if (then == Then::Refused) {
            tds.send(login);
            QVERIFY(tds.readMessage().isEmpty());
            QVERIFY(tds.closedByServer());
            QCOMPARE(server->eventCount(), 0);
            QVERIFY(stillServes(server->port()));
            return;
        }
        if (then != Then::ClearLogin)
            QVERIFY2(tds.handshake(), qPrintable(tds.error()));
        tds.send(login);
        if (then == Then::LoginInsideTls)
            tds.drop(); // the answer and all after it come in clear
        QVERIFY(loggedIn(tds.readMessage()));
        tds.send(batch(QStringLiteral("SET NOCOUNT OFF")));
        QCOMPARE(tokenWords(tds.readMessage()), QStringList{QStringLiteral("DONE")});

        const auto event = server->waitForEvent(isLogin, Patience);
        QVERIFY(event);
        QCOMPARE(event->kind, EventKind::LoginOk);
        const SessionEncryption expected = then == Then::ClearLogin       ? SessionEncryption::None
                                           : then == Then::LoginInsideTls ? SessionEncryption::LoginOnly
                                                                          : SessionEncryption::All;
        QCOMPARE(event->encryption, expected);
        QCOMPARE(event->tlsVersion, then == Then::ClearLogin ? QString() : QStringLiteral("TLSv1.2"));
        const auto statement = server->waitForEvent(Patience);
        QVERIFY(statement);
        QCOMPARE(statement->encryption, expected);
    }

    // The server's flights travel in PRELOGIN packets of at most 4096 bytes, a flight larger than
    // one packet split over several with end-of-message on the last only; the pre-login answer
    // is a reply packet.
    void handshakePackets()
    {
        // A certificate chain long enough to need more than one packet.
        QByteArray chain = readFile(m_certificates.server.certificate);
        while (chain.size() < 3 * 4096)
            chain += readFile(m_certificates.authority.certificate);
        const QString chainFile = m_dir.filePath(QStringLiteral("long-chain.pem"));
        writeFile(chainFile, chain);
        TlsSettings settings;
        settings.certificateFile = chainFile;
        settings.keyFile = m_certificates.server.key;
        const auto server = startServer(settings);
        QVERIFY(server->isRunning());

        TlsClient tds(server->port());
        QCOMPARE(tds.preLogin(0x01), 0x01);
        QVERIFY2(tds.handshake(), qPrintable(tds.error()));
        const QList<PacketHeader> packets = tds.serverPackets();
        QVERIFY(packets.size() >= 3);
        int messages = 0;
        for (const PacketHeader &p : packets) {
            QCOMPARE(p.type, quint8(0x12));
            QVERIFY(p.length <= 4096);
            messages += p.status & 0x01;
        }
        QCOMPARE(packets.first().length, 4096); // the long flight fills its packets
        QCOMPARE(messages, 2);                  // the server's two flights of TLS 1.2
        QCOMPARE(packets.last().status, quint8(0x01));

        tds.send(packet(0x10, login7(Admin, AdminPassword, QStringLiteral("qel"))));
        QVERIFY(loggedIn(tds.readMessage()));
    }

    // Offered versions: 1.2 at most by default; a lower maximum is the only version offered.
    void versions_data()
    {
        QTest::addColumn<TlsVersion>("serverMax");
        QTest::addColumn<int>("clientMin");
        QTest::addColumn<int>("clientMax");
        QTest::addColumn<QString>("agreed"); // empty: the handshake fails

        QTest::newRow("1.2 to a client of 1.3") << TlsVersion::Tls12 << 0 << 0 << "TLSv1.2";
        QTest::newRow("1.2 to a client of 1.3 only") << TlsVersion::Tls12 << TLS1_3_VERSION << 0 << "";
        QTest::newRow("1.0 to a client of 1.0 to 1.3") << TlsVersion::Tls10 << TLS1_VERSION << 0 << "TLSv1";
        QTest::newRow("1.1 to a client of 1.0 to 1.3") << TlsVersion::Tls11 << TLS1_VERSION << 0 << "TLSv1.1";
        QTest::newRow("1.1 to a client of 1.0 only")
            << TlsVersion::Tls11 << TLS1_VERSION << TLS1_VERSION << "";
        QTest::newRow("1.0 to a client of 1.2 and up") << TlsVersion::Tls10 << TLS1_2_VERSION << 0 << "";
    }

    void versions()
    {
        QFETCH(TlsVersion, serverMax);
        QFETCH(int, clientMin);
        QFETCH(int, clientMax);
        QFETCH(QString, agreed);
        TlsSettings settings;
        settings.maxVersion = serverMax;
        const auto server = startServer(settings);
        QVERIFY(server->isRunning());
        TlsClient tds(server->port());
        QCOMPARE(tds.preLogin(0x00), 0x00);
        const bool shook = tds.handshake(clientMin, clientMax);
        if (agreed.isEmpty()) {
            QVERIFY(!shook);
            QVERIFY(tds.closedByServer());
            QVERIFY(stillServes(server->port(), TLS1_VERSION));
            return;
        }
        QVERIFY2(shook, qPrintable(tds.error()));
        QCOMPARE(tds.version(), agreed);
        tds.send(packet(0x10, login7(Admin, AdminPassword, QStringLiteral("qel"))));
        tds.drop();
        QVERIFY(loggedIn(tds.readMessage()));
        const auto event = server->waitForEvent(isLogin, Patience);
        QVERIFY(event);
        QCOMPARE(event->tlsVersion, agreed);
    }

    // A handshake that breaks off ends that connection only.
    void brokenHandshake_data()
    {
        QTest::addColumn<QByteArray>("sent"); // after the pre-login that agreed on encryption
        QTest::addColumn<bool>("hangUp");

        QTest::newRow("client hangs up") << QByteArray() << true;
        QTest::newRow("no TLS inside the PRELOGIN packet")
            << packet(0x12, QByteArray("this is no client hello, just some bytes")) << false;
        QTest::newRow("a login in clear instead of the handshake")
            << packet(0x10, login7(Admin, AdminPassword, QStringLiteral("qel"))) << false;
        QTest::newRow("a fatal alert")
            << packet(0x12, QByteArray::fromHex("15030300020228")) << false; // handshake failure
    }

    void brokenHandshake()
    {
        QFETCH(QByteArray, sent);
        QFETCH(bool, hangUp);
        const auto server = startServer(mode(EncryptionMode::Supported));
        QVERIFY(server->isRunning());
        {
            TlsClient tds(server->port());
            QCOMPARE(tds.preLogin(0x00), 0x00);
            if (!hangUp) {
                tds.send(sent);
                QVERIFY(tds.closedByServer());
            }
        }
        QVERIFY(stillServes(server->port()));
        const auto event = server->waitForEvent(isLogin, Patience);
        QVERIFY(event);
        QCOMPARE(event->encryption, SessionEncryption::All); // the login of stillServes()
        QCOMPARE(server->eventCount(), 1);
    }

    // A certificate of one's own: a client that checks it for "localhost" against the test
    // authority accepts the one the authority signed for that name, and no other.
    void ownCertificate_data()
    {
        QTest::addColumn<QString>("base"); // of the PEM files
        QTest::addColumn<bool>("accepted");
        QTest::newRow("signed by the test authority") << "server" << true;
        QTest::newRow("self-signed") << "self-signed" << false;
        QTest::newRow("signed for another name") << "other" << false;
    }

    void ownCertificate()
    {
        QFETCH(QString, base);
        QFETCH(bool, accepted);
        TlsSettings settings;
        settings.certificateFile = m_dir.filePath(base + QStringLiteral(".pem"));
        settings.keyFile = m_dir.filePath(base + QStringLiteral("-key.pem"));
        const auto server = startServer(settings);
        QVERIFY(server->isRunning());
        TlsClient tds(server->port());
        QCOMPARE(tds.preLogin(0x01), 0x01);
        QCOMPARE(tds.handshake(0, 0, m_certificates.authority.certificate), accepted);
        if (!accepted)
            QVERIFY2(tds.error().contains(QLatin1String("certificate verify failed")),
                     qPrintable(tds.error()));
    }

    // The default certificate names localhost and 127.0.0.1.
    void defaultCertificateNames()
    {
        const auto server = startServer(mode(EncryptionMode::Supported));
        TlsClient tds(server->port());
        QCOMPARE(tds.preLogin(0x01), 0x01);
        QVERIFY2(tds.handshake(), qPrintable(tds.error()));
        QVERIFY(tds.certificateNames("localhost", "127.0.0.1"));
        QVERIFY(!tds.certificateNames("example.org", "127.0.0.1"));
    }

    void unusableCertificate_data()
    {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("named"); // in the error

        QTest::newRow("missing certificate file") << "missing.pem"
                                                  << "server-key.pem"
                                                  << "missing.pem";
        QTest::newRow("key of another certificate") << "server.pem"
                                                    << "other-key.pem"
                                                    << "other-key.pem";
        QTest::newRow("key file that is a certificate") << "server.pem"
                                                        << "server.pem"
                                                        << "server.pem";
        QTest::newRow("certificate without key") << "server.pem"
                                                 << ""
                                                 << "both";
    }

    void unusableCertificate()
    {
        QFETCH(QString, certificate);
        QFETCH(QString, key);
        QFETCH(QString, named);
        TlsSettings settings;
        settings.certificateFile = m_dir.filePath(certificate);
        settings.keyFile = key.isEmpty() ? QString() : m_dir.filePath(key);
        SandboxServer server(QString(), false);
        server.setTlsSettings(settings);
        QString error;
        QVERIFY(!server.start(QStringLiteral("127.0.0.1"), 0, &error));
        QVERIFY2(error.contains(named), qPrintable(error));
        // Without encryption the certificate is not needed.
        settings.mode = EncryptionMode::None;
        server.setTlsSettings(settings);
        QVERIFY2(server.start(QStringLiteral("127.0.0.1"), 0, &error), qPrintable(error));
    }

    // tsql through FreeTDS, told by its configuration how to encrypt, against each mode.
    void tsql_data()
    {
        QTest::addColumn<EncryptionMode>("mode");
        QTest::addColumn<QString>("encryption"); // freetds.conf
        QTest::addColumn<QString>("expected");   // in tsql's output
        QTest::addColumn<int>("session");        // SessionEncryption, -1: no login

        const QString answer = QStringLiteral("4242");
        const QString failed = QStringLiteral("Adaptive Server connection failed");
        QTest::newRow("none, off") << EncryptionMode::None << "off" << answer << int(SessionEncryption::None);
        QTest::newRow("none, request")
            << EncryptionMode::None << "request" << answer << int(SessionEncryption::None);
        QTest::newRow("none, require") << EncryptionMode::None << "require" << failed << -1;
        QTest::newRow("supported, off")
            << EncryptionMode::Supported << "off" << answer << int(SessionEncryption::None);
        QTest::newRow("supported, request")
            << EncryptionMode::Supported << "request" << answer << int(SessionEncryption::LoginOnly);
        QTest::newRow("supported, require")
            << EncryptionMode::Supported << "require" << answer << int(SessionEncryption::All);
        // The driver says it cannot encrypt, then does so when the server insists.
        QTest::newRow("forced, off") << EncryptionMode::Forced << "off" << answer
                                     << int(SessionEncryption::All);
        QTest::newRow("forced, request")
            << EncryptionMode::Forced << "request" << answer << int(SessionEncryption::All);
        QTest::newRow("forced, require")
            << EncryptionMode::Forced << "require" << answer << int(SessionEncryption::All);
    }

    void tsql()
    {
        QFETCH(EncryptionMode, mode);
        QFETCH(QString, encryption);
        QFETCH(QString, expected);
        QFETCH(int, session);
        const auto server = startServer(this->mode(mode));
        QVERIFY(server->isRunning());
        const TsqlRun run = runTsql(m_dir.path(), server->port(), encryption,
                                    QStringLiteral("SELECT 4242 AS answer\ngo\nexit\n"));
        QVERIFY(run.finished);
        QVERIFY2(run.output.contains(expected), qPrintable(run.output));
        if (session < 0) {
            QCOMPARE(server->eventCount(), 0);
            return;
        }
        const auto event = server->waitForEvent(isLogin, Patience);
        QVERIFY(event);
        QCOMPARE(event->kind, EventKind::LoginOk);
        QCOMPARE(event->encryption, SessionEncryption(session));
    }

    // The command's options, and the login's field in the statement log.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("refusal"); // on stderr; empty: serves

        QTest::newRow("forced, TLS 1.0, own certificate")
            << QStringList{QStringLiteral("--encryption"),      QStringLiteral("forced"),
                           QStringLiteral("--tls-max-version"), QStringLiteral("1.0"),
                           QStringLiteral("--tls-cert"),        QStringLiteral("server.pem"),
                           QStringLiteral("--tls-key"),         QStringLiteral("server-key.pem")}
            << "";
        QTest::newRow("unknown mode")
            << QStringList{QStringLiteral("--encryption"), QStringLiteral("optional")}
            << "--encryption wants none, supported or forced, not optional";
        QTest::newRow("unknown version")
            << QStringList{QStringLiteral("--tls-max-version"), QStringLiteral("1.3")}
            << "--tls-max-version wants 1.0, 1.1 or 1.2, not 1.3";
        QTest::newRow("certificate without key")
            << QStringList{QStringLiteral("--tls-cert"), QStringLiteral("server.pem")}
            << "--tls-cert and --tls-key go together";
        QTest::newRow("unreadable certificate")
            << QStringList{QStringLiteral("--tls-cert"), QStringLiteral("missing.pem"),
                           QStringLiteral("--tls-key"), QStringLiteral("server-key.pem")}
            << "cannot use the certificate";
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, refusal);
        const QString log = m_dir.filePath(QStringLiteral("statements.log"));
        QFile::remove(log);
        QProcess server;
        server.setWorkingDirectory(m_dir.path());
        server.start(QDir(binDir()).filePath(QStringLiteral("qel31-sandbox")),
                     QStringList{QStringLiteral("--demo"), QStringLiteral("--statement-log"), log} +
                         arguments);
        QVERIFY2(server.waitForStarted(Patience), qPrintable(server.errorString()));
        if (!refusal.isEmpty()) {
            QVERIFY(server.waitForFinished(Patience));
            QCOMPARE(server.exitCode(), 2);
            const QString err = QString::fromUtf8(server.readAllStandardError());
            QVERIFY2(err.contains(refusal), qPrintable(err));
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine() || server.state() != QProcess::Running, Patience);
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)\\n$"))
                .match(QString::fromUtf8(server.readLine()));
        QVERIFY(m.hasMatch());
        const TsqlRun run = runTsql(m_dir.path(), quint16(m.captured(1).toUInt()), QStringLiteral("request"),
                                    QStringLiteral("SELECT 4242 AS answer\ngo\nexit\n"));
        server.terminate();
        QVERIFY(server.waitForFinished(Patience));
        QVERIFY2(run.output.contains(QLatin1String("4242")), qPrintable(run.output));
        QCOMPARE(readFile(log).split('\n').first(), QByteArray("qel_admin\tLOGIN-OK\tqel\tencryption=all"));
    }
};

QTEST_GUILESS_MAIN(TestSandboxTls)
#include "tst_sandbox_tls.moc"
