// The settings file, the connection string and the qel31-settings command that writes the file.

#include "common/cp1251.h"
#include "common/error.h"
#include "signin/connectionstring.h"
#include "signin/settingsfile.h"
#include "tempprogramfolder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <cerrno>

Q_DECLARE_METATYPE(TFirstConnectInfo)

namespace {

// Stored form of a Windows-1251 text: every byte one lower.
QByteArray stored(const QString &text)
{
    QByteArray bytes = Cp1251::fromUnicode(text);
    for (auto &b : bytes)
        b = char(uchar(b) - 1);
    return bytes;
}

TFirstConnectInfo info(const QString &user, const QString &password, const QString &database,
                       const QString &server)
{
    return TFirstConnectInfo{user, password, database, server};
}

QString binary(const char *name)
{
    return qEnvironmentVariable("QEL31_BIN_DIR") + QLatin1Char('/') + QLatin1String(name);
}

enum class Layout { File, NoFile, NoDataFolder, DataIsAFile, FileIsAFolder, ReadFails };

} // namespace

Q_DECLARE_METATYPE(Layout)

class TestSignIn : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readFirstConnectInfo_data();
    void readFirstConnectInfo();
    void readFailure_data();
    void readFailure();
    void fileIsReadAfreshEachTime();

    void connectionString_data();
    void connectionString();

    void settingsCommandRoundTrip_data();
    void settingsCommandRoundTrip();
    void settingsCommandRefuses_data();
    void settingsCommandRefuses();
};

void TestSignIn::readFirstConnectInfo_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<TFirstConnectInfo>("expected");

    const QByteArray user = stored(QStringLiteral("qel_gate")), password = stored(QStringLiteral("gate"));
    const QByteArray server = stored(QStringLiteral("127.0.0.1,1433")),
                     database = stored(QStringLiteral("qel"));
    const auto plain = settingsBytes(user, 8, password, 4, server, 14, database, 3);
    const auto plainInfo = info("qel_gate", "gate", "qel", "127.0.0.1,1433");

    QTest::newRow("plain values") << plain << plainInfo;
    QTest::newRow("trailing bytes after 84 are ignored") << plain + QByteArray(100, 'x') << plainInfo;
    QTest::newRow("server area first, then database")
        << settingsBytes(user, 8, password, 4, database, 3, server, 14)
        << info("qel_gate", "gate", "127.0.0.1,1433", "qel");
    QTest::newRow("lengths 0 give empty values")
        << settingsBytes(user, 0, password, 0, server, 0, database, 0) << info("", "", "", "");
    QTest::newRow("bytes after the length are ignored")
        << settingsBytes(user, 3, password, 2, server, 9, database, 1) << info("qel", "ga", "q", "127.0.0.1");

    const QByteArray twenty = stored(QStringLiteral("abcdefghijklmnopqrst"));
    QTest::newRow("length 20 takes the whole area")
        << settingsBytes(twenty, 20, twenty, 20, twenty, 20, twenty, 20)
        << info("abcdefghijklmnopqrst", "abcdefghijklmnopqrst", "abcdefghijklmnopqrst",
                "abcdefghijklmnopqrst");
    QTest::newRow("length 255 takes the whole area")
        << settingsBytes(twenty, 255, twenty, 21, twenty, 200, twenty, 255)
        << info("abcdefghijklmnopqrst", "abcdefghijklmnopqrst", "abcdefghijklmnopqrst",
                "abcdefghijklmnopqrst");

    // Zero bytes inside a value are part of it and come out as code 1.
    const QString ones = QString(QChar(1)).repeated(2);
    QTest::newRow("zero bytes inside a value are kept")
        << settingsBytes(QByteArray("ab\0\0c", 5), 5, QByteArray(), 20, server, 14, database, 3)
        << info(QStringLiteral("bc") + ones + QStringLiteral("d"), QString(QChar(1)).repeated(20), "qel",
                "127.0.0.1,1433");

    QTest::newRow("Cyrillic values") << settingsBytes(stored(QStringLiteral("вахтёр")), 6,
                                                      stored(QStringLiteral("Пароль;1")), 8, server, 14,
                                                      stored(QStringLiteral("Деканат")), 7)
                                     << info(QStringLiteral("вахтёр"), QStringLiteral("Пароль;1"),
                                             QStringLiteral("Деканат"), "127.0.0.1,1433");
    QTest::newRow("a stored 255 becomes 0 and stays")
        << settingsBytes(QByteArray("a\xff"
                                    "b"),
                         3, password, 4, server, 14, database, 3)
        << info(QStringLiteral("b") + QChar(0) + QStringLiteral("c"), "gate", "qel", "127.0.0.1,1433");
}

void TestSignIn::readFirstConnectInfo()
{
    QFETCH(QByteArray, file);
    QFETCH(TFirstConnectInfo, expected);
    TempProgramFolder folder;
    folder.writeSettings(file);
    const TFirstConnectInfo got = ReadFirstConnectInfo(folder.path());
    QCOMPARE(got.User, expected.User);
    QCOMPARE(got.Password, expected.Password);
    QCOMPARE(got.Database, expected.Database);
    QCOMPARE(got.Server, expected.Server);
}

void TestSignIn::readFailure_data()
{
    QTest::addColumn<Layout>("layout");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("83 bytes") << Layout::File << QByteArray(83, 'a') << 100 << "Read beyond end of file";
    QTest::newRow("empty file") << Layout::File << QByteArray() << 100 << "Read beyond end of file";
    QTest::newRow("no file") << Layout::NoFile << QByteArray() << 2 << "File not found";
    QTest::newRow("no Data folder") << Layout::NoDataFolder << QByteArray() << 3 << "Invalid filename";
    QTest::newRow("Data is a file") << Layout::DataIsAFile << QByteArray() << 3 << "Invalid filename";
    QTest::newRow("a folder where the file should be")
        << Layout::FileIsAFolder << QByteArray() << 5 << "File access denied";
    // A device that fails to read (EIO) is no write error: the number, in the text of the causes
    // without a text of their own.
    QTest::newRow("the read fails with an input/output error")
        << Layout::ReadFails << QByteArray() << EIO << QStringLiteral("I/O error %1").arg(EIO);
}

void TestSignIn::readFailure()
{
    QFETCH(Layout, layout);
    QFETCH(QByteArray, file);
    QFETCH(int, code);
    QFETCH(QString, message);
    TempProgramFolder folder;
    switch (layout) {
    case Layout::File:
        folder.writeSettings(file);
        break;
    case Layout::NoFile:
        folder.makeDataFolder();
        break;
    case Layout::NoDataFolder:
        break;
    case Layout::DataIsAFile: {
        QFile data(folder.path() + QStringLiteral("/Data"));
        QVERIFY(data.open(QIODevice::WriteOnly));
        break;
    }
    case Layout::FileIsAFolder:
        QVERIFY(QDir(folder.path()).mkpath(QStringLiteral("Data/QEL")));
        break;
    case Layout::ReadFails:
        // The memory of the reading process opens, and its first page, never mapped, fails to read.
        folder.makeDataFolder();
        QVERIFY(QFile::link(QStringLiteral("/proc/self/mem"), folder.settingsPath()));
        break;
    }
    try {
        ReadFirstConnectInfo(folder.path());
        QFAIL("no error raised");
    } catch (const InOutError &e) {
        QCOMPARE(e.code(), code);
        QCOMPARE(e.message(), message); // the full stop is the error display's
    }
}

void TestSignIn::fileIsReadAfreshEachTime()
{
    TempProgramFolder folder;
    folder.writeSettings(settingsBytes(stored("one"), 3, {}, 0, {}, 0, {}, 0));
    QCOMPARE(ReadFirstConnectInfo(folder.path()).User, QStringLiteral("one"));
    folder.writeSettings(settingsBytes(stored("two"), 3, {}, 0, {}, 0, {}, 0));
    QCOMPARE(ReadFirstConnectInfo(folder.path()).User, QStringLiteral("two"));
}

void TestSignIn::connectionString_data()
{
    QTest::addColumn<TFirstConnectInfo>("values");
    QTest::addColumn<QString>("expected");
    const QString tail =
        QStringLiteral(";Use Procedure for Prepare=1;Auto Translate=True;Packet Size=4096;"
                       "Use Encryption for Data=False;Tag with column collation when possible=False");
    QTest::newRow("plain") << info("qel_gate", "gate", "qel", "db01,1433")
                           << QStringLiteral("Provider=SQLOLEDB.1;Password=gate;Persist Security Info=True;"
                                             "User ID=qel_gate;Initial Catalog=qel;Data Source=db01,1433") +
                                  tail;
    QTest::newRow("Cyrillic") << info(QStringLiteral("вахтёр"), QStringLiteral("Пароль"),
                                      QStringLiteral("Деканат"), QStringLiteral("сервер\\ЯДРО"))
                              << QStringLiteral(
                                     "Provider=SQLOLEDB.1;Password=Пароль;Persist Security Info=True;"
                                     "User ID=вахтёр;Initial Catalog=Деканат;Data Source=сервер\\ЯДРО") +
                                     tail;
    QTest::newRow("empty values inserted as empty")
        << info("", "", "", "")
        << QStringLiteral("Provider=SQLOLEDB.1;Password=;Persist Security "
                          "Info=True;User ID=;Initial Catalog=;Data Source=") +
               tail;
    QTest::newRow("values inserted as they are")
        << info("a;b", "p=w'\"{}", "d b", " s ")
        << QStringLiteral("Provider=SQLOLEDB.1;Password=p=w'\"{};Persist "
                          "Security Info=True;User ID=a;b;Initial Catalog=d "
                          "b;Data Source= s ") +
               tail;
}

void TestSignIn::connectionString()
{
    QFETCH(TFirstConnectInfo, values);
    QFETCH(QString, expected);
    QCOMPARE(BuildConnectionString(values), expected);
}

void TestSignIn::settingsCommandRoundTrip_data()
{
    QTest::addColumn<TFirstConnectInfo>("values");
    QTest::newRow("demo settings") << info("qel_gate", "gate", "qel", "127.0.0.1,14330");
    QTest::newRow("20 Cyrillic letters fit")
        << info(QStringLiteral("абвгдеёжзийклмнопрст"), QStringLiteral("Пароль;{x}="),
                QStringLiteral("Деканат"), QStringLiteral("сервер\\ЯДРО"));
    QTest::newRow("empty values") << info("", "", "", "");
}

void TestSignIn::settingsCommandRoundTrip()
{
    QFETCH(TFirstConnectInfo, values);
    TempProgramFolder folder;
    folder.writeSettings(QByteArray(300, 'x')); // an existing file is replaced as a whole
    QProcess tool;
    tool.start(binary("qel31-settings"),
               {folder.settingsPath(), QStringLiteral("--user"), values.User, QStringLiteral("--password"),
                values.Password, QStringLiteral("--server"), values.Server, QStringLiteral("--database"),
                values.Database});
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitCode(), 0);

    QFile file(folder.settingsPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QCOMPARE(bytes.size(), kSettingsFileSize);
    QCOMPARE(bytes, EncodeFirstConnectInfo(values));
    QCOMPARE(ReadFirstConnectInfo(folder.path()), values);
}

void TestSignIn::settingsCommandRefuses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("complaint");
    const QStringList rest = {QStringLiteral("--password"), QStringLiteral("p"),
                              QStringLiteral("--server"),   QStringLiteral("s"),
                              QStringLiteral("--database"), QStringLiteral("d")};
    QTest::newRow("21 bytes")
        << (QStringList{QStringLiteral("--user"), QStringLiteral("abcdefghijklmnopqrstu")} + rest)
        << "21 bytes long";
    QTest::newRow("21 Cyrillic letters")
        << (QStringList{QStringLiteral("--user"), QStringLiteral("абвгдеёжзийклмнопрсту")} + rest)
        << "21 bytes long";
    QTest::newRow("outside Windows-1251")
        << (QStringList{QStringLiteral("--user"), QStringLiteral("λ")} + rest) << "outside Windows-1251";
    QTest::newRow("a value missing") << rest << "--user is missing";
}

void TestSignIn::settingsCommandRefuses()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, complaint);
    TempProgramFolder folder;
    const QByteArray before = settingsBytes(stored("keep"), 4, {}, 0, {}, 0, {}, 0);
    folder.writeSettings(before);
    QProcess tool;
    tool.start(binary("qel31-settings"), QStringList{folder.settingsPath()} + arguments);
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitCode(), 1);
    const QString error = QString::fromUtf8(tool.readAllStandardError());
    QVERIFY2(error.contains(complaint), qPrintable(error));
    QFile file(folder.settingsPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before); // nothing written
}

QTEST_GUILESS_MAIN(TestSignIn)
#include "tst_signin.moc"
