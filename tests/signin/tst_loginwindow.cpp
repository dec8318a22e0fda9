// The login window and the sign-in, whole: typed into the fields by object name, the hot spots clicked,
// against the in-process sandbox server with the demo university. What the user sees is read from the
// widgets and the message boxes, what was sent from the sandbox's event log.

#include "app/application.h"
#include "app/startup.h"
#include "common/cp1251.h"
#include "common/error.h"
#include "common/md5.h"
#include "common/programfolder.h"
#include "common/workstation.h"
#include "messageboxes.h"
#include "tempprogramfolder.h"
#include "registration/dm.h"
#include "registration/unit1.h"
#include "sandboxserver.h"
#include "signin/loginwidgets.h"
#include "signin/settingsfile.h"
#include "signin/unit10.h"
#include "testmain.h"
#include "update/update.h"
#include "../update/httpserver.h"
#include "typing.h"

#include <QTimer>

using sandbox::Event;
using sandbox::EventKind;
using sandbox::Value;

namespace {

const QString kTitle = QStringLiteral("QEL 31 Регистрация старост академических групп");
const QString kChangePassword = QStringLiteral(
    "Вы должны поменять пароль\rЭто делается для безопастности и сохранения данных от злоумышлеников");
const QString kWrongLogin = QStringLiteral("Неверно ввели логин или пароль.");
const QString kMismatch = QStringLiteral("Новый пароль подтвержден не верно!!!\rПодтвердите пароль заново.");
const QString kDemoDigest = QStringLiteral("FE01CE2A7FBAC8FAFAED7C982A04E229"); // MD5 of "demo"
const QString kEmptyDigest = QStringLiteral("D41D8CD98F00B204E9800998ECF8427E");
const QString kDemoAccount = QStringLiteral("qel_demo");
const QString kDemoAccountPassword = QStringLiteral("Группа=17;демо");
const QString kPrevious = QStringLiteral("previous text");

// The address the workstation reports in these tests.
constexpr quint32 kAddress = (10u << 24) | (20u << 16) | (30u << 8) | 40u;

// A credential as GET_USER stores it: every Windows-1251 byte one lower.
QString shifted(const QString &text)
{
    QByteArray bytes = Cp1251::fromUnicode(text);
    for (auto &b : bytes)
        b = char(uchar(b) - 1);
    return Cp1251::toUnicode(bytes);
}

// A GET_USER row: user, password (both plain here, shifted on the way), id, password check, message,
// update flag.
QList<Value> row(const QString &user, const QString &password, qint64 id, qint64 check, const QString &message,
                 qint64 update)
{
    return {shifted(user), shifted(password), id, check, message, update};
}

QString request(const QString &login, const QString &digest, const QString &newPassword, const QString &count)
{
    return QStringLiteral("EXEC GET_USER '%1','%2',%3, 'QEL 31', '10.20.30.40', '%4', '%1','0','%5'\r\n")
        .arg(login, digest, newPassword, WorkstationName(), count);
}

bool isDriverNoise(const Event &e)
{
    return e.statement.startsWith(QLatin1String("sp_datatype_info")) || e.procedure == QLatin1String("sp_unprepare") ||
           (e.statement.startsWith(QLatin1String("SET ")) && !e.statement.startsWith(QLatin1String("SET DATEFORMAT")));
}

enum class Verdict { Message, ForcedChange, Prompt, Accepted, Cleared, Update };

} // namespace

Q_DECLARE_METATYPE(QList<Value>)

class TestLoginWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void layout();
    void settingsFileUnreadable();
    void addressLookupFails();
    void firstConnectionFails_data();
    void firstConnectionFails();
    void exchangeError_data();
    void exchangeError();
    void verdicts_data();
    void verdicts();
    void acceptedSignIn();
    void updateVerdict_data();
    void updateVerdict();
    void secondOpenOrFacultiesFail_data();
    void secondOpenOrFacultiesFail();
    void newPasswordArgument_data();
    void newPasswordArgument();
    void expiredPasswordIsChangedInTheWindow();
    void confirmationMismatchCountsAsAPress();
    void attemptCountWraps();
    void keyFilter_data();
    void keyFilter();
    void enterInEveryField_data();
    void enterInEveryField();
    void quotedUserNamesAreData_data();
    void quotedUserNamesAreData();
    void panelToggle();
    void dragging_data();
    void dragging();
    void defaultErrorDisplay_data();
    void defaultErrorDisplay();

    void cancelEndsTheProgram_data();
    void cancelEndsTheProgram();
    void successShowsTheMainWindowAfterTheLoginWindowIsGone();

private:
    void writeSettings(const QString &user, const QString &password, const QString &database = QStringLiteral("qel"));
    void openLoginWindow();
    void closeLoginWindow();
    void signIn(const QString &login, const QString &password);
    // The events of the client, without what the driver sends on its own.
    QList<Event> clientEvents() const;
    QList<Event> getUserCalls() const;
    qint64 count(const QString &sql);

    std::unique_ptr<sandbox::SandboxServer> m_server;
    std::unique_ptr<TempProgramFolder> m_folder;
    std::unique_ptr<TApplication> m_app;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
    TForm8 *m_form = nullptr;
};

void TestLoginWindow::init()
{
    m_server = std::make_unique<sandbox::SandboxServer>(QString(), true);
    QString error;
    QVERIFY2(m_server->start(QStringLiteral("127.0.0.1"), 0, &error), qPrintable(error));
    m_folder = std::make_unique<TempProgramFolder>();
    setProgramFolder(m_folder->path());
    writeSettings(QStringLiteral("qel_gate"), QStringLiteral("gate"));
    setAddressLookup([](const QByteArray &) { return AddressLookupResult{{kAddress}, 0}; });
    m_boxes = std::make_unique<MessageBoxRecorder>();
    m_app = std::make_unique<TApplication>();
}

void TestLoginWindow::cleanup()
{
    closeLoginWindow();
    m_app.reset();
    m_boxes.reset();
    setAddressLookup({});
    setProgramFolder(QString());
    m_folder.reset();
    m_server.reset();
}

void TestLoginWindow::writeSettings(const QString &user, const QString &password, const QString &database)
{
    m_folder->writeSettings(EncodeFirstConnectInfo(
        {user, password, database, QStringLiteral("127.0.0.1,%1").arg(m_server->port())}));
}

// The windows as start-up leaves them while the login window runs: the data module, the hidden main
// window and the login window, shown.
void TestLoginWindow::openLoginWindow()
{
    new TDM_MB();
    Form1 = new TForm1();
    m_form = Form8 = new TForm8();
    Form8->FormCreate();
    Form8->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form8));
}

void TestLoginWindow::closeLoginWindow()
{
    delete Form8;
    delete Form1;
    delete DM_MB;
    m_form = nullptr;
}

void TestLoginWindow::signIn(const QString &login, const QString &password)
{
    typeText(m_form->Login_Edit, login);
    typeText(m_form->Password_Edit, password);
    QTest::mouseClick(m_form->SpeedButton2, Qt::LeftButton);
}

QList<Event> TestLoginWindow::clientEvents() const
{
    QList<Event> events;
    for (const Event &e : m_server->events())
        if (!isDriverNoise(e))
            events.append(e);
    return events;
}

QList<Event> TestLoginWindow::getUserCalls() const
{
    QList<Event> calls;
    for (const Event &e : m_server->events())
        if (e.statement.startsWith(QLatin1String("EXEC GET_USER")))
            calls.append(e);
    return calls;
}

qint64 TestLoginWindow::count(const QString &sql)
{
    return std::get<qint64>(m_server->engine().sqlite(sql).rows.at(0).at(0));
}

void TestLoginWindow::layout()
{
    openLoginWindow();
    QVERIFY(m_form->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(m_form->size(), QSize(497, 273));
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Аутентификация"));
    const QList<std::pair<const char *, QRect>> geometry = {
        {"Image1", {0, 0, 497, 278}},         {"SpeedButton2", {349, 200, 55, 20}},
        {"SpeedButton3", {346, 236, 139, 22}}, {"Image2", {0, 277, 497, 139}},
        {"SpeedButton1", {418, 199, 67, 22}},  {"RzLabel1", {60, 107, 329, 78}},
        {"Login_Edit", {146, 202, 187, 21}},   {"Password_Edit", {146, 238, 187, 21}},
        {"Edit1", {148, 309, 186, 21}},        {"Edit2", {148, 345, 186, 21}},
    };
    for (const auto &[name, rect] : geometry) {
        auto *widget = m_form->findChild<QWidget *>(QLatin1String(name));
        QVERIFY2(widget, name);
        QCOMPARE(widget->geometry(), rect);
    }
    QCOMPARE(m_form->Label1->text(), QStringLiteral("V.1"));
    QCOMPARE(m_form->Label1->pos(), QPoint(6, 5));
    QVERIFY(!m_form->Timer1->isActive());
    QCOMPARE(m_form->Timer1->interval(), 2000);
    QCOMPARE(m_form->Password_Edit->echoMode(), QLineEdit::Password);
    for (TSpeedButton *button : {m_form->SpeedButton1, m_form->SpeedButton2, m_form->SpeedButton3}) {
        QCOMPARE(button->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(button->focusPolicy(), Qt::NoFocus);
    }
    QCOMPARE(m_form->focusWidget(), m_form->Login_Edit);
    QCOMPARE(m_form->Login_Edit->nextInFocusChain(), m_form->Password_Edit);
    QCOMPARE(m_form->Password_Edit->nextInFocusChain(), m_form->Edit1);
    QCOMPARE(m_form->Edit1->nextInFocusChain(), m_form->Edit2);
}

void TestLoginWindow::settingsFileUnreadable()
{
    QFile::remove(m_folder->settingsPath());
    openLoginWindow();
    m_form->RzLabel1->setCaption(kPrevious);
    signIn(QStringLiteral("demo"), QStringLiteral("demo"));

    QCOMPARE(m_boxes->boxes.size(), 1);
    const MessageBoxRequest box = m_boxes->boxes.first();
    QCOMPARE(box.caption, kTitle);
    QCOMPARE(box.flags, MessageBoxFlag::IconError);
    QCOMPARE(box.text, InOutError::fromCode(ENOENT).message() + QLatin1Char('.'));
    QCOMPARE(m_form->RzLabel1->Caption(), kPrevious);
    QVERIFY(!DM_MB->ADOCon.Connected());
    QVERIFY(m_server->events().isEmpty());
    QCOMPARE(m_form->ModalResult(), 0);
}

void TestLoginWindow::addressLookupFails()
{
    setAddressLookup([](const QByteArray &) { return AddressLookupResult{{}, 11001}; });
    openLoginWindow();
    m_form->RzLabel1->setCaption(kPrevious);
    signIn(QStringLiteral("demo"), QStringLiteral("demo"));

    QCOMPARE(m_boxes->boxes.size(), 1);
    QVERIFY2(m_boxes->boxes.first().text.startsWith(QLatin1String("Socket Error # 11001")),
             qPrintable(m_boxes->boxes.first().text));
    QCOMPARE(m_boxes->boxes.first().flags, MessageBoxFlag::IconError);
    QCOMPARE(m_form->RzLabel1->Caption(), kPrevious);
    QVERIFY(DM_MB->ADOCon.Connected());
    QCOMPARE(DM_MB->ADOCon.properties().user, QStringLiteral("qel_gate"));
    QVERIFY(getUserCalls().isEmpty());
}

void TestLoginWindow::firstConnectionFails_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("status");
    QTest::newRow("wrong password: the name between the quotes is gone")
        << "qel_gate" << "wrong" << "qel" << "Login failed for user ''.";
    QTest::newRow("a name inside longer words is cut out of them too")
        << "in" << "x" << "qel" << "Log failed for user ''.";
    QTest::newRow("only the exact letter case is cut: Login stays for LOGIN")
        << "LOGIN" << "x" << "qel" << "Login failed for user ''.";
    QTest::newRow("unknown database") << "qel_gate" << "gate" << "nosuch"
                                      << "Login failed for user ''.\nCannot open database \"nosuch\" requested by "
                                         "the login. The login failed.";
}

void TestLoginWindow::firstConnectionFails()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, database);
    QFETCH(QString, status);
    writeSettings(user, password, database);
    openLoginWindow();
    signIn(QStringLiteral("demo"), QStringLiteral("demo"));

    QCOMPARE(m_form->RzLabel1->Caption(), status);
    QVERIFY(m_boxes->boxes.isEmpty());
    QVERIFY(!DM_MB->ADOCon.Connected());
    QVERIFY(getUserCalls().isEmpty());
    QCOMPARE(m_form->ModalResult(), 0);
}

void TestLoginWindow::exchangeError_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("boxText");
    QTest::newRow("the procedure raises an error") << 0 << "Процедура недоступна";
    QTest::newRow("fewer than six columns") << 1 << "List index out of bounds (4)";
    QTest::newRow("a column that is no integer") << 2 << "'soon' is not a valid integer value";
}

void TestLoginWindow::exchangeError()
{
    QFETCH(int, kind);
    QFETCH(QString, boxText);
    if (kind == 0) {
        m_server->failStatements(QRegularExpression(QStringLiteral("GET_USER")), 50000, 16, boxText);
    } else if (kind == 1) {
        sandbox::ResultSet result;
        for (const char *name : {"a", "b", "c", "d"})
            result.columns.append({QLatin1String(name), sandbox::ColumnType::Int});
        result.rows.append({qint64(1), qint64(2), qint64(3), qint64(4)});
        m_server->engine().scriptNextGetUserResult(result);
    } else {
        m_server->scriptNextGetUserRow({QString(), QString(), qint64(1), QStringLiteral("soon"), QString(), qint64(0)});
    }
    openLoginWindow();
    signIn(QStringLiteral("demo"), QStringLiteral("demo"));

    QCOMPARE(m_boxes->boxes.size(), 1);
    QCOMPARE(m_boxes->boxes.first().text, boxText);
    QCOMPARE(m_boxes->boxes.first().caption, kTitle);
    QCOMPARE(m_boxes->boxes.first().flags, MessageBoxFlag::Ok);
    QCOMPARE(m_form->RzLabel1->Caption(), kWrongLogin);
    QVERIFY(!DM_MB->ADOCon.Connected());
    QCOMPARE(m_form->ModalResult(), 0);
}

void TestLoginWindow::verdicts_data()
{
    QTest::addColumn<QList<Value>>("getUser");
    QTest::addColumn<bool>("panelOpen");
    QTest::addColumn<int>("previousPresses");
    QTest::addColumn<int>("verdict");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("toggleEnabled");
    QTest::addColumn<bool>("connected");

    const QString message = QStringLiteral("Вход закрыт & ждите");
    QTest::newRow("message") << row("qel_demo", "x", 12, 100, message, 0) << false << 0 << int(Verdict::Message)
                             << message << 273 << true << true;
    QTest::newRow("message wins over a forced change")
        << row("qel_demo", "x", 12, -5, message, 0) << false << 0 << int(Verdict::Message) << message << 273 << true
        << true;
    QTest::newRow("forced change opens the panel")
        << row("qel_demo", "x", 12, -1, "", 0) << false << 0 << int(Verdict::ForcedChange) << kChangePassword << 416
        << false << false;
    QTest::newRow("forced change closes an open panel")
        << row("qel_demo", "x", 12, -1, "", 0) << true << 0 << int(Verdict::ForcedChange) << kChangePassword << 275
        << false << false;
    QTest::newRow("forced change wins over the first-press prompt")
        << row("qel_demo", "x", 12, -1, "", 0) << false << 0 << int(Verdict::ForcedChange) << kChangePassword << 416
        << false << false;
    QTest::newRow("first press prompts") << row("qel_demo", "x", 12, 19, "", 0) << false << 0 << int(Verdict::Prompt)
                                         << kChangePassword << 416 << true << false;
    QTest::newRow("a later press is not prompted")
        << row(kDemoAccount, kDemoAccountPassword, 12, 19, "", 0) << false << 1 << int(Verdict::Accepted) << kPrevious
        << 273 << true << true;
    QTest::newRow("no prompt without a user name: second open fails, status cleared")
        << row("", "", 12, 5, "", 0) << false << 0 << int(Verdict::Cleared) << "" << 273 << true << false;
    QTest::newRow("20 days left is not prompted")
        << row(kDemoAccount, kDemoAccountPassword, 12, 20, "", 0) << false << 0 << int(Verdict::Accepted) << kPrevious
        << 273 << true << true;
    QTest::newRow("no row at all: empty credentials, status cleared")
        << QList<Value>() << false << 0 << int(Verdict::Cleared) << "" << 273 << true << false;
}

void TestLoginWindow::verdicts()
{
    QFETCH(QList<Value>, getUser);
    QFETCH(bool, panelOpen);
    QFETCH(int, previousPresses);
    QFETCH(int, verdict);
    QFETCH(QString, status);
    QFETCH(int, height);
    QFETCH(bool, toggleEnabled);
    QFETCH(bool, connected);
    m_server->scriptNextGetUserRow(getUser);
    openLoginWindow();
    m_form->RzLabel1->setCaption(kPrevious);
    if (panelOpen)
        QTest::mouseClick(m_form->SpeedButton3, Qt::LeftButton);
    m_form->AttemptCount = quint8(previousPresses);
    signIn(QStringLiteral("demo"), QStringLiteral("demo"));

    QVERIFY(m_boxes->boxes.isEmpty());
    QCOMPARE(m_form->RzLabel1->Caption(), status);
    QCOMPARE(m_form->height(), height);
    QCOMPARE(m_form->SpeedButton3->isEnabled(), toggleEnabled);
    QCOMPARE(DM_MB->ADOCon.Connected(), connected);
    QCOMPARE(m_form->ModalResult(), verdict == int(Verdict::Accepted) ? 1 : 0);
    QCOMPARE(m_app->ShowMainWindow, verdict == int(Verdict::Accepted));
    QCOMPARE(getUserCalls().size(), 1);
    if (verdict == int(Verdict::Message))
        QCOMPARE(DM_MB->ADOCon.properties().user, QStringLiteral("qel_gate"));
}

void TestLoginWindow::acceptedSignIn()
{
    openLoginWindow();
    m_form->RzLabel1->setCaption(kPrevious);
    signIn(QStringLiteral("demo"), QStringLiteral("demo"));

    QVERIFY(m_boxes->boxes.isEmpty());
    QCOMPARE(m_form->ModalResult(), 1);
    QVERIFY(m_app->ShowMainWindow);
    QCOMPARE(Form1->UserId, 12);
    QCOMPARE(Form1->UserLogin, QStringLiteral("demo"));
    QCOMPARE(m_form->RzLabel1->Caption(), kPrevious);
    QVERIFY(DM_MB->ADOCon.Connected());
    QCOMPARE(DM_MB->ADOCon.properties().user, kDemoAccount);
    QVERIFY(DM_MB->ADOQ_Faculty.Active());
    QVERIFY(DM_MB->ADOQ_Year.Active());

    const QList<Event> events = clientEvents();
    QStringList seen;
    for (const Event &e : events)
        seen << e.login + QLatin1Char(' ') + (e.kind == EventKind::LoginOk ? QStringLiteral("login") : e.text());
    const QStringList expected = {
        QStringLiteral("qel_gate login"),
        QStringLiteral("qel_gate ") + request(QStringLiteral("demo"), kDemoDigest, QStringLiteral("NULL"), "4"),
        QStringLiteral("qel_demo login"),
        QStringLiteral("qel_demo ") + userFacultiesStatement(12) + QStringLiteral("\r\n"),
        QStringLiteral("qel_demo SELECT id_a_year, p32 FROM a_year\r\n"),
        QStringLiteral("qel_demo SET DATEFORMAT dmy\r\n"),
    };
    QCOMPARE(seen.join(QLatin1Char('|')), expected.join(QLatin1Char('|')));
}

void TestLoginWindow::updateVerdict_data()
{
    QTest::addColumn<int>("server"); // 0 serves the new version, 1 is down, 2 answers 404
    QTest::addColumn<bool>("downloadFolderIsAFile");
    QTest::newRow("update installed and started") << 0 << false;
    QTest::newRow("update server down") << 1 << false;
    QTest::newRow("update server has no such file") << 2 << false;
    QTest::newRow("download folder cannot be made: the sign-in's error path") << 0 << true;
}

// The login whose program version is too old: the sign-in hands over to the update, whatever else
// the verdict says.
void TestLoginWindow::updateVerdict()
{
    QFETCH(int, server);
    QFETCH(bool, downloadFolderIsAFile);
    HttpServer http;
    http.respond("/qelprogs/qel31", {200, QByteArray(5000, 'N')});
    if (server == 1)
        http.close();
    if (server == 2)
        http.respond("/qelprogs/qel31", {404, "<html>Not Found</html>"});
    QFile address(m_folder->path() + QStringLiteral("/Data/update-server"));
    QVERIFY(address.open(QIODevice::WriteOnly));
    address.write(http.hostAndPort().toUtf8() + '\n');
    address.close();
    if (downloadFolderIsAFile) {
        QFile blocker(m_folder->path() + QStringLiteral("/tempQEL"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    QStringList started;
    setScriptStarter([&](const QString &script, const QString &) { started << script; });
    openLoginWindow();
    signIn(QStringLiteral("outdated"), QStringLiteral("demo"));
    setScriptStarter({});

    QCOMPARE(m_form->ModalResult(), 0);
    QCOMPARE(m_form->Label1->text(), QStringLiteral("Идёт обновление программы, ПОДОЖДИТЕ..."));
    QVERIFY(!m_app->ShowMainWindow);
    const QString script = m_folder->path() + QStringLiteral("/qel31.sh");
    if (downloadFolderIsAFile) {
        QCOMPARE(m_boxes->boxes.size(), 1);
        QCOMPARE(m_boxes->boxes[0].caption, kTitle);
        QCOMPARE(m_boxes->boxes[0].flags, MessageBoxFlag::Ok);
        QCOMPARE(m_form->RzLabel1->Caption(), kWrongLogin);
        QVERIFY(!DM_MB->ADOCon.Connected());
        QVERIFY(started.isEmpty());
        QVERIFY(!QFile::exists(script));
    } else if (server == 0) {
        QVERIFY(m_boxes->boxes.isEmpty());
        QCOMPARE(started, QStringList{script});
        QVERIFY(QFile::exists(script));
        QVERIFY(m_form->Timer1->isActive());
        // The connection is left as the update found it, and the window takes no more input.
        QVERIFY(DM_MB->ADOCon.Connected());
        typeText(m_form->Login_Edit, QStringLiteral("x"));
        QCOMPARE(m_form->Login_Edit->text(), QStringLiteral("outdated"));
    } else {
        QCOMPARE(m_boxes->boxes.size(), 1);
        QCOMPARE(m_boxes->boxes[0].text, QStringLiteral("Сервер обновлений не доступен.\rОбратитесь к администратору."));
        QCOMPARE(m_boxes->boxes[0].caption, QStringLiteral("Уведомление"));
        QCOMPARE(m_boxes->boxes[0].flags, MessageBoxFlag::IconInformation);
        QVERIFY(QTest::qWaitFor([this] { return m_app->Terminated(); }));
        QVERIFY(started.isEmpty());
        QVERIFY(!QFile::exists(script));
    }
}

void TestLoginWindow::secondOpenOrFacultiesFail_data()
{
    QTest::addColumn<bool>("facultiesFail");
    QTest::newRow("second open fails") << false;
    QTest::newRow("faculty loading fails") << true;
}

void TestLoginWindow::secondOpenOrFacultiesFail()
{
    QFETCH(bool, facultiesFail);
    if (facultiesFail)
        m_server->failStatements(QRegularExpression(QStringLiteral("FROM  faculty")), 229, 14,
                                 QStringLiteral("The SELECT permission was denied"));
    else
        m_server->scriptNextGetUserRow(row(kDemoAccount, QStringLiteral("not its password"), 77, 100, "", 0));
    openLoginWindow();
    m_form->RzLabel1->setCaption(kPrevious);
    signIn(QStringLiteral("demo"), QStringLiteral("demo"));

    QVERIFY(m_boxes->boxes.isEmpty());
    QCOMPARE(m_form->RzLabel1->Caption(), QString());
    QVERIFY(!DM_MB->ADOCon.Connected());
    QCOMPARE(m_form->ModalResult(), 0);
    // What was set before the failure stays.
    QCOMPARE(Form1->UserId, facultiesFail ? 12 : 77);
    QCOMPARE(Form1->UserLogin, facultiesFail ? QStringLiteral("demo") : QString());
    QCOMPARE(m_app->ShowMainWindow, facultiesFail);
}

void TestLoginWindow::newPasswordArgument_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("count");
    QTest::newRow("NULL in capitals is no new password") << "NULL" << "NULL" << "4";
    QTest::newRow("null in small letters is a password") << "null" << "'" + Md5Hex(QStringLiteral("null")) + "'"
                                                        << "34";
    QTest::newRow("both fields empty: the digest of the empty text") << "" << "'" + kEmptyDigest + "'" << "34";
    QTest::newRow("a long password still counts 34")
        << "Abcdefghij_0123456789_abcdefghij_0123456789"
        << "'" + Md5Hex(QStringLiteral("Abcdefghij_0123456789_abcdefghij_0123456789")) + "'" << "34";
}

void TestLoginWindow::newPasswordArgument()
{
    QFETCH(QString, typed);
    QFETCH(QString, argument);
    QFETCH(QString, count);
    m_server->scriptNextGetUserRow(row("", "", 0, 0, QStringLiteral("stop here"), 0));
    openLoginWindow();
    QTest::mouseClick(m_form->SpeedButton3, Qt::LeftButton);
    typeText(m_form->Edit1, typed);
    typeText(m_form->Edit2, typed);
    signIn(QStringLiteral("demo"), QStringLiteral("demo"));

    const QList<Event> calls = getUserCalls();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls.first().statement, request(QStringLiteral("demo"), kDemoDigest, argument, count));
}

void TestLoginWindow::expiredPasswordIsChangedInTheWindow()
{
    openLoginWindow();
    signIn(QStringLiteral("expired"), QStringLiteral("demo"));
    QCOMPARE(m_form->RzLabel1->Caption(), kChangePassword);
    QCOMPARE(m_form->height(), 416);
    QVERIFY(!m_form->SpeedButton3->isEnabled());
    QVERIFY(!DM_MB->ADOCon.Connected());

    typeText(m_form->Edit1, QStringLiteral("Fresh_2026"));
    typeText(m_form->Edit2, QStringLiteral("Fresh_2026"));
    QTest::mouseClick(m_form->SpeedButton2, Qt::LeftButton);
    QVERIFY(m_boxes->boxes.isEmpty());
    QCOMPARE(m_form->ModalResult(), 1);
    QCOMPARE(Form1->UserId, 14);
    QCOMPARE(getUserCalls().last().statement,
             request(QStringLiteral("expired"), kDemoDigest, "'" + Md5Hex(QStringLiteral("Fresh_2026")) + "'", "34"));
    const auto stored = m_server->engine().sqlite(QStringLiteral("SELECT password_md5 FROM sandbox_login WHERE "
                                                                 "login = 'expired'"));
    QCOMPARE(std::get<QString>(stored.rows.at(0).at(0)), Md5Hex(QStringLiteral("Fresh_2026")));
}

void TestLoginWindow::confirmationMismatchCountsAsAPress()
{
    openLoginWindow();
    QTest::mouseClick(m_form->SpeedButton3, Qt::LeftButton);
    typeText(m_form->Edit1, QStringLiteral("abc"));
    typeText(m_form->Edit2, QStringLiteral("abd"));
    signIn(QStringLiteral("demo"), QStringLiteral("demo"));

    QCOMPARE(m_form->RzLabel1->Caption(), kMismatch);
    QCOMPARE(m_form->Edit1->text(), QString());
    QCOMPARE(m_form->Edit2->text(), QString());
    QCOMPARE(m_form->AttemptCount, quint8(1));
    QVERIFY(m_server->events().isEmpty());

    // The next press is not the first: a server verdict that would prompt a first press goes on to
    // acceptance (both fields now empty and equal, so the digest of the empty text is sent).
    m_server->scriptNextGetUserRow(row(kDemoAccount, kDemoAccountPassword, 12, 5, "", 0));
    QTest::mouseClick(m_form->SpeedButton2, Qt::LeftButton);
    QCOMPARE(m_form->AttemptCount, quint8(2));
    QCOMPARE(m_form->ModalResult(), 1);
    QCOMPARE(getUserCalls().first().statement,
             request(QStringLiteral("demo"), kDemoDigest, "'" + kEmptyDigest + "'", "34"));
}

void TestLoginWindow::attemptCountWraps()
{
    openLoginWindow();
    QTest::mouseClick(m_form->SpeedButton3, Qt::LeftButton);
    typeText(m_form->Login_Edit, QStringLiteral("demo"));
    typeText(m_form->Password_Edit, QStringLiteral("demo"));
    for (int press = 1; press <= 256; ++press) {
        m_form->Edit1->setText(QStringLiteral("a"));
        m_form->Edit2->setText(QStringLiteral("b"));
        QTest::mouseClick(m_form->SpeedButton2, Qt::LeftButton);
    }
    QCOMPARE(m_form->AttemptCount, quint8(0));
    QCOMPARE(m_form->RzLabel1->Caption(), kMismatch);

    // The 257th press reads 1 again, so the server's advice to change the password is shown as to a
    // first press (the panel, open, closes).
    m_server->scriptNextGetUserRow(row(kDemoAccount, kDemoAccountPassword, 12, 5, "", 0));
    QTest::mouseClick(m_form->SpeedButton2, Qt::LeftButton);
    QCOMPARE(m_form->AttemptCount, quint8(1));
    QCOMPARE(m_form->RzLabel1->Caption(), kChangePassword);
    QCOMPARE(m_form->height(), 275);
}

void TestLoginWindow::keyFilter_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::newRow("new password: Latin letters, digits, underscore only")
        << "Edit1" << "aZ 9_Жж-!é.q" << "aZ9_q";
    QTest::newRow("confirmation: the same rule") << "Edit2" << "Пароль_Pass 1" << "_Pass1";
    QTest::newRow("user name takes anything") << "Login_Edit" << "o'brien Ж;--" << "o'brien Ж;--";
    QTest::newRow("password takes anything") << "Password_Edit" << "пароль !@#" << "пароль !@#";
}

void TestLoginWindow::keyFilter()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    openLoginWindow();
    QTest::mouseClick(m_form->SpeedButton3, Qt::LeftButton);
    auto *edit = m_form->findChild<TEdit *>(field);
    QVERIFY(edit);
    typeText(edit, typed);
    QCOMPARE(edit->text(), kept);
    // Backspace still deletes.
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), kept.chopped(1));
}

void TestLoginWindow::enterInEveryField_data()
{
    QTest::addColumn<QString>("field");
    for (const char *name : {"Login_Edit", "Password_Edit", "Edit1", "Edit2"})
        QTest::newRow(name) << name;
}

void TestLoginWindow::enterInEveryField()
{
    QFETCH(QString, field);
    openLoginWindow();
    // A confirmation mismatch shows that the enter action ran without reaching the server.
    QTest::mouseClick(m_form->SpeedButton3, Qt::LeftButton);
    m_form->Edit1->setText(QStringLiteral("a"));
    m_form->Edit2->setText(QStringLiteral("b"));
    auto *edit = m_form->findChild<TEdit *>(field);
    const QString before = edit->text();
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(m_form->AttemptCount, quint8(1));
    QCOMPARE(m_form->RzLabel1->Caption(), kMismatch);
    m_form->Edit1->setText(QStringLiteral("a"));
    m_form->Edit2->setText(QStringLiteral("b"));
    QTest::keyClick(edit, Qt::Key_Enter);
    QCOMPARE(m_form->AttemptCount, quint8(2));
    if (edit != m_form->Edit1 && edit != m_form->Edit2)
        QCOMPARE(edit->text(), before);
    QVERIFY(!edit->text().contains(QLatin1Char('\r')));
    QVERIFY(m_server->events().isEmpty());
}

void TestLoginWindow::quotedUserNamesAreData_data()
{
    QTest::addColumn<QString>("login");
    QTest::addColumn<bool>("known");
    QTest::newRow("a quote in a real name") << "o'brien" << true;
    QTest::newRow("statement smuggled in a name") << "'; DROP TABLE faculty --" << false;
    QTest::newRow("quote, comment and brackets") << "x'');DELETE FROM s_fio;/*]" << false;
}

void TestLoginWindow::quotedUserNamesAreData()
{
    QFETCH(QString, login);
    QFETCH(bool, known);
    if (known)
        m_server->engine().sqlite(QStringLiteral("INSERT INTO sandbox_login (id_login, login, password_md5, "
                                                 "password_changed, db_account) VALUES (40, ?, ?, ?, 'qel_demo')"),
                                  {login, Md5Hex(QStringLiteral("demo")), QDate::currentDate().toString(Qt::ISODate)});
    const auto tableSizes = [this] {
        return QList<qint64>{count(QStringLiteral("SELECT count(*) FROM faculty")),
                             count(QStringLiteral("SELECT count(*) FROM s_fio")),
                             count(QStringLiteral("SELECT count(*) FROM QELStudent")),
                             count(QStringLiteral("SELECT count(*) FROM sandbox_login"))};
    };
    const QList<qint64> before = tableSizes();
    openLoginWindow();
    signIn(login, QStringLiteral("demo"));

    QCOMPARE(m_form->ModalResult(), known ? 1 : 0);
    if (!known)
        QCOMPARE(m_form->RzLabel1->Caption(), QStringLiteral("Неверное имя пользователя или пароль."));
    const QList<Event> calls = getUserCalls();
    QCOMPARE(calls.size(), 1);
    QString doubled = login;
    doubled.replace(QLatin1Char('\''), QLatin1String("''"));
    QCOMPARE(calls.first().statement, request(doubled, kDemoDigest, QStringLiteral("NULL"), "4"));
    QCOMPARE(tableSizes(), before);
    const auto recorded = m_server->engine().sqlite(QStringLiteral("SELECT login FROM sandbox_sign_in"));
    QCOMPARE(recorded.rows.size(), 1);
    QCOMPARE(std::get<QString>(recorded.rows.at(0).at(0)), login);
}

void TestLoginWindow::panelToggle()
{
    openLoginWindow();
    typeText(m_form->Login_Edit, QStringLiteral("demo"));
    m_form->Edit1->setText(QStringLiteral("kept"));
    QTest::mouseClick(m_form->SpeedButton3, Qt::LeftButton);
    QCOMPARE(m_form->height(), 416);
    QVERIFY(m_form->ChangePasswordMode);
    QTest::mouseClick(m_form->SpeedButton3, Qt::LeftButton);
    QCOMPARE(m_form->height(), 275);
    QCOMPARE(m_form->width(), 497);
    QVERIFY(!m_form->ChangePasswordMode);
    QCOMPARE(m_form->Edit1->text(), QStringLiteral("kept"));
    QCOMPARE(m_form->focusWidget(), m_form->Login_Edit);
}

void TestLoginWindow::dragging_data()
{
    QTest::addColumn<QString>("area");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<bool>("moves");
    QTest::newRow("login picture") << "Image1" << Qt::LeftButton << true;
    QTest::newRow("password-change picture") << "Image2" << Qt::LeftButton << true;
    QTest::newRow("status label") << "RzLabel1" << Qt::LeftButton << true;
    QTest::newRow("right button") << "Image1" << Qt::RightButton << false;
    QTest::newRow("edit field") << "Login_Edit" << Qt::LeftButton << false;
    QTest::newRow("hot spot") << "SpeedButton1" << Qt::LeftButton << false;
}

void TestLoginWindow::dragging()
{
    QFETCH(QString, area);
    QFETCH(Qt::MouseButton, button);
    QFETCH(bool, moves);
    openLoginWindow();
    QTest::mouseClick(m_form->SpeedButton3, Qt::LeftButton);
    auto *widget = m_form->findChild<QWidget *>(area);
    QVERIFY(widget);
    const QPoint start = m_form->pos();
    const QPoint at(10, 10);
    QTest::mousePress(widget, button, {}, at);
    QTest::mouseMove(widget, at + QPoint(40, 25));
    QTest::mouseRelease(widget, button, {}, at + QPoint(40, 25));
    if (moves)
        QCOMPARE(m_form->pos(), start + QPoint(40, 25));
    else
        QCOMPARE(m_form->pos(), start);
}

void TestLoginWindow::defaultErrorDisplay_data()
{
    QTest::addColumn<QString>("serverText");
    QTest::addColumn<QString>("shown");
    QTest::newRow("a letter gets a full stop") << "Нет доступа" << "Нет доступа.";
    QTest::newRow("a digit gets one") << "Ошибка 42" << "Ошибка 42.";
    QTest::newRow("a full stop stays single") << "Нет доступа." << "Нет доступа.";
    QTest::newRow("an exclamation mark is below the full stop") << "Стоп!" << "Стоп!";
    QTest::newRow("a closing bracket is below it too") << "Ошибка (42)" << "Ошибка (42)";
    QTest::newRow("a slash is above it") << "a/b/" << "a/b/.";
}

// A failure of the date format statement after an accepted sign-in reaches the default error display,
// and the window stays open.
void TestLoginWindow::defaultErrorDisplay()
{
    QFETCH(QString, serverText);
    QFETCH(QString, shown);
    m_server->failStatements(QRegularExpression(QStringLiteral("DATEFORMAT")), 50000, 16, serverText);
    openLoginWindow();
    signIn(QStringLiteral("demo"), QStringLiteral("demo"));

    QCOMPARE(m_boxes->boxes.size(), 1);
    QCOMPARE(m_boxes->boxes.first().text, shown);
    QCOMPARE(m_boxes->boxes.first().caption, kTitle);
    QCOMPARE(m_boxes->boxes.first().flags, MessageBoxFlag::IconError);
    QCOMPARE(m_form->ModalResult(), 0);
    QVERIFY(m_form->isVisible());
}

void TestLoginWindow::cancelEndsTheProgram_data()
{
    QTest::addColumn<bool>("closeRequest");
    QTest::newRow("cancel button") << false;
    QTest::newRow("close request from the window system") << true;
}

// The whole run of the program: start-up, the login window cancelled, the end.
void TestLoginWindow::cancelEndsTheProgram()
{
    QFETCH(bool, closeRequest);
    m_app.reset(); // the run makes its own
    bool mainWindowShown = false;
    int loginWindows = 0;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!Form8 || !Form8->isVisible() || loginWindows > 0)
            return;
        ++loginWindows;
        if (closeRequest)
            Form8->close();
        else
            QTest::mouseClick(Form8->SpeedButton1, Qt::LeftButton);
    });
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (Form1 && Form1->isVisible())
            mainWindowShown = true;
    });
    poll.start();
    QCOMPARE(RunProgram(), 0);
    QCOMPARE(loginWindows, 1);
    QVERIFY(!mainWindowShown);
    QVERIFY(!Form1);
    QVERIFY(!Form8);
    QVERIFY(!DM_MB);
    QVERIFY(m_boxes->boxes.isEmpty());
}

void TestLoginWindow::successShowsTheMainWindowAfterTheLoginWindowIsGone()
{
    m_app.reset();
    bool typed = false;
    bool loginWindowGoneWhenShown = false;
    bool shown = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (Form8 && Form8->isVisible() && !typed) {
            typed = true;
            typeText(Form8->Login_Edit, QStringLiteral("demo"));
            typeText(Form8->Password_Edit, QStringLiteral("demo"));
            QTest::keyClick(Form8->Password_Edit, Qt::Key_Return);
        } else if (Form1 && Form1->isVisible() && !shown) {
            shown = true;
            loginWindowGoneWhenShown = Form8 == nullptr;
            Form1->close();
        }
    });
    poll.start();
    QCOMPARE(RunProgram(), 0);
    QVERIFY(shown);
    QVERIFY(loginWindowGoneWhenShown);
    QVERIFY(m_boxes->boxes.isEmpty());
    const QList<Event> events = clientEvents();
    QCOMPARE(events.last().statement, QStringLiteral("SET DATEFORMAT dmy\r\n"));
}

QEL31_TEST_MAIN(TestLoginWindow)
#include "tst_loginwindow.moc"
