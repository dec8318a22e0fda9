// The main window, whole: signed in to the in-process sandbox with the demo university, the lists
// driven by mouse and keyboard as a user would. What the user sees is read from the widgets and the
// message boxes, what was sent from the sandbox's event log.

#include "app/application.h"
#include "checked.h"
#include "common/programfolder.h"
#include "cursorwatch.h"
#include "db/dm.h"
#include "messageboxes.h"
#include "registration/dblookupcombobox.h"
#include "registration/dblookuplistbox.h"
#include "registration/unit1.h"
#include "sandbox/tds/sandboxserver.h"
#include "signin/connectwith.h"
#include "testmain.h"
#include "typing.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMutex>
#include <QToolButton>
#include <QToolTip>

using sandbox::Event;
using sandbox::Value;

namespace {

const QString kTitle = QStringLiteral("QEL 31 Регистрация старост академических групп");

// Fixtures beside the demo data: a year in which no faculty has groups, a group without students
// whose monitor row names student 1, and a group whose monitor (student 4) is not among its students
// (2 and 3). Both groups belong to the first faculty of the demo login in the year 2022/2023.
const char *const kFixtures[] = {
    "INSERT INTO a_year (id_a_year, p32) VALUES (5, '2026/2027')",
    "INSERT INTO \"group\" (id_group, p20, id_faculty) VALUES (900, 'Я-ПУСТАЯ', 1)",
    "INSERT INTO g_r_y (id_group, id_a_year) VALUES (900, 1)",
    "INSERT INTO QELStudent (id_group, id_student) VALUES (900, 1)",
    "INSERT INTO \"group\" (id_group, p20, id_faculty) VALUES (901, 'Я-ЧУЖОЙ', 1)",
    "INSERT INTO g_r_y (id_group, id_a_year) VALUES (901, 1)",
    "INSERT INTO s_g (id_student, id_group) VALUES (2, 901), (3, 901)",
    "INSERT INTO QELStudent (id_group, id_student) VALUES (901, 4)",
};

const QString kFaculty = QStringLiteral("Факультет информационных технологий");
const QString kYear = QStringLiteral("2022/2023");

QListView *dropDownList(TDBLookupComboBox *box)
{
    return box->findChild<QListView *>(QStringLiteral("dropDownList"));
}

QPoint rowCenter(QListView *view, int row)
{
    return view->visualRect(view->model()->index(row, view->modelColumn())).center();
}

int rowOf(QListView *view, const QString &text)
{
    for (int row = 0; row < view->model()->rowCount(); ++row)
        if (view->model()->index(row, view->modelColumn()).data().toString() == text)
            return row;
    return -1;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void shownAfterSignIn();
    void cascade();
    void sameEntryAgainRerunsTheHandler_data();
    void sameEntryAgainRerunsTheHandler();
    void yearWithoutGroups();
    void groupShapes_data();
    void groupShapes();
    void assignment_data();
    void assignment();
    void doubleClickAsks();
    void failingStatementEndsTheHandler_data();
    void failingStatementEndsTheHandler();
    void busyPointer_data();
    void busyPointer();
    void wholeStudentNames();
    void typeAheadChoosesAStudent();
    void assignButtonFollowsTheStudentKey();
    void assignButtonNamesWhomItSends_data();
    void assignButtonNamesWhomItSends();
    void keyboardCascade_data();
    void keyboardCascade();
    void openedDropDownAndTheMouse();
    void notMaximised();
    void fieldsAreReadToScreenReaders();

private:
    // Opens the list by a press when it is closed, then clicks the entry with this text.
    void choose(TDBLookupComboBox *box, const QString &text);
    void chooseStudent(int row);
    void chooseGroup(const QString &group);
    QList<Event> statementsSince(int eventCount) const;
    QString studentName(int id);

    std::unique_ptr<sandbox::SandboxServer> m_server;
    std::unique_ptr<TApplication> m_app;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
    TForm1 *m_form = nullptr;
};

void TestMainWindow::init()
{
    m_server = std::make_unique<sandbox::SandboxServer>(QString(), true);
    for (const char *sql : kFixtures)
        m_server->engine().sqlite(QString::fromUtf8(sql));
    QString error;
    QVERIFY2(m_server->start(QStringLiteral("127.0.0.1"), 0, &error), qPrintable(error));
    m_app = std::make_unique<TApplication>();
    m_boxes = std::make_unique<MessageBoxRecorder>();

    // Signed in as the demo login: its own account, its faculties and the years loaded.
    new TDM_MB();
    ConnectWith(DM_MB->ADOCon, {QStringLiteral("qel_demo"), QStringLiteral("Группа=17;демо"),
                                QStringLiteral("qel"), QStringLiteral("127.0.0.1,%1").arg(m_server->port())});
    DM_MB->LoadUserFaculties(12);
    m_form = Form1 = new TForm1();
    m_form->UserId = 12;
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    m_form->activateWindow();
    m_server->clearEvents();
}

void TestMainWindow::cleanup()
{
    delete Form1;
    delete DM_MB;
    m_boxes.reset();
    m_app.reset();
    m_server.reset();
}

void TestMainWindow::choose(TDBLookupComboBox *box, const QString &text)
{
    if (!box->ListVisible())
        QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(box->ListVisible());
    QListView *view = dropDownList(box);
    const int row = rowOf(view, text);
    QVERIFY2(row >= 0, qPrintable(text));
    view->scrollTo(view->model()->index(row, view->modelColumn()));
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, rowCenter(view, row));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, rowCenter(view, row));
    QVERIFY(!box->ListVisible());
}

void TestMainWindow::chooseStudent(int row)
{
    TDBLookupListBox *list = m_form->DBLookupListBox1;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowCenter(list, row));
}

void TestMainWindow::chooseGroup(const QString &group)
{
    QEL31_CHECKED(choose(m_form->DBLookupComboBox1, kFaculty));
    QEL31_CHECKED(choose(m_form->DBLookupComboBox2, kYear));
    QEL31_CHECKED(choose(m_form->DBLookupComboBox3, group));
}

QList<Event> TestMainWindow::statementsSince(int eventCount) const
{
    QList<Event> events;
    const QList<Event> all = m_server->events();
    for (int i = eventCount; i < all.size(); ++i)
        if (all[i].procedure != QLatin1String("sp_unprepare"))
            events.append(all[i]);
    return events;
}

QString TestMainWindow::studentName(int id)
{
    const auto rs = m_server->engine().sqlite(QStringLiteral("SELECT s_fio FROM s_fio WHERE id_student = ?"),
                                              {qint64(id)});
    return std::get<QString>(rs.rows.at(0).at(0));
}

void TestMainWindow::shownAfterSignIn()
{
    QCOMPARE(m_form->windowTitle(), kTitle);
    QCOMPARE(m_form->size(), QSize(655, 623));
    QCOMPARE(m_form->minimumWidth(), 655);
    QCOMPARE(m_form->maximumWidth(), 655);
    // Minimise and close, no maximise: the hints given as they are (CustomizeWindowHint), so that
    // the window system adds no button of its own.
    QVERIFY(m_form->windowFlags() & Qt::CustomizeWindowHint);
    QVERIFY(m_form->windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(m_form->windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(!(m_form->windowHandle()->flags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(m_form->DBLookupComboBox1->isEnabled());
    QVERIFY(!m_form->DBLookupComboBox1->KeyValue());
    QVERIFY(!m_form->DBLookupComboBox2->isEnabled());
    QVERIFY(!m_form->DBLookupComboBox3->isEnabled());
    QVERIFY(DM_MB->ADOQ_Year.Active());
    QVERIFY(!DM_MB->ADOQ_group.Active());
    QCOMPARE(m_form->DBLookupListBox1->model()->rowCount(), 0);
    QCOMPARE(m_form->DBEdit1->text(), QString());
    QVERIFY(!m_form->SpeedButton1->isEnabled());
    const QList<std::pair<const char *, const char *>> texts = {
        {"Label1", "Факультет:"}, {"Label2", "Учебный год:"}, {"Label4", "Группа:"},
        {"Label3", " Студенты:"}, {"Label5", "Стараста:"},
    };
    for (const auto &[name, text] : texts) {
        auto *label = m_form->findChild<QLabel *>(QLatin1String(name));
        QVERIFY2(label, name);
        QCOMPARE(label->text(), QString::fromUtf8(text));
    }
    QCOMPARE(m_form->SpeedButton1->text(), QStringLiteral(">>"));
    // The group list comes first in the tab order but is disabled: the faculty list has the focus.
    QCOMPARE(QApplication::focusWidget(), m_form->DBLookupComboBox1);
    QCOMPARE(m_form->DBLookupComboBox1->nextInFocusChain(), m_form->DBLookupComboBox2);
}

void TestMainWindow::cascade()
{
    QEL31_CHECKED(choose(m_form->DBLookupComboBox1, kFaculty));
    QCOMPARE(m_form->DBLookupComboBox1->KeyValue(), Key(1));
    QVERIFY(m_form->DBLookupComboBox2->isEnabled());
    QVERIFY(m_form->DBLookupComboBox2->ListVisible());
    QVERIFY(!m_form->DBLookupComboBox3->isEnabled());

    const int before = m_server->eventCount();
    QEL31_CHECKED(choose(m_form->DBLookupComboBox2, kYear));
    QVERIFY(m_form->DBLookupComboBox3->isEnabled());
    QVERIFY(m_form->DBLookupComboBox3->ListVisible());
    QCOMPARE(DM_MB->ADOQ_group.RecordCount(), 18);
    const QList<Event> sent = statementsSince(before);
    QCOMPARE(sent.size(), 1);
    QVERIFY(sent[0].statement.contains(QLatin1String("g_r_y.id_a_year =@P1 AND")));
    QCOMPARE(sent[0].params.size(), 2);
    QCOMPARE(std::get<qint64>(sent[0].params[0]), qint64(1));
    QCOMPARE(std::get<qint64>(sent[0].params[1]), qint64(1));

    QEL31_CHECKED(choose(m_form->DBLookupComboBox3, QStringLiteral("ИВТ-20-1")));
    QCOMPARE(m_form->DBLookupComboBox3->KeyValue(), Key(3));
    QCOMPARE(m_form->DBLookupComboBox3->Text(), QStringLiteral("ИВТ-20-1"));
    TDBLookupListBox *students = m_form->DBLookupListBox1;
    QCOMPARE(students->model()->rowCount(), 22);
    QCOMPARE(m_form->DBEdit1->text(), studentName(46));
    QCOMPARE(students->KeyValue(), Key(46));
    QVERIFY(students->highlightedRow() >= 0);
    QCOMPARE(students->currentEntryText(), studentName(46));
    QVERIFY(m_form->SpeedButton1->isEnabled());
}

void TestMainWindow::sameEntryAgainRerunsTheHandler_data()
{
    QTest::addColumn<int>("list");
    QTest::newRow("faculty") << 1;
    QTest::newRow("year") << 2;
    QTest::newRow("group") << 3;
}

void TestMainWindow::sameEntryAgainRerunsTheHandler()
{
    QFETCH(int, list);
    QEL31_CHECKED(chooseGroup(QStringLiteral("ИВТ-20-1")));
    const QString monitor = m_form->DBEdit1->text();
    chooseStudent(0);
    const int before = m_server->eventCount();

    if (list == 1) {
        QEL31_CHECKED(choose(m_form->DBLookupComboBox1, kFaculty));
        // The same resets as the first time: year and group blank, students gone, the monitor stays.
        QVERIFY(m_form->DBLookupComboBox2->ListVisible());
        QVERIFY(!m_form->DBLookupComboBox2->KeyValue());
        QVERIFY(!m_form->DBLookupComboBox3->isEnabled());
        QCOMPARE(m_form->DBLookupComboBox3->Text(), QString());
        QCOMPARE(m_form->DBLookupListBox1->model()->rowCount(), 0);
        QCOMPARE(m_form->DBEdit1->text(), monitor);
        QVERIFY(statementsSince(before).isEmpty());
    } else if (list == 2) {
        QEL31_CHECKED(choose(m_form->DBLookupComboBox2, kYear));
        QVERIFY(m_form->DBLookupComboBox3->ListVisible());
        QVERIFY(!m_form->DBLookupComboBox3->KeyValue());
        QCOMPARE(m_form->DBLookupListBox1->model()->rowCount(), 0);
        QCOMPARE(m_form->DBEdit1->text(), monitor);
        QCOMPARE(statementsSince(before).size(), 1);
    } else {
        QEL31_CHECKED(choose(m_form->DBLookupComboBox3, QStringLiteral("ИВТ-20-1")));
        QCOMPARE(statementsSince(before).size(), 2);
        QCOMPARE(m_form->DBLookupListBox1->KeyValue(), Key(46));
    }
}

void TestMainWindow::yearWithoutGroups()
{
    QEL31_CHECKED(choose(m_form->DBLookupComboBox1, kFaculty));
    QEL31_CHECKED(choose(m_form->DBLookupComboBox2, QStringLiteral("2026/2027")));
    QCOMPARE(DM_MB->ADOQ_group.RecordCount(), 0);
    QVERIFY(!m_form->DBLookupComboBox3->isEnabled());
    QVERIFY(!m_form->DBLookupComboBox3->ListVisible());
    QCOMPARE(m_form->DBLookupListBox1->model()->rowCount(), 0);
}

void TestMainWindow::groupShapes_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<int>("students");
    QTest::addColumn<int>("monitorId"); // 0: none
    QTest::addColumn<bool>("highlighted");
    QTest::addColumn<int>("entryStudent"); // whose name is the current entry text; 0: empty

    QTest::newRow("without students, with a monitor row") << "Я-ПУСТАЯ" << 0 << 1 << false << 0;
    QTest::newRow("without a monitor: the first student is current") << "ИВТ-19-1" << 20 << 0 << false << -1;
    QTest::newRow("monitor not among the students") << "Я-ЧУЖОЙ" << 2 << 4 << false << -1;
}

void TestMainWindow::groupShapes()
{
    QFETCH(QString, group);
    QFETCH(int, students);
    QFETCH(int, monitorId);
    QFETCH(bool, highlighted);
    QFETCH(int, entryStudent);
    QEL31_CHECKED(chooseGroup(group));
    TDBLookupListBox *list = m_form->DBLookupListBox1;
    QCOMPARE(list->model()->rowCount(), students);
    QCOMPARE(m_form->DBEdit1->text(), monitorId ? studentName(monitorId) : QString());
    QCOMPARE(list->KeyValue(), monitorId ? Key(monitorId) : Key());
    QCOMPARE(list->highlightedRow() >= 0, highlighted);
    const QString firstStudent =
        students ? list->model()->index(0, list->modelColumn()).data().toString() : QString();
    QCOMPARE(list->currentEntryText(), entryStudent == -1 ? firstStudent : QString());
    // ">>" is on only while the key is a student of the list: a monitor who is not among the
    // students would be sent while the question named someone else.
    QCOMPARE(m_form->SpeedButton1->isEnabled(), highlighted);

    // A click in the empty list chooses nothing and leaves ">>" off.
    if (students == 0) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
        QVERIFY(!list->KeyValue());
        QVERIFY(!m_form->SpeedButton1->isEnabled());
    }
}

void TestMainWindow::assignment_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("answered Yes") << true;
    QTest::newRow("answered No") << false;
}

void TestMainWindow::assignment()
{
    QFETCH(bool, yes);
    QEL31_CHECKED(chooseGroup(QStringLiteral("ИВТ-20-1")));
    chooseStudent(3);
    TDBLookupListBox *list = m_form->DBLookupListBox1;
    const Key student = list->KeyValue();
    QVERIFY(student && *student != 46);
    const QString name = studentName(*student);
    QVERIFY(m_form->SpeedButton1->isEnabled());

    const int before = m_server->eventCount();
    m_boxes->answers = {yes ? MessageBoxAnswer::Yes : MessageBoxAnswer::No};
    QTest::mouseClick(m_form->SpeedButton1, Qt::LeftButton);

    QCOMPARE(m_boxes->boxes.size(), 1);
    QCOMPARE(m_boxes->boxes[0].text, QStringLiteral("Вы действительно хотите поставить студента \"") + name +
                                         QStringLiteral("\" старастой группы \"ИВТ-20-1\"-?"));
    QCOMPARE(m_boxes->boxes[0].caption, QStringLiteral("Уведомление"));
    QCOMPARE(m_boxes->boxes[0].flags, 36);
    QCOMPARE(m_boxes->boxes[0].parent, m_form);
    const QList<Event> sent = statementsSince(before);
    if (!yes) {
        QVERIFY(sent.isEmpty());
        QCOMPARE(m_form->DBEdit1->text(), studentName(46));
        return;
    }
    QCOMPARE(sent.size(), 2);
    QCOMPARE(sent[0].login, QStringLiteral("qel_demo"));
    QCOMPARE(sent[0].statement, QStringLiteral("EXEC CreateStarasta 3, %1\r\n").arg(*student));
    QVERIFY(sent[1].statement.startsWith(QLatin1String("SELECT TOP 1 QELStudent.id_student,")));
    QCOMPARE(m_form->DBEdit1->text(), name);
    QCOMPARE(list->KeyValue(), student);
    QCOMPARE(list->highlightedRow(), 3);
    QCOMPARE(list->currentEntryText(), name);
    QVERIFY(m_form->SpeedButton1->isEnabled());
    const auto stored =
        m_server->engine().sqlite(QStringLiteral("SELECT id_student FROM QELStudent WHERE id_group = 3"));
    QCOMPARE(stored.rows.size(), 1);
    QCOMPARE(std::get<qint64>(stored.rows[0][0]), qint64(*student));
}

void TestMainWindow::doubleClickAsks()
{
    QEL31_CHECKED(chooseGroup(QStringLiteral("ИВТ-19-1")));
    QVERIFY(!m_form->SpeedButton1->isEnabled());
    TDBLookupListBox *list = m_form->DBLookupListBox1;
    m_boxes->answers = {MessageBoxAnswer::No};
    // The first click of a double click chooses the row and so enables ">>" before the question.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowCenter(list, 1));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rowCenter(list, 1));
    QCOMPARE(list->KeyValue().has_value(), true);
    QVERIFY(m_form->SpeedButton1->isEnabled());
    QCOMPARE(m_boxes->boxes.size(), 1);
    QVERIFY(m_boxes->boxes[0].text.contains(list->currentEntryText()));
}

void TestMainWindow::failingStatementEndsTheHandler_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("serverText");
    QTest::addColumn<QString>("shown");
    QTest::newRow("students") << "s_g.id_group"
                              << "Нет доступа к студентам"
                              << "Нет доступа к студентам.";
    QTest::newRow("monitor") << "QELStudent.id_group"
                             << "Сбой (42)"
                             << "Сбой (42)";
    QTest::newRow("assignment") << "CreateStarasta"
                                << "Группа закрыта!"
                                << "Группа закрыта!";
}

void TestMainWindow::failingStatementEndsTheHandler()
{
    QFETCH(QString, pattern);
    QFETCH(QString, serverText);
    QFETCH(QString, shown);
    QEL31_CHECKED(chooseGroup(QStringLiteral("ИВТ-20-1")));
    const QString monitor = m_form->DBEdit1->text();
    m_server->failStatements(QRegularExpression(QRegularExpression::escape(pattern)), 50000, 16, serverText,
                             1);

    if (pattern == QLatin1String("CreateStarasta")) {
        chooseStudent(0);
        QTest::mouseClick(m_form->SpeedButton1, Qt::LeftButton);
        QCOMPARE(m_boxes->boxes.size(), 2); // the question, then the error
    } else {
        QEL31_CHECKED(choose(m_form->DBLookupComboBox3, QStringLiteral("ИВТ-20-2")));
        QCOMPARE(m_boxes->boxes.size(), 1);
    }
    const MessageBoxRequest error = m_boxes->boxes.last();
    QCOMPARE(error.text, shown);
    QCOMPARE(error.caption, kTitle);
    QCOMPARE(error.flags, MessageBoxFlag::IconError);
    QCOMPARE(error.parent, m_form);
    // The steps before the failure stay done, the rest is skipped: the monitor field keeps the
    // monitor shown before.
    if (pattern == QLatin1String("s_g.id_group")) {
        QCOMPARE(m_form->DBLookupListBox1->model()->rowCount(), 0);
        QCOMPARE(m_form->DBEdit1->text(), monitor);
        // The key stays, but no row holds it any more: nothing to assign.
        QCOMPARE(m_form->DBLookupListBox1->KeyValue(), Key(46));
        QVERIFY(!m_form->SpeedButton1->isEnabled());
    } else if (pattern == QLatin1String("QELStudent.id_group")) {
        QCOMPARE(m_form->DBLookupListBox1->model()->rowCount(), 23);
        QCOMPARE(m_form->DBEdit1->text(), QString());
    } else {
        QCOMPARE(m_form->DBEdit1->text(), monitor);
    }
    // The window goes on working.
    QEL31_CHECKED(choose(m_form->DBLookupComboBox3, QStringLiteral("ИВТ-20-2")));
    QCOMPARE(m_form->DBLookupListBox1->model()->rowCount(), 23);
    QCOMPARE(m_form->DBEdit1->text(), studentName(76));
}

void TestMainWindow::busyPointer_data()
{
    QTest::addColumn<QString>("fault"); // the statement that fails, and how
    QTest::addColumn<bool>("assign");
    QTest::newRow("group choice") << "" << false;
    QTest::newRow("group choice, the students fail") << "fail s_g.id_group" << false;
    QTest::newRow("group choice, the connection drops") << "drop QELStudent.id_group" << false;
    QTest::newRow("assignment") << "" << true;
    QTest::newRow("assignment fails") << "fail CreateStarasta" << true;
}

// Each statement shows the busy pointer while the window waits on the server (seen by the server as
// the request arrives); it is gone when the handler ends, and while a message box waits on the user:
// the question before an assignment and the error of a failed statement.
void TestMainWindow::busyPointer()
{
    QFETCH(QString, fault);
    QFETCH(bool, assign);
    QEL31_CHECKED(chooseGroup(QStringLiteral("ИВТ-20-1")));
    CursorWatch cursor;
    QMutex seenLock;
    QList<int> seenByServer;
    m_server->setEventListener([&](const Event &) {
        const QMutexLocker locker(&seenLock);
        seenByServer.append(cursor.shape());
    });
    QList<int> seenInBoxes;
    m_boxes->whileShown = [&](const MessageBoxRequest &) { seenInBoxes.append(CursorWatch::currentShape()); };
    const QRegularExpression pattern(QRegularExpression::escape(fault.section(u' ', 1)));
    if (fault.startsWith(QLatin1String("fail")))
        m_server->failStatements(pattern, 50000, 16, QStringLiteral("Сбой"), 1);
    else if (fault.startsWith(QLatin1String("drop")))
        m_server->dropConnectionOn(pattern, 1);

    if (assign) {
        chooseStudent(0);
        QTest::mouseClick(m_form->SpeedButton1, Qt::LeftButton);
    } else {
        QEL31_CHECKED(choose(m_form->DBLookupComboBox3, QStringLiteral("ИВТ-20-2")));
    }
    m_server->setEventListener({});

    QCOMPARE(CursorWatch::currentShape(), -1);
    QCOMPARE(cursor.shape(), -1);
    QVERIFY(!seenByServer.isEmpty());
    QCOMPARE(seenByServer, QList<int>(seenByServer.size(), Qt::WaitCursor));
    const int boxes = (assign ? 1 : 0) + (fault.isEmpty() ? 0 : 1);
    QCOMPARE(m_boxes->boxes.size(), boxes);
    QCOMPARE(seenInBoxes, QList<int>(boxes, -1));
}

// A name wider than the student list is cut short there; its whole text is the entry's tool tip and
// its accessible description. A name that fits has neither.
void TestMainWindow::wholeStudentNames()
{
    const QString longName = QStringLiteral("Константинопольская-Преображенская Александра-Виктория "
                                            "Христофоровна");
    m_server->engine().sqlite(
        QStringLiteral("UPDATE s_fio SET s_fio = '%1' WHERE id_student = 46").arg(longName));
    QEL31_CHECKED(chooseGroup(QStringLiteral("ИВТ-20-1")));
    TDBLookupListBox *list = m_form->DBLookupListBox1;
    int longRow = -1;
    for (int row = 0; row < list->model()->rowCount(); ++row)
        if (list->model()->index(row, list->modelColumn()).data().toString() == longName)
            longRow = row;
    QVERIFY(longRow >= 0);
    const int shortRow = longRow == 0 ? 1 : 0;
    const QModelIndex cut = list->model()->index(longRow, list->modelColumn());
    const QModelIndex whole = list->model()->index(shortRow, list->modelColumn());
    QVERIFY(list->entryIsCut(longRow));
    QVERIFY(!list->entryIsCut(shortRow));
    QCOMPARE(cut.data(Qt::ToolTipRole).toString(), longName);
    QCOMPARE(cut.data(Qt::AccessibleDescriptionRole).toString(), longName);
    QVERIFY(whole.data(Qt::ToolTipRole).isNull());
    QVERIFY(whole.data(Qt::AccessibleDescriptionRole).isNull());

    // Shown when the pointer rests on the entry.
    list->scrollTo(cut);
    const QPoint at = list->visualRect(cut).center();
    QHelpEvent rest(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(list->viewport(), &rest);
    QTRY_COMPARE(QToolTip::text(), longName);
    QToolTip::hideText();

    // Read to a screen reader as the entry's cell: its name as drawn, its description whole.
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(list);
    QVERIFY(iface && iface->tableInterface());
    QAccessibleInterface *cell = iface->tableInterface()->cellAt(longRow, list->modelColumn());
    QVERIFY(cell);
    QCOMPARE(cell->text(QAccessible::Name), longName);
    QCOMPARE(cell->text(QAccessible::Description), longName);
    QCOMPARE(iface->tableInterface()->cellAt(shortRow, list->modelColumn())->text(QAccessible::Description),
             QString());
}

void TestMainWindow::typeAheadChoosesAStudent()
{
    QEL31_CHECKED(chooseGroup(QStringLiteral("ИВТ-19-1")));
    TDBLookupListBox *list = m_form->DBLookupListBox1;
    const QString target = list->model()->index(5, list->modelColumn()).data().toString();
    list->setFocus();
    typeText(list, target.left(6).toLower());
    QCOMPARE(list->currentEntryText().left(6), target.left(6));
    QVERIFY(list->KeyValue());
    QVERIFY(m_form->SpeedButton1->isEnabled());
}

void TestMainWindow::assignButtonFollowsTheStudentKey()
{
    QEL31_CHECKED(chooseGroup(QStringLiteral("ИВТ-20-1")));
    QVERIFY(m_form->SpeedButton1->isEnabled());
    // A faculty choice sets the student key to Null: ">>" goes off, and pressing it asks nothing.
    QEL31_CHECKED(choose(m_form->DBLookupComboBox1, kFaculty));
    QVERIFY(!m_form->SpeedButton1->isEnabled());
    m_form->SpeedButton1Click();
    QVERIFY(m_boxes->boxes.isEmpty());

    QEL31_CHECKED(choose(m_form->DBLookupComboBox2, kYear));
    QEL31_CHECKED(choose(m_form->DBLookupComboBox3, QStringLiteral("ИВТ-20-1")));
    QVERIFY(m_form->SpeedButton1->isEnabled());
    QEL31_CHECKED(choose(m_form->DBLookupComboBox2, kYear));
    QVERIFY(!m_form->SpeedButton1->isEnabled());
    QEL31_CHECKED(choose(m_form->DBLookupComboBox3, QStringLiteral("ИВТ-19-1")));
    QVERIFY(!m_form->SpeedButton1->isEnabled());
    chooseStudent(2);
    QVERIFY(m_form->SpeedButton1->isEnabled());
    // A group without a monitor sets the key to Null again.
    QEL31_CHECKED(choose(m_form->DBLookupComboBox3, QStringLiteral("ИВТ-19-2")));
    QVERIFY(!m_form->SpeedButton1->isEnabled());
}

void TestMainWindow::assignButtonNamesWhomItSends_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<int>("chosenRow"); // -1: none, the group choice alone
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("named"); // the student the question names and the statement sends; 0: none

    QTest::newRow("monitor among the students") << "ИВТ-20-1" << -1 << true << 46;
    QTest::newRow("monitor not among the students") << "Я-ЧУЖОЙ" << -1 << false << 0;
    QTest::newRow("no students, a monitor row") << "Я-ПУСТАЯ" << -1 << false << 0;
    QTest::newRow("a student chosen where the monitor is not among them") << "Я-ЧУЖОЙ" << 1 << true << -1;
    QTest::newRow("a student chosen over the monitor") << "ИВТ-20-1" << 3 << true << -1;
}

// The question and the statement always speak of the same student: ">>" (and the double click) acts
// only while the student list's key is one of its rows. named -1 stands for the chosen row's student.
void TestMainWindow::assignButtonNamesWhomItSends()
{
    QFETCH(QString, group);
    QFETCH(int, chosenRow);
    QFETCH(bool, enabled);
    QFETCH(int, named);
    QEL31_CHECKED(chooseGroup(group));
    TDBLookupListBox *list = m_form->DBLookupListBox1;
    if (chosenRow >= 0)
        chooseStudent(chosenRow);
    if (named < 0) {
        const Key chosen = list->KeyValue();
        QVERIFY(chosen);
        named = *chosen;
    }
    QCOMPARE(m_form->SpeedButton1->isEnabled(), enabled);

    const int groupKey = *m_form->DBLookupComboBox3->KeyValue();
    for (const bool doubleClick : {false, true}) {
        m_boxes->boxes.clear();
        m_boxes->answers = {MessageBoxAnswer::Yes};
        const int before = m_server->eventCount();
        if (doubleClick)
            m_form->DBLookupListBox1DblClick();
        else
            QTest::mouseClick(m_form->SpeedButton1, Qt::LeftButton);
        const QList<Event> sent = statementsSince(before);
        if (!enabled) {
            QVERIFY(m_boxes->boxes.isEmpty());
            QVERIFY(sent.isEmpty());
            continue;
        }
        QCOMPARE(m_boxes->boxes.size(), 1);
        QCOMPARE(m_boxes->boxes[0].text, QStringLiteral("Вы действительно хотите поставить студента \"") +
                                             studentName(named) + QStringLiteral("\" старастой группы \"") +
                                             group + QStringLiteral("\"-?"));
        QVERIFY(!sent.isEmpty());
        QCOMPARE(sent[0].statement,
                 QStringLiteral("EXEC CreateStarasta %1, %2\r\n").arg(groupKey).arg(named));
        QCOMPARE(m_form->DBEdit1->text(), studentName(named));
    }
}

// The keyboard in the cascade. A choice opens the next list's drop-down and the focus stays where it
// was: the focused list keeps the keys, so Up and Down commit its previous or next row and letters
// search it, while Enter and Escape act only on a drop-down of its own. Keys go where the window
// system sends them (to a grabbing popup, else to the focus). The faculties of the demo login, in
// order: 2 (Экономический), 3 (Юридический), 1 (информационных технологий); the years 1 to 5.
void TestMainWindow::keyboardCascade_data()
{
    QTest::addColumn<QStringList>("keys"); // key names, or "type TEXT"
    QTest::addColumn<Key>("faculty");
    QTest::addColumn<Key>("year");
    QTest::addColumn<bool>("yearOpen");
    QTest::addColumn<bool>("groupOpen");
    QTest::addColumn<QString>("focus");

    const QString faculty = QStringLiteral("DBLookupComboBox1");
    const QString year = QStringLiteral("DBLookupComboBox2");
    const QStringList none;
    QTest::newRow("Down opens the year list and keeps the focus")
        << QStringList{QStringLiteral("Down")} << Key(2) << Key() << true << false << faculty;
    QTest::newRow("Down, Down: the next faculty")
        << QStringList{QStringLiteral("Down"), QStringLiteral("Down")} << Key(3) << Key() << true << false
        << faculty;
    QTest::newRow("Down, Down, Down, Up: the previous faculty")
        << QStringList{QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Down"),
                       QStringLiteral("Up")}
        << Key(3) << Key() << true << false << faculty;
    QTest::newRow("Down, Enter: no year is chosen")
        << QStringList{QStringLiteral("Down"), QStringLiteral("Return")} << Key(2) << Key() << true << false
        << faculty;
    QTest::newRow("Down, Escape: the year list is not the faculty list's own")
        << QStringList{QStringLiteral("Down"), QStringLiteral("Escape")} << Key(2) << Key() << true << false
        << faculty;
    QTest::newRow("Down, letters: they search the faculties")
        << QStringList{QStringLiteral("Down"), QStringLiteral("type Фак")} << Key(1) << Key() << true << false
        << faculty;
    QTest::newRow("Down, Tab, Down, Enter: the focused year list works its own drop-down")
        << QStringList{QStringLiteral("Down"), QStringLiteral("Tab"), QStringLiteral("Down"),
                       QStringLiteral("Return")}
        << Key(2) << Key(1) << false << true << year;
    QTest::newRow("Down, Tab, Escape: the focused year list closes its own drop-down")
        << QStringList{QStringLiteral("Down"), QStringLiteral("Tab"), QStringLiteral("Escape")} << Key(2)
        << Key() << false << false << year;
    QTest::newRow("a year chosen, Down: the next year, the group list open again")
        << QStringList{QStringLiteral("Down"), QStringLiteral("Tab"), QStringLiteral("Down"),
                       QStringLiteral("Return"), QStringLiteral("Down")}
        << Key(2) << Key(2) << false << true << year;
    QTest::newRow("a year chosen, Enter: the group list stays open, nothing chosen")
        << QStringList{QStringLiteral("Down"), QStringLiteral("Tab"), QStringLiteral("Down"),
                       QStringLiteral("Return"), QStringLiteral("Return")}
        << Key(2) << Key(1) << false << true << year;
}

void TestMainWindow::keyboardCascade()
{
    QFETCH(QStringList, keys);
    QFETCH(Key, faculty);
    QFETCH(Key, year);
    QFETCH(bool, yearOpen);
    QFETCH(bool, groupOpen);
    QFETCH(QString, focus);

    m_form->DBLookupComboBox1->setFocus();
    for (const QString &step : keys) {
        if (step.startsWith(QLatin1String("type "))) {
            typeText(QApplication::focusWidget(), step.mid(5));
            continue;
        }
        const QKeyCombination key = QKeySequence::fromString(step)[0];
        QTest::keyClick(static_cast<QWidget *>(nullptr), key.key(), key.keyboardModifiers());
    }
    QCOMPARE(m_form->DBLookupComboBox1->KeyValue(), faculty);
    QCOMPARE(m_form->DBLookupComboBox2->KeyValue(), year);
    QCOMPARE(m_form->DBLookupComboBox2->ListVisible(), yearOpen);
    QCOMPARE(m_form->DBLookupComboBox3->ListVisible(), groupOpen);
    QVERIFY(!QApplication::activePopupWidget());
    QVERIFY(QApplication::focusWidget());
    QCOMPARE(QApplication::focusWidget()->objectName(), focus);
}

// The drop-down a choice opened closes at a press outside it, without a choice; a press on one of
// its entries chooses it.
void TestMainWindow::openedDropDownAndTheMouse()
{
    m_form->DBLookupComboBox1->setFocus();
    QTest::keyClick(static_cast<QWidget *>(nullptr), Qt::Key_Down);
    QVERIFY(m_form->DBLookupComboBox2->ListVisible());
    auto *label = m_form->findChild<QLabel *>(QStringLiteral("Label5"));
    QVERIFY(label);
    QTest::mouseClick(label, Qt::LeftButton);
    QVERIFY(!m_form->DBLookupComboBox2->ListVisible());
    QCOMPARE(QApplication::focusWidget(), m_form->DBLookupComboBox1);
    QCOMPARE(m_form->DBLookupComboBox2->KeyValue(), Key());

    QTest::keyClick(static_cast<QWidget *>(nullptr), Qt::Key_Down);
    QCOMPARE(m_form->DBLookupComboBox1->KeyValue(), Key(3));
    QVERIFY(m_form->DBLookupComboBox2->ListVisible());
    QListView *view = dropDownList(m_form->DBLookupComboBox2);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rowCenter(view, rowOf(view, kYear)));
    QVERIFY(!m_form->DBLookupComboBox2->ListVisible());
    QCOMPARE(m_form->DBLookupComboBox2->KeyValue(), Key(1));
    QVERIFY(m_form->DBLookupComboBox3->ListVisible());

    // A press on the control whose list is open closes it and does not open it again.
    QTest::mouseClick(m_form->DBLookupComboBox3, Qt::LeftButton);
    QVERIFY(!m_form->DBLookupComboBox3->ListVisible());
}

// A window manager that maximises whatever the hints say gets the window back at its size.
void TestMainWindow::notMaximised()
{
    const QSize size = m_form->size();
    m_form->setWindowState(Qt::WindowMaximized);
    QTRY_VERIFY_WITH_TIMEOUT(!(m_form->windowState() & Qt::WindowMaximized), 30000);
    QCOMPARE(m_form->width(), 655);
    QCOMPARE(m_form->size(), size);
}

// Each list and the monitor field carry their label as their name; the chosen entries and the
// monitor's name are their values.
void TestMainWindow::fieldsAreReadToScreenReaders()
{
    const QList<std::pair<QWidget *, const char *>> names = {
        {m_form->DBLookupComboBox1, "Факультет:"},
        {m_form->DBLookupComboBox2, "Учебный год:"},
        {m_form->DBLookupComboBox3, "Группа:"},
        {m_form->DBLookupListBox1, "Студенты:"},
        {m_form->DBEdit1, "Стараста:"},
    };
    for (const auto &[widget, name] : names) {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
        QVERIFY2(iface, name);
        QCOMPARE(iface->text(QAccessible::Name), QString::fromUtf8(name));
    }
    QEL31_CHECKED(chooseGroup(QStringLiteral("ИВТ-20-1")));

    QAccessibleInterface *faculty = QAccessible::queryAccessibleInterface(m_form->DBLookupComboBox1);
    QCOMPARE(faculty->role(), QAccessible::ComboBox);
    QCOMPARE(faculty->text(QAccessible::Value), kFaculty);
    QCOMPARE(QAccessible::queryAccessibleInterface(m_form->DBLookupComboBox2)->text(QAccessible::Value),
             kYear);
    QCOMPARE(QAccessible::queryAccessibleInterface(m_form->DBLookupComboBox3)->text(QAccessible::Value),
             QStringLiteral("ИВТ-20-1"));
    QCOMPARE(QAccessible::queryAccessibleInterface(m_form->DBEdit1)->text(QAccessible::Value),
             studentName(46));
}

QEL31_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
