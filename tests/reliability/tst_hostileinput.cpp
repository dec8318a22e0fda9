// Hostile input: texts built to break out of a statement (quotes, comments, brackets, markers,
// control characters, very long texts, characters outside Windows-1251) typed into every field of the
// login window that reaches the server, and stored as the names the main window shows and puts into
// its question. Each must sign in or fail as data: the server receives exactly the one statement the
// action stands for, carrying the text whole, and no table changes but the one the action changes.

#include "app/application.h"
#include "common/cp1251.h"
#include "common/md5.h"
#include "common/programfolder.h"
#include "common/workstation.h"
#include "db/dm.h"
#include "loginwindow.h"
#include "mainwindowsession.h"
#include "messageboxes.h"
#include "registration/dblookupcombobox.h"
#include "registration/dblookuplistbox.h"
#include "registration/unit1.h"
#include "sandbox/engine/tsqltranslator.h"
#include "sandbox/tds/sandboxserver.h"
#include "signin/loginwidgets.h"
#include "signin/settingsfile.h"
#include "signin/unit10.h"
#include "tempprogramfolder.h"
#include "testmain.h"
#include "typing.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>

using sandbox::Event;
using sandbox::EventKind;

namespace {

const QString kWrongCredentials = QStringLiteral("Неверное имя пользователя или пароль.");
const QString kEmptyNewPassword = QStringLiteral("Пароль не может быть пустым.");
constexpr quint32 kAddress = (10u << 24) | (20u << 16) | (30u << 8) | 40u;

enum class Field { UserName, Password, NewPassword };

struct Payload {
    const char *name;
    QString text;
    bool pasted; // holds characters no key types: it goes in through the clipboard
};

// The hostile texts. A user can type or paste any of them into a field.
QList<Payload> payloads()
{
    return {
        {"single quote", QStringLiteral("'"), false},
        {"quote inside a name", QStringLiteral("o'brien"), false},
        {"string closed, rest commented out", QStringLiteral("';--"), false},
        {"a second statement", QStringLiteral("'; DROP TABLE faculty; --"), false},
        {"always true", QStringLiteral("' OR '1'='1"), false},
        {"string closed and reopened", QStringLiteral("x'+'y"), false},
        {"block comment", QStringLiteral("/* */"), false},
        {"unclosed block comment after a quote", QStringLiteral("a'/*"), false},
        {"closing bracket", QStringLiteral("]"), false},
        {"bracketed name broken out of", QStringLiteral("[p23-1]]; DELETE FROM s_fio --"), false},
        {"double quotes", QStringLiteral("\"a\"\"b\""), false},
        {"parameter marker", QStringLiteral(":id_group"), false},
        {"marker after a doubled quote", QStringLiteral("x'':y ?"), false},
        {"driver escape sequence", QStringLiteral("{fn user()} {call CreateStarasta(1,2)}"), false},
        {"semicolons and a batch separator word", QStringLiteral(";;GO;"), false},
        {"wildcards and a backslash", QStringLiteral("%_\\'"), false},
        {"Unicode string prefix", QStringLiteral("N'x'"), false},
        {"Cyrillic with quotes", QStringLiteral("Пётр 'Ёлкин' №5"), false},
        {"outside Windows-1251", QStringLiteral("学生 ĀŁ ʃ"), false},
        {"right-to-left override", QStringLiteral("\u202Eabc'"), false},
        {"outside the Basic Multilingual Plane", QStringLiteral("x😀'y"), true},
        {"NUL inside", QStringLiteral("ab") + QChar(0) + QStringLiteral("cd'"), true},
        {"line breaks and a tab", QStringLiteral("a\r\nGO\r\nb\tc'"), true},
        {"long text ending in a quote", QString(3000, QLatin1Char('x')) + QStringLiteral("'"), true},
        {"a thousand quotes", QString(1000, QLatin1Char('\'')), true},
    };
}

QString fieldName(Field field)
{
    switch (field) {
    case Field::UserName:
        return QStringLiteral("user name");
    case Field::Password:
        return QStringLiteral("password");
    case Field::NewPassword:
        return QStringLiteral("new password");
    }
    return {};
}

// A text into a field as a user enters it: typed key by key, or pasted.
void enter(QLineEdit *edit, const Payload &payload)
{
    if (!payload.pasted) {
        typeText(edit, payload.text);
        return;
    }
    QGuiApplication::clipboard()->setText(payload.text);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
}

// What a field keeps of a text: no field holds a NUL.
QString fieldKept(const QString &text)
{
    QString kept = text;
    kept.remove(QChar(0));
    return kept;
}

// The user name as the server receives it in GET_USER: its Windows-1251 form, "?" for a character
// outside the code page.
QString asSent(const QString &text)
{
    return Cp1251::toUnicode(Cp1251::fromUnicode(text));
}

// What the new password fields keep of a text: Latin letters, digits and the underscore.
QString newPasswordKept(const QString &text)
{
    QString kept;
    for (QChar c : text) {
        if ((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_')
            kept += c;
    }
    return kept;
}

bool isDriverNoise(const Event &e)
{
    return e.statement.startsWith(QLatin1String("sp_datatype_info")) ||
           e.procedure == QLatin1String("sp_unprepare") ||
           (e.statement.startsWith(QLatin1String("SET ")) &&
            !e.statement.startsWith(QLatin1String("SET DATEFORMAT")));
}

// The value of an argument of a parsed EXEC, NULL as a null text.
QString argumentText(const sandbox::tsql::Statement &statement, int index)
{
    if (index >= statement.arguments.size())
        return QStringLiteral("<missing>");
    const sandbox::tsql::Argument &a = statement.arguments.at(index);
    if (a.value.is("NULL"))
        return QString();
    return a.value.value;
}

} // namespace

Q_DECLARE_METATYPE(Field)

class TestHostileInput : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void loginWindowFields_data();
    void loginWindowFields();
    void namesInTheMainWindow_data();
    void namesInTheMainWindow();

private:
    std::unique_ptr<MainWindowSession> m_session;
    std::unique_ptr<TempProgramFolder> m_folder;
};

void TestHostileInput::init()
{
    m_session = std::make_unique<MainWindowSession>();
    m_folder = std::make_unique<TempProgramFolder>();
    setProgramFolder(m_folder->path());
    m_folder->writeSettings(
        EncodeFirstConnectInfo({QStringLiteral("qel_gate"), QStringLiteral("gate"), QStringLiteral("qel"),
                                QStringLiteral("127.0.0.1,%1").arg(m_session->server().port())}));
    setAddressLookup([](const QByteArray &) { return AddressLookupResult{{kAddress}, 0}; });
}

void TestHostileInput::cleanup()
{
    delete Form8;
    m_session.reset();
    setAddressLookup({});
    setProgramFolder(QString());
    m_folder.reset();
}

void TestHostileInput::loginWindowFields_data()
{
    QTest::addColumn<Field>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("pasted");
    for (Field field : {Field::UserName, Field::Password, Field::NewPassword}) {
        for (const Payload &p : payloads())
            QTest::addRow("%s: %s", qPrintable(fieldName(field)), p.name) << field << p.text << p.pasted;
    }
}

// The user name reaches the server as text inside the GET_USER statement, in its Windows-1251 form;
// the password and the new password reach it only as digests. A hostile user name is made a real
// login here, so that signing in shows that the name arrived whole; a hostile password is made the
// demo login's password. No field keeps a NUL, so a pasted one never reaches the driver; the new
// password fields keep only Latin letters, digits and the underscore, pasted or typed.
void TestHostileInput::loginWindowFields()
{
    QFETCH(Field, field);
    QFETCH(QString, text);
    QFETCH(bool, pasted);
    const Payload payload{"", text, pasted};
    sandbox::Engine &engine = m_session->engine();
    QString login = QStringLiteral("demo");
    QString password = QStringLiteral("demo");
    if (field == Field::UserName) {
        login = fieldKept(text);
        engine.sqlite(
            QStringLiteral("INSERT INTO sandbox_login (id_login, login, password_md5, password_changed, "
                           "db_account) VALUES (40, ?, ?, ?, 'qel_demo')"),
            {asSent(login), Md5Hex(password), QDate::currentDate().toString(Qt::ISODate)});
    } else if (field == Field::Password) {
        password = fieldKept(text);
        engine.sqlite(QStringLiteral("UPDATE sandbox_login SET password_md5 = ? WHERE login = 'demo'"),
                      {Md5Hex(password)});
    }
    const auto before = m_session->tableDigests();
    const auto loginsBefore =
        engine.sqlite(QStringLiteral("SELECT * FROM sandbox_login WHERE login <> 'demo' ORDER BY id_login"))
            .rows;

    QVERIFY(showLoginWindow());
    QString newPassword = QStringLiteral("NULL");
    if (field == Field::NewPassword) {
        QTest::mouseClick(Form8->SpeedButton3, Qt::LeftButton);
        enter(Form8->Edit1, payload);
        enter(Form8->Edit2, payload);
        QCOMPARE(Form8->Edit1->text(), newPasswordKept(text));
        newPassword = Form8->Edit1->text();
    }
    if (field == Field::UserName)
        enter(Form8->Login_Edit, payload);
    else
        typeText(Form8->Login_Edit, login);
    if (field == Field::Password)
        enter(Form8->Password_Edit, payload);
    else
        typeText(Form8->Password_Edit, password);
    QCOMPARE(Form8->Login_Edit->text(), login);
    QCOMPARE(Form8->Password_Edit->text(), password);
    QTest::mouseClick(Form8->SpeedButton2, Qt::LeftButton);

    // Signed in, or refused with the server's verdict: never an error box.
    QVERIFY2(m_session->boxes().boxes.isEmpty(), qPrintable(m_session->boxes().boxes.value(0).text));
    const bool refused = field == Field::NewPassword && newPassword.isEmpty();
    QCOMPARE(Form8->ModalResult(), refused ? 0 : 1);
    if (refused)
        QCOMPARE(Form8->RzLabel1->Caption(), kEmptyNewPassword);

    // One GET_USER statement, its arguments exactly the texts of the fields.
    QList<Event> events;
    for (const Event &e : m_session->server().events())
        if (!isDriverNoise(e))
            events.append(e);
    QVERIFY(events.size() >= 2);
    QCOMPARE(events[0].kind, EventKind::LoginOk);
    QCOMPARE(events[0].login, QStringLiteral("qel_gate"));
    QCOMPARE(events[1].kind, EventKind::Batch);
    const sandbox::tsql::Batch batch = sandbox::tsql::parse(events[1].statement);
    QVERIFY2(!batch.error, qPrintable(batch.error ? batch.error->text : QString()));
    QCOMPARE(batch.statements.size(), 1);
    const sandbox::tsql::Statement &getUser = batch.statements.first();
    QCOMPARE(getUser.procedure, QStringLiteral("GET_USER"));
    QCOMPARE(getUser.arguments.size(), 9);
    QCOMPARE(argumentText(getUser, 0), asSent(login));
    QCOMPARE(argumentText(getUser, 1), Md5Hex(password));
    QCOMPARE(argumentText(getUser, 2),
             newPassword == QLatin1String("NULL") ? QString() : Md5Hex(newPassword));
    QCOMPARE(argumentText(getUser, 6), asSent(login));
    // After it only the statements of a sign-in, none carrying the texts.
    QStringList rest;
    for (qsizetype i = 2; i < events.size(); ++i)
        rest << events[i].login + QLatin1Char(' ') +
                    (events[i].kind == EventKind::LoginOk ? QStringLiteral("login") : events[i].text());
    const QStringList signedIn = {QStringLiteral("qel_demo login"),
                                  QStringLiteral("qel_demo ") +
                                      userFacultiesStatement(field == Field::UserName ? 40 : 12) +
                                      QStringLiteral("\r\n"),
                                  QStringLiteral("qel_demo SELECT id_a_year, p32 FROM a_year\r\n"),
                                  QStringLiteral("qel_demo SET DATEFORMAT dmy\r\n")};
    QCOMPARE(rest, refused ? QStringList() : signedIn);

    // The sign-in is recorded with the name as typed; a new password changes the demo login only.
    const auto recorded = engine.sqlite(QStringLiteral("SELECT login FROM sandbox_sign_in")).rows;
    QCOMPARE(recorded.size(), 1);
    QCOMPARE(sandbox::valueToText(recorded[0][0]), asSent(login));
    QStringList expectedChanges = {QStringLiteral("sandbox_sign_in")};
    if (field == Field::NewPassword && !refused)
        expectedChanges.prepend(QStringLiteral("sandbox_login"));
    QCOMPARE(changedTables(before, m_session->tableDigests()), expectedChanges);
    QCOMPARE(
        engine.sqlite(QStringLiteral("SELECT * FROM sandbox_login WHERE login <> 'demo' ORDER BY id_login"))
            .rows,
        loginsBefore);
    if (field == Field::NewPassword && !refused) {
        const auto stored =
            engine.sqlite(QStringLiteral("SELECT password_md5 FROM sandbox_login WHERE login = 'demo'"));
        QCOMPARE(sandbox::valueToText(stored.rows[0][0]), Md5Hex(newPassword));
    }
}

void TestHostileInput::namesInTheMainWindow_data()
{
    QTest::addColumn<QString>("text");
    for (const Payload &p : payloads())
        QTest::newRow(p.name) << p.text;
}

// The names of groups and students come from the database and go into the question before an
// assignment; only the keys, as digits, go back to the server.
void TestHostileInput::namesInTheMainWindow()
{
    QFETCH(QString, text);
    const DemoGroup g = m_session->someGroup();
    QVERIFY(g.students.size() >= 2);
    const qint32 student = g.students.last();
    // The names as the database holds them: varchar(30) and varchar(100) columns under a Cyrillic
    // collation keep a text's Windows-1251 form and refuse a longer one, so the text is cut to fit.
    const QString groupName = asSent(text.left(30));
    const QString studentName = asSent(text.left(100));
    m_session->engine().sqlite(QStringLiteral("UPDATE \"group\" SET p20 = ? WHERE id_group = ?"),
                               {groupName, qint64(g.group)});
    m_session->engine().sqlite(QStringLiteral("UPDATE s_fio SET s_fio = ? WHERE id_student = ?"),
                               {studentName, qint64(student)});
    QString why;
    QVERIFY2(m_session->open(&why), qPrintable(why));
    QVERIFY(m_session->chooseGroupOf(g));
    QCOMPARE(Form1->DBLookupComboBox3->Text(), groupName);
    QVERIFY(m_session->chooseStudent(student));
    QCOMPARE(Form1->DBLookupListBox1->currentEntryText(), studentName);
    const auto before = m_session->tableDigests();
    m_session->server().clearEvents();

    m_session->assign();

    QCOMPARE(m_session->boxes().boxes.size(), 1);
    QCOMPARE(m_session->boxes().boxes[0].text,
             QStringLiteral("Вы действительно хотите поставить студента \"") + studentName +
                 QStringLiteral("\" старастой группы \"") + groupName + QStringLiteral("\"-?"));
    QStringList sent;
    for (const Event &e : m_session->clientEvents())
        sent << e.text();
    QCOMPARE(sent.value(0), QStringLiteral("EXEC CreateStarasta %1, %2\r\n").arg(g.group).arg(student));
    QCOMPARE(sent.size(), 2); // and the monitor read again
    QVERIFY2(sent[1].contains(QLatin1String("FROM QELStudent")), qPrintable(sent[1]));
    QCOMPARE(changedTables(before, m_session->tableDigests()), QStringList{QStringLiteral("QELStudent")});
    QCOMPARE(m_session->monitorsOf(g.group), QList<qint32>{student});
    QCOMPARE(Form1->DBEdit1->text(), studentName);
}

QEL31_TEST_MAIN(TestHostileInput)
#include "tst_hostileinput.moc"
