// The settings file, the connection string and the qel31-settings command that writes the file.

#include "common/cp1251.h"
#include "common/error.h"
#include "signin/connectionstring.h"
#include "signin/settingsfile.h"
#include "tempprogramfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

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

// What one run of qel31-settings did.
struct ToolRun {
    int exitCode = -1;
    QByteArray out;
    QString error;
};

// Runs qel31-settings with the arguments, the input on its standard input (then closed) and the
// child's setup (a umask, a terminal) done before it starts.
ToolRun runSettingsTool(const QStringList &arguments, const QByteArray &input = {},
                        const std::function<void()> &childSetup = {})
{
    QProcess tool;
    if (childSetup)
        tool.setChildProcessModifier(childSetup);
    tool.start(binary("qel31-settings"), arguments);
    ToolRun run;
    if (!tool.waitForStarted(60000))
        return run;
    tool.write(input);
    tool.closeWriteChannel();
    if (!tool.waitForFinished(60000))
        return run;
    run.exitCode = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    run.out = tool.readAllStandardOutput();
    run.error = QString::fromUtf8(tool.readAllStandardError());
    return run;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// The permission bits in octal, as ls and chmod write them.
QString modeOf(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("(missing)");
    return QStringLiteral("%1").arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
}

// A pseudo-terminal whose far end becomes a child's standard input.
class Terminal {
public:
    Terminal()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0)
            m_slaveName = ::ptsname(m_master);
    }
    ~Terminal()
    {
        if (m_master >= 0)
            ::close(m_master);
    }
    Terminal(const Terminal &) = delete;
    Terminal &operator=(const Terminal &) = delete;

    bool isOpen() const { return !m_slaveName.isEmpty(); }
    std::function<void()> asStandardInput() const
    {
        const QByteArray name = m_slaveName;
        return [name] {
            const int fd = ::open(name.constData(), O_RDWR | O_NOCTTY);
            ::dup2(fd, STDIN_FILENO);
            ::close(fd);
        };
    }
    // What a person types: the text as keys, then Enter.
    bool type(const QByteArray &line) const
    {
        const QByteArray keys = line + '\n';
        return ::write(m_master, keys.constData(), size_t(keys.size())) == keys.size();
    }
    // What the terminal has shown of the input until `lines` line ends have been echoed.
    QByteArray echoUpTo(int lines) const
    {
        QByteArray shown;
        const QDeadlineTimer deadline(60000);
        while (shown.count('\n') < lines) {
            pollfd readable{m_master, POLLIN, 0};
            if (::poll(&readable, 1, int(deadline.remainingTime())) <= 0)
                break;
            char buffer[256];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n <= 0)
                break; // the far end is closed and all it showed has been read
            shown.append(buffer, n);
        }
        return shown;
    }

private:
    int m_master = -1;
    QByteArray m_slaveName;
};

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
    void settingsCommandMode_data();
    void settingsCommandMode();
    void settingsCommandPasswordFromInput_data();
    void settingsCommandPasswordFromInput();
    void settingsCommandAsksWithoutEcho_data();
    void settingsCommandAsksWithoutEcho();
    void settingsCommandShows_data();
    void settingsCommandShows();
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
    // A full host name with its port does not fit: the refusal says what does.
    QTest::newRow("a server's full name with its port")
        << QStringList{QStringLiteral("--user"),     QStringLiteral("u"),
                       QStringLiteral("--password"), QStringLiteral("p"),
                       QStringLiteral("--server"),   QStringLiteral("sql01.university.example.edu,1433"),
                       QStringLiteral("--database"), QStringLiteral("d")}
        << "The server is 33 bytes long; at most 20 fit: give the server's IP address";
    QTest::newRow("--show with a value")
        << QStringList{QStringLiteral("--show"), QStringLiteral("--user"), QStringLiteral("u")}
        << "leave out --user";
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

void TestSignIn::settingsCommandMode_data()
{
    QTest::addColumn<int>("umask");
    QTest::addColumn<int>("existingMode");   // -1: no file yet
    QTest::addColumn<QString>("subfolders"); // made by the command on the way to the file

    QTest::newRow("umask 077, a new file") << 077 << -1 << QString();
    QTest::newRow("umask 077, an existing file of mode 0600 opens to all") << 077 << 0600 << QString();
    QTest::newRow("umask 000, not writable by others") << 0 << -1 << QString();
    QTest::newRow("umask 077, the folders made on the way open to all") << 077 << -1 << QStringLiteral("a/b");
}

void TestSignIn::settingsCommandMode()
{
    QFETCH(int, umask);
    QFETCH(int, existingMode);
    QFETCH(QString, subfolders);
    TempProgramFolder folder;
    const QString path = subfolders.isEmpty()
                             ? folder.settingsPath()
                             : folder.path() + QLatin1Char('/') + subfolders + QStringLiteral("/QEL");
    if (existingMode >= 0) {
        folder.writeSettings(QByteArray(84, 'x'));
        QVERIFY(::chmod(QFile::encodeName(path).constData(), mode_t(existingMode)) == 0);
    }

    const ToolRun run =
        runSettingsTool({path, QStringLiteral("--user"), QStringLiteral("u"), QStringLiteral("--password"),
                         QStringLiteral("p"), QStringLiteral("--server"), QStringLiteral("s"),
                         QStringLiteral("--database"), QStringLiteral("d")},
                        {}, [umask] { ::umask(mode_t(umask)); });
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(fileBytes(path), EncodeFirstConnectInfo(info("u", "p", "d", "s")));
    QCOMPARE(modeOf(path), QStringLiteral("0644"));
    QString made = folder.path();
    for (const QString &name : subfolders.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        made += QLatin1Char('/') + name;
        QCOMPARE(modeOf(made), QStringLiteral("0755"));
    }
    // The temporary folder itself is closed to others (0700): the command says that users cannot
    // reach the file.
    QVERIFY2(
        run.error.contains(
            QStringLiteral("the folder %1 has mode 0700").arg(QFileInfo(folder.path()).canonicalFilePath())),
        qPrintable(run.error));
}

void TestSignIn::settingsCommandPasswordFromInput_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("password");

    QTest::newRow("the first line") << QByteArray("gate\nnext line\n") << 0 << "gate";
    QTest::newRow("a CR LF line end") << QByteArray("gate\r\n") << 0 << "gate";
    QTest::newRow("no line end") << QByteArray("gate") << 0 << "gate";
    QTest::newRow("spaces are part of it") << QByteArray(" ga te \n") << 0 << " ga te ";
    QTest::newRow("an empty line is an empty password") << QByteArray("\n") << 0 << "";
    QTest::newRow("Cyrillic in UTF-8")
        << QStringLiteral("Пароль;1\n").toUtf8() << 0 << QStringLiteral("Пароль;1");
    QTest::newRow("nothing at all: refused") << QByteArray() << 1 << QString();
    QTest::newRow("21 characters: refused") << QByteArray("abcdefghijklmnopqrstu\n") << 1 << QString();
}

void TestSignIn::settingsCommandPasswordFromInput()
{
    QFETCH(QByteArray, input);
    QFETCH(int, exitCode);
    QFETCH(QString, password);
    TempProgramFolder folder;
    const QByteArray before = settingsBytes(stored("keep"), 4, {}, 0, {}, 0, {}, 0);
    folder.writeSettings(before);

    const ToolRun run = runSettingsTool({folder.settingsPath(), QStringLiteral("--user"), QStringLiteral("u"),
                                         QStringLiteral("--server"), QStringLiteral("s"),
                                         QStringLiteral("--database"), QStringLiteral("d")},
                                        input);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(!run.error.contains(QStringLiteral("Password")), qPrintable(run.error)); // no prompt
    if (exitCode == 0)
        QCOMPARE(ReadFirstConnectInfo(folder.path()), info("u", password, "d", "s"));
    else
        QCOMPARE(fileBytes(folder.settingsPath()), before);
}

void TestSignIn::settingsCommandAsksWithoutEcho_data()
{
    QTest::addColumn<QByteArray>("again");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("the same twice") << QByteArray("Secret;1") << 0;
    QTest::newRow("two different passwords: refused") << QByteArray("Secret;2") << 1;
}

void TestSignIn::settingsCommandAsksWithoutEcho()
{
    QFETCH(QByteArray, again);
    QFETCH(int, exitCode);
    TempProgramFolder folder;
    const QByteArray before = settingsBytes(stored("keep"), 4, {}, 0, {}, 0, {}, 0);
    folder.writeSettings(before);
    Terminal terminal;
    QVERIFY(terminal.isOpen());

    QProcess tool;
    tool.setChildProcessModifier(terminal.asStandardInput());
    tool.start(binary("qel31-settings"),
               {folder.settingsPath(), QStringLiteral("--user"), QStringLiteral("u"),
                QStringLiteral("--server"), QStringLiteral("s"), QStringLiteral("--database"),
                QStringLiteral("d")});
    QString prompts;
    const auto prompted = [&](const char *prompt) {
        prompts += QString::fromUtf8(tool.readAllStandardError());
        return prompts.endsWith(QLatin1String(prompt));
    };
    // Each answer is typed once its prompt shows, as a person does.
    QTRY_VERIFY_WITH_TIMEOUT(prompted("Password: "), 60000);
    QVERIFY(terminal.type("Secret;1"));
    QTRY_VERIFY_WITH_TIMEOUT(prompted("Password again: "), 60000);
    QVERIFY(terminal.type(again));
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitCode(), exitCode);

    // Only the line ends show on the terminal, never the password.
    const QByteArray shown = terminal.echoUpTo(2);
    QCOMPARE(shown.count('\n'), 2);
    QVERIFY2(!shown.contains("Secret"), shown.constData());
    if (exitCode == 0)
        QCOMPARE(ReadFirstConnectInfo(folder.path()), info("u", "Secret;1", "d", "s"));
    else
        QCOMPARE(fileBytes(folder.settingsPath()), before);
}

void TestSignIn::settingsCommandShows_data()
{
    QTest::addColumn<Layout>("layout");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("complaint");

    const QByteArray demo = EncodeFirstConnectInfo(info("qel_gate", "gate", "qel", "127.0.0.1,1433"));
    const QString demoShown = QStringLiteral("user:     qel_gate\npassword: ****\nserver:   127.0.0.1,1433\n"
                                             "database: qel\n");
    QTest::newRow("the values, the password masked")
        << Layout::File << demo << 0644 << 0 << demoShown << QString();
    QTest::newRow("an empty password")
        << Layout::File << EncodeFirstConnectInfo(info("u", "", "d", "s")) << 0644 << 0
        << QStringLiteral("user:     u\npassword: (empty)\nserver:   s\ndatabase: d\n") << QString();
    QTest::newRow("Cyrillic values")
        << Layout::File
        << EncodeFirstConnectInfo(info(QStringLiteral("вахтёр"), QStringLiteral("Пароль"),
                                       QStringLiteral("Деканат"), QStringLiteral("сервер\\ЯДРО")))
        << 0644 << 0
        << QStringLiteral("user:     вахтёр\npassword: ******\nserver:   сервер\\ЯДРО\ndatabase: Деканат\n")
        << QString();
    QTest::newRow("a file closed to others: shown, with a warning")
        << Layout::File << demo << 0600 << 0 << demoShown
        << QStringLiteral("QEL has mode 0600: other users cannot read it");
    QTest::newRow("no file: the client's error")
        << Layout::NoFile << QByteArray() << 0 << 1 << QString() << QStringLiteral("File not found.");
    QTest::newRow("83 bytes: the client's error")
        << Layout::File << demo.first(83) << 0644 << 1 << QString()
        << QStringLiteral("holds 83 bytes, not 84: Read beyond end of file.");
    QTest::newRow("a folder: the client's error") << Layout::FileIsAFolder << QByteArray() << 0 << 1
                                                  << QString() << QStringLiteral("File access denied.");
}

void TestSignIn::settingsCommandShows()
{
    QFETCH(Layout, layout);
    QFETCH(QByteArray, file);
    QFETCH(int, mode);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, complaint);
    TempProgramFolder folder;
    switch (layout) {
    case Layout::File:
        folder.writeSettings(file);
        QVERIFY(::chmod(QFile::encodeName(folder.settingsPath()).constData(), mode_t(mode)) == 0);
        break;
    case Layout::FileIsAFolder:
        QVERIFY(QDir(folder.path()).mkpath(QStringLiteral("Data/QEL")));
        break;
    default:
        folder.makeDataFolder();
        break;
    }

    const ToolRun run = runSettingsTool({QStringLiteral("--show"), folder.settingsPath()});
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(QString::fromUtf8(run.out), out);
    if (complaint.isEmpty())
        QVERIFY2(!run.error.contains(QStringLiteral("QEL has mode")), qPrintable(run.error));
    else
        QVERIFY2(run.error.contains(complaint), qPrintable(run.error));
    if (layout == Layout::File)
        QCOMPARE(fileBytes(folder.settingsPath()), file); // nothing written
}

QTEST_GUILESS_MAIN(TestSignIn)
#include "tst_signin.moc"
