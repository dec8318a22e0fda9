// Server faults during a session of the main window, each scripted with the sandbox's fault injection
// while the user makes choices with the mouse: the connection dropped between two choices or in the
// middle of a result, the server stopped and started again, a statement that never answers, and an
// error from CreateStarasta. Each must show the error box with the server's or the driver's text,
// leave the window working for the next choice, and leave no half-written data behind.

#include "app/application.h"
#include "checked.h"
#include "db/dm.h"
#include "mainwindowsession.h"
#include "messageboxes.h"
#include "registration/dblookuplistbox.h"
#include "registration/unit1.h"
#include "testmain.h"

#include <QLineEdit>
#include <QToolButton>

using sandbox::Event;

namespace {

const QString kStudents = QStringLiteral("FROM s_g");
const QString kAssign = QStringLiteral("EXEC CreateStarasta");

enum class AssignFault { Error, StudentLeft, DropBefore, DropAfter };

QRegularExpression pattern(const QString &text)
{
    return QRegularExpression(QRegularExpression::escape(text));
}

QString boxTexts(const QList<MessageBoxRequest> &boxes)
{
    QStringList texts;
    for (const MessageBoxRequest &box : boxes)
        texts << box.text;
    return texts.join(QLatin1String(" | "));
}

} // namespace

class TestServerFaults : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void droppedBetweenChoices();
    void droppedMidResult();
    void serverStoppedAndStarted();
    void statementNeverAnswers();
    void assignmentFails_data();
    void assignmentFails();
    void serverGoneKeepsTheMonitorShown();

private:
    void openWindow(int commandTimeout = 30);
    // The error box of a failed handler: one box, the server's or the driver's text.
    void verifyErrorBox(const QString &text);
    // The next choice after a fault: the group chosen again brings its students.
    bool groupChoiceWorks(QString *why);
    // After a failed choice of the group: no rows of it shown, nothing to assign, the window open.
    void verifyNoStudentsShown();

    std::unique_ptr<MainWindowSession> m_session;
    DemoGroup m_group;
};

void TestServerFaults::init()
{
    m_session = std::make_unique<MainWindowSession>();
    m_group = m_session->someGroup();
    QVERIFY(m_group.students.size() >= 2);
}

void TestServerFaults::cleanup()
{
    m_session.reset();
}

void TestServerFaults::openWindow(int commandTimeout)
{
    QString why;
    QVERIFY2(m_session->open(&why, commandTimeout), qPrintable(why));
}

void TestServerFaults::verifyErrorBox(const QString &text)
{
    const QList<MessageBoxRequest> &boxes = m_session->boxes().boxes;
    QVERIFY2(boxes.size() == 1, qPrintable(boxTexts(boxes)));
    QCOMPARE(boxes[0].text, text);
    QCOMPARE(boxes[0].caption, applicationTitle());
    QCOMPARE(boxes[0].flags, MessageBoxFlag::IconError);
}

bool TestServerFaults::groupChoiceWorks(QString *why)
{
    m_session->boxes().boxes.clear();
    const bool chosen = m_session->chooseGroup(m_group.group);
    *why = boxTexts(m_session->boxes().boxes);
    return chosen && m_session->boxes().boxes.isEmpty() && DM_MB->ADOQ_Students.Active() &&
           DM_MB->ADOQ_Students.RecordCount() == m_group.students.size();
}

void TestServerFaults::verifyNoStudentsShown()
{
    QVERIFY(!DM_MB->ADOQ_Students.Active());
    QCOMPARE(Form1->DBLookupListBox1->model()->rowCount(), 0);
    QVERIFY(!Form1->SpeedButton1->isEnabled());
    QVERIFY(Form1->isVisible());
}

void TestServerFaults::droppedBetweenChoices()
{
    QEL31_CHECKED(openWindow());
    QVERIFY(m_session->chooseFaculty(m_group.faculty));
    QVERIFY(m_session->chooseYear(m_group.year));
    m_session->server().dropConnectionOn(pattern(kStudents), 1);
    const auto before = m_session->tableDigests();

    QVERIFY(m_session->chooseGroup(m_group.group));

    QEL31_CHECKED(verifyErrorBox(QStringLiteral("Unexpected EOF from the server.")));
    QEL31_CHECKED(verifyNoStudentsShown());
    QCOMPARE(changedTables(before, m_session->tableDigests()), QStringList());
    QString why;
    const bool works = groupChoiceWorks(&why);
    QVERIFY2(works, qPrintable(why));
}

void TestServerFaults::droppedMidResult()
{
    QEL31_CHECKED(openWindow());
    QVERIFY(m_session->chooseFaculty(m_group.faculty));
    QVERIFY(m_session->chooseYear(m_group.year));
    m_session->server().dropConnectionMidResult(pattern(kStudents), 1, 1);
    const auto before = m_session->tableDigests();

    QVERIFY(m_session->chooseGroup(m_group.group));

    // The row that did arrive is not shown: a result counts whole or not at all.
    QEL31_CHECKED(verifyErrorBox(QStringLiteral("Unexpected EOF from the server.")));
    QEL31_CHECKED(verifyNoStudentsShown());
    QCOMPARE(changedTables(before, m_session->tableDigests()), QStringList());
    QString why;
    const bool works = groupChoiceWorks(&why);
    QVERIFY2(works, qPrintable(why));
}

void TestServerFaults::serverStoppedAndStarted()
{
    QEL31_CHECKED(openWindow());
    QVERIFY(m_session->chooseFaculty(m_group.faculty));
    QVERIFY(m_session->chooseYear(m_group.year));
    const quint16 port = m_session->server().port();
    m_session->server().stop();
    const auto before = m_session->tableDigests();

    QVERIFY(m_session->chooseGroup(m_group.group));

    // The driver names a connection that the server closed in its own words when it reads the end of
    // the stream first; when it reads the reset first it has none, and the user reads the standard
    // words for a broken link with the server's address.
    const QStringList lost = {QStringLiteral("Unexpected EOF from the server."),
                              QStringLiteral("Связь с сервером 127.0.0.1,%1 потеряна.").arg(port)};
    QCOMPARE(m_session->boxes().boxes.size(), 1);
    QVERIFY2(lost.contains(m_session->boxes().boxes[0].text), qPrintable(m_session->boxes().boxes[0].text));
    QCOMPARE(m_session->boxes().boxes[0].flags, MessageBoxFlag::IconError);
    QEL31_CHECKED(verifyNoStudentsShown());

    QString error;
    QVERIFY2(m_session->server().start(QStringLiteral("127.0.0.1"), port, &error), qPrintable(error));
    QCOMPARE(changedTables(before, m_session->tableDigests()), QStringList());
    QString why;
    const bool works = groupChoiceWorks(&why);
    QVERIFY2(works, qPrintable(why));
}

// The command time limit is the driver's: after it the driver cancels the statement, waits as long
// again for the server to confirm, and gives up on the connection.
void TestServerFaults::statementNeverAnswers()
{
    QEL31_CHECKED(openWindow(2));
    QVERIFY(m_session->chooseFaculty(m_group.faculty));
    QVERIFY(m_session->chooseYear(m_group.year));
    m_session->server().holdStatements(pattern(kStudents), 1);
    const auto before = m_session->tableDigests();

    QVERIFY(m_session->chooseGroup(m_group.group));

    QEL31_CHECKED(verifyErrorBox(QStringLiteral("Timeout expired.")));
    QEL31_CHECKED(verifyNoStudentsShown());
    m_session->server().releaseHeld();
    QCOMPARE(changedTables(before, m_session->tableDigests()), QStringList());
    QString why;
    const bool works = groupChoiceWorks(&why);
    QVERIFY2(works, qPrintable(why));
}

void TestServerFaults::assignmentFails_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("boxText");
    QTest::addColumn<bool>("assigned"); // whether the assignment reached the database whole
    QTest::addColumn<bool>("connectionLost");
    QTest::newRow("the procedure raises an error")
        << int(AssignFault::Error) << QStringLiteral("Назначение старост закрыто до конца сессии.") << false
        << false;
    QTest::newRow("the student left the group meanwhile")
        << int(AssignFault::StudentLeft) << QString() << false << false;
    QTest::newRow("the connection drops before the statement runs")
        << int(AssignFault::DropBefore) << QStringLiteral("Unexpected EOF from the server.") << false << true;
    QTest::newRow("the connection drops after it ran, before the answer")
        << int(AssignFault::DropAfter) << QStringLiteral("Unexpected EOF from the server.") << true << true;
}

void TestServerFaults::assignmentFails()
{
    QFETCH(int, fault);
    QFETCH(QString, boxText);
    QFETCH(bool, assigned);
    QFETCH(bool, connectionLost);
    const qint32 student = m_group.students.first();
    const qint32 other = m_group.students.last();
    QEL31_CHECKED(openWindow());
    QVERIFY(m_session->chooseGroupOf(m_group));
    const QString monitorShown = Form1->DBEdit1->text();
    const QList<qint32> monitors = m_session->monitorsOf(m_group.group);
    QVERIFY(!monitors.contains(student));
    QVERIFY(m_session->chooseStudent(student));
    const QString studentName = Form1->DBLookupListBox1->currentEntryText();
    switch (AssignFault(fault)) {
    case AssignFault::Error:
        m_session->server().failStatements(pattern(kAssign), 50000, 16, boxText, 1);
        break;
    case AssignFault::StudentLeft: {
        m_session->engine().sqlite(QStringLiteral("DELETE FROM s_g WHERE id_student = ? AND id_group = ?"),
                                   {qint64(student), qint64(m_group.group)});
        const auto name = m_session->engine().sqlite(
            QStringLiteral("SELECT p20 FROM \"group\" WHERE id_group = ?"), {qint64(m_group.group)});
        boxText = QStringLiteral("Студент с кодом %1 не числится в группе %2.")
                      .arg(student)
                      .arg(sandbox::valueToText(name.rows[0][0]));
        break;
    }
    case AssignFault::DropBefore:
        m_session->server().dropConnectionOn(pattern(kAssign), 1);
        break;
    case AssignFault::DropAfter:
        m_session->server().dropConnectionMidResult(pattern(kAssign), 0, 1);
        break;
    }
    const auto before = m_session->tableDigests();
    m_session->server().clearEvents();
    m_session->boxes().answers = {MessageBoxAnswer::Yes};

    m_session->assign();

    // The question, then the error. The assignment ran once; then the monitor was read again, so
    // that the field shows what the server holds: the procedure may have stored it before it failed
    // or the connection went. A lost connection was opened again for it, with the user's own account.
    QCOMPARE(m_session->boxes().boxes.size(), 2);
    QCOMPARE(m_session->boxes().boxes[0].flags, MessageBoxFlag::YesNo | MessageBoxFlag::IconQuestion);
    m_session->boxes().boxes.removeFirst();
    QEL31_CHECKED(verifyErrorBox(boxText));
    const QList<Event> sent = m_session->clientEvents();
    QVERIFY(!sent.isEmpty());
    QCOMPARE(sent[0].text(),
             QStringLiteral("EXEC CreateStarasta %1, %2\r\n").arg(m_group.group).arg(student));
    qsizetype next = 1;
    if (connectionLost) {
        QVERIFY(sent.size() > next);
        QCOMPARE(sent[next].kind, sandbox::EventKind::LoginOk);
        QCOMPARE(sent[next].login, QStringLiteral("qel_demo"));
        ++next;
    }
    QCOMPARE(sent.size(), next + 1);
    QVERIFY2(sent[next].statement.startsWith(QLatin1String("SELECT TOP 1 QELStudent.id_student")),
             qPrintable(sent[next].text()));
    // All of the assignment or none of it.
    QCOMPARE(changedTables(before, m_session->tableDigests()),
             assigned ? QStringList{QStringLiteral("QELStudent")} : QStringList());
    QCOMPARE(m_session->monitorsOf(m_group.group), assigned ? QList<qint32>{student} : monitors);
    QCOMPARE(Form1->DBEdit1->text(), assigned ? studentName : monitorShown);

    // The next assignment, of another student of the group.
    m_session->boxes().boxes.clear();
    m_session->server().clearEvents();
    bool works = m_session->chooseStudent(other);
    if (works) {
        m_session->assign();
        works = m_session->boxes().boxes.size() == 1 &&
                m_session->monitorsOf(m_group.group) == QList<qint32>{other};
    }
    QVERIFY2(works, qPrintable(boxTexts(m_session->boxes().boxes)));
    // The connection, opened again when the monitor was read, is used as it is.
    const QList<Event> following = m_session->clientEvents();
    QVERIFY(!following.isEmpty());
    QVERIFY(following.first().kind != sandbox::EventKind::LoginOk);
}

// With the server gone, the assignment fails and so does the monitor's re-read: the field goes on
// showing the monitor it showed, and the user reads why the assignment failed.
void TestServerFaults::serverGoneKeepsTheMonitorShown()
{
    const qint32 student = m_group.students.first();
    m_session->engine().sqlite(QStringLiteral("DELETE FROM QELStudent WHERE id_group = ?"),
                               {qint64(m_group.group)});
    m_session->engine().sqlite(QStringLiteral("INSERT INTO QELStudent (id_group, id_student) VALUES (?, ?)"),
                               {qint64(m_group.group), qint64(m_group.students.last())});
    QEL31_CHECKED(openWindow());
    QVERIFY(m_session->chooseGroupOf(m_group));
    const QString monitorShown = Form1->DBEdit1->text();
    QVERIFY(!monitorShown.isEmpty());
    QVERIFY(m_session->chooseStudent(student));
    const quint16 port = m_session->server().port();
    m_session->server().stop();
    m_session->boxes().answers = {MessageBoxAnswer::Yes};

    m_session->assign();

    const QList<MessageBoxRequest> &boxes = m_session->boxes().boxes;
    QVERIFY2(boxes.size() == 2, qPrintable(boxTexts(boxes)));
    const QStringList lost = {QStringLiteral("Unexpected EOF from the server."),
                              QStringLiteral("Связь с сервером 127.0.0.1,%1 потеряна.").arg(port)};
    QVERIFY2(lost.contains(boxes[1].text), qPrintable(boxes[1].text));
    QCOMPARE(Form1->DBEdit1->text(), monitorShown);
}

QEL31_TEST_MAIN(TestServerFaults)
#include "tst_serverfaults.moc"
