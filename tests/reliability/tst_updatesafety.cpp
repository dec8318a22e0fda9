// The update against a server that answers badly and a disk that fills up, driven as a user meets it:
// the login "outdated" signs in, the server demands the new version, the program downloads it. Whatever
// goes wrong, the program in place stays as it was, no replacement script is written or started, and
// the user is told what happened.

#include "app/application.h"
#include "checked.h"
#include "common/error.h"
#include "common/programfolder.h"
#include "common/workstation.h"
#include "db/dm.h"
#include "files.h"
#include "httpserver.h"
#include "loginwindow.h"
#include "messageboxes.h"
#include "registration/unit1.h"
#include "sandbox/tds/sandboxserver.h"
#include "signin/loginwidgets.h"
#include "signin/settingsfile.h"
#include "signin/unit10.h"
#include "tempprogramfolder.h"
#include "testmain.h"
#include "typing.h"
#include "update/update.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

Q_DECLARE_METATYPE(HttpServer::Response)

namespace {

const QString kTitle = QStringLiteral("QEL 31 Регистрация старост академических групп");
const QString kNotice = QStringLiteral("Идёт обновление программы, ПОДОЖДИТЕ...");
const QString kUnreachable = QStringLiteral("Сервер обновлений не доступен.\rОбратитесь к администратору.");
const QString kWrongLogin = QStringLiteral("Неверно ввели логин или пароль.");
const QByteArray kInstalled = "#!/bin/sh\n# the version in place\n";
constexpr qsizetype kBlock = 64 * 1024;

// Bytes still free on the file system of path.
qint64 freeBytes(const QString &path)
{
    struct statvfs s {};
    if (::statvfs(QFile::encodeName(path).constData(), &s) != 0)
        return -1;
    return qint64(s.f_bavail) * qint64(s.f_bsize);
}

enum class FullAt { Download, Script };

} // namespace

Q_DECLARE_METATYPE(FullAt)

class TestUpdateSafety : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void badAnswers_data();
    void badAnswers();
    void cutAtEveryBlockBoundary_data();
    void cutAtEveryBlockBoundary();
    void stallingServer();
    void silentServerTimesOut();
    void fullDisk_data();
    void fullDisk();

private:
    // The program folder as an installation has it: the program in place, the settings, the update
    // server. Written afresh so that it can lie on a file system mounted after init().
    void layOutProgramFolder();
    // The login window signs in as "outdated"; the update runs inside the click.
    void signInAsOutdated();
    // What every failed update leaves: the program in place unchanged, no script written or started,
    // no timer, the window taking input again.
    void verifyNothingInstalled();
    QString folder() const { return m_folder->path(); }
    UpdateFiles files() const { return UpdateFilesIn(folder()); }

    std::unique_ptr<sandbox::SandboxServer> m_sandbox;
    std::unique_ptr<TempProgramFolder> m_folder;
    std::unique_ptr<HttpServer> m_http;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
    std::unique_ptr<TApplication> m_app;
    QList<QString> m_started;
    bool m_mounted = false;
};

void TestUpdateSafety::init()
{
    m_sandbox = std::make_unique<sandbox::SandboxServer>(QString(), true);
    QString error;
    QVERIFY2(m_sandbox->start(QStringLiteral("127.0.0.1"), 0, &error), qPrintable(error));
    m_folder = std::make_unique<TempProgramFolder>();
    setProgramFolder(m_folder->path());
    m_http = std::make_unique<HttpServer>();
    layOutProgramFolder();
    setAddressLookup([](const QByteArray &) { return AddressLookupResult{{0x7F000001}, 0}; });
    m_started.clear();
    setScriptStarter([this](const QString &script, const QString &) { m_started.append(script); });
    m_boxes = std::make_unique<MessageBoxRecorder>();
    m_app = std::make_unique<TApplication>();
}

void TestUpdateSafety::cleanup()
{
    delete Form8;
    delete Form1;
    delete DM_MB;
    m_app.reset();
    m_boxes.reset();
    setDownloadStallLimit(kDownloadStallLimit);
    setScriptStarter({});
    setAddressLookup({});
    setProgramFolder({});
    m_http.reset();
    if (m_mounted && ::umount2(QFile::encodeName(folder()).constData(), MNT_DETACH) != 0)
        qWarning("cannot unmount %s: %s", qPrintable(folder()), std::strerror(errno));
    m_mounted = false;
    m_folder.reset();
    m_sandbox.reset();
}

void TestUpdateSafety::layOutProgramFolder()
{
    m_folder->writeSettings(
        EncodeFirstConnectInfo({QStringLiteral("qel_gate"), QStringLiteral("gate"), QStringLiteral("qel"),
                                QStringLiteral("127.0.0.1,%1").arg(m_sandbox->port())}));
    writeFile(folder() + QStringLiteral("/Data/update-server"), m_http->hostAndPort().toUtf8() + '\n');
    writeFile(folder() + QStringLiteral("/qel31"), kInstalled);
}

void TestUpdateSafety::signInAsOutdated()
{
    QVERIFY(showLoginWindow());
    typeText(Form8->Login_Edit, QStringLiteral("outdated"));
    typeText(Form8->Password_Edit, QStringLiteral("demo"));
    QTest::mouseClick(Form8->SpeedButton2, Qt::LeftButton);
}

void TestUpdateSafety::verifyNothingInstalled()
{
    QCOMPARE(readFile(folder() + QStringLiteral("/qel31")), kInstalled);
    QVERIFY(!QFileInfo::exists(files().script));
    QVERIFY(m_started.isEmpty());
    QVERIFY(!Form8->Timer1->isActive());
    QCOMPARE(Form8->ModalResult(), 0);
    // The window takes input again: a click moves the focus, typing arrives.
    QTest::mouseClick(Form8->Password_Edit, Qt::LeftButton);
    QCOMPARE(Form8->focusWidget(), Form8->Password_Edit);
    QTest::mouseClick(Form8->Login_Edit, Qt::LeftButton);
    QCOMPARE(Form8->focusWidget(), Form8->Login_Edit);
    Form8->Login_Edit->clear();
    QTest::keyClicks(Form8->Login_Edit, QStringLiteral("abc"));
    QCOMPARE(Form8->Login_Edit->text(), QStringLiteral("abc"));
}

void TestUpdateSafety::badAnswers_data()
{
    QTest::addColumn<HttpServer::Response>("response");
    const QByteArray body = programBytes(3 * kBlock, 7);
    QTest::newRow("404 with an error page") << answer(404, "<html><body>Not Found</body></html>");
    QTest::newRow("403 with an error page") << answer(403, "<html><body>Forbidden</body></html>");
    QTest::newRow("503 with an error page") << answer(503, "<html><body>Service Unavailable</body></html>");
    QTest::newRow("500 with a body as long as the program") << answer(500, body);
    QTest::newRow("an empty body") << answer(200, {});
    QTest::newRow("headers only, the body never comes") << answer(200, body, 0);
    QTest::newRow("one byte short") << answer(200, body, body.size() - 1);
    QTest::newRow("a single byte of it") << answer(200, body, 1);
}

void TestUpdateSafety::badAnswers()
{
    QFETCH(HttpServer::Response, response);
    m_http->respond("/qelprogs/qel31", response);

    QEL31_CHECKED(signInAsOutdated());

    QCOMPARE(m_boxes->boxes.size(), 1);
    QCOMPARE(m_boxes->boxes[0].text, kUnreachable);
    QCOMPARE(m_boxes->boxes[0].caption, QStringLiteral("Уведомление"));
    QCOMPARE(Form8->Label1->text(), kNotice);
    QTRY_VERIFY_WITH_TIMEOUT(Application->Terminated(), 30000);
    QEL31_CHECKED(verifyNothingInstalled());
    // An error page never lands in the download folder.
    if (response.status != 200)
        QCOMPARE(readFile(files().downloadedFile), QByteArray());
}

void TestUpdateSafety::cutAtEveryBlockBoundary_data()
{
    QTest::addColumn<qsizetype>("cutAt");
    // A body of five blocks and a bit, cut at each block boundary and a byte to either side of one.
    const qsizetype size = 5 * kBlock + 1000;
    for (qsizetype at = kBlock; at < size; at += kBlock)
        QTest::addRow("cut after %lld KiB", qlonglong(at / 1024)) << at;
    QTest::newRow("a byte before the first boundary") << kBlock - 1;
    QTest::newRow("a byte after the first boundary") << kBlock + 1;
}

void TestUpdateSafety::cutAtEveryBlockBoundary()
{
    QFETCH(qsizetype, cutAt);
    const QByteArray body = programBytes(5 * kBlock + 1000, 7);
    m_http->respond("/qelprogs/qel31", answer(200, body, cutAt));

    QEL31_CHECKED(signInAsOutdated());

    QCOMPARE(m_boxes->boxes.size(), 1);
    QCOMPARE(m_boxes->boxes[0].text, kUnreachable);
    QTRY_VERIFY_WITH_TIMEOUT(Application->Terminated(), 30000);
    QEL31_CHECKED(verifyNothingInstalled());
    // What arrived stays in the download folder, never more than was sent, never in place.
    const QByteArray downloaded = readFile(files().downloadedFile);
    QVERIFY(downloaded.size() <= cutAt);
    QVERIFY(body.startsWith(downloaded));
}

// A server that sends part of the file and then nothing: the program waits with its notice shown and
// its input closed, and installs nothing; when the server gives up, the user is told.
void TestUpdateSafety::stallingServer()
{
    const QByteArray body = programBytes(4 * kBlock, 7);
    HttpServer::Response response = answer(200, body);
    response.holdAt = kBlock + 512;
    m_http->respond("/qelprogs/qel31", response);
    bool checkedWhileStalled = false;
    QString noticeWhileStalled;
    bool scriptWhileStalled = true;
    bool typedWhileStalled = true;
    bool focusMovedWhileStalled = true;
    connect(m_http.get(), &HttpServer::held, this, [&] {
        // Everything sent so far has reached the download folder before the server is dropped.
        (void)QTest::qWaitFor([&] { return QFileInfo(files().downloadedFile).size() >= kBlock + 512; },
                              60000);
        noticeWhileStalled = Form8->Label1->text();
        scriptWhileStalled = QFileInfo::exists(files().script) || !m_started.isEmpty();
        QTest::keyClicks(Form8->Login_Edit, QStringLiteral("x"));
        typedWhileStalled = Form8->Login_Edit->text() != QLatin1String("outdated");
        // A click neither moves the focus nor presses Вход.
        QWidget *focused = Form8->focusWidget();
        QTest::mouseClick(Form8->Password_Edit, Qt::LeftButton);
        QTest::mouseClick(Form8->Login_Edit, Qt::LeftButton);
        QTest::mouseClick(Form8->SpeedButton2, Qt::LeftButton);
        focusMovedWhileStalled = Form8->focusWidget() != focused || Form8->AttemptCount != 1;
        checkedWhileStalled = true;
        // The server gives up on the connection.
        for (QTcpSocket *socket : m_http->findChildren<QTcpSocket *>())
            socket->abort();
    });

    QEL31_CHECKED(signInAsOutdated());

    QVERIFY(checkedWhileStalled);
    QCOMPARE(noticeWhileStalled, kNotice);
    QVERIFY(!scriptWhileStalled);
    QVERIFY(!typedWhileStalled);
    QVERIFY(!focusMovedWhileStalled);
    QCOMPARE(m_boxes->boxes.size(), 1);
    QCOMPARE(m_boxes->boxes[0].text, kUnreachable);
    QTRY_VERIFY_WITH_TIMEOUT(Application->Terminated(), 30000);
    QEL31_CHECKED(verifyNothingInstalled());
    QCOMPARE(readFile(files().downloadedFile), body.left(kBlock + 512));
}

// A server that sends the headers and then nothing, and never gives up: the download's own limit
// ends it (this test's limit is short; the program's is 30 seconds) as a failed one.
void TestUpdateSafety::silentServerTimesOut()
{
    HttpServer::Response response = answer(200, programBytes(2 * kBlock, 7));
    response.holdAt = 0;
    m_http->respond("/qelprogs/qel31", response);
    bool held = false;
    bool gaveUpWaiting = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    watchdog.setInterval(120000);
    connect(&watchdog, &QTimer::timeout, this, [&] {
        // Far beyond the limit and the download still waits: the server drops it, so that the test
        // ends with a failure instead of waiting for ever.
        gaveUpWaiting = true;
        for (QTcpSocket *socket : m_http->findChildren<QTcpSocket *>())
            socket->abort();
    });
    connect(m_http.get(), &HttpServer::held, this, [&] {
        held = true;
        watchdog.start();
    });
    QCOMPARE(DownloadStallLimit(), 30000);
    const int programLimit = setDownloadStallLimit(300);

    signInAsOutdated();
    setDownloadStallLimit(programLimit);
    watchdog.stop();
    if (QTest::currentTestFailed())
        return;

    QVERIFY(held);
    QVERIFY2(!gaveUpWaiting, "the download waited for the silent server until the test gave up");
    QCOMPARE(m_boxes->boxes.size(), 1);
    QCOMPARE(m_boxes->boxes[0].text, kUnreachable);
    QCOMPARE(m_boxes->boxes[0].caption, QStringLiteral("Уведомление"));
    QCOMPARE(m_boxes->boxes[0].parent, Form8);
    QTRY_VERIFY_WITH_TIMEOUT(Application->Terminated(), 30000);
    QEL31_CHECKED(verifyNothingInstalled());
    QCOMPARE(readFile(files().downloadedFile), QByteArray());
}

void TestUpdateSafety::fullDisk_data()
{
    QTest::addColumn<FullAt>("fullAt");
    QTest::newRow("the download fills the disk") << FullAt::Download;
    QTest::newRow("no room left for the script") << FullAt::Script;
}

// A small file system of its own (tmpfs) holds the program folder; where the machine refuses to
// mount one, the file that would fill the disk is the device that is always full.
void TestUpdateSafety::fullDisk()
{
    QFETCH(FullAt, fullAt);
    QByteArray body = programBytes(16 * kBlock, 7);
    const QByteArray path = QFile::encodeName(folder());
    m_mounted = ::mount("tmpfs", path.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=256k,mode=0700") == 0;
    if (m_mounted) {
        layOutProgramFolder();
        QVERIFY(QDir().mkdir(files().downloadFolder));
        if (fullAt == FullAt::Script) {
            // The download takes exactly the room that is left.
            body = programBytes(freeBytes(folder()), 7);
            QVERIFY(body.size() > 0);
        }
    } else {
        qWarning("no tmpfs (%s): the full disk is /dev/full", std::strerror(errno));
        QVERIFY(QDir().mkdir(files().downloadFolder));
        const QString full = fullAt == FullAt::Download ? files().downloadedFile : files().partialScript;
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), full));
        body = programBytes(kBlock, 7);
    }
    m_http->respond("/qelprogs/qel31", answer(200, body));

    QEL31_CHECKED(signInAsOutdated());

    // The file error ends the update and is shown by the sign-in.
    QCOMPARE(m_boxes->boxes.size(), 1);
    QCOMPARE(m_boxes->boxes[0].text, InOutError::fromCode(101).message());
    QCOMPARE(m_boxes->boxes[0].caption, kTitle);
    QCOMPARE(Form8->RzLabel1->Caption(), kWrongLogin);
    QCOMPARE(readFile(folder() + QStringLiteral("/qel31")), kInstalled);
    QVERIFY(m_started.isEmpty());
    QVERIFY(!Form8->Timer1->isActive());
    QCoreApplication::processEvents();
    QVERIFY(!Application->Terminated());
    if (m_mounted && fullAt == FullAt::Script)
        QCOMPARE(readFile(files().downloadedFile), body);
    // No script, whole or partial, is left where a shell or the next start could take it up.
    QVERIFY(!QFileInfo::exists(files().script));
    QVERIFY(!QFileInfo(files().partialScript).exists() && !QFileInfo(files().partialScript).isSymLink());
}

QEL31_TEST_MAIN(TestUpdateSafety)
#include "tst_updatesafety.moc"
