// The main window against what the server itself answers to an assignment, without fault injection:
// CreateStarasta as a real procedure goes wrong part of the way (stores the monitor and then raises
// an error, prints a message first), and names that fill their column. The user sees the server's
// error exactly as for any failed assignment, and the monitor field always shows what the server
// holds.

#include "app/application.h"
#include "db/dm.h"
#include "mainwindowsession.h"
#include "messageboxes.h"
#include "registration/dblookuplistbox.h"
#include "registration/unit1.h"
#include "sandbox/engine/demodata.h"
#include "testmain.h"

#include <QLineEdit>

namespace {

QString nameOf(sandbox::Engine &engine, qint32 student)
{
    const sandbox::ResultSet rs =
        engine.sqlite(QStringLiteral("SELECT s_fio FROM s_fio WHERE id_student = ?"), {qint64(student)});
    return rs.rows.isEmpty() ? QString() : sandbox::valueToText(rs.rows[0][0]);
}

} // namespace

class TestServerAnswers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void assignment_data();
    void assignment();

private:
    std::unique_ptr<MainWindowSession> m_session;
};

void TestServerAnswers::init()
{
    m_session = std::make_unique<MainWindowSession>();
    QString why;
    QVERIFY2(m_session->open(&why), qPrintable(why));
}

void TestServerAnswers::cleanup()
{
    m_session.reset();
}

void TestServerAnswers::assignment_data()
{
    QTest::addColumn<int>("student");
    QTest::addColumn<QString>("error"); // the error box's text; empty: no error box
    QTest::addColumn<bool>("stored");
    const int storeThenError = sandbox::demo::kStoreThenErrorStudent;
    const int infoThenError = sandbox::demo::kInfoThenErrorStudent;
    QTest::newRow("stored, then an error")
        << storeThenError << QStringLiteral("Староста назначен, но журнал назначений недоступен.") << true;
    QTest::newRow("a message, then stored") << sandbox::demo::kInfoThenSuccessStudent << QString() << true;
    QTest::newRow("a message, then an error")
        << infoThenError
        << QStringLiteral("Студент с кодом %1 отчислен приказом деканата; назначить его старостой нельзя.")
               .arg(infoThenError)
        << false;
    QTest::newRow("a name of 100 characters") << sandbox::demo::kLongNameStudent << QString() << true;
    // The error arrives while the procedure still runs: a client that cancelled on it would stop the
    // store.
    QTest::newRow("an error, then stored")
        << sandbox::demo::kErrorThenStoreStudent
        << QStringLiteral("Журнал назначений недоступен; староста будет назначен без записи в журнал.")
        << true;
}

void TestServerAnswers::assignment()
{
    QFETCH(int, student);
    QFETCH(QString, error);
    QFETCH(bool, stored);
    sandbox::Engine &engine = m_session->engine();
    const qint32 group = sandbox::demo::kMarkedGroup;
    DemoGroup marked;
    marked.group = group;
    const sandbox::ResultSet where =
        engine.sqlite(QStringLiteral("SELECT g.id_faculty, y.id_a_year FROM \"group\" g JOIN g_r_y y USING "
                                     "(id_group) WHERE g.id_group = ?"),
                      {qint64(group)});
    QVERIFY(!where.rows.isEmpty());
    marked.faculty = qint32(std::get<qint64>(where.rows[0][0]));
    marked.year = qint32(std::get<qint64>(where.rows[0][1]));
    QVERIFY(m_session->chooseGroupOf(marked));
    const QList<qint32> monitorsBefore = m_session->monitorsOf(group);
    QVERIFY(!monitorsBefore.contains(student));

    // The student's name is shown whole in the list and named whole in the question.
    QVERIFY(m_session->chooseStudent(student));
    const QString name = nameOf(engine, student);
    QCOMPARE(Form1->DBLookupListBox1->currentEntryText(), name);
    m_session->boxes().boxes.clear();
    m_session->server().clearEvents();
    m_session->assign();

    const QList<MessageBoxRequest> &boxes = m_session->boxes().boxes;
    QVERIFY(!boxes.isEmpty());
    QVERIFY2(boxes[0].text.contains(QLatin1Char('"') + name + QLatin1Char('"')), qPrintable(boxes[0].text));
    if (error.isEmpty()) {
        QCOMPARE(boxes.size(), 1);
    } else {
        QCOMPARE(boxes.size(), 2);
        QCOMPARE(boxes[1].text, error);
        QCOMPARE(boxes[1].caption, applicationTitle());
        QCOMPARE(boxes[1].flags, MessageBoxFlag::IconError);
    }

    const QList<qint32> monitors = m_session->monitorsOf(group);
    QCOMPARE(monitors.contains(student), stored);
    // The monitor field shows what the server holds, also after an error.
    QCOMPARE(monitors.size(), 1);
    QCOMPARE(Form1->DBEdit1->text(), nameOf(engine, monitors.first()));
    // The answer was read to its end: nothing was cancelled.
    for (const sandbox::Event &e : m_session->server().events())
        QVERIFY2(e.kind != sandbox::EventKind::Attention, "the client cancelled the assignment");
}

QEL31_TEST_MAIN(TestServerAnswers)
#include "tst_serveranswers.moc"
