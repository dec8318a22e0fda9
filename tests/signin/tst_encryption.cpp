// The encryption of the client's connections, through the whole real path (the login window, the
// driver, TLS) against the in-process sandbox server in each of its modes; what an eavesdropper on
// the network reads of a sign-in; and the check of certificates against the organisation's
// authority.

#include "app/application.h"
#include "checked.h"
#include "common/cp1251.h"
#include "common/programfolder.h"
#include "common/workstation.h"
#include "db/dm.h"
#include "db/driverconfiguration.h"
#include "loginwindow.h"
#include "messageboxes.h"
#include "recordingrelay.h"
#include "registration/unit1.h"
#include "sandbox/tds/sandboxserver.h"
#include "signin/loginwidgets.h"
#include "signin/settingsfile.h"
#include "signin/unit10.h"
#include "tempprogramfolder.h"
#include "testcertificates.h"
#include "testmain.h"
#include "typing.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using sandbox::EncryptionMode;
using sandbox::Event;
using sandbox::EventKind;
using sandbox::SessionEncryption;

namespace {

// The demo university's settings account and the account GET_USER gives the login "demo".
const QString kSettingsPassword = QStringLiteral("gate");
const QString kOwnAccountPassword = QStringLiteral("Группа=17;демо");

enum class ServerCertificate { Own, Authority, SelfSigned, OtherName };

// Every way a password can cross the wire in a login: its UTF-16 bytes as LOGIN7 carries them,
// scrambled as LOGIN7 scrambles them (nibbles swapped, then XOR 0xA5), and plain UTF-8 and
// Windows-1251.
QList<QByteArray> wireForms(const QString &password)
{
    const QByteArray utf16(reinterpret_cast<const char *>(password.utf16()), password.size() * 2);
    QByteArray scrambled = utf16;
    for (char &b : scrambled) {
        const auto u = quint8(b);
        b = char(quint8((u << 4) | (u >> 4)) ^ 0xA5);
    }
    return {utf16, scrambled, password.toUtf8(), Cp1251::fromUnicode(password)};
}

bool containsAny(const QByteArray &bytes, const QList<QByteArray> &forms)
{
    for (const QByteArray &form : forms)
        if (bytes.contains(form))
            return true;
    return false;
}

QByteArray utf16Bytes(const QString &text)
{
    return QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}

QString cannotEncrypt()
{
    return QStringLiteral(
        "Сервер 127.0.0.1 не умеет шифровать соединения (у него нет сертификата), а "
        "настройка безопасности Data/encryption этого компьютера требует all. Выдайте серверу "
        "сертификат или впишите в файл login.");
}

} // namespace

Q_DECLARE_METATYPE(EncryptionMode)
Q_DECLARE_METATYPE(ServerCertificate)
Q_DECLARE_METATYPE(SessionEncryption)

class TestEncryption : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void workstationSettingsAgainstServers_data();
    void workstationSettingsAgainstServers();
    void authorityFromAnyProgramFolder_data();
    void authorityFromAnyProgramFolder();
    void whatCrossesTheNetworkInClear_data();
    void whatCrossesTheNetworkInClear();

private:
    void startServer(EncryptionMode mode, ServerCertificate certificate);
    void writeWorkstationSettings(const QString &encryption, bool withAuthority, quint16 port,
                                  const QString &folder = QString());
    void signIn();
    QList<Event> logins() const;

    QTemporaryDir m_certificateFolder;
    TestCertificates m_certificates;
    std::unique_ptr<sandbox::SandboxServer> m_server;
    std::unique_ptr<TempProgramFolder> m_folder;
    std::unique_ptr<TApplication> m_app;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
};

void TestEncryption::initTestCase()
{
    // As the program does first in main(): no thread of the test reads the environment yet.
    prepareDatabaseDriver();
    QVERIFY(m_certificateFolder.isValid());
    m_certificates = makeTestCertificates(m_certificateFolder.path());
}

void TestEncryption::init()
{
    m_folder = std::make_unique<TempProgramFolder>();
    setProgramFolder(m_folder->path());
    setAddressLookup([](const QByteArray &) { return AddressLookupResult{{(10u << 24) | 40u}, 0}; });
    m_boxes = std::make_unique<MessageBoxRecorder>();
    m_app = std::make_unique<TApplication>();
}

void TestEncryption::cleanup()
{
    delete Form8;
    delete Form1;
    delete DM_MB;
    m_app.reset();
    m_boxes.reset();
    setAddressLookup({});
    setProgramFolder(QString());
    m_folder.reset();
    m_server.reset();
}

void TestEncryption::startServer(EncryptionMode mode, ServerCertificate certificate)
{
    m_server = std::make_unique<sandbox::SandboxServer>(QString(), true);
    sandbox::TlsSettings tls;
    tls.mode = mode;
    const TestCertificate *chosen = certificate == ServerCertificate::Authority ? &m_certificates.server
                                    : certificate == ServerCertificate::SelfSigned
                                        ? &m_certificates.selfSigned
                                    : certificate == ServerCertificate::OtherName ? &m_certificates.other
                                                                                  : nullptr;
    if (chosen) {
        tls.certificateFile = chosen->certificate;
        tls.keyFile = chosen->key;
    }
    m_server->setTlsSettings(tls);
    QString error;
    QVERIFY2(m_server->start(QStringLiteral("127.0.0.1"), 0, &error), qPrintable(error));
}

// Data/QEL for the demo university's settings account at 127.0.0.1,port, and the workstation's
// security settings ("" for no Data/encryption).
void TestEncryption::writeWorkstationSettings(const QString &encryption, bool withAuthority, quint16 port,
                                              const QString &folder)
{
    const QDir data((folder.isEmpty() ? m_folder->path() : folder) + QStringLiteral("/Data"));
    QVERIFY(data.mkpath(QStringLiteral(".")));
    QFile settings(data.filePath(QStringLiteral("QEL")));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write(EncodeFirstConnectInfo({QStringLiteral("qel_gate"), kSettingsPassword,
                                           QStringLiteral("qel"), QStringLiteral("127.0.0.1,%1").arg(port)}));
    settings.close();
    if (!encryption.isEmpty()) {
        QFile file(data.filePath(QStringLiteral("encryption")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(encryption.toUtf8() + '\n');
    }
    if (withAuthority)
        QVERIFY(QFile::copy(m_certificates.authority.certificate, data.filePath(QStringLiteral("ca.pem"))));
}

void TestEncryption::signIn()
{
    QVERIFY(showLoginWindow());
    typeText(Form8->Login_Edit, QStringLiteral("demo"));
    typeText(Form8->Password_Edit, QStringLiteral("demo"));
    QTest::mouseClick(Form8->SpeedButton2, Qt::LeftButton);
}

QList<Event> TestEncryption::logins() const
{
    QList<Event> found;
    for (const Event &e : m_server->events())
        if (e.kind == EventKind::LoginOk || e.kind == EventKind::LoginFailed)
            found.append(e);
    return found;
}

void TestEncryption::workstationSettingsAgainstServers_data()
{
    QTest::addColumn<QString>("encryption"); // Data/encryption, "" for none
    QTest::addColumn<bool>("withAuthority"); // Data/ca.pem with the test authority
    QTest::addColumn<EncryptionMode>("mode");
    QTest::addColumn<ServerCertificate>("certificate");
    QTest::addColumn<SessionEncryption>("session"); // of both logins, when signed in
    QTest::addColumn<QString>("refusal");           // the status text, when refused

    const auto signsIn = [](const char *name, const QString &encryption, bool authority, EncryptionMode mode,
                            ServerCertificate certificate, SessionEncryption session) {
        QTest::newRow(name) << encryption << authority << mode << certificate << session << QString();
    };
    const auto refused = [](const char *name, const QString &encryption, bool authority, EncryptionMode mode,
                            ServerCertificate certificate, const QString &text) {
        QTest::newRow(name) << encryption << authority << mode << certificate << SessionEncryption::None
                            << text;
    };
    using M = EncryptionMode;
    using C = ServerCertificate;
    using S = SessionEncryption;
    signsIn("default, server without certificate: in clear", "", false, M::None, C::Own, S::None);
    signsIn("default, server with certificate: the login encrypted", "", false, M::Supported, C::Own,
            S::LoginOnly);
    signsIn("default, server forcing encryption: everything", "", false, M::Forced, C::Own, S::All);
    refused("all, server without certificate", "all", false, M::None, C::Own, cannotEncrypt());
    signsIn("all, server with certificate", "all", false, M::Supported, C::Own, S::All);
    signsIn("off, server with certificate: in clear", "off", false, M::Supported, C::Own, S::None);
    signsIn("off, server forcing encryption: still everything", "off", false, M::Forced, C::Own, S::All);
    signsIn("authority, the authority's certificate", "", true, M::Supported, C::Authority, S::LoginOnly);
    signsIn("all and authority, forcing server", "all", true, M::Forced, C::Authority, S::All);
    signsIn("authority, server without certificate: nothing to check", "", true, M::None, C::Own, S::None);
    refused("all and authority, server without certificate", "all", true, M::None, C::Own, cannotEncrypt());
    refused("authority, self-signed certificate", "", true, M::Supported, C::SelfSigned,
            QStringLiteral(
                "Сертификат сервера 127.0.0.1 (выдан на \"localhost\", \"127.0.0.1\") не прошёл проверку "
                "по сертификату центра сертификации организации в Data/ca.pem: self-signed certificate."));
    refused("authority, the sandbox's own certificate", "", true, M::Forced, C::Own,
            QStringLiteral(
                "Сертификат сервера 127.0.0.1 (выдан на \"localhost\", \"127.0.0.1\") не прошёл проверку "
                "по сертификату центра сертификации организации в Data/ca.pem: self-signed certificate."));
    refused("authority, certificate for another name", "", true, M::Supported, C::OtherName,
            QStringLiteral(
                "Сертификат сервера 127.0.0.1 выдан на \"other.test\", а не на имя сервера из настроек "
                "(127.0.0.1). Впишите в файл настроек имя из сертификата или выдайте серверу сертификат "
                "на 127.0.0.1."));
    refused("unknown word in Data/encryption", "strict", false, M::Supported, C::Own,
            QStringLiteral(
                "Настройка безопасности Data/encryption содержит \"strict\", а допустимы только login, all и "
                "off."));
}

void TestEncryption::workstationSettingsAgainstServers()
{
    QFETCH(QString, encryption);
    QFETCH(bool, withAuthority);
    QFETCH(EncryptionMode, mode);
    QFETCH(ServerCertificate, certificate);
    QFETCH(SessionEncryption, session);
    QFETCH(QString, refusal);
    QEL31_CHECKED(startServer(mode, certificate));
    QEL31_CHECKED(writeWorkstationSettings(encryption, withAuthority, m_server->port()));

    QEL31_CHECKED(signIn());

    QVERIFY(m_boxes->boxes.isEmpty());
    if (!refusal.isEmpty()) {
        QCOMPARE(Form8->RzLabel1->Caption(), refusal);
        QVERIFY(Form8->ModalResult() != 1);
        QVERIFY(!DM_MB->ADOCon.Connected());
        for (const Event &login : logins())
            QVERIFY2(login.kind != EventKind::LoginOk, "a login went through");
        return;
    }
    QCOMPARE(Form8->ModalResult(), 1);
    const QList<Event> seen = logins();
    QCOMPARE(seen.size(), 2); // the settings account, then the user's own
    for (const Event &login : seen) {
        QCOMPARE(login.kind, EventKind::LoginOk);
        QCOMPARE(login.encryption, session);
    }
}

// The program may be installed anywhere: the authority beside the settings is read from a folder of
// any name, however long, in any letters, with blanks, '#' or ';' in it.
void TestEncryption::authorityFromAnyProgramFolder_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("long Cyrillic name with two blanks")
        << QString(60, QChar(0x0416)) + QStringLiteral("  ") + QString(60, QChar(0x0451));
    QTest::newRow("comment signs") << QStringLiteral("QEL #31; test");
    QTest::newRow("blank at the end") << QStringLiteral("QEL 31 ");
}

void TestEncryption::authorityFromAnyProgramFolder()
{
    QFETCH(QString, folder);
    QEL31_CHECKED(startServer(EncryptionMode::Forced, ServerCertificate::Authority));
    const QString program = m_folder->path() + QLatin1Char('/') + folder;
    QEL31_CHECKED(writeWorkstationSettings(QStringLiteral("all"), true, m_server->port(), program));
    setProgramFolder(program);

    QEL31_CHECKED(signIn());

    QVERIFY(m_boxes->boxes.isEmpty());
    QCOMPARE(Form8->RzLabel1->Caption(), QString());
    QCOMPARE(Form8->ModalResult(), 1);
    const QList<Event> seen = logins();
    QCOMPARE(seen.size(), 2);
    for (const Event &login : seen)
        QCOMPARE(login.encryption, SessionEncryption::All);
}

void TestEncryption::whatCrossesTheNetworkInClear_data()
{
    QTest::addColumn<QString>("encryption");
    QTest::addColumn<EncryptionMode>("mode");
    QTest::addColumn<bool>("passwordsInClear");
    QTest::addColumn<bool>("requestInClear");
    // The first row shows that the relay sees what crosses in clear.
    QTest::newRow("off: the logins in clear") << "off" << EncryptionMode::Supported << true << true;
    QTest::newRow("default: the logins inside TLS, the data in clear")
        << "" << EncryptionMode::Supported << false << true;
    QTest::newRow("all: everything inside TLS") << "all" << EncryptionMode::Supported << false << false;
    QTest::newRow("default, server forcing encryption") << "" << EncryptionMode::Forced << false << false;
}

void TestEncryption::whatCrossesTheNetworkInClear()
{
    QFETCH(QString, encryption);
    QFETCH(EncryptionMode, mode);
    QFETCH(bool, passwordsInClear);
    QFETCH(bool, requestInClear);
    QEL31_CHECKED(startServer(mode, ServerCertificate::Own));
    RecordingRelay relay(m_server->port());
    QEL31_CHECKED(writeWorkstationSettings(encryption, false, relay.port()));

    QEL31_CHECKED(signIn());

    QCOMPARE(Form8->ModalResult(), 1);
    QCOMPARE(relay.connectionCount(), 2);
    const QByteArray sent = relay.clientBytes();
    QCOMPARE(containsAny(sent, wireForms(kSettingsPassword)), passwordsInClear);
    QCOMPARE(containsAny(sent, wireForms(kOwnAccountPassword)), passwordsInClear);
    QCOMPARE(sent.contains(utf16Bytes(QStringLiteral("EXEC GET_USER 'demo'"))), requestInClear);
}

QEL31_TEST_MAIN(TestEncryption)
#include "tst_encryption.moc"
