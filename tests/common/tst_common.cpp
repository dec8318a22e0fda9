// The shared facilities: password digest, shifted text, the Windows-1251 helper, workstation identity.

#include "common/cp1251.h"
#include "common/error.h"
#include "common/md5.h"
#include "common/securitysettings.h"
#include "common/shiftedtext.h"
#include "common/workstation.h"

#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <iconv.h>

namespace {

// The letters a..z repeated up to n characters.
QString alphabetRun(int n)
{
    QString s;
    for (int i = 0; i < n; ++i)
        s.append(QChar(u'a' + i % 26));
    return s;
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(), qPrintable(path));
}

// Restores the system's address lookups when a test ends.
struct LookupGuard {
    explicit LookupGuard(AddressLookup lookup) { setAddressLookup(std::move(lookup)); }
    ~LookupGuard() { setAddressLookup({}); }
};
struct LookupsGuard {
    explicit LookupsGuard(WorkstationLookups lookups) { setWorkstationLookups(std::move(lookups)); }
    ~LookupsGuard() { setWorkstationLookups({}); }
};

} // namespace

class TestCommon : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void md5Hex_data();
    void md5Hex();
    void md5HexOfCyrillicUsesWindows1251Bytes();
    void md5HexDigestsZeroBytes();

    void unshiftText_data();
    void unshiftText();

    void cp1251MatchesTheSystemConverter();
    void cp1251ReplacesWhatItCannotHold_data();
    void cp1251ReplacesWhatItCannotHold();

    void workstationIp_data();
    void workstationIp();
    void workstationIpFailure_data();
    void workstationIpFailure();
    void workstationIpAsksForTheMachinesOwnName();
    void workstationIdentityOfThisMachine();

    void securitySettings_data();
    void securitySettings();
    void securitySettingsThatCannotBeReadAreRefused_data();
    void securitySettingsThatCannotBeReadAreRefused();
};

void TestCommon::md5Hex_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("digest");
    // The test suite of RFC 1321, in upper case.
    QTest::newRow("empty text") << QString() << "D41D8CD98F00B204E9800998ECF8427E";
    QTest::newRow("a") << "a"
                       << "0CC175B9C0F1B6A831C399E269772661";
    QTest::newRow("abc") << "abc"
                         << "900150983CD24FB0D6963F7D28E17F72";
    QTest::newRow("message digest") << "message digest"
                                    << "F96B697D7CB7938D525A2F31AAF161D0";
    QTest::newRow("alphabet") << "abcdefghijklmnopqrstuvwxyz"
                              << "C3FCD3D76192E4007DFB496CCA67E13B";
    QTest::newRow("letters and digits") << "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
                                        << "D174AB98D277D9F5A5611C2C9F419D9F";
    QTest::newRow("80 digits") << QString(QStringLiteral("1234567890")).repeated(8)
                               << "57EDF4A22BE3C955AC49DA2E2107B67A";
    // Where the padding just fits in the last block or spills into one more.
    QTest::newRow("55 bytes: padding fits") << alphabetRun(55) << "0D7AE056B2F015CD7DC67494EFD658F1";
    QTest::newRow("56 bytes: padding spills") << alphabetRun(56) << "31FCFB5165169EB55898E7E4CF34D19A";
    QTest::newRow("63 bytes") << alphabetRun(63) << "1B30C0670C15E7DA3C2BA7BCE77EBE99";
    QTest::newRow("64 bytes: one whole block") << alphabetRun(64) << "A2EAF6295C32ADC403865FD96A2F182B";
    QTest::newRow("119 bytes") << alphabetRun(119) << "B05187E08DA41FA3EF16BD56AFAAFD99";
    QTest::newRow("120 bytes") << alphabetRun(120) << "62AF9B597A9F55E16AB2B897387FC052";
}

void TestCommon::md5Hex()
{
    QFETCH(QString, text);
    QFETCH(QString, digest);
    const QString first = Md5Hex(text);
    QCOMPARE(first, digest);
    QCOMPARE(Md5Hex(text), first); // no salt, no clock
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]{32}$")).match(first).hasMatch());
}

void TestCommon::md5HexOfCyrillicUsesWindows1251Bytes()
{
    const QString password = QStringLiteral("Пароль");
    QCOMPARE(Md5Hex(password), QStringLiteral("08F8E03BD59A7C67DC44028B3E073D5E"));
    QVERIFY(Md5Hex(password) != Md5Hex(password.toUtf8()));
}

void TestCommon::md5HexDigestsZeroBytes()
{
    QCOMPARE(Md5Hex(QByteArray("a\0b", 3)), QStringLiteral("70350F6027BCE3713F6B76473084309B"));
    QCOMPARE(Md5Hex(QString(QStringLiteral("a")) + QChar(0) + QStringLiteral("b")),
             QStringLiteral("70350F6027BCE3713F6B76473084309B"));
}

void TestCommon::unshiftText_data()
{
    QTest::addColumn<QByteArray>("shifted");
    QTest::addColumn<QByteArray>("plain");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("abc") << QByteArray("abc") << QByteArray("bcd");
    QTest::newRow("zero byte") << QByteArray(1, '\0') << QByteArray(1, '\1');
    QTest::newRow("Я (223) gives а (224)") << QByteArray(1, char(223)) << QByteArray(1, char(224));
    QTest::newRow("255 gives 0, kept inside") << QByteArray("a\xff"
                                                            "b")
                                              << QByteArray("b\0c", 3);
    QTest::newRow("unshifted value comes out one higher") << QByteArray("sa") << QByteArray("tb");
}

void TestCommon::unshiftText()
{
    QFETCH(QByteArray, shifted);
    QFETCH(QByteArray, plain);
    const QByteArray before = shifted;
    QCOMPARE(UnshiftText(shifted), plain);
    QCOMPARE(shifted, before);
}

void TestCommon::cp1251MatchesTheSystemConverter()
{
    iconv_t cd = iconv_open("UTF-16LE", "CP1251");
    QVERIFY(cd != iconv_t(-1));
    for (int b = 0; b < 256; ++b) {
        const QByteArray byte(1, char(b));
        QCOMPARE(Cp1251::fromUnicode(Cp1251::toUnicode(byte)), byte); // every byte survives
        if (b == 0x98)
            continue; // no character in the code page; the system converter refuses it
        char in = char(b);
        char16_t out = 0;
        char *inp = &in;
        char *outp = reinterpret_cast<char *>(&out);
        size_t inLeft = 1, outLeft = 2;
        QVERIFY2(iconv(cd, &inp, &inLeft, &outp, &outLeft) != size_t(-1), qPrintable(QString::number(b)));
        QCOMPARE(Cp1251::toUnicode(byte).at(0).unicode(), out);
    }
    iconv_close(cd);
}

void TestCommon::cp1251ReplacesWhatItCannotHold_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("encodable");
    QTest::newRow("Cyrillic") << QStringLiteral("Привет Ёё")
                              << QByteArray("\xcf\xf0\xe8\xe2\xe5\xf2 \xa8\xb8") << true;
    QTest::newRow("Greek") << QStringLiteral("aλb") << QByteArray("a?b") << false;
    QTest::newRow("outside the BMP is one character") << QStringLiteral("a😀b") << QByteArray("a?b") << false;
    QTest::newRow("euro and numero") << QStringLiteral("€№") << QByteArray("\x88\xb9") << true;
}

void TestCommon::cp1251ReplacesWhatItCannotHold()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, encodable);
    QCOMPARE(Cp1251::fromUnicode(text), bytes);
    QCOMPARE(Cp1251::canEncode(text), encodable);
}

// An IPv4 address in host byte order from its four bytes.
constexpr quint32 ip4(quint32 a, quint32 b, quint32 c, quint32 d)
{
    return (a << 24) | (b << 16) | (c << 8) | d;
}

const quint32 kLan = ip4(192, 168, 1, 5);
const quint32 kDebianName = ip4(127, 0, 1, 1);
const quint32 kConnection = ip4(192, 0, 2, 2);
const quint32 kRemoteServer = ip4(198, 51, 100, 4);

void TestCommon::workstationIp_data()
{
    QTest::addColumn<QList<quint32>>("named");    // what the host name resolves to
    QTest::addColumn<int>("nameError");           // or the lookup's error
    QTest::addColumn<QList<quint32>>("own");      // the machine's interfaces
    QTest::addColumn<quint32>("connectionLocal"); // 0: no connection's address
    QTest::addColumn<QList<quint32>>("servers");
    QTest::addColumn<quint32>("routeSource"); // 0: no route to any server
    QTest::addColumn<QString>("ip");
    const QList<quint32> none;
    const QList<quint32> remote{kRemoteServer};

    QTest::newRow("resolves to a LAN address: that address")
        << QList<quint32>{kLan} << 0 << QList<quint32>{kLan, kConnection} << kConnection << remote
        << kConnection << "192.168.1.5";
    QTest::newRow("the first own address that is not loopback, in the resolver's order")
        << QList<quint32>{kDebianName, ip4(10, 0, 0, 5), kLan} << 0
        << QList<quint32>{kDebianName, ip4(10, 0, 0, 5), kLan} << kConnection << remote << 0u << "10.0.0.5";
    QTest::newRow("resolves to 127.0.1.1 only, remote server: the connection's address")
        << QList<quint32>{kDebianName} << 0 << QList<quint32>{kConnection} << kConnection << remote << 0u
        << "192.0.2.2";
    QTest::newRow("resolves to an address this machine no longer has: the connection's address")
        << QList<quint32>{ip4(203, 0, 113, 9)} << 0 << QList<quint32>{kConnection} << kConnection << remote
        << 0u << "192.0.2.2";
    QTest::newRow("does not resolve: the connection's address")
        << none << 11001 << QList<quint32>{kConnection} << kConnection << remote << 0u << "192.0.2.2";
    QTest::newRow("does not resolve, no connection's address: where the route leaves from")
        << none << 11001 << QList<quint32>{kConnection} << 0u << remote << kConnection << "192.0.2.2";
    QTest::newRow("server on this machine: loopback")
        << QList<quint32>{kDebianName} << 0 << QList<quint32>{kConnection} << ip4(127, 0, 0, 1)
        << QList<quint32>{ip4(127, 0, 0, 1)} << ip4(127, 0, 0, 1) << "127.0.0.1";
    QTest::newRow("zero bytes unpadded")
        << QList<quint32>{ip4(10, 0, 0, 11)} << 0 << QList<quint32>{ip4(10, 0, 0, 11)} << 0u << none << 0u
        << "10.0.0.11";
    QTest::newRow("all 255") << none << 11001 << none << 0xFFFFFFFFu << none << 0u << "255.255.255.255";
}

void TestCommon::workstationIp()
{
    QFETCH(QList<quint32>, named);
    QFETCH(int, nameError);
    QFETCH(QList<quint32>, own);
    QFETCH(quint32, connectionLocal);
    QFETCH(QList<quint32>, servers);
    QFETCH(quint32, routeSource);
    QFETCH(QString, ip);
    LookupsGuard guard({[&](const QByteArray &) {
                            return AddressLookupResult{named, nameError};
                        },
                        [&](quint32 address) { return own.contains(address); },
                        [&](quint32) -> std::optional<quint32> {
                            if (routeSource == 0)
                                return std::nullopt;
                            return routeSource;
                        }});
    ServerRoute route;
    if (connectionLocal != 0)
        route.connectionLocal = connectionLocal;
    route.serverAddresses = servers;
    QCOMPARE(WorkstationIp(route), ip);
}

void TestCommon::workstationIpFailure_data()
{
    QTest::addColumn<QList<quint32>>("named");
    QTest::addColumn<int>("nameError");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("message");
    const QList<quint32> none;
    QTest::newRow("resolves nowhere, no connection, no route")
        << none << 11001 << 11001 << "Socket Error # 11001\r\nHost not found.";
    QTest::newRow("try again") << none << 11002 << 11002 << "Socket Error # 11002\r\n";
    QTest::newRow("no recovery") << none << 11003 << 11003 << "Socket Error # 11003\r\n";
    QTest::newRow("no data") << none << 11004 << 11004 << "Socket Error # 11004\r\n";
    QTest::newRow("loopback name only, the remote server out of reach")
        << QList<quint32>{kDebianName} << 0 << 10051 << "Socket Error # 10051\r\nNetwork is unreachable.";
}

void TestCommon::workstationIpFailure()
{
    QFETCH(QList<quint32>, named);
    QFETCH(int, nameError);
    QFETCH(int, error);
    QFETCH(QString, message);
    LookupsGuard guard({[&](const QByteArray &) {
                            return AddressLookupResult{named, nameError};
                        },
                        [](quint32) { return true; }, [](quint32) { return std::optional<quint32>(); }});
    try {
        WorkstationIp(ServerRoute{std::nullopt, {kRemoteServer}});
        QFAIL("no error raised");
    } catch (const SocketError &e) {
        QCOMPARE(e.code(), error);
        QCOMPARE(e.message(), message);
    }
}

void TestCommon::workstationIpAsksForTheMachinesOwnName()
{
    QByteArray asked;
    int calls = 0;
    quint32 answer = kLan;
    LookupGuard guard([&](const QByteArray &name) {
        asked = name;
        ++calls;
        return AddressLookupResult{{answer}, 0};
    });
    QCOMPARE(WorkstationIp(ServerRoute{kConnection, {}}), QStringLiteral("192.168.1.5"));
    answer = ip4(192, 168, 1, 6);
    QCOMPARE(WorkstationIp(ServerRoute{kConnection, {}}), QStringLiteral("192.168.1.6"));
    QCOMPARE(calls, 2); // looked up afresh on every call
    QCOMPARE(QString::fromLocal8Bit(asked), QHostInfo::localHostName());
}

void TestCommon::workstationIdentityOfThisMachine()
{
    QCOMPARE(WorkstationName(), QHostInfo::localHostName());
    // The system's own lookups, with a server on loopback: the route needs no packet. Either the
    // name resolves to an address of this machine's network, or the route gives loopback.
    const QString ip = WorkstationIp(ServerRoute{std::nullopt, {ip4(127, 0, 0, 1)}});
    QVERIFY2(
        QRegularExpression(QStringLiteral(R"(^\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3}$)")).match(ip).hasMatch(),
        qPrintable(ip));
    if (!ip.startsWith(QLatin1String("127.")))
        QVERIFY2(!QHostInfo::fromName(QHostInfo::localHostName()).addresses().isEmpty(), qPrintable(ip));
    else
        QCOMPARE(ip, QStringLiteral("127.0.0.1"));
}

void TestCommon::securitySettings_data()
{
    QTest::addColumn<QByteArray>("encryptionFile"); // "-": no file
    QTest::addColumn<bool>("withAuthority");
    QTest::addColumn<int>("encryption");
    QTest::newRow("nothing set: the login encrypted")
        << QByteArray("-") << false << int(EncryptionSetting::Login);
    QTest::newRow("login") << QByteArray("login\n") << false << int(EncryptionSetting::Login);
    QTest::newRow("all, blanks and case aside, more lines")
        << QByteArray("  ALL \r\nwhatever follows\n") << true << int(EncryptionSetting::All);
    QTest::newRow("off without a line end") << QByteArray("off") << false << int(EncryptionSetting::Off);
    QTest::newRow("an empty file is the default") << QByteArray("") << true << int(EncryptionSetting::Login);
}

void TestCommon::securitySettings()
{
    QFETCH(QByteArray, encryptionFile);
    QFETCH(bool, withAuthority);
    QTemporaryDir folder;
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("Data")));
    if (encryptionFile != "-")
        writeBytes(folder.filePath(QStringLiteral("Data/encryption")), encryptionFile);
    if (withAuthority)
        writeBytes(
            folder.filePath(QStringLiteral("Data/ca.pem")),
            "# the organisation's authority\n-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n");
    const SecuritySettings settings = ReadSecuritySettings(folder.path());
    QTEST(int(settings.encryption), "encryption");
    QCOMPARE(settings.authorityFile,
             withAuthority ? QDir(folder.path()).absoluteFilePath(QStringLiteral("Data/ca.pem")) : QString());
}

// A setting that cannot be read never falls back to the weaker default.
void TestCommon::securitySettingsThatCannotBeReadAreRefused_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown word")
        << "Data/encryption" << QByteArray("strict\n")
        << "Настройка безопасности Data/encryption содержит \"strict\", а допустимы только login, all "
           "и off.";
    QTest::newRow("authority without a certificate")
        << "Data/ca.pem" << QByteArray("not a certificate\n")
        << "В настройке безопасности Data/ca.pem нет сертификата в формате PEM.";
    QTest::newRow("authority that is a folder") << "Data/ca.pem/" << QByteArray() << "";
}

void TestCommon::securitySettingsThatCannotBeReadAreRefused()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    QTemporaryDir folder;
    QVERIFY(QDir(folder.path()).mkpath(QStringLiteral("Data")));
    if (file.endsWith(u'/'))
        QVERIFY(QDir(folder.path()).mkpath(file));
    else
        writeBytes(folder.filePath(file), bytes);
    try {
        ReadSecuritySettings(folder.path());
        QFAIL("the setting was taken");
    } catch (const Error &error) {
        if (!message.isEmpty())
            QCOMPARE(error.message(), message);
        else
            QVERIFY2(error.message().startsWith(QStringLiteral("Не удалось прочесть настройку безопасности "
                                                               "Data/ca.pem")),
                     qPrintable(error.message()));
    }
}

QTEST_GUILESS_MAIN(TestCommon)
#include "tst_common.moc"
