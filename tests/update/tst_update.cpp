// The program update: its address and scripts, the download against a local HTTP server, the update in
// the login window, and on Linux the replacement script run for real.

#include "app/application.h"
#include "common/error.h"
#include "common/programfolder.h"
#include "files.h"
#include "httpserver.h"
#include "messageboxes.h"
#include "signin/loginwidgets.h"
#include "signin/unit10.h"
#include "tempprogramfolder.h"
#include "testcertificates.h"
#include "testmain.h"
#include "update/signature.h"
#include "update/update.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/mount.h>
#include <unistd.h>

Q_DECLARE_METATYPE(HttpServer::Response)

namespace {

const QString kNotice = QStringLiteral("Идёт обновление программы, ПОДОЖДИТЕ...");

void writeUpdateServer(const QString &programFolder, const QByteArray &text)
{
    QDir(programFolder).mkpath(QStringLiteral("Data"));
    writeFile(programFolder + QStringLiteral("/Data/update-server"), text);
}

// The value of a header in a request head, or a null text.
QByteArray headerValue(const QByteArray &head, const QByteArray &name)
{
    for (const QByteArray &line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

// The id of a running process that has this argument on its command line, or 0.
qint64 processWithArgument(const QString &argument)
{
    const QByteArray wanted = QFile::encodeName(argument);
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isProcess = false;
        const qint64 id = entry.toLongLong(&isProcess);
        if (isProcess && readFile(QStringLiteral("/proc/%1/cmdline").arg(id)).split('\0').contains(wanted))
            return id;
    }
    return 0;
}

// Whether a child of the process runs the program of that name.
bool hasChild(qint64 parent, const QByteArray &name)
{
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        // "PID (NAME) STATE PPID ..."
        const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(entry));
        const qsizetype open = stat.indexOf('(');
        const qsizetype close = stat.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> rest = stat.mid(close + 2).split(' ');
        if (stat.mid(open + 1, close - open - 1) == name && rest.value(1).toLongLong() == parent)
            return true;
    }
    return false;
}

enum class Obstacle { DownloadFolderIsAFile, DownloadedFileIsAFolder, ScriptIsAFolder };

const QString kUnreachable = QStringLiteral("Сервер обновлений не доступен.\rОбратитесь к администратору.");

// Runs scripts/sign-update, the release manager's command; its output when it fails.
QString signUpdate(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(QEL31_SOURCE_DIR "/scripts/sign-update"), arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return QString::fromLocal8Bit(process.readAll()) +
               QStringLiteral(" (exit %1)").arg(process.exitCode());
    return {};
}

// What the program writes through Qt's warnings (its standard error) while it exists.
class WarningRecorder {
public:
    WarningRecorder() { m_previous = qInstallMessageHandler(&WarningRecorder::record); }
    ~WarningRecorder() { qInstallMessageHandler(m_previous); }
    static QString text() { return recorded().join(QLatin1Char('\n')); }

private:
    static QStringList &recorded()
    {
        static QStringList lines;
        return lines;
    }
    static void record(QtMsgType type, const QMessageLogContext &, const QString &message)
    {
        if (type != QtDebugMsg)
            recorded().append(message);
    }
    QtMessageHandler m_previous = nullptr;

public:
    static void clear() { recorded().clear(); }
};

// What the update server serves beside the program file, and where the workstation's key is.
enum class Served { Good, None, Empty, Truncated, OtherKey, OtherFile, ChangedByte };
enum class KeyAt {
    Nowhere,
    File,
    FileIsAFolder,
    FileNotAKey,
    BuiltIn,
    FileRightBuiltInOther,
    FileOtherBuiltInRight
};

} // namespace

Q_DECLARE_METATYPE(Obstacle)
Q_DECLARE_METATYPE(Served)
Q_DECLARE_METATYPE(KeyAt)

class TestUpdate : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void updateAddressFor_data();
    void updateAddressFor();
    void updateAddressFromTheProgramFolder_data();
    void updateAddressFromTheProgramFolder();
    void windowsScript();
    void linuxScript();

    void downloadFile_data();
    void downloadFile();
    void downloadFromAServerThatIsDown();
    void downloadWritesTheBodyAsItArrives();
    void downloadSendsTheAgentNameAndTheEncodedPath();

    void updateStartsTheScriptAndTheTimer();
    void updateReusesTheDownloadFolder();
    void timerRequestsTerminationAtEachTick();
    void updateThatCannotDownload_data();
    void updateThatCannotDownload();
    void updateOverHttps_data();
    void updateOverHttps();
    void updateThatCannotWrite_data();
    void updateThatCannotWrite();
    void leftoverScriptIsRemovedWhenTheLoginWindowIsCreated();

    void signingCommandsMakeWhatTheClientAccepts();
    void signedUpdate_data();
    void signedUpdate();
    void parseSizeLimit_data();
    void parseSizeLimit();
    void downloadWithinASizeLimit_data();
    void downloadWithinASizeLimit();
    void updateWithinTheSizeLimit_data();
    void updateWithinTheSizeLimit();
    void programFolderTheUserCannotWrite();

    void scriptReplacesTheProgramAndStartsTheNewVersion();

private:
    // A login window as start-up makes it, shown.
    std::unique_ptr<TForm8> makeLoginWindow();
    QString downloadedFile() const { return UpdateFilesIn(m_folder->path()).downloadedFile; }
    QString script() const { return UpdateFilesIn(m_folder->path()).script; }

    std::unique_ptr<TApplication> m_application;
    std::unique_ptr<TempProgramFolder> m_folder;
    std::unique_ptr<HttpServer> m_server;
    QList<QStringList> m_started; // script and program folder of each start
    QTemporaryDir m_keys;         // key.pem / key.pub and other.pem / other.pub, made by the signing script
    bool m_mounted = false;
    // The signature that the signing script makes of these bytes with the private key.
    QByteArray signatureOf(const QByteArray &bytes, const QString &privateKey);
    QString key(const QString &name) const { return m_keys.filePath(name); }
};

void TestUpdate::initTestCase()
{
    QVERIFY(m_keys.isValid());
    for (const QString &name : {QStringLiteral("key"), QStringLiteral("other")}) {
        const QString failed = signUpdate({QStringLiteral("new-key"), key(name + QStringLiteral(".pem")),
                                           key(name + QStringLiteral(".pub"))});
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
    }
}

QByteArray TestUpdate::signatureOf(const QByteArray &bytes, const QString &privateKey)
{
    const QString file = m_keys.filePath(QStringLiteral("signed"));
    writeFile(file, bytes);
    const QString failed = signUpdate({QStringLiteral("sign"), privateKey, file});
    if (!failed.isEmpty())
        qFatal("signing failed: %s", qPrintable(failed));
    return readFile(file + QStringLiteral(".sig"));
}

void TestUpdate::init()
{
    m_application = std::make_unique<TApplication>();
    m_folder = std::make_unique<TempProgramFolder>();
    setProgramFolder(m_folder->path());
    m_server = std::make_unique<HttpServer>();
    writeUpdateServer(m_folder->path(), m_server->hostAndPort().toUtf8() + '\n');
    m_started.clear();
    setScriptStarter([this](const QString &script, const QString &programFolder) {
        m_started.append({script, programFolder});
    });
}

void TestUpdate::cleanup()
{
    setBuiltInUpdateKey({});
    WarningRecorder::clear();
    if (m_mounted && ::umount2(QFile::encodeName(m_folder->path()).constData(), MNT_DETACH) != 0)
        qWarning("cannot unmount %s: %s", qPrintable(m_folder->path()), std::strerror(errno));
    m_mounted = false;
    setScriptStarter({});
    setProgramFolder({});
    m_server.reset();
    m_folder.reset();
    m_application.reset();
}

std::unique_ptr<TForm8> TestUpdate::makeLoginWindow()
{
    auto form = std::make_unique<TForm8>();
    form->FormCreate();
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get()))
        qFatal("the login window was not shown");
    return form;
}

void TestUpdate::updateAddressFor_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<UpdatePlatform>("platform");
    QTest::addColumn<QString>("address");
    QTest::newRow("host") << "qel.example" << UpdatePlatform::Linux << "http://qel.example/qelprogs/qel31";
    QTest::newRow("host, Windows file with its space encoded")
        << "qel.example" << UpdatePlatform::Windows << "http://qel.example/qelprogs/QEL%2031.exe";
    QTest::newRow("host and port") << "127.0.0.1:8080" << UpdatePlatform::Linux
                                   << "http://127.0.0.1:8080/qelprogs/qel31";
    QTest::newRow("http base address")
        << "http://qel.example:81" << UpdatePlatform::Linux << "http://qel.example:81/qelprogs/qel31";
    QTest::newRow("https base address with a path and a slash")
        << "https://qel.example/mirror/" << UpdatePlatform::Windows
        << "https://qel.example/mirror/qelprogs/QEL%2031.exe";
    QTest::newRow("scheme in capitals is not doubled")
        << "HTTP://qel.example" << UpdatePlatform::Linux << "HTTP://qel.example/qelprogs/qel31";
    QTest::newRow("blanks around") << "  qel.example \r" << UpdatePlatform::Linux
                                   << "http://qel.example/qelprogs/qel31";
}

void TestUpdate::updateAddressFor()
{
    QFETCH(QString, server);
    QFETCH(UpdatePlatform, platform);
    QFETCH(QString, address);
    QCOMPARE(UpdateAddressFor(server, platform), address);
}

void TestUpdate::updateAddressFromTheProgramFolder_data()
{
    QTest::addColumn<bool>("withFile");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("server");
    QTest::newRow("no file: the built-in server") << false << QByteArray() << DefaultUpdateServer();
    QTest::newRow("first line only") << true << QByteArray("127.0.0.1:8080\nsecond line\n")
                                     << "127.0.0.1:8080";
    QTest::newRow("Windows line end")
        << true << QByteArray("https://qel.example\r\n") << "https://qel.example";
    QTest::newRow("empty file: the built-in server") << true << QByteArray() << DefaultUpdateServer();
    QTest::newRow("blank first line: the built-in server")
        << true << QByteArray(" \nqel.example\n") << DefaultUpdateServer();
}

void TestUpdate::updateAddressFromTheProgramFolder()
{
    QFETCH(bool, withFile);
    QFETCH(QByteArray, content);
    QFETCH(QString, server);
    QVERIFY(!DefaultUpdateServer().isEmpty());
    const QString path = m_folder->path() + QStringLiteral("/Data/update-server");
    QVERIFY(QFile::remove(path));
    if (withFile)
        writeUpdateServer(m_folder->path(), content);
    QCOMPARE(UpdateServer(), server);
    QCOMPARE(UpdateAddress(), UpdateAddressFor(server));
}

void TestUpdate::windowsScript()
{
    const QList<QByteArray> lines = {
        "@ECHO OFF",
        "SET QEL_PROG=QEL 31",
        "SET QEL_HOME=%CD%",
        "SET QEL_TEMP=%QEL_HOME%\\tempQEL",
        ":do_del",
        "DEL /Q \"%QEL_HOME%\\%QEL_PROG%.exe\"",
        "IF EXIST \"%QEL_HOME%\\%QEL_PROG%.exe\" GOTO do_del",
        "COPY \"%QEL_TEMP%\\%QEL_PROG%.exe\" \"%QEL_HOME%\\%QEL_PROG%.exe\"",
        "RD /S /Q \"%QEL_TEMP%\"",
        "\"%QEL_HOME%\\%QEL_PROG%.exe\"",
    };
    const QByteArray script = ReplacementScript(UpdatePlatform::Windows);
    QCOMPARE(script.size(), 293);
    QCOMPARE(script.count("\r\n"), 10);
    QCOMPARE(script.count('\n'), 10);
    QCOMPARE(script.count('\r'), 10);
    QCOMPARE(script, lines.join("\r\n") + "\r\n");
}

void TestUpdate::linuxScript()
{
    QCOMPARE(
        ReplacementScript(UpdatePlatform::Linux),
        QByteArray("#!/bin/sh\n"
                   "# Puts the downloaded version of the program in place once the old one (process id $1)\n"
                   "# has ended, and starts it. The new version deletes this script.\n"
                   "QEL_PROG=qel31\n"
                   "QEL_HOME=$(cd \"$(dirname \"$0\")\" && pwd) || exit 1\n"
                   "QEL_TEMP=\"$QEL_HOME/tempQEL\"\n"
                   "tries=0\n"
                   "while kill -0 \"$1\" 2>/dev/null; do\n"
                   "    tries=$((tries + 1))\n"
                   "    [ \"$tries\" -le 600 ] || exit 1\n"
                   "    sleep 1\n"
                   "done\n"
                   "mv -f \"$QEL_TEMP/$QEL_PROG\" \"$QEL_HOME/$QEL_PROG\" || exit 1\n"
                   "chmod +x \"$QEL_HOME/$QEL_PROG\"\n"
                   "rm -rf \"$QEL_TEMP\"\n"
                   "cd \"$QEL_HOME\" || exit 1\n"
                   "nohup \"./$QEL_PROG\" </dev/null >/dev/null 2>&1 &\n"));
}

void TestUpdate::downloadFile_data()
{
    QTest::addColumn<HttpServer::Response>("response");
    QTest::addColumn<QByteArray>("movedTo"); // the update path redirects there, where the response is
    QTest::addColumn<bool>("downloaded");
    QTest::addColumn<QByteArray>("file"); // on failure, what the file may hold at most

    const QByteArray body = programBytes(3 * 1024 + 517);
    QTest::newRow("several reads, with Content-Length") << answer(200, body) << QByteArray() << true << body;
    QTest::newRow("exactly one read")
        << answer(200, programBytes(1024, 2)) << QByteArray() << true << programBytes(1024, 2);
    QTest::newRow("one byte") << answer(200, QByteArray("\0", 1)) << QByteArray() << true
                              << QByteArray("\0", 1);
    HttpServer::Response unsized = answer(200, body);
    unsized.withContentLength = false;
    QTest::newRow("no Content-Length, ended by closing") << unsized << QByteArray() << true << body;
    const QByteArray megabyte = programBytes(1 << 20, 3);
    QTest::newRow("a megabyte") << answer(200, megabyte) << QByteArray() << true << megabyte;
    QTest::newRow("redirect to the file") << answer(200, body) << QByteArray("/moved/qel31") << true << body;

    QTest::newRow("empty body") << answer(200, {}) << QByteArray() << false << QByteArray();
    HttpServer::Response unsizedEmpty = answer(200, {});
    unsizedEmpty.withContentLength = false;
    QTest::newRow("empty body without Content-Length")
        << unsizedEmpty << QByteArray() << false << QByteArray();
    QTest::newRow("404 with an error page")
        << answer(404, "<html>Not Found</html>") << QByteArray() << false << QByteArray();
    QTest::newRow("500 with an error page")
        << answer(500, "<html>Internal Server Error</html>") << QByteArray() << false << QByteArray();
    QTest::newRow("300 with a page, not followed")
        << answer(300, "<html>Multiple Choices</html>") << QByteArray() << false << QByteArray();
    HttpServer::Response cut = answer(200, programBytes(6000, 4));
    cut.cutAt = 3000;
    QTest::newRow("cut off in the middle")
        << cut << QByteArray() << false << programBytes(6000, 4).left(3000);
}

void TestUpdate::downloadFile()
{
    QFETCH(HttpServer::Response, response);
    QFETCH(QByteArray, movedTo);
    QFETCH(bool, downloaded);
    QFETCH(QByteArray, file);

    if (movedTo.isEmpty()) {
        m_server->respond("/qelprogs/qel31", response);
    } else {
        HttpServer::Response redirect = answer(302, "moved");
        redirect.location = movedTo;
        m_server->respond("/qelprogs/qel31", redirect);
        m_server->respond(movedTo, response);
    }
    const QString path = m_folder->path() + QStringLiteral("/qel31");
    QCOMPARE(DownloadFile(UpdateAddressFor(m_server->hostAndPort(), UpdatePlatform::Linux), path),
             downloaded);

    QVERIFY(QFileInfo::exists(path));
    const QByteArray written = readFile(path);
    if (downloaded)
        QCOMPARE(written, file);
    else
        QVERIFY2(file.startsWith(written),
                 qPrintable(QStringLiteral("%1 bytes written").arg(written.size())));
}

void TestUpdate::downloadFromAServerThatIsDown()
{
    const QString address = UpdateAddressFor(m_server->hostAndPort());
    m_server->close();
    const QString path = m_folder->path() + QStringLiteral("/qel31");
    writeFile(path, "an older file");
    QVERIFY(!DownloadFile(address, path));
    QVERIFY(QFileInfo::exists(path));
    QCOMPARE(readFile(path), QByteArray());
}

void TestUpdate::downloadWritesTheBodyAsItArrives()
{
    const QByteArray body = programBytes(8000, 5);
    HttpServer::Response response = answer(200, body);
    response.holdAt = 3000;
    m_server->respond("/qelprogs/qel31", response);
    const QString path = m_folder->path() + QStringLiteral("/qel31");
    qint64 sizeWhileHeld = -1;
    connect(m_server.get(), &HttpServer::held, this, [&] {
        (void)QTest::qWaitFor([&] { return QFileInfo(path).size() >= 3000; }, 60000);
        sizeWhileHeld = QFileInfo(path).size();
        m_server->release();
    });
    QVERIFY(DownloadFile(UpdateAddress(), path));
    QCOMPARE(sizeWhileHeld, 3000);
    QCOMPARE(readFile(path), body);
}

void TestUpdate::downloadSendsTheAgentNameAndTheEncodedPath()
{
    m_server->respond("/qelprogs/QEL%2031.exe", answer(200, "MZ"));
    const QString path = m_folder->path() + QStringLiteral("/QEL 31.exe");
    QVERIFY(DownloadFile(UpdateAddressFor(m_server->hostAndPort(), UpdatePlatform::Windows), path));
    QCOMPARE(m_server->requests.size(), 1);
    const QByteArray head = m_server->requests.first();
    QVERIFY2(head.startsWith("GET /qelprogs/QEL%2031.exe HTTP/1.1\r\n"), head.constData());
    QCOMPARE(headerValue(head, "User-Agent"), QByteArray("tst_update"));
    QCOMPARE(readFile(path), QByteArray("MZ"));
}

void TestUpdate::updateStartsTheScriptAndTheTimer()
{
    const QByteArray body = programBytes(5000, 6);
    m_server->respond("/qelprogs/qel31", answer(200, body));
    auto form = makeLoginWindow();
    QString noticeWhileDownloading;
    QString loginTypedWhileDownloading;
    connect(m_server.get(), &HttpServer::requestReceived, this, [&] {
        noticeWhileDownloading = form->Label1->text();
        QTest::keyClicks(form->Login_Edit, QStringLiteral("abc"));
        loginTypedWhileDownloading = form->Login_Edit->text();
    });
    MessageBoxRecorder boxes;

    UpdateProgram(form.get());

    const bool timerStarted = form->Timer1->isActive();
    form->Timer1->stop(); // its ticks are driven by hand below
    QCOMPARE(noticeWhileDownloading, kNotice);
    QCOMPARE(loginTypedWhileDownloading, QString());
    QCOMPARE(readFile(downloadedFile()), body);
    QCOMPARE(readFile(script()), ReplacementScript());
    const QList<QStringList> started{{script(), m_folder->path()}};
    QCOMPARE(m_started, started);
    QVERIFY(timerStarted);
    QCOMPARE(form->Timer1->interval(), 2000);
    QVERIFY(boxes.boxes.isEmpty());
    QCOMPARE(form->Label1->text(), kNotice);

    // Until the program ends, nothing can be typed and a click on cancel does nothing.
    QTest::keyClicks(form->Login_Edit, QStringLiteral("abc"));
    QTest::mouseClick(form->SpeedButton1, Qt::LeftButton);
    QCoreApplication::processEvents();
    QCOMPARE(form->Login_Edit->text(), QString());
    QVERIFY(!Application->Terminated());
}

void TestUpdate::updateReusesTheDownloadFolder()
{
    const UpdateFiles files = UpdateFilesIn(m_folder->path());
    QVERIFY(QDir().mkdir(files.downloadFolder));
    writeFile(files.downloadedFile, programBytes(20000, 7));
    const QByteArray body = programBytes(5000, 8);
    m_server->respond("/qelprogs/qel31", answer(200, body));
    auto form = makeLoginWindow();

    UpdateProgram(form.get());

    form->Timer1->stop();
    QCOMPARE(readFile(files.downloadedFile), body);
    QCOMPARE(m_started.size(), 1);
}

void TestUpdate::timerRequestsTerminationAtEachTick()
{
    m_server->respond("/qelprogs/qel31", answer(200, programBytes(100)));
    auto form = makeLoginWindow();
    UpdateProgram(form.get());
    QVERIFY(form->Timer1->isActive());
    QCOMPARE(form->Timer1->interval(), 2000);
    form->Timer1->stop(); // its ticks are driven by hand
    QCoreApplication::processEvents();
    QVERIFY(!Application->Terminated());

    form->Timer1Timer();
    QCOMPARE(form->Timer1->interval(), 100);
    QTRY_VERIFY_WITH_TIMEOUT(Application->Terminated(), 30000);
    form->Timer1Timer();
    QCOMPARE(form->Timer1->interval(), 100);
}

void TestUpdate::updateThatCannotDownload_data()
{
    QTest::addColumn<bool>("serverDown");
    QTest::addColumn<HttpServer::Response>("response");
    QTest::newRow("server down") << true << HttpServer::Response();
    QTest::newRow("empty file") << false << answer(200, {});
    QTest::newRow("404 with an error page") << false << answer(404, "<html>Not Found</html>");
    QTest::newRow("500 with an error page") << false << answer(500, "<html>Internal Server Error</html>");
    HttpServer::Response cut = answer(200, programBytes(6000));
    cut.cutAt = 3000;
    QTest::newRow("cut off in the middle") << false << cut;
}

void TestUpdate::updateThatCannotDownload()
{
    QFETCH(bool, serverDown);
    QFETCH(HttpServer::Response, response);
    if (serverDown)
        m_server->close();
    else
        m_server->respond("/qelprogs/qel31", response);
    auto form = makeLoginWindow();
    MessageBoxRecorder boxes;
    bool terminatedWhileShown = true;
    boxes.whileShown = [&](const MessageBoxRequest &) {
        QCoreApplication::processEvents();
        terminatedWhileShown = Application->Terminated();
    };

    UpdateProgram(form.get());

    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].text,
             QStringLiteral("Сервер обновлений не доступен.\rОбратитесь к администратору."));
    QCOMPARE(boxes.boxes[0].caption, QStringLiteral("Уведомление"));
    QCOMPARE(boxes.boxes[0].flags, 64);
    QVERIFY(!terminatedWhileShown);
    QTRY_VERIFY_WITH_TIMEOUT(Application->Terminated(), 30000);

    // Nothing is installed: no script, no start, no timer; the download folder stays.
    QVERIFY(QFileInfo(UpdateFilesIn(m_folder->path()).downloadFolder).isDir());
    QVERIFY(readFile(downloadedFile()).size() < 6000);
    QVERIFY(!QFileInfo::exists(script()));
    QVERIFY(m_started.isEmpty());
    QVERIFY(!form->Timer1->isActive());
    // The window takes input again.
    QTest::keyClicks(form->Login_Edit, QStringLiteral("abc"));
    QCOMPARE(form->Login_Edit->text(), QStringLiteral("abc"));
}

// An https:// update server's certificate is checked against the organisation's authority when
// Data/ca.pem holds one, and against the system's authorities otherwise (which never issued the
// test authority's certificates).
void TestUpdate::updateOverHttps_data()
{
    QTest::addColumn<QString>("certificate"); // server, self-signed, other
    QTest::addColumn<bool>("withAuthority");
    QTest::addColumn<bool>("installed");
    QTest::newRow("the authority's certificate, Data/ca.pem holds it") << "server" << true << true;
    QTest::newRow("the authority's certificate, no Data/ca.pem") << "server" << false << false;
    QTest::newRow("self-signed certificate") << "self-signed" << true << false;
    QTest::newRow("certificate for another name") << "other" << true << false;
}

void TestUpdate::updateOverHttps()
{
    QFETCH(QString, certificate);
    QFETCH(bool, withAuthority);
    QFETCH(bool, installed);
    QTemporaryDir certificateFolder;
    const TestCertificates certificates =
        makeTestCertificates(certificateFolder.path(), {QStringLiteral("127.0.0.1")});
    const TestCertificate &served = certificate == QLatin1String("server")        ? certificates.server
                                    : certificate == QLatin1String("self-signed") ? certificates.selfSigned
                                                                                  : certificates.other;
    HttpServer https(served.certificate, served.key);
    const QByteArray body = programBytes(3000, 9);
    https.respond("/qelprogs/qel31", answer(200, body));
    writeUpdateServer(m_folder->path(), QStringLiteral("https://127.0.0.1:%1\n").arg(https.port()).toUtf8());
    if (withAuthority)
        QVERIFY(QFile::copy(certificates.authority.certificate,
                            m_folder->path() + QStringLiteral("/Data/ca.pem")));
    auto form = makeLoginWindow();
    MessageBoxRecorder boxes;

    UpdateProgram(form.get());

    form->Timer1->stop();
    if (installed) {
        QVERIFY(boxes.boxes.isEmpty());
        QCOMPARE(readFile(downloadedFile()), body);
        QCOMPARE(m_started.size(), 1);
        QCOMPARE(https.requests.size(), 1);
    } else {
        QCOMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].text,
                 QStringLiteral("Сервер обновлений не доступен.\rОбратитесь к администратору."));
        QVERIFY(m_started.isEmpty());
        QVERIFY(!QFileInfo::exists(script()));
        QVERIFY(readFile(downloadedFile()).isEmpty());
        QVERIFY(https.requests.isEmpty()); // nothing was asked of a server that failed the check
    }
}

void TestUpdate::updateThatCannotWrite_data()
{
    // The client runs as root here too, where permissions stop nothing: the obstacles are things in
    // the way of the files.
    QTest::addColumn<Obstacle>("obstacle");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("download folder is a file") << Obstacle::DownloadFolderIsAFile << 3 << "Invalid filename";
    QTest::newRow("a folder where the downloaded file goes")
        << Obstacle::DownloadedFileIsAFolder << 5 << "File access denied";
    QTest::newRow("a folder where the script goes") << Obstacle::ScriptIsAFolder << 5 << "File access denied";
}

void TestUpdate::updateThatCannotWrite()
{
    QFETCH(Obstacle, obstacle);
    QFETCH(int, code);
    QFETCH(QString, message);
    const UpdateFiles files = UpdateFilesIn(m_folder->path());
    switch (obstacle) {
    case Obstacle::DownloadFolderIsAFile:
        writeFile(files.downloadFolder, "a file");
        break;
    case Obstacle::DownloadedFileIsAFolder:
        QVERIFY(QDir().mkpath(files.downloadedFile));
        break;
    case Obstacle::ScriptIsAFolder:
        QVERIFY(QDir().mkpath(files.script));
        break;
    }
    m_server->respond("/qelprogs/qel31", answer(200, programBytes(5000)));
    auto form = makeLoginWindow();
    MessageBoxRecorder boxes;

    // The error leaves the update for the sign-in, which shows it.
    try {
        UpdateProgram(form.get());
        QFAIL("no error was raised");
    } catch (const InOutError &error) {
        QCOMPARE(error.code(), code);
        QCOMPARE(error.message(), message);
    }

    QVERIFY(boxes.boxes.isEmpty());
    QVERIFY(m_started.isEmpty());
    QVERIFY(!form->Timer1->isActive());
    QCOMPARE(form->Label1->text(), kNotice);
    QCoreApplication::processEvents();
    QVERIFY(!Application->Terminated());
    // The window takes input again: typing works, and cancel ends the program.
    QTest::keyClicks(form->Login_Edit, QStringLiteral("abc"));
    QCOMPARE(form->Login_Edit->text(), QStringLiteral("abc"));
    QTest::mouseClick(form->SpeedButton1, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(Application->Terminated(), 30000);
}

void TestUpdate::leftoverScriptIsRemovedWhenTheLoginWindowIsCreated()
{
    // Nothing to remove: nothing happens, nothing is reported.
    RemoveLeftoverScript();
    QVERIFY(!QFileInfo::exists(script()));

    writeFile(script(), ReplacementScript());
    TForm8 form;
    form.FormCreate();
    QVERIFY(!QFileInfo::exists(script()));
    QVERIFY(QFileInfo::exists(m_folder->path() + QStringLiteral("/Data/update-server")));
}

// The release manager's two commands, as the README gives them: a key pair whose private half only its
// owner may read, a key that is never overwritten, and a signature the client accepts.
void TestUpdate::signingCommandsMakeWhatTheClientAccepts()
{
    QVERIFY(
        QFileInfo(key(QStringLiteral("key.pem"))).permissions() ==
        (QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser));
    QVERIFY(readFile(key(QStringLiteral("key.pub"))).startsWith("-----BEGIN PUBLIC KEY-----"));
    const QByteArray before = readFile(key(QStringLiteral("key.pem")));
    QVERIFY(!signUpdate({QStringLiteral("new-key"), key(QStringLiteral("key.pem")),
                         key(QStringLiteral("again.pub"))})
                 .isEmpty());
    QCOMPARE(readFile(key(QStringLiteral("key.pem"))), before);

    const QByteArray program = programBytes(100000, 21);
    const QString file = m_keys.filePath(QStringLiteral("qel31"));
    writeFile(file, program);
    const QString failed = signUpdate({QStringLiteral("sign"), key(QStringLiteral("key.pem")), file});
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
    const UpdateKey publicKey{readFile(key(QStringLiteral("key.pub"))), QStringLiteral("the test key")};
    QCOMPARE(VerifyFileSignature(publicKey, file, readFile(file + QStringLiteral(".sig"))), QString());
}

void TestUpdate::signedUpdate_data()
{
    QTest::addColumn<Served>("served");
    QTest::addColumn<KeyAt>("keyAt");
    QTest::addColumn<QString>("reason"); // empty: installed; else a part of what standard error says

    QTest::newRow("good signature") << Served::Good << KeyAt::File << QString();
    QTest::newRow("no key: no signature asked for") << Served::None << KeyAt::Nowhere << QString();
    QTest::newRow("no signature file (404)") << Served::None << KeyAt::File << "HTTP status 404";
    QTest::newRow("empty signature") << Served::Empty << KeyAt::File << "is empty";
    QTest::newRow("truncated signature") << Served::Truncated << KeyAt::File << "63 bytes long";
    QTest::newRow("signature made with another key") << Served::OtherKey << KeyAt::File << "does not match";
    QTest::newRow("good signature of another file") << Served::OtherFile << KeyAt::File << "does not match";
    QTest::newRow("the file changed by one byte") << Served::ChangedByte << KeyAt::File << "does not match";
    QTest::newRow("a key that cannot be read") << Served::Good << KeyAt::FileIsAFolder << "cannot be read";
    QTest::newRow("a key file that holds no key") << Served::Good << KeyAt::FileNotAKey << "not a public key";
    QTest::newRow("key built in, good signature") << Served::Good << KeyAt::BuiltIn << QString();
    QTest::newRow("key built in, signature made with another key")
        << Served::OtherKey << KeyAt::BuiltIn << "does not match";
    QTest::newRow("the key beside the settings wins: good signature")
        << Served::Good << KeyAt::FileRightBuiltInOther << QString();
    QTest::newRow("the key beside the settings wins: the built-in key's signature")
        << Served::Good << KeyAt::FileOtherBuiltInRight << "does not match";
}

void TestUpdate::signedUpdate()
{
    QFETCH(Served, served);
    QFETCH(KeyAt, keyAt);
    QFETCH(QString, reason);

    const QByteArray body = programBytes(70000, 22);
    const QByteArray good = signatureOf(body, key(QStringLiteral("key.pem")));
    QByteArray signature;
    QByteArray file = body;
    switch (served) {
    case Served::Good:
        signature = good;
        break;
    case Served::None:
        break;
    case Served::Empty:
        signature = "";
        break;
    case Served::Truncated:
        signature = good.left(good.size() - 1);
        break;
    case Served::OtherKey:
        signature = signatureOf(body, key(QStringLiteral("other.pem")));
        break;
    case Served::OtherFile:
        signature = signatureOf(programBytes(70000, 23), key(QStringLiteral("key.pem")));
        break;
    case Served::ChangedByte:
        signature = good;
        file[35000] = char(file[35000] ^ 0x01);
        break;
    }
    m_server->respond("/qelprogs/qel31", answer(200, file));
    if (served != Served::None)
        m_server->respond("/qelprogs/qel31.sig", answer(200, signature));

    const QString keyFile = m_folder->path() + QStringLiteral("/Data/update-key.pem");
    const QByteArray right = readFile(key(QStringLiteral("key.pub")));
    const QByteArray other = readFile(key(QStringLiteral("other.pub")));
    switch (keyAt) {
    case KeyAt::Nowhere:
        break;
    case KeyAt::File:
        writeFile(keyFile, right);
        break;
    case KeyAt::FileIsAFolder:
        QVERIFY(QDir().mkpath(keyFile));
        break;
    case KeyAt::FileNotAKey:
        writeFile(keyFile, "-----BEGIN PUBLIC KEY-----\nbm90IGEga2V5\n-----END PUBLIC KEY-----\n");
        break;
    case KeyAt::BuiltIn:
        setBuiltInUpdateKey(right);
        break;
    case KeyAt::FileRightBuiltInOther:
        writeFile(keyFile, right);
        setBuiltInUpdateKey(other);
        break;
    case KeyAt::FileOtherBuiltInRight:
        writeFile(keyFile, other);
        setBuiltInUpdateKey(right);
        break;
    }
    auto form = makeLoginWindow();
    MessageBoxRecorder boxes;
    WarningRecorder warnings;

    UpdateProgram(form.get());

    form->Timer1->stop();
    const UpdateFiles files = UpdateFilesIn(m_folder->path());
    QVERIFY(!QFileInfo::exists(files.signature));
    if (reason.isEmpty()) {
        QVERIFY2(boxes.boxes.isEmpty(), qPrintable(WarningRecorder::text()));
        QCOMPARE(readFile(downloadedFile()), file);
        QCOMPARE(m_started.size(), 1);
        QCOMPARE(m_server->requests.size(), keyAt == KeyAt::Nowhere ? 1 : 2);
        return;
    }
    // Refused: told as any failed download, the reason on standard error, nothing installed.
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].text, kUnreachable);
    QVERIFY2(WarningRecorder::text().contains(reason), qPrintable(WarningRecorder::text()));
    QVERIFY(m_started.isEmpty());
    QVERIFY(!QFileInfo::exists(script()));
    QVERIFY(QFileInfo(files.downloadFolder).isDir());
    QCOMPARE(readFile(downloadedFile()), QByteArray());
    QVERIFY(!form->Timer1->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(Application->Terminated(), 30000);
}

void TestUpdate::parseSizeLimit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("limit"); // 0: refused
    QTest::newRow("bytes") << "268435456" << qint64(268435456);
    QTest::newRow("MiB") << "256M" << qint64(256) * 1024 * 1024;
    QTest::newRow("KiB, lower case, spaces around") << " 64k \n" << qint64(64) * 1024;
    QTest::newRow("GiB") << "2G" << qint64(2) * 1024 * 1024 * 1024;
    QTest::newRow("empty") << "" << qint64(0);
    QTest::newRow("zero") << "0" << qint64(0);
    QTest::newRow("negative") << "-1" << qint64(0);
    QTest::newRow("a fraction") << "1.5M" << qint64(0);
    QTest::newRow("another unit") << "12T" << qint64(0);
    QTest::newRow("a word") << "lots" << qint64(0);
}

void TestUpdate::parseSizeLimit()
{
    QFETCH(QString, text);
    QFETCH(qint64, limit);
    QCOMPARE(::parseSizeLimit(text).value_or(0), limit);
}

void TestUpdate::downloadWithinASizeLimit_data()
{
    QTest::addColumn<HttpServer::Response>("response");
    QTest::addColumn<bool>("downloaded");
    const QByteArray body = programBytes(10000, 24);
    HttpServer::Response unsized = answer(200, body);
    unsized.withContentLength = false;
    HttpServer::Response over = answer(200, body + "!");
    HttpServer::Response overUnsized = over;
    overUnsized.withContentLength = false;
    HttpServer::Response endless = answer(200, body);
    endless.withContentLength = false;
    endless.endless = true;
    QTest::newRow("at the limit, with Content-Length") << answer(200, body) << true;
    QTest::newRow("at the limit, without Content-Length") << unsized << true;
    QTest::newRow("one byte over, with Content-Length") << over << false;
    QTest::newRow("one byte over, without Content-Length") << overUnsized << false;
    QTest::newRow("without end, without Content-Length") << endless << false;
}

void TestUpdate::downloadWithinASizeLimit()
{
    QFETCH(HttpServer::Response, response);
    QFETCH(bool, downloaded);
    m_server->respond("/qelprogs/qel31", response);
    const QString path = m_folder->path() + QStringLiteral("/qel31");
    QString failure;
    QCOMPARE(DownloadFile(UpdateAddressFor(m_server->hostAndPort(), UpdatePlatform::Linux), path, QString(),
                          10000, &failure),
             downloaded);
    if (downloaded) {
        QCOMPARE(readFile(path), response.body);
    } else {
        QCOMPARE(readFile(path), QByteArray()); // no partial file is left
        QVERIFY2(!failure.isEmpty(), "no reason given");
    }
}

void TestUpdate::updateWithinTheSizeLimit_data()
{
    QTest::addColumn<QByteArray>("limit"); // Data/update-size-limit
    QTest::addColumn<HttpServer::Response>("response");
    QTest::addColumn<QString>("reason"); // empty: installed
    HttpServer::Response endless = answer(200, programBytes(1000, 25));
    endless.withContentLength = false;
    endless.endless = true;
    QTest::newRow("a body without end")
        << QByteArray("64K\n") << endless << "larger than the limit of 65536 bytes";
    QTest::newRow("over the limit, with Content-Length")
        << QByteArray("4999") << answer(200, programBytes(5000, 26)) << "larger than the limit";
    QTest::newRow("at the limit") << QByteArray("5000") << answer(200, programBytes(5000, 26)) << QString();
    QTest::newRow("a limit that is not a number: nothing fetched")
        << QByteArray("lots\n") << answer(200, programBytes(5000, 26)) << "update-size-limit must hold";
}

void TestUpdate::updateWithinTheSizeLimit()
{
    QFETCH(QByteArray, limit);
    QFETCH(HttpServer::Response, response);
    QFETCH(QString, reason);
    writeFile(m_folder->path() + QStringLiteral("/Data/update-size-limit"), limit);
    m_server->respond("/qelprogs/qel31", response);
    auto form = makeLoginWindow();
    MessageBoxRecorder boxes;
    WarningRecorder warnings;

    UpdateProgram(form.get());

    form->Timer1->stop();
    if (reason.isEmpty()) {
        QVERIFY(boxes.boxes.isEmpty());
        QCOMPARE(readFile(downloadedFile()), response.body);
        QCOMPARE(m_started.size(), 1);
        return;
    }
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].text, kUnreachable);
    QVERIFY2(WarningRecorder::text().contains(reason), qPrintable(WarningRecorder::text()));
    QCOMPARE(readFile(downloadedFile()), QByteArray());
    QVERIFY(m_started.isEmpty());
    QVERIFY(!QFileInfo::exists(script()));
    if (reason.startsWith(QLatin1String("update-size-limit")))
        QVERIFY(m_server->requests.isEmpty());
}

// A packaged install: the program folder is not the user's to write. As root, whom permissions do not
// stop, the folder is a file system mounted read-only.
void TestUpdate::programFolderTheUserCannotWrite()
{
    const QString folder = m_folder->path();
    const QByteArray path = QFile::encodeName(folder);
    const QByteArray updateServer = m_server->hostAndPort().toUtf8() + '\n';
    if (::geteuid() == 0) {
        m_mounted =
            ::mount("tmpfs", path.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=256k,mode=0755") == 0;
        if (!m_mounted)
            QSKIP("root here cannot mount a file system to make a folder it may not write");
        writeUpdateServer(folder, updateServer);
        QVERIFY2(::mount("tmpfs", path.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV,
                         nullptr) == 0,
                 std::strerror(errno));
    } else {
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                  QFileDevice::ReadGroup | QFileDevice::ExeGroup |
                                                  QFileDevice::ReadOther | QFileDevice::ExeOther));
    }
    m_server->respond("/qelprogs/qel31", answer(200, programBytes(5000, 27)));
    auto form = makeLoginWindow();
    MessageBoxRecorder boxes;
    WarningRecorder warnings;

    UpdateProgram(form.get());

    if (::geteuid() != 0)
        QFile::setPermissions(folder,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].text,
             QStringLiteral("Требуется новая версия программы.\rУстановить её в папку %1 этот "
                            "пользователь не может.\rОбратитесь к администратору.")
                 .arg(folder));
    QCOMPARE(boxes.boxes[0].caption, QStringLiteral("Уведомление"));
    QCOMPARE(boxes.boxes[0].flags, 64);
    QVERIFY2(WarningRecorder::text().contains(folder), qPrintable(WarningRecorder::text()));
    QVERIFY2(
        WarningRecorder::text().startsWith(QStringLiteral("Требуется новая версия программы. Установить её")),
        qPrintable(WarningRecorder::text()));
    QVERIFY(m_server->requests.isEmpty()); // nothing downloaded
    QVERIFY(!QFileInfo::exists(UpdateFilesIn(folder).downloadFolder));
    QVERIFY(m_started.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(Application->Terminated(), 30000);
}

void TestUpdate::scriptReplacesTheProgramAndStartsTheNewVersion()
{
    if (kThisPlatform != UpdatePlatform::Linux)
        QSKIP("the Linux script");
    // A program folder whose name needs quoting.
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/qel 31 program XXXXXX"));
    QVERIFY(dir.isValid());
    const QString folder = dir.path();
    setProgramFolder(folder);
    writeUpdateServer(folder, m_server->hostAndPort().toUtf8());
    const UpdateFiles files = UpdateFilesIn(folder);
    const QString program = folder + QStringLiteral("/qel31");

    // The old version runs until its input closes; the new one tells where it was started from.
    const QByteArray oldVersion = "#!/bin/sh\nread line\n";
    writeFile(program, oldVersion);
    QVERIFY(QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner));
    const QByteArray newVersion = "#!/bin/sh\npwd > new-version-started\n";
    m_server->respond("/qelprogs/qel31", answer(200, newVersion));
    QProcess old;
    old.start(program, {});
    QVERIFY(old.waitForStarted(30000));
    bool scriptStarted = false;
    setScriptStarter([&](const QString &script, const QString &programFolder) {
        scriptStarted = StartReplacementScript(script, programFolder, old.processId());
    });

    auto form = makeLoginWindow();
    UpdateProgram(form.get());
    form->Timer1->stop();
    QVERIFY(scriptStarted);

    // While the old process runs the script waits for it, pausing between its looks.
    qint64 scriptProcess = 0;
    QTRY_VERIFY_WITH_TIMEOUT((scriptProcess = processWithArgument(files.script)) != 0, 60000);
    QTRY_VERIFY_WITH_TIMEOUT(hasChild(scriptProcess, "sleep"), 60000);
    QCOMPARE(readFile(program), oldVersion);
    QVERIFY(QFileInfo::exists(files.downloadedFile));

    old.closeWriteChannel();
    QVERIFY(old.waitForFinished(30000));
    const QString started = folder + QStringLiteral("/new-version-started");
    QTRY_VERIFY_WITH_TIMEOUT(readFile(started).endsWith('\n'), 120000);
    QCOMPARE(QFileInfo(QString::fromLocal8Bit(readFile(started).trimmed())).canonicalFilePath(),
             QFileInfo(folder).canonicalFilePath());
    QCOMPARE(readFile(program), newVersion);
    QVERIFY(QFileInfo(program).isExecutable());
    QVERIFY(!QFileInfo::exists(files.downloadFolder));

    // The next start of the program removes the script.
    QVERIFY(QFileInfo::exists(files.script));
    TForm8 next;
    next.FormCreate();
    QVERIFY(!QFileInfo::exists(files.script));
}

QEL31_TEST_MAIN(TestUpdate)

#include "tst_update.moc"
