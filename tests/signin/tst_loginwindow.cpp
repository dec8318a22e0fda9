// The login window and the sign-in, whole: typed into the fields by object name, the hot spots clicked,
// against the in-process sandbox server with the demo university. What the user sees is read from the
// widgets and the message boxes, what was sent from the sandbox's event log.

#include "app/application.h"
#include "checked.h"
#include "common/cp1251.h"
#include "common/error.h"
#include "common/md5.h"
#include "common/programfolder.h"
#include "common/workstation.h"
#include "cursorwatch.h"
#include "db/connectionroute.h"
#include "db/dm.h"
#include "httpserver.h"
#include "loginwindow.h"
#include "messageboxes.h"
#include "program/startup.h"
#include "registration/unit1.h"
#include "sandbox/tds/sandboxserver.h"
#include "signin/loginwidgets.h"
#include "signin/settingsfile.h"
#include "signin/unit10.h"
#include "tempprogramfolder.h"
#include "testmain.h"
#include "typing.h"
#include "update/update.h"

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QMutex>
#include <QRegularExpression>
#include <QTimer>

#include <netdb.h>

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
QList<Value> row(const QString &user, const QString &password, qint64 id, qint64 check,
                 const QString &message, qint64 update)
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
    return e.statement.startsWith(QLatin1String("sp_datatype_info")) ||
           e.procedure == QLatin1String("sp_unprepare") ||
           (e.statement.startsWith(QLatin1String("SET ")) &&
            !e.statement.startsWith(QLatin1String("SET DATEFORMAT")));
}

enum class Verdict { Message, ForcedChange, Prompt, Accepted, Cleared, Update };

QString accessibleText(QObject *object, QAccessible::Text text = QAccessible::Name)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(text) : QStringLiteral("<no accessible interface>");
}

enum class Insertion { Paste, Drop, InputMethod };

} // namespace

Q_DECLARE_METATYPE(Insertion)

Q_DECLARE_METATYPE(QList<Value>)

class TestLoginWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void layout();
    void settingsFileUnreadable();
    void workstationAddressIsWhereTheServerSeesIt_data();
    void workstationAddressIsWhereTheServerSeesIt();
    void nameThatResolvesNowhereSignsIn();
    void firstConnectionFails_data();
    void firstConnectionFails();
    void exchangeError_data();
    void exchangeError();
    void verdicts_data();
    void verdicts();
    void acceptedSignIn();
    void updateVerdict_data();
    void updateVerdict();
    void busyPointer_data();
    void busyPointer();
    void picturesForTheScreen_data();
    void picturesForTheScreen();
    void secondOpenOrFacultiesFail_data();
    void secondOpenOrFacultiesFail();
    void accountPasswordsArriveAsTheyAre_data();
    void accountPasswordsArriveAsTheyAre();
    void newPasswordArgument_data();
    void newPasswordArgument();
    void expiredPasswordIsChangedInTheWindow();
    void confirmationMismatchCountsAsAPress();
    void attemptCountWraps();
    void keyFilter_data();
    void keyFilter();
    void editingKeysWork_data();
    void editingKeysWork();
    void pastedAndDroppedTextIsFiltered_data();
    void pastedAndDroppedTextIsFiltered();
    void enterInEveryField_data();
    void enterInEveryField();
    void quotedUserNamesAreData_data();
    void quotedUserNamesAreData();
    void panelToggle();
    void dragging_data();
    void dragging();
    void defaultErrorDisplay_data();
    void defaultErrorDisplay();
    void realBoxOpensOverItsWindow();
    void statusTextIsReadToScreenReaders_data();
    void statusTextIsReadToScreenReaders();
    void fieldsAndLabelsAreNamedForScreenReaders();

    void cancelEndsTheProgram_data();
    void cancelEndsTheProgram();
    void successShowsTheMainWindowAfterTheLoginWindowIsGone();

private:
    void writeSettings(const QString &user, const QString &password,
                       const QString &database = QStringLiteral("qel"));
    void openLoginWindow();
    void closeLoginWindow();
    void signIn(const QString &login, const QString &password);
    // The events of the client, without what the driver sends on its own.
    QList<Event> clientEvents() const;
    QList<Event> getUserCalls() const;
    void checkReportedAddressIsThePeer();
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
    const bool exposed = showLoginWindow();
    m_form = Form8;
    QVERIFY(exposed);
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
    QEL31_CHECKED(openLoginWindow());
    QVERIFY(m_form->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(m_form->size(), QSize(497, 273));
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Аутентификация"));
    const QList<std::pair<const char *, QRect>> geometry = {
        {"Image1", {0, 0, 497, 278}},          {"SpeedButton2", {349, 200, 55, 20}},
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
    QEL31_CHECKED(openLoginWindow());
    m_form->RzLabel1->setCaption(kPrevious);
    signIn(QStringLiteral("demo"), QStringLiteral("demo"));

    QCOMPARE(m_boxes->boxes.size(), 1);
    const MessageBoxRequest box = m_boxes->boxes.first();
    QCOMPARE(box.caption, kTitle);
    QCOMPARE(box.flags, MessageBoxFlag::IconError);
    QCOMPARE(box.text, InOutError::fromCode(ENOENT).message() + QLatin1Char('.'));
    QCOMPARE(box.parent, m_form);
    QCOMPARE(m_form->RzLabel1->Caption(), kPrevious);
    QVERIFY(!DM_MB->ADOCon.Connected());
    QVERIFY(m_server->events().isEmpty());
    QCOMPARE(m_form->ModalResult(), 0);
}

// The address that the GET_USER request carries, and the address at which the server saw the
// connection that sent it.
void TestLoginWindow::checkReportedAddressIsThePeer()
{
    const QList<Event> calls = getUserCalls();
    QCOMPARE(calls.size(), 1);
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("'QEL 31', '([^']*)'")).match(calls.first().statement);
    QVERIFY2(match.hasMatch(), qPrintable(calls.first().statement));
    QVERIFY(!calls.first().peerAddress.isEmpty());
    QCOMPARE(match.captured(1), calls.first().peerAddress);
}

void TestLoginWindow::workstationAddressIsWhereTheServerSeesIt_data()
{
    QTest::addColumn<QList<quint32>>("named");
    QTest::addColumn<int>("nameError");
    QTest::newRow("the name does not resolve") << QList<quint32>{} << 11001;
    QTest::newRow("the name maps to 127.0.1.1") << QList<quint32>{0x7F000101} << 0;
    QTest::newRow("the name's lookup fails for now") << QList<quint32>{} << 11002;
}

void TestLoginWindow::workstationAddressIsWhereTheServerSeesIt()
{
    QFETCH(QList<quint32>, named);
    QFETCH(int, nameError);
    // Only the name's lookup is replaced: the connection's address is the real one.
    setWorkstationLookups({[&](const QByteArray &) {
                               return AddressLookupResult{named, nameError};
                           },
                           {},
                           {}});
    QEL31_CHECKED(openLoginWindow());
    signIn(QStringLiteral("demo"), QStringLiteral("demo"));

    QVERIFY(m_boxes->boxes.isEmpty());
    QCOMPARE(m_form->ModalResult(), 1);
    QEL31_CHECKED(checkReportedAddressIsThePeer());
    // The address is the open connection's own, not only the route's.
    QCOMPARE(connectionRoute(DM_MB->ADOCon).connectionLocal, std::optional<quint32>(0x7F000001));
    DM_MB->ADOCon.Close();
    QCOMPARE(connectionRoute(DM_MB->ADOCon).connectionLocal, std::nullopt);
}

// Run by ctest in a namespace of its own whose host name resolves nowhere (see CMakeLists.txt); with
// the system's own lookups throughout.
void TestLoginWindow::nameThatResolvesNowhereSignsIn()
{
    const QByteArray expected = qgetenv("QEL31_UNRESOLVABLE_HOST");
    if (expected.isEmpty())
        QSKIP("needs a host name that resolves nowhere");
    QCOMPARE(WorkstationName(), QString::fromLatin1(expected));
    addrinfo *list = nullptr;
    const int rc = getaddrinfo(expected.constData(), nullptr, nullptr, &list);
    if (rc == 0)
        freeaddrinfo(list);
    QVERIFY2(rc != 0, "the host name resolves");
    setWorkstationLookups({});
    QEL31_CHECKED(openLoginWindow());
    signIn(QStringLiteral("demo"), QStringLiteral("demo"));

    QVERIFY2(m_boxes->boxes.isEmpty(), qPrintable(m_boxes->boxes.value(0).text));
    QCOMPARE(m_form->ModalResult(), 1);
    QEL31_CHECKED(checkReportedAddressIsThePeer());
}

void TestLoginWindow::firstConnectionFails_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("status");
    QTest::newRow("wrong password: the name between the quotes is gone") << "qel_gate"
                                                                         << "wrong"
                                                                         << "qel"
                                                                         << "Login failed for user ''.";
    QTest::newRow("a name inside longer words is cut out of them too") << "in"
                                                                       << "x"
                                                                       << "qel"
                                                                       << "Log failed for user ''.";
    QTest::newRow("only the exact letter case is cut: Login stays for LOGIN") << "LOGIN"
                                                                              << "x"
                                                                              << "qel"
                                                                              << "Login failed for user ''.";
    QTest::newRow("unknown database")
        << "qel_gate"
        << "gate"
        << "nosuch"
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
    QEL31_CHECKED(openLoginWindow());
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
    QTest::newRow("fewer than six columns") << 1 << "Номер столбца вне допустимых границ (4)";
    QTest::newRow("a column that is no integer") << 2 << "'soon' не является целым числом";
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
        m_server->scriptNextGetUserRow(
            {QString(), QString(), qint64(1), QStringLiteral("soon"), QString(), qint64(0)});
    }
    QEL31_CHECKED(openLoginWindow());
    signIn(QStringLiteral("demo"), QStringLiteral("demo"));

    QCOMPARE(m_boxes->boxes.size(), 1);
    QCOMPARE(m_boxes->boxes.first().text, boxText);
    QCOMPARE(m_boxes->boxes.first().caption, kTitle);
    QCOMPARE(m_boxes->boxes.first().flags, MessageBoxFlag::Ok);
    QCOMPARE(m_boxes->boxes.first().parent, m_form);
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
    QTest::newRow("message") << row("qel_demo", "x", 12, 100, message, 0) << false << 0
                             << int(Verdict::Message) << message << 273 << true << true;
    QTest::newRow("message wins over a forced change")
        << row("qel_demo", "x", 12, -5, message, 0) << false << 0 << int(Verdict::Message) << message << 273
        << true << true;
    QTest::newRow("forced change opens the panel")
        << row("qel_demo", "x", 12, -1, "", 0) << false << 0 << int(Verdict::ForcedChange) << kChangePassword
        << 416 << false << false;
    QTest::newRow("forced change closes an open panel")
        << row("qel_demo", "x", 12, -1, "", 0) << true << 0 << int(Verdict::ForcedChange) << kChangePassword
        << 275 << false << false;
    QTest::newRow("forced change wins over the first-press prompt")
        << row("qel_demo", "x", 12, -1, "", 0) << false << 0 << int(Verdict::ForcedChange) << kChangePassword
        << 416 << false << false;
    QTest::newRow("first press prompts") << row("qel_demo", "x", 12, 19, "", 0) << false << 0
                                         << int(Verdict::Prompt) << kChangePassword << 416 << true << false;
    QTest::newRow("a later press is not prompted")
        << row(kDemoAccount, kDemoAccountPassword, 12, 19, "", 0) << false << 1 << int(Verdict::Accepted)
        << kPrevious << 273 << true << true;
    // FreeTDS has no words of the server's for a login without a name, only its own.
    const QString noAccount = QStringLiteral("Adaptive Server connection failed");
    QTest::newRow("no prompt without a user name: second open fails, its reason shown")
        << row("", "", 12, 5, "", 0) << false << 0 << int(Verdict::Cleared) << noAccount << 273 << true
        << false;
    QTest::newRow("20 days left is not prompted")
        << row(kDemoAccount, kDemoAccountPassword, 12, 20, "", 0) << false << 0 << int(Verdict::Accepted)
        << kPrevious << 273 << true << true;
    QTest::newRow("no row at all: empty credentials, the second open's reason shown")
        << QList<Value>() << false << 0 << int(Verdict::Cleared) << noAccount << 273 << true << false;
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
    QEL31_CHECKED(openLoginWindow());
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
    QEL31_CHECKED(openLoginWindow());
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
        seen << e.login + QLatin1Char(' ') +
                    (e.kind == EventKind::LoginOk ? QStringLiteral("login") : e.text());
    const QStringList expected = {
        QStringLiteral("qel_gate login"),
        QStringLiteral("qel_gate ") +
            request(QStringLiteral("demo"), kDemoDigest, QStringLiteral("NULL"), "4"),
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
    QEL31_CHECKED(openLoginWindow());
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
        // The connection is left as the update found it, and the window takes no more input: no
        // key, and no click, which would move the focus or press Вход again.
        QVERIFY(DM_MB->ADOCon.Connected());
        typeText(m_form->Login_Edit, QStringLiteral("x"));
        QCOMPARE(m_form->Login_Edit->text(), QStringLiteral("outdated"));
        QWidget *focused = m_form->focusWidget();
        QVERIFY(focused);
        for (TEdit *edit : {m_form->Login_Edit, m_form->Password_Edit, m_form->Edit1}) {
            QTest::mouseClick(edit, Qt::LeftButton);
            QCOMPARE(m_form->focusWidget(), focused);
        }
        QTest::mouseClick(m_form->SpeedButton2, Qt::LeftButton);
        QCOMPARE(getUserCalls().size(), 1);
        QCOMPARE(m_form->AttemptCount, quint8(1));
    } else {
        QCOMPARE(m_boxes->boxes.size(), 1);
        QCOMPARE(m_boxes->boxes[0].text,
                 QStringLiteral("Сервер обновлений не доступен.\rОбратитесь к администратору."));
        QCOMPARE(m_boxes->boxes[0].caption, QStringLiteral("Уведомление"));
        QCOMPARE(m_boxes->boxes[0].flags, MessageBoxFlag::IconInformation);
        QCOMPARE(m_boxes->boxes[0].parent, m_form);
        QVERIFY(QTest::qWaitFor([this] { return m_app->Terminated(); }));
        QVERIFY(started.isEmpty());
        QVERIFY(!QFile::exists(script));
    }
}

void TestLoginWindow::busyPointer_data()
{
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("boxes");
    QTest::newRow("accepted") << "demo"
                              << "" << 0;
    QTest::newRow("refused with a message") << "blocked"
                                            << "" << 0;
    QTest::newRow("first connection refused") << "demo"
                                              << "wrong settings" << 0;
    QTest::newRow("the exchange fails: a box") << "demo"
                                               << "GET_USER fails" << 1;
    QTest::newRow("update downloaded") << "outdated"
                                       << "" << 0;
    QTest::newRow("update server down: a box") << "outdated"
                                               << "update server down" << 1;
}

// The busy pointer is on while the sign-in waits on the server (seen by the server as each request
// arrives) and on the download (seen by the update server), off while a message box waits on the
// user, and off again however the sign-in ends.
void TestLoginWindow::busyPointer()
{
    QFETCH(QString, login);
    QFETCH(QString, fault);
    QFETCH(int, boxes);
    CursorWatch cursor;
    QMutex seenLock;
    QList<int> seenByServer;
    m_server->setEventListener([&](const Event &) {
        const QMutexLocker locker(&seenLock);
        seenByServer.append(cursor.shape());
    });
    if (fault == QLatin1String("wrong settings"))
        writeSettings(QStringLiteral("qel_gate"), QStringLiteral("wrong"));
    if (fault == QLatin1String("GET_USER fails"))
        m_server->failStatements(QRegularExpression(QStringLiteral("GET_USER")), 50000, 16,
                                 QStringLiteral("Процедура недоступна"));
    HttpServer http;
    http.respond("/qelprogs/qel31", {200, QByteArray(5000, 'N')});
    if (fault == QLatin1String("update server down"))
        http.close();
    QList<int> seenByUpdateServer;
    connect(&http, &HttpServer::requestReceived, this,
            [&] { seenByUpdateServer.append(CursorWatch::currentShape()); });
    QFile address(m_folder->path() + QStringLiteral("/Data/update-server"));
    QVERIFY(address.open(QIODevice::WriteOnly));
    address.write(http.hostAndPort().toUtf8() + '\n');
    address.close();
    setScriptStarter([](const QString &, const QString &) {});
    QList<int> seenInBoxes;
    m_boxes->whileShown = [&](const MessageBoxRequest &) { seenInBoxes.append(CursorWatch::currentShape()); };
    QEL31_CHECKED(openLoginWindow());
    QCOMPARE(CursorWatch::currentShape(), -1);

    signIn(login, QStringLiteral("demo"));
    setScriptStarter({});
    m_server->setEventListener({});

    QCOMPARE(CursorWatch::currentShape(), -1);
    QCOMPARE(cursor.shape(), -1);
    QVERIFY(!seenByServer.isEmpty());
    QCOMPARE(seenByServer, QList<int>(seenByServer.size(), Qt::WaitCursor));
    if (login == QLatin1String("outdated") && fault.isEmpty())
        QCOMPARE(seenByUpdateServer, QList<int>{Qt::WaitCursor});
    QCOMPARE(m_boxes->boxes.size(), boxes);
    QCOMPARE(seenInBoxes, QList<int>(boxes, -1));
}

void TestLoginWindow::picturesForTheScreen_data()
{
    QTest::addColumn<QString>("image");
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<QSize>("pixels"); // of the picture drawn
    for (const char *image : {"Image1", "Image2"}) {
        const bool login = QByteArray(image) == "Image1";
        const QSize once = login ? QSize(497, 278) : QSize(497, 139);
        QTest::addRow("%s at 1x: the 1x drawing", image) << image << 1.0 << once;
        QTest::addRow("%s at 1.5x: the 2x drawing, brought down", image) << image << 1.5 << once * 2;
        QTest::addRow("%s at 2x: the 2x drawing", image) << image << 2.0 << once * 2;
    }
}

// On a screen of any device pixel ratio the pictures keep their logical size and are drawn from
// pixels made for at least that ratio: never from the 1x pixels repeated.
void TestLoginWindow::picturesForTheScreen()
{
    QFETCH(QString, image);
    QFETCH(qreal, ratio);
    QFETCH(QSize, pixels);
    QEL31_CHECKED(openLoginWindow());
    auto *widget = m_form->findChild<TImage *>(image);
    QVERIFY(widget);
    const QImage &picture = widget->pictureFor(ratio);
    QCOMPARE(picture.size(), pixels);
    QCOMPARE(picture.devicePixelRatio(), qreal(pixels.width() / 497));
    QCOMPARE(picture.deviceIndependentSize().toSize(), widget->size());

    // What the widget paints on a device of the ratio.
    QImage painted(widget->size() * ratio, QImage::Format_RGB32);
    painted.setDevicePixelRatio(ratio);
    painted.fill(Qt::black);
    widget->render(&painted);
    if (ratio == 1.0) {
        QCOMPARE(painted, picture.convertToFormat(QImage::Format_RGB32));
        return;
    }
    if (ratio == 2.0) {
        // Pixel for pixel the 2x drawing; a 1x drawing enlarged would repeat every pixel in both
        // directions, which the text and edges of the 2x drawing do not.
        QCOMPARE(painted.convertToFormat(QImage::Format_RGB32),
                 picture.convertToFormat(QImage::Format_RGB32));
        int unlike = 0;
        for (int y = 0; y + 1 < painted.height(); y += 2)
            for (int x = 0; x + 1 < painted.width(); x += 2)
                if (painted.pixel(x, y) != painted.pixel(x + 1, y) ||
                    painted.pixel(x, y) != painted.pixel(x, y + 1))
                    ++unlike;
        QVERIFY2(unlike > painted.width() * painted.height() / 4 / 50,
                 qPrintable(QStringLiteral("%1 blocks of 2 by 2 are not one colour").arg(unlike)));
    }
}

void TestLoginWindow::secondOpenOrFacultiesFail_data()
{
    QTest::addColumn<bool>("facultiesFail");
    QTest::addColumn<QString>("status");
    QTest::newRow("second open fails") << false << "Login failed for user ''.";
    QTest::newRow("faculty loading fails") << true << "The SELECT permission was denied";
}

// A failure after GET_USER accepted the user is told in the status text, as the first connection's
// is, without the name of the user's database account; no box opens.
void TestLoginWindow::secondOpenOrFacultiesFail()
{
    QFETCH(bool, facultiesFail);
    QFETCH(QString, status);
    if (facultiesFail)
        m_server->failStatements(QRegularExpression(QStringLiteral("FROM  faculty")), 229, 14,
                                 QStringLiteral("The SELECT permission was denied"));
    else
        m_server->scriptNextGetUserRow(row(kDemoAccount, QStringLiteral("not its password"), 77, 100, "", 0));
    QEL31_CHECKED(openLoginWindow());
    m_form->RzLabel1->setCaption(kPrevious);
    signIn(QStringLiteral("demo"), QStringLiteral("demo"));

    QVERIFY(m_boxes->boxes.isEmpty());
    QCOMPARE(m_form->RzLabel1->Caption(), status);
    QVERIFY(!m_form->RzLabel1->Caption().contains(kDemoAccount));
    QVERIFY(!DM_MB->ADOCon.Connected());
    QCOMPARE(m_form->ModalResult(), 0);
    // What was set before the failure stays.
    QCOMPARE(Form1->UserId, facultiesFail ? 12 : 77);
    QCOMPARE(Form1->UserLogin, facultiesFail ? QStringLiteral("demo") : QString());
    QCOMPARE(m_app->ShowMainWindow, facultiesFail);
}

// The user's database password reaches the server exactly as GET_USER gave it, whatever the
// connection string's grammar makes of its characters; one that the driver cannot carry is refused
// with the reason in the status text, never sent cut short.
void TestLoginWindow::accountPasswordsArriveAsTheyAre_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("carried");
    QTest::newRow("closing brace inside") << "ab}cd" << true;
    QTest::newRow("closing brace last") << "abcd}" << true;
    QTest::newRow("semicolon") << "ab;cd" << true;
    QTest::newRow("equals sign") << "ab=cd" << true;
    QTest::newRow("opening brace first") << "{abcd" << true;
    QTest::newRow("both braces around") << "{abcd}" << true;
    QTest::newRow("blanks at both ends") << " ab cd " << true;
    QTest::newRow("closing brace and semicolon") << "ab};cd" << false;
}

void TestLoginWindow::accountPasswordsArriveAsTheyAre()
{
    QFETCH(QString, password);
    QFETCH(bool, carried);
    m_server->engine().sqlite(QStringLiteral("UPDATE sandbox_account SET password = ?1 WHERE name = ?2"),
                              {password, kDemoAccount});
    m_server->scriptNextGetUserRow(row(kDemoAccount, password, 12, 100, "", 0));
    QEL31_CHECKED(openLoginWindow());
    signIn(QStringLiteral("demo"), QStringLiteral("demo"));

    QVERIFY(m_boxes->boxes.isEmpty());
    if (carried) {
        QCOMPARE(m_form->RzLabel1->Caption(), QString());
        QCOMPARE(m_form->ModalResult(), 1);
        QVERIFY(DM_MB->ADOCon.Connected());
    } else {
        QCOMPARE(m_form->RzLabel1->Caption(),
                 QStringLiteral("Пароль содержит подряд символы \"};\", которые драйвер базы данных не "
                                "принимает: соединение не открыто."));
        QCOMPARE(m_form->ModalResult(), 0);
        QVERIFY(!DM_MB->ADOCon.Connected());
    }
    int accountLogins = 0;
    for (const Event &e : m_server->events())
        accountLogins += e.kind == EventKind::LoginOk && e.login == kDemoAccount ? 1 : 0;
    QCOMPARE(accountLogins, carried ? 1 : 0);
    for (const Event &e : m_server->events())
        QVERIFY2(!(e.kind == EventKind::LoginFailed && e.login == kDemoAccount), "a login was refused");
}

void TestLoginWindow::newPasswordArgument_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("count");
    QTest::newRow("NULL in capitals is no new password") << "NULL"
                                                         << "NULL"
                                                         << "4";
    QTest::newRow("null in small letters is a password") << "null"
                                                         << "'" + Md5Hex(QStringLiteral("null")) + "'"
                                                         << "34";
    QTest::newRow("both fields empty: the digest of the empty text") << ""
                                                                     << "'" + kEmptyDigest + "'"
                                                                     << "34";
    QTest::newRow("a long password still counts 34")
        << "Abcdefghij_0123456789_abcdefghij_0123456789"
        << "'" + Md5Hex(QStringLiteral("Abcdefghij_0123456789_abcdefghij_0123456789")) + "'"
        << "34";
}

void TestLoginWindow::newPasswordArgument()
{
    QFETCH(QString, typed);
    QFETCH(QString, argument);
    QFETCH(QString, count);
    m_server->scriptNextGetUserRow(row("", "", 0, 0, QStringLiteral("stop here"), 0));
    QEL31_CHECKED(openLoginWindow());
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
    QEL31_CHECKED(openLoginWindow());
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
             request(QStringLiteral("expired"), kDemoDigest, "'" + Md5Hex(QStringLiteral("Fresh_2026")) + "'",
                     "34"));
    const auto stored =
        m_server->engine().sqlite(QStringLiteral("SELECT password_md5 FROM sandbox_login WHERE "
                                                 "login = 'expired'"));
    QCOMPARE(std::get<QString>(stored.rows.at(0).at(0)), Md5Hex(QStringLiteral("Fresh_2026")));
}

void TestLoginWindow::confirmationMismatchCountsAsAPress()
{
    QEL31_CHECKED(openLoginWindow());
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
    QEL31_CHECKED(openLoginWindow());
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
    QTest::newRow("new password: Latin letters, digits, underscore only") << "Edit1"
                                                                          << "aZ 9_Жж-!é.q"
                                                                          << "aZ9_q";
    QTest::newRow("confirmation: the same rule") << "Edit2"
                                                 << "Пароль_Pass 1"
                                                 << "_Pass1";
    QTest::newRow("user name takes anything") << "Login_Edit"
                                              << "o'brien Ж;--"
                                              << "o'brien Ж;--";
    QTest::newRow("password takes anything") << "Password_Edit"
                                             << "пароль !@#"
                                             << "пароль !@#";
}

void TestLoginWindow::keyFilter()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    QEL31_CHECKED(openLoginWindow());
    QTest::mouseClick(m_form->SpeedButton3, Qt::LeftButton);
    auto *edit = m_form->findChild<TEdit *>(field);
    QVERIFY(edit);
    typeText(edit, typed);
    QCOMPARE(edit->text(), kept);
    // Backspace still deletes.
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), kept.chopped(1));
}

void TestLoginWindow::editingKeysWork_data()
{
    QTest::addColumn<QString>("field");
    for (const char *name : {"Login_Edit", "Password_Edit", "Edit1", "Edit2"})
        QTest::newRow(name) << name;
}

// Delete, the arrows, Home and End edit as in any field. Delete carries U+007F as its text under X11
// and Wayland, which the character filter must leave to the field.
void TestLoginWindow::editingKeysWork()
{
    QFETCH(QString, field);
    QEL31_CHECKED(openLoginWindow());
    QTest::mouseClick(m_form->SpeedButton3, Qt::LeftButton);
    auto *edit = m_form->findChild<TEdit *>(field);
    QVERIFY(edit);
    edit->setFocus();
    typeText(edit, QStringLiteral("abcd"));
    const auto del = [edit] {
        QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_Delete, QString(QChar(0x7F)), Qt::NoModifier);
    };
    QTest::keyClick(edit, Qt::Key_Home);
    del();
    QCOMPARE(edit->text(), QStringLiteral("bcd"));
    QTest::keyClick(edit, Qt::Key_Right);
    del();
    QCOMPARE(edit->text(), QStringLiteral("bd"));
    QTest::keyClick(edit, Qt::Key_End);
    QTest::keyClick(edit, Qt::Key_Left);
    del();
    QCOMPARE(edit->text(), QStringLiteral("b"));
    QTest::keyClick(edit, Qt::Key_Home);
    typeText(edit, QStringLiteral("Z"));
    QCOMPARE(edit->text(), QStringLiteral("Zb"));
}

void TestLoginWindow::pastedAndDroppedTextIsFiltered_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<Insertion>("how");
    QTest::addColumn<QString>("inserted"); // into "ab", between a and b
    QTest::addColumn<QString>("kept");     // what the field then holds, a "Z" typed after the insertion

    const QString nul(QChar(0));
    QTest::newRow("new password: pasted, Latin letters, digits and _ only")
        << "Edit1" << Insertion::Paste << QStringLiteral("x 9_Жж-!é.Q\b") << "ax9_QZb";
    QTest::newRow("new password: dropped, the same")
        << "Edit1" << Insertion::Drop << QStringLiteral("Пароль_P 1") << "a_P1Zb";
    QTest::newRow("confirmation: pasted")
        << "Edit2" << Insertion::Paste << QStringLiteral("1;2\t3") << "a123Zb";
    QTest::newRow("confirmation: dropped")
        << "Edit2" << Insertion::Drop << QStringLiteral("Ё\r\nq") << "aqZb";
    QTest::newRow("new password: committed by an input method")
        << "Edit1" << Insertion::InputMethod << QStringLiteral("Жx_1ё") << "ax_1Zb";
    QTest::newRow("new password: nothing of it passes")
        << "Edit1" << Insertion::Paste << QStringLiteral("ёж !") << "aZb";
    QTest::newRow("user name: a pasted NUL is dropped, the rest kept")
        << "Login_Edit" << Insertion::Paste << QStringLiteral("o'") + nul + QStringLiteral("Ж\t")
        << "ao'Ж\tZb";
    QTest::newRow("user name: a dropped NUL too")
        << "Login_Edit" << Insertion::Drop << nul + QStringLiteral("x") + nul << "axZb";
    QTest::newRow("password: a pasted NUL")
        << "Password_Edit" << Insertion::Paste << QStringLiteral("п") + nul << "aпZb";
}

// What the filter of a field refuses does not arrive by the clipboard, a drop or an input method
// either, and the caret stays after what was inserted.
void TestLoginWindow::pastedAndDroppedTextIsFiltered()
{
    QFETCH(QString, field);
    QFETCH(Insertion, how);
    QFETCH(QString, inserted);
    QFETCH(QString, kept);
    QEL31_CHECKED(openLoginWindow());
    QTest::mouseClick(m_form->SpeedButton3, Qt::LeftButton);
    auto *edit = m_form->findChild<TEdit *>(field);
    QVERIFY(edit);
    edit->setFocus();
    typeText(edit, QStringLiteral("ab"));
    QTest::keyClick(edit, Qt::Key_Left);
    if (how == Insertion::Paste) {
        QGuiApplication::clipboard()->setText(inserted);
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    } else if (how == Insertion::InputMethod) {
        QInputMethodEvent commit;
        commit.setCommitString(inserted);
        QApplication::sendEvent(edit, &commit);
    } else {
        QMimeData data;
        data.setText(inserted);
        const QPointF at = edit->inputMethodQuery(Qt::ImCursorRectangle).toRectF().center();
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(edit, &enter);
        QDragMoveEvent move(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(edit, &move);
        QVERIFY(move.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(edit, &drop);
    }
    typeText(edit, QStringLiteral("Z"));
    QCOMPARE(edit->text(), kept);
    QVERIFY(!edit->text().contains(QChar(0)));
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
    QEL31_CHECKED(openLoginWindow());
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
    QTest::addColumn<QString>("arrives"); // the name as the server reads it
    QTest::addColumn<bool>("known");      // a login of that name exists
    QTest::newRow("a quote in a real name") << "o'brien"
                                            << "o'brien" << true;
    QTest::newRow("statement smuggled in a name") << "'; DROP TABLE faculty --"
                                                  << "'; DROP TABLE faculty --" << false;
    QTest::newRow("quote, comment and brackets") << "x'');DELETE FROM s_fio;/*]"
                                                 << "x'');DELETE FROM s_fio;/*]" << false;
    // As the digest of the password does: a character outside Windows-1251 goes as "?".
    QTest::newRow("characters outside Windows-1251 arrive as ?")
        << QStringLiteral("Jürgen Ёж 学'") << QStringLiteral("J?rgen Ёж ?'") << true;
}

void TestLoginWindow::quotedUserNamesAreData()
{
    QFETCH(QString, login);
    QFETCH(QString, arrives);
    QFETCH(bool, known);
    if (known)
        m_server->engine().sqlite(
            QStringLiteral("INSERT INTO sandbox_login (id_login, login, password_md5, "
                           "password_changed, db_account) VALUES (40, ?, ?, ?, 'qel_demo')"),
            {arrives, Md5Hex(QStringLiteral("demo")), QDate::currentDate().toString(Qt::ISODate)});
    const auto tableSizes = [this] {
        return QList<qint64>{count(QStringLiteral("SELECT count(*) FROM faculty")),
                             count(QStringLiteral("SELECT count(*) FROM s_fio")),
                             count(QStringLiteral("SELECT count(*) FROM QELStudent")),
                             count(QStringLiteral("SELECT count(*) FROM sandbox_login"))};
    };
    const QList<qint64> before = tableSizes();
    QEL31_CHECKED(openLoginWindow());
    signIn(login, QStringLiteral("demo"));

    QCOMPARE(m_form->ModalResult(), known ? 1 : 0);
    if (!known)
        QCOMPARE(m_form->RzLabel1->Caption(), QStringLiteral("Неверное имя пользователя или пароль."));
    const QList<Event> calls = getUserCalls();
    QCOMPARE(calls.size(), 1);
    QString doubled = arrives;
    doubled.replace(QLatin1Char('\''), QLatin1String("''"));
    QCOMPARE(calls.first().statement, request(doubled, kDemoDigest, QStringLiteral("NULL"), "4"));
    QCOMPARE(tableSizes(), before);
    const auto recorded = m_server->engine().sqlite(QStringLiteral("SELECT login FROM sandbox_sign_in"));
    QCOMPARE(recorded.rows.size(), 1);
    QCOMPARE(std::get<QString>(recorded.rows.at(0).at(0)), arrives);
    // The main window keeps the name as typed.
    if (known)
        QCOMPARE(Form1->UserLogin, login);
}

void TestLoginWindow::panelToggle()
{
    QEL31_CHECKED(openLoginWindow());
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
    QEL31_CHECKED(openLoginWindow());
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
    QTest::newRow("a letter gets a full stop") << "Нет доступа"
                                               << "Нет доступа.";
    QTest::newRow("a digit gets one") << "Ошибка 42"
                                      << "Ошибка 42.";
    QTest::newRow("a full stop stays single") << "Нет доступа."
                                              << "Нет доступа.";
    QTest::newRow("an exclamation mark is below the full stop") << "Стоп!"
                                                                << "Стоп!";
    QTest::newRow("a closing bracket is below it too") << "Ошибка (42)"
                                                       << "Ошибка (42)";
    QTest::newRow("a slash is above it") << "a/b/"
                                         << "a/b/.";
}

// A failure of the date format statement after an accepted sign-in reaches the default error display,
// and the window stays open.
void TestLoginWindow::defaultErrorDisplay()
{
    QFETCH(QString, serverText);
    QFETCH(QString, shown);
    m_server->failStatements(QRegularExpression(QStringLiteral("DATEFORMAT")), 50000, 16, serverText);
    QEL31_CHECKED(openLoginWindow());
    signIn(QStringLiteral("demo"), QStringLiteral("demo"));

    QCOMPARE(m_boxes->boxes.size(), 1);
    QCOMPARE(m_boxes->boxes.first().text, shown);
    QCOMPARE(m_boxes->boxes.first().caption, kTitle);
    QCOMPARE(m_boxes->boxes.first().flags, MessageBoxFlag::IconError);
    QCOMPARE(m_boxes->boxes.first().parent, m_form);
    QCOMPARE(m_form->ModalResult(), 0);
    QVERIFY(m_form->isVisible());
}

// The real box, not the recorder: it is a child of the login window and opens over it, wherever the
// window stands and whichever window the system holds active.
void TestLoginWindow::realBoxOpensOverItsWindow()
{
    m_boxes.reset();
    m_server->failStatements(QRegularExpression(QStringLiteral("GET_USER")), 50000, 16,
                             QStringLiteral("Процедура недоступна"));
    QEL31_CHECKED(openLoginWindow());
    m_form->move(40, 30);
    QWidget *owner = nullptr;
    QRect boxGeometry;
    QString boxText;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        owner = box->parentWidget();
        boxGeometry = box->frameGeometry();
        boxText = box->text();
        box->button(QMessageBox::Ok)->click();
    });
    poll.start();
    signIn(QStringLiteral("demo"), QStringLiteral("demo"));
    poll.stop();

    QCOMPARE(boxText, QStringLiteral("Процедура недоступна"));
    QCOMPARE(owner, m_form);
    QVERIFY2(m_form->frameGeometry().contains(boxGeometry.center()),
             qPrintable(QStringLiteral("box centred at %1,%2")
                            .arg(boxGeometry.center().x())
                            .arg(boxGeometry.center().y())));
    QCOMPARE(m_form->RzLabel1->Caption(), kWrongLogin);
}

void TestLoginWindow::statusTextIsReadToScreenReaders_data()
{
    QTest::addColumn<int>("kind"); // 0 a row of GET_USER, 1 a confirmation mismatch, 2 an exchange error
    QTest::addColumn<QList<Value>>("getUser");
    QTest::addColumn<QString>("heard");

    QTest::newRow("a refusal of the server")
        << 0 << row("", "", 0, 0, QStringLiteral("Вход закрыт"), 0) << "Вход закрыт";
    QTest::newRow("an ampersand only underlines, two show one")
        << 0 << row("", "", 0, 0, QStringLiteral("Вход &закрыт && ждите"), 0) << "Вход закрыт & ждите";
    QTest::newRow("the change-password request, in two lines")
        << 0 << row("qel_demo", "x", 12, -1, "", 0)
        << "Вы должны поменять пароль\nЭто делается для безопастности и сохранения данных от злоумышлеников";
    QTest::newRow("a confirmation mismatch")
        << 1 << QList<Value>() << "Новый пароль подтвержден не верно!!!\nПодтвердите пароль заново.";
    QTest::newRow("an error of the exchange") << 2 << QList<Value>() << kWrongLogin;
}

// The status label is painted; assistive technology reads what it shows through its accessible
// interface.
void TestLoginWindow::statusTextIsReadToScreenReaders()
{
    QFETCH(int, kind);
    QFETCH(QList<Value>, getUser);
    QFETCH(QString, heard);
    if (kind == 0)
        m_server->scriptNextGetUserRow(getUser);
    if (kind == 2)
        m_server->failStatements(QRegularExpression(QStringLiteral("GET_USER")), 50000, 16,
                                 QStringLiteral("Сбой"));
    QEL31_CHECKED(openLoginWindow());
    QAccessibleInterface *status = QAccessible::queryAccessibleInterface(m_form->RzLabel1);
    QVERIFY(status);
    QCOMPARE(status->role(), QAccessible::StaticText);
    QCOMPARE(status->text(QAccessible::Name), QString());
    if (kind == 1) {
        QTest::mouseClick(m_form->SpeedButton3, Qt::LeftButton);
        typeText(m_form->Edit1, QStringLiteral("a"));
    }
    signIn(QStringLiteral("demo"), QStringLiteral("demo"));

    QCOMPARE(status->text(QAccessible::Name), heard);
    // The window, and with it the label, is among what assistive technology reaches.
    QAccessibleInterface *window = QAccessible::queryAccessibleInterface(m_form);
    QVERIFY(window);
    QVERIFY(window->indexOfChild(status) >= 0);
}

void TestLoginWindow::fieldsAndLabelsAreNamedForScreenReaders()
{
    HttpServer http; // answers 404: the update fails after its notice is shown
    QFile address(m_folder->path() + QStringLiteral("/Data/update-server"));
    QVERIFY(address.open(QIODevice::WriteOnly));
    address.write(http.hostAndPort().toUtf8() + '\n');
    address.close();
    QEL31_CHECKED(openLoginWindow());
    const QList<std::pair<QWidget *, const char *>> names = {
        {m_form->Login_Edit, "Пользователь"},    {m_form->Password_Edit, "Пароль"},
        {m_form->Edit1, "Новый пароль"},         {m_form->Edit2, "Подтверждение"},
        {m_form->SpeedButton2, "Вход"},          {m_form->SpeedButton1, "Отмена"},
        {m_form->SpeedButton3, "Дополнительно"},
    };
    for (const auto &[widget, name] : names)
        QCOMPARE(accessibleText(widget), QString::fromUtf8(name));
    QCOMPARE(accessibleText(m_form->Label1), QStringLiteral("V.1"));

    // The update's notice replaces the version for assistive technology too.
    signIn(QStringLiteral("outdated"), QStringLiteral("demo"));
    QCOMPARE(accessibleText(m_form->Label1), QStringLiteral("Идёт обновление программы, ПОДОЖДИТЕ..."));
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
