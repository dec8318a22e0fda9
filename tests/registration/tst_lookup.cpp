// The lookup lists of the main window (the drop-down list and the list box) bound to queries against
// the sandbox server, driven with the mouse and the keyboard as a user drives them.

#include "db/dm.h"
#include "registration/dblookupcombobox.h"
#include "registration/dblookuplistbox.h"
#include "registration/typeaheadsearch.h"
#include "sandbox/tds/sandboxserver.h"
#include "signin/connectwith.h"

#include <QLineEdit>
#include <QListView>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <vector>

namespace {

constexpr qint32 kDemoLogin = 12;

// Lists added to the demo data, each a range of student ids with its own names.
constexpr qint32 kFive = 920001;   // five rows
constexpr qint32 kThirty = 910001; // thirty rows: more than a drop-down shows
constexpr qint32 kNames = 900001;  // names to type
constexpr qint32 kLong = 930001;   // names longer than a search
constexpr qint32 kNoStudent = 999999;

const QStringList kNameRows = {
    QStringLiteral("Борисов Антон"), QStringLiteral("ёлкина Вера"),  QStringLiteral("Ёжиков Пётр"),
    QStringLiteral("Иванов Иван"),   QStringLiteral("иванова Анна"), QStringLiteral("Петров Павел"),
    QStringLiteral("Яковлев Юрий"),
};

// The 32nd typed character still counts, the 33rd does not.
const QStringList kLongRows = {
    QString(32, QChar(u'Я')) + QStringLiteral("Б"),
    QString(31, QChar(u'я')) + QStringLiteral("а"),
    QString(32, QChar(u'я')) + QStringLiteral("а"),
};

QString rowsOf(qint32 first, int count)
{
    return QStringLiteral("SELECT id_student, s_fio FROM s_fio WHERE id_student BETWEEN %1 AND %2 "
                          "ORDER BY id_student")
        .arg(first)
        .arg(first + count - 1);
}

const QString kNoRows = QStringLiteral("SELECT id_student, s_fio FROM s_fio WHERE id_student < 0");

// A row of a fixture list as a key: -1 stands for Null, -2 for a key that no row has.
Key keyOf(qint32 first, int row)
{
    if (row == -1)
        return std::nullopt;
    if (row == -2)
        return kNoStudent;
    return first + row;
}

QString keyText(const Key &key)
{
    return key ? QString::number(*key) : QStringLiteral("Null");
}

// The offscreen platform reports for every window what it cannot do; that is none of the lists' concern.
QtMessageHandler g_defaultMessages = nullptr;

void dropPlatformNotes(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("This plugin does not support")))
        return;
    g_defaultMessages(type, context, message);
}

} // namespace

class TestLookup : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void comboShownText_data();
    void comboShownText();
    void comboFollowsTheRows();
    void comboChoices_data();
    void comboChoices();
    void comboMouseThroughTheWindowSystem();
    void comboChoiceOpensAnotherList();
    void comboChoosesNothing_data();
    void comboChoosesNothing();
    void comboDropDownRows_data();
    void comboDropDownRows();
    void comboDropDownAboveNearScreenBottom();
    void comboKeepsTheFocus();
    void comboTypeAhead();

    void listBoxKey_data();
    void listBoxKey();
    void listBoxEntryTextFollowsTheRows();
    void listBoxMouse_data();
    void listBoxMouse();
    void listBoxKeys_data();
    void listBoxKeys();
    void listBoxKeyDownSeesTheKeyBeforeTheMove();
    void listBoxDoubleClick();

    void typeAhead_data();
    void typeAhead();

private:
    TADOQuery *query(const QString &sql);
    TDataSource *source(TADOQuery *query);
    TDBLookupComboBox *combo(TADOQuery *rows, const QPoint &at = QPoint(10, 10));
    TDBLookupListBox *listBox(TADOQuery *rows);
    void showWindow();
    QListView *dropDownList(TDBLookupComboBox *combo) const;
    QPoint rowCenter(QListView *view, int row) const;
    void comboSteps(TDBLookupComboBox *combo, const QStringList &steps);
    void listSteps(TDBLookupListBox *list, const QStringList &steps);
    void keyStep(const QString &sequence);

    std::unique_ptr<sandbox::SandboxServer> m_server;
    std::unique_ptr<TDM_MB> m_dm;
    std::unique_ptr<QWidget> m_window;
    QLineEdit *m_other = nullptr;
    std::vector<std::unique_ptr<TADOQuery>> m_queries;
    std::vector<std::unique_ptr<TDataSource>> m_sources;
    qint64 m_now = 0;
    TypeAheadClock m_systemClock;
};

void TestLookup::initTestCase()
{
    g_defaultMessages = qInstallMessageHandler(dropPlatformNotes);
    m_server = std::make_unique<sandbox::SandboxServer>(QString(), true);
    QString error;
    QVERIFY2(m_server->start(QStringLiteral("127.0.0.1"), 0, &error), qPrintable(error));
    sandbox::Engine &engine = m_server->engine();
    const auto addStudent = [&](qint32 id, const QString &name) {
        engine.sqlite(QStringLiteral("INSERT INTO s_fio (id_student, s_fio) VALUES (?, ?)"),
                      {qint64(id), name});
    };
    for (int i = 0; i < 5; ++i)
        addStudent(kFive + i, QStringLiteral("Пятый список %1").arg(i + 1));
    for (int i = 0; i < 30; ++i)
        addStudent(kThirty + i, QStringLiteral("Строка %1").arg(i + 1, 2, 10, QLatin1Char('0')));
    for (int i = 0; i < kNameRows.size(); ++i)
        addStudent(kNames + i, kNameRows[i]);
    for (int i = 0; i < kLongRows.size(); ++i)
        addStudent(kLong + i, kLongRows[i]);

    m_dm = std::make_unique<TDM_MB>();
    ConnectWith(m_dm->ADOCon,
                TFirstConnectInfo{QStringLiteral("qel_admin"), QStringLiteral("admin"), QStringLiteral("qel"),
                                  QStringLiteral("127.0.0.1,%1").arg(m_server->port())});
    m_dm->LoadUserFaculties(kDemoLogin);
}

void TestLookup::init()
{
    m_now = 1000000;
    m_systemClock = setTypeAheadClock([this] { return m_now; });
    m_window = std::make_unique<QWidget>();
    m_window->resize(400, 400);
    m_other = new QLineEdit(m_window.get());
    m_other->setObjectName(QStringLiteral("other"));
    m_other->setGeometry(250, 10, 100, 21);
}

void TestLookup::cleanup()
{
    m_window.reset();
    m_sources.clear();
    m_queries.clear();
    setTypeAheadClock(m_systemClock);
}

TADOQuery *TestLookup::query(const QString &sql)
{
    m_queries.push_back(std::make_unique<TADOQuery>(&m_dm->ADOCon));
    m_queries.back()->setSQL({sql});
    return m_queries.back().get();
}

TDataSource *TestLookup::source(TADOQuery *rows)
{
    m_sources.push_back(std::make_unique<TDataSource>(rows));
    return m_sources.back().get();
}

TDBLookupComboBox *TestLookup::combo(TADOQuery *rows, const QPoint &at)
{
    auto *box = new TDBLookupComboBox(m_window.get());
    box->setGeometry(QRect(at, QSize(200, 21)));
    box->setListSource(source(rows));
    box->setKeyField(QStringLiteral("id_student"));
    box->setListField(QStringLiteral("s_fio"));
    box->setDropDownRows(20);
    return box;
}

TDBLookupListBox *TestLookup::listBox(TADOQuery *rows)
{
    auto *list = new TDBLookupListBox(m_window.get());
    list->setGeometry(10, 60, 200, 300);
    list->setListSource(source(rows));
    list->setKeyField(QStringLiteral("id_student"));
    list->setListField(QStringLiteral("s_fio"));
    return list;
}

void TestLookup::showWindow()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

QListView *TestLookup::dropDownList(TDBLookupComboBox *box) const
{
    return box->findChild<QListView *>(QStringLiteral("dropDownList"));
}

QPoint TestLookup::rowCenter(QListView *view, int row) const
{
    return view->visualRect(view->model()->index(row, view->modelColumn())).center();
}

// Keys go where the window system sends them: to the open drop-down, else to the focus.
void TestLookup::keyStep(const QString &sequence)
{
    const QKeyCombination key = QKeySequence::fromString(sequence)[0];
    QTest::keyClick(static_cast<QWidget *>(nullptr), key.key(), key.keyboardModifiers());
}

// Steps: "press" (on the control), "press control" / "release control" / "press outside" /
// "release outside" (the open list receives these, as the window system sends them), "release in
// list", "press row N", "move row N", "release row N", "key K", "type TEXT", "wait MS", "dropDown".
void TestLookup::comboSteps(TDBLookupComboBox *box, const QStringList &steps)
{
    QListView *view = dropDownList(box);
    QWidget *popup = view->window();
    const auto onControl = [&] { return popup->mapFromGlobal(box->mapToGlobal(box->rect().center())); };
    const auto outside = [&] { return QPoint(popup->width() + 30, popup->height() / 2); };
    for (const QString &step : steps) {
        const QString arg = step.section(u' ', 1);
        if (step == QLatin1String("press")) {
            QTest::mousePress(box, Qt::LeftButton);
        } else if (step == QLatin1String("press control")) {
            QTest::mousePress(popup, Qt::LeftButton, {}, onControl());
        } else if (step == QLatin1String("release control")) {
            QTest::mouseRelease(popup, Qt::LeftButton, {}, onControl());
        } else if (step == QLatin1String("press outside")) {
            QTest::mousePress(popup, Qt::LeftButton, {}, outside());
        } else if (step == QLatin1String("release outside")) {
            QTest::mouseRelease(popup, Qt::LeftButton, {}, outside());
        } else if (step == QLatin1String("release in list")) {
            QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, view->viewport()->rect().center());
        } else if (step.startsWith(QLatin1String("press row "))) {
            QTest::mousePress(view->viewport(), Qt::LeftButton, {},
                              rowCenter(view, step.section(u' ', 2).toInt()));
        } else if (step.startsWith(QLatin1String("move row "))) {
            QTest::mouseMove(view->viewport(), rowCenter(view, step.section(u' ', 2).toInt()));
        } else if (step.startsWith(QLatin1String("release row "))) {
            QTest::mouseRelease(view->viewport(), Qt::LeftButton, {},
                                rowCenter(view, step.section(u' ', 2).toInt()));
        } else if (step.startsWith(QLatin1String("key "))) {
            keyStep(arg);
        } else if (step.startsWith(QLatin1String("type "))) {
            for (const QChar c : arg)
                QTest::sendKeyEvent(QTest::Click, static_cast<QWidget *>(nullptr),
                                    Qt::Key(c.toUpper().unicode()), QString(c), Qt::NoModifier);
        } else if (step.startsWith(QLatin1String("wait "))) {
            m_now += arg.toLongLong();
        } else if (step == QLatin1String("dropDown")) {
            box->DropDown();
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
        }
    }
}

// Steps: "press row N", "press below", "dclick row N", "key K", "type TEXT", "wait MS".
void TestLookup::listSteps(TDBLookupListBox *list, const QStringList &steps)
{
    for (const QString &step : steps) {
        const QString arg = step.section(u' ', 1);
        if (step.startsWith(QLatin1String("press row "))) {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              rowCenter(list, step.section(u' ', 2).toInt()));
        } else if (step == QLatin1String("press below")) {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              QPoint(5, list->viewport()->height() - 3));
        } else if (step.startsWith(QLatin1String("dclick row "))) {
            const QPoint at = rowCenter(list, step.section(u' ', 2).toInt());
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        } else if (step.startsWith(QLatin1String("key "))) {
            keyStep(arg);
        } else if (step.startsWith(QLatin1String("type "))) {
            for (const QChar c : arg)
                QTest::sendKeyEvent(QTest::Click, static_cast<QWidget *>(nullptr),
                                    Qt::Key(c.toUpper().unicode()), QString(c), Qt::NoModifier);
        } else if (step.startsWith(QLatin1String("wait "))) {
            m_now += arg.toLongLong();
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
        }
    }
}

// ---- the drop-down list -------------------------------------------------------------------------

void TestLookup::comboShownText_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("highlighted");
    // The faculties of the demo login, by their sort order: 2, 3, 1.
    QTest::newRow("Null: nothing") << -1 << "" << -1;
    QTest::newRow("the second row") << 3 << "Юридический факультет" << 1;
    QTest::newRow("the last row") << 1 << "Факультет информационных технологий" << 2;
    QTest::newRow("a key of no row: nothing") << 99 << "" << -1;
}

void TestLookup::comboShownText()
{
    QFETCH(int, key);
    QFETCH(QString, text);
    QFETCH(int, highlighted);
    auto *box = new TDBLookupComboBox(m_window.get());
    box->setListSource(&m_dm->DS_Faculty);
    box->setKeyField(QStringLiteral("id_faculty"));
    box->setListField(QStringLiteral("p23-1"));
    showWindow();
    box->setKeyValue(key < 0 ? Key() : Key(key));
    QCOMPARE(box->Text(), text);
    QCOMPARE(box->KeyValue(), key < 0 ? Key() : Key(key));

    box->DropDown();
    QVERIFY(box->ListVisible());
    const QModelIndexList selected = dropDownList(box)->selectionModel()->selectedIndexes();
    QCOMPARE(selected.isEmpty() ? -1 : selected.first().row(), highlighted);
}

void TestLookup::comboFollowsTheRows()
{
    TADOQuery *rows = query(rowsOf(kFive, 5));
    TDBLookupComboBox *box = combo(rows);
    showWindow();

    // A key set while the rows are closed is held, and found when they open.
    box->setKeyValue(kFive + 2);
    QCOMPARE(box->Text(), QString());
    rows->Open();
    QCOMPARE(box->Text(), QStringLiteral("Пятый список 3"));

    box->DropDown();
    QVERIFY(box->ListVisible());
    rows->Close();
    QVERIFY(!box->ListVisible());
    QCOMPARE(box->Text(), QString());
    QCOMPARE(box->KeyValue(), Key(kFive + 2));

    // The rows may come back different: the list looks again.
    m_server->engine().sqlite(QStringLiteral("UPDATE s_fio SET s_fio = 'Переименован' WHERE id_student = ?"),
                              {qint64(kFive + 2)});
    rows->Open();
    QCOMPARE(box->Text(), QStringLiteral("Переименован"));
    m_server->engine().sqlite(
        QStringLiteral("UPDATE s_fio SET s_fio = 'Пятый список 3' WHERE id_student = ?"),
        {qint64(kFive + 2)});
}

void TestLookup::comboChoices_data()
{
    QTest::addColumn<int>("listRows");
    QTest::addColumn<int>("startRow");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("chosenRow");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<bool>("stillOpen");
    // Rows are those of the five-row list; -1 stands for Null, -2 for a key that no row has.
    const auto steps = [](const char *text) { return QString::fromUtf8(text).split(u','); };
    QTest::newRow("release in an empty list: Null")
        << 0 << -2 << steps("press,release control,release in list") << -1 << 1 << false;
    QTest::newRow("release on an entry")
        << 5 << -1 << steps("press,release control,press row 3,release row 3") << 3 << 1 << false;
    QTest::newRow("drag from the control onto an entry")
        << 5 << -1 << steps("press,move row 1,move row 2,release row 2") << 2 << 1 << false;
    QTest::newRow("the entry held, chosen again")
        << 5 << 3 << steps("press,release control,press row 3,release row 3") << 3 << 1 << false;
    QTest::newRow("release over the control that opened it")
        << 5 << 1 << steps("press,release control") << 1 << 0 << true;
    QTest::newRow("release outside after pressing in the list")
        << 5 << 1 << steps("press,release control,press row 3,release outside") << 1 << 0 << false;
    QTest::newRow("press outside") << 5 << 1 << steps("press,release control,press outside") << 1 << 0
                                   << false;
    QTest::newRow("press on the open control")
        << 5 << 1 << steps("press,release control,key Down,press control") << 1 << 0 << false;
    QTest::newRow("press on the open control, delivered to it")
        << 5 << 1 << steps("press,release control,press") << 1 << 0 << false;
    QTest::newRow("Down while closed") << 5 << 1 << steps("key Down") << 2 << 1 << false;
    QTest::newRow("Up while closed") << 5 << 1 << steps("key Up") << 0 << 1 << false;
    QTest::newRow("Up on the first row chooses it again") << 5 << 0 << steps("key Up") << 0 << 1 << false;
    QTest::newRow("Down on the last row chooses it again") << 5 << 4 << steps("key Down") << 4 << 1 << false;
    QTest::newRow("Down with Null: the first row") << 5 << -1 << steps("key Down") << 0 << 1 << false;
    QTest::newRow("Up with a key of no row: the first row") << 5 << -2 << steps("key Up") << 0 << 1 << false;
    QTest::newRow("each Down a choice") << 5 << 0 << steps("key Down,key Down,key Down") << 3 << 3 << false;
    QTest::newRow("Enter on the highlighted entry")
        << 5 << 1 << steps("key Alt+Down,key Down,key Down,key Return") << 3 << 1 << false;
    QTest::newRow("Enter with nothing highlighted keeps the key")
        << 5 << -2 << steps("dropDown,key Return") << -2 << 1 << false;
    QTest::newRow("End in the open list")
        << 5 << 1 << steps("dropDown,key End,key Return") << 4 << 1 << false;
    QTest::newRow("Alt+Down opens") << 5 << 1 << steps("key Alt+Down") << 1 << 0 << true;
    QTest::newRow("Alt+Up closes with the highlighted entry")
        << 5 << 1 << steps("key Alt+Down,key Up,key Alt+Up") << 0 << 1 << false;
    QTest::newRow("Escape closes without a choice")
        << 5 << 1 << steps("key Alt+Down,key Down,key Escape") << 1 << 0 << false;
}

void TestLookup::comboChoices()
{
    QFETCH(int, listRows);
    QFETCH(int, startRow);
    QFETCH(QStringList, steps);
    QFETCH(int, chosenRow);
    QFETCH(int, clicks);
    QFETCH(bool, stillOpen);
    TADOQuery *rows = query(listRows > 0 ? rowsOf(kFive, listRows) : kNoRows);
    rows->Open();
    TDBLookupComboBox *box = combo(rows);
    showWindow();
    box->setFocus();
    box->setKeyValue(keyOf(kFive, startRow));
    QSignalSpy click(box, &TDBLookupComboBox::Click);
    QList<Key> keysSeen;
    connect(box, &TDBLookupComboBox::Click, box, [&] { keysSeen.append(box->KeyValue()); });

    comboSteps(box, steps);

    QCOMPARE(keyText(box->KeyValue()), keyText(keyOf(kFive, chosenRow)));
    QCOMPARE(click.count(), clicks);
    // The key is set before the choice is reported.
    if (clicks > 0)
        QCOMPARE(keyText(keysSeen.last()), keyText(keyOf(kFive, chosenRow)));
    QCOMPARE(box->ListVisible(), stillOpen);
    QCOMPARE(box->Text(), chosenRow >= 0 ? QStringLiteral("Пятый список %1").arg(chosenRow + 1) : QString());
}

// The same choices with the events going the whole way from the window system: a click opens the
// list, and a click on an entry chooses it.
void TestLookup::comboMouseThroughTheWindowSystem()
{
    TADOQuery *rows = query(rowsOf(kFive, 5));
    rows->Open();
    TDBLookupComboBox *box = combo(rows);
    showWindow();
    QSignalSpy click(box, &TDBLookupComboBox::Click);
    QWindow *window = m_window->windowHandle();
    const QPoint control = box->geometry().center();

    QTest::mouseClick(window, Qt::LeftButton, {}, control);
    QTRY_VERIFY(box->ListVisible());
    QCOMPARE(click.count(), 0);

    QListView *view = dropDownList(box);
    QWindow *popup = view->window()->windowHandle();
    QVERIFY(popup);
    const QPoint entry = popup->mapFromGlobal(view->viewport()->mapToGlobal(rowCenter(view, 2)));
    QTest::mouseClick(popup, Qt::LeftButton, {}, entry);
    QTRY_VERIFY(!box->ListVisible());
    QCOMPARE(click.count(), 1);
    QCOMPARE(box->KeyValue(), Key(kFive + 2));

    // A click on the control while the list is open closes it and does not open it again.
    QTest::mouseClick(window, Qt::LeftButton, {}, control);
    QTRY_VERIFY(box->ListVisible());
    QTest::mouseClick(popup, Qt::LeftButton, {},
                      popup->mapFromGlobal(box->mapToGlobal(box->rect().center())));
    QTRY_VERIFY(!box->ListVisible());
    QCoreApplication::processEvents();
    QVERIFY(!box->ListVisible());
    QCOMPARE(click.count(), 1);
}

// The window opens the next list from a choice's handler, while the list chosen from is closing.
void TestLookup::comboChoiceOpensAnotherList()
{
    TADOQuery *rows = query(rowsOf(kFive, 5));
    rows->Open();
    TDBLookupComboBox *box = combo(rows);
    TDBLookupComboBox *next = combo(rows, QPoint(10, 100));
    connect(box, &TDBLookupComboBox::Click, next, &TDBLookupComboBox::DropDown);
    QSignalSpy nextClick(next, &TDBLookupComboBox::Click);
    showWindow();

    QTest::mouseClick(m_window->windowHandle(), Qt::LeftButton, {}, box->geometry().center());
    QTRY_VERIFY(box->ListVisible());
    QListView *view = dropDownList(box);
    QWindow *popup = view->window()->windowHandle();
    QTest::mouseClick(popup, Qt::LeftButton, {},
                      popup->mapFromGlobal(view->viewport()->mapToGlobal(rowCenter(view, 1))));
    QTRY_VERIFY(next->ListVisible());
    QCoreApplication::processEvents();
    QVERIFY(next->ListVisible());
    QVERIFY(!box->ListVisible());
    QCOMPARE(box->KeyValue(), Key(kFive + 1));
    QCOMPARE(QApplication::focusWidget(), box);

    // The opened list takes no keyboard: the keys work the list that has the focus, whose own
    // drop-down is closed.
    QVERIFY(!QApplication::activePopupWidget());
    keyStep(QStringLiteral("Down"));
    QCOMPARE(box->KeyValue(), Key(kFive + 2));
    QVERIFY(next->ListVisible());
    keyStep(QStringLiteral("Return"));
    keyStep(QStringLiteral("Escape"));
    QVERIFY(next->ListVisible());
    QCOMPARE(nextClick.count(), 0);
    QCOMPARE(next->KeyValue(), Key());

    // The mouse still chooses in it.
    QTest::mouseClick(dropDownList(next)->viewport(), Qt::LeftButton, {}, rowCenter(dropDownList(next), 3));
    QVERIFY(!next->ListVisible());
    QCOMPARE(nextClick.count(), 1);
    QCOMPARE(next->KeyValue(), Key(kFive + 3));
    QCOMPARE(QApplication::focusWidget(), box);
}

void TestLookup::comboChoosesNothing_data()
{
    QTest::addColumn<bool>("rowsOpen");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("rows closed: a press") << false << true << QStringList{"press"};
    QTest::newRow("rows closed: arrows")
        << false << true << QStringList{"key Down", "key Up", "key Alt+Down"};
    QTest::newRow("rows closed: typing") << false << true << QStringList{"type П"};
    QTest::newRow("rows closed: opening from code") << false << true << QStringList{"dropDown"};
    QTest::newRow("disabled: a press") << true << false << QStringList{"press"};
    QTest::newRow("disabled: arrows") << true << false << QStringList{"key Down", "key Alt+Down"};
    QTest::newRow("disabled: opening from code") << true << false << QStringList{"dropDown"};
}

void TestLookup::comboChoosesNothing()
{
    QFETCH(bool, rowsOpen);
    QFETCH(bool, enabled);
    QFETCH(QStringList, steps);
    TADOQuery *rows = query(rowsOf(kNames, kNameRows.size()));
    if (rowsOpen)
        rows->Open();
    TDBLookupComboBox *box = combo(rows);
    showWindow();
    box->setFocus();
    box->setEnabled(enabled);
    QSignalSpy click(box, &TDBLookupComboBox::Click);
    comboSteps(box, steps);
    QVERIFY(!box->ListVisible());
    QCOMPARE(click.count(), 0);
    QCOMPARE(box->KeyValue(), Key());
}

void TestLookup::comboDropDownRows_data()
{
    QTest::addColumn<qint32>("first");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("shownRows");
    QTest::newRow("thirty rows: twenty shown") << kThirty << 30 << 20;
    QTest::newRow("twenty rows") << kThirty << 20 << 20;
    QTest::newRow("nineteen rows") << kThirty << 19 << 19;
    QTest::newRow("five rows") << kFive << 5 << 5;
    QTest::newRow("no row: twenty empty rows") << kThirty << 0 << 20;
}

void TestLookup::comboDropDownRows()
{
    QFETCH(qint32, first);
    QFETCH(int, rows);
    QFETCH(int, shownRows);
    // A full row's height, measured in a list that has rows.
    TADOQuery *full = query(rowsOf(kThirty, 30));
    full->Open();
    TDBLookupComboBox *measure = combo(full, QPoint(10, 200));
    TADOQuery *tested = query(rows > 0 ? rowsOf(first, rows) : kNoRows);
    tested->Open();
    TDBLookupComboBox *box = combo(tested);
    showWindow();
    measure->DropDown();
    QListView *measured = dropDownList(measure);
    const int rowHeight = measured->visualRect(measured->model()->index(0, measured->modelColumn())).height();
    QVERIFY(rowHeight > 0);
    measure->CloseUp(false);

    // The last row's key: the list opens scrolled to it.
    box->setKeyValue(rows > 0 ? Key(first + rows - 1) : Key());
    box->DropDown();
    QVERIFY(box->ListVisible());
    QListView *view = dropDownList(box);
    QCOMPARE(view->model()->rowCount(), rows);
    QCOMPARE(view->viewport()->height(), shownRows * rowHeight);
    QCOMPARE(view->verticalScrollBar()->isVisible(), rows > shownRows);
    if (rows > 0) {
        // The last row, highlighted, is scrolled into sight.
        const QRect last = view->visualRect(view->model()->index(rows - 1, view->modelColumn()));
        QVERIFY(view->viewport()->rect().contains(last));
        QCOMPARE(view->selectionModel()->selectedIndexes().value(0).row(), rows - 1);
    }
    // Under the control and as wide as it.
    const QWidget *popup = view->window();
    QCOMPARE(popup->width(), box->width());
    QCOMPARE(popup->geometry().topLeft(), box->mapToGlobal(QPoint(0, box->height())));
}

void TestLookup::comboDropDownAboveNearScreenBottom()
{
    TADOQuery *rows = query(rowsOf(kThirty, 30));
    rows->Open();
    TDBLookupComboBox *box = combo(rows, QPoint(10, 360));
    showWindow();
    const QRect screen = m_window->screen()->availableGeometry();
    m_window->move(screen.left() + 10, screen.bottom() - m_window->frameGeometry().height() - 5);
    // Less room below the control than twenty rows take, and enough above it.
    QTRY_VERIFY(box->mapToGlobal(QPoint(0, box->height())).y() + 100 > screen.bottom());
    QVERIFY(box->mapToGlobal(QPoint(0, 0)).y() - screen.top() > 300);
    box->DropDown();
    QVERIFY(box->ListVisible());
    const QWidget *popup = dropDownList(box)->window();
    QCOMPARE(popup->geometry().bottomLeft() + QPoint(0, 1), box->mapToGlobal(QPoint(0, 0)));
    QCOMPARE(popup->width(), box->width());
}

void TestLookup::comboKeepsTheFocus()
{
    TADOQuery *rows = query(rowsOf(kFive, 5));
    rows->Open();
    TDBLookupComboBox *box = combo(rows);
    TDBLookupComboBox *second = combo(rows, QPoint(10, 100));
    showWindow();
    QSignalSpy exit(box, &TDBLookupComboBox::Exit);
    QSignalSpy secondExit(second, &TDBLookupComboBox::Exit);
    QSignalSpy secondClick(second, &TDBLookupComboBox::Click);

    // Opened by the user: the control keeps the focus.
    QTest::mousePress(box, Qt::LeftButton);
    QVERIFY(box->ListVisible());
    QVERIFY(box->hasFocus());
    QCOMPARE(m_window->focusWidget(), box);
    QCOMPARE(exit.count(), 0);
    keyStep(QStringLiteral("Escape"));
    QVERIFY(!box->ListVisible());
    QVERIFY(box->hasFocus());
    QCOMPARE(exit.count(), 0);

    // Opened from code while the first has the focus: the focus and the keys stay there; Enter and
    // Escape concern only a list of its own, and a press outside the opened list closes it. (The
    // offscreen platform made the closed popup the active window: the window is made active again.)
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QCOMPARE(QApplication::focusWidget(), box);
    second->DropDown();
    QVERIFY(second->ListVisible());
    QVERIFY(!QApplication::activePopupWidget());
    QVERIFY(box->hasFocus());
    QCOMPARE(QApplication::focusWidget(), box);
    keyStep(QStringLiteral("Down"));
    keyStep(QStringLiteral("Down"));
    keyStep(QStringLiteral("Return"));
    keyStep(QStringLiteral("Escape"));
    QVERIFY(second->ListVisible());
    QCOMPARE(secondClick.count(), 0);
    QCOMPARE(second->KeyValue(), Key());
    QCOMPARE(box->KeyValue(), Key(kFive + 1));
    QTest::mouseClick(m_window.get(), Qt::LeftButton, {}, QPoint(5, m_window->height() - 5));
    QVERIFY(!second->ListVisible());
    QCOMPARE(secondClick.count(), 0);
    QVERIFY(box->hasFocus());
    QCOMPARE(exit.count(), 0);
    QCOMPARE(secondExit.count(), 0);

    // Leaving the control is an exit.
    m_other->setFocus(Qt::TabFocusReason);
    QCOMPARE(exit.count(), 1);
}

void TestLookup::comboTypeAhead()
{
    TADOQuery *rows = query(rowsOf(kNames, kNameRows.size()));
    rows->Open();
    TDBLookupComboBox *box = combo(rows);
    showWindow();
    box->setFocus();
    QSignalSpy click(box, &TDBLookupComboBox::Click);

    // While closed each match is a choice.
    comboSteps(box, {"type ИВ"});
    QCOMPARE(box->KeyValue(), Key(kNames + 3));
    QCOMPARE(click.count(), 2);
    comboSteps(box, {"type ановА"});
    QCOMPARE(box->Text(), QStringLiteral("иванова Анна"));
    QCOMPARE(click.count(), 7);

    // While open typing moves the highlight only; Enter chooses.
    comboSteps(box, {"wait 2001", "key Alt+Down", "type п"});
    QVERIFY(box->ListVisible());
    QCOMPARE(dropDownList(box)->selectionModel()->selectedIndexes().value(0).row(), 5);
    QCOMPARE(box->KeyValue(), Key(kNames + 4));
    QCOMPARE(click.count(), 7);
    comboSteps(box, {"key Return"});
    QCOMPARE(box->KeyValue(), Key(kNames + 5));
    QCOMPARE(click.count(), 8);
}

// ---- the list box -------------------------------------------------------------------------------

void TestLookup::listBoxKey_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("highlighted");
    QTest::addColumn<QString>("entryText");
    QTest::newRow("Null: the first row, none highlighted") << -1 << 0 << -1 << "Пятый список 1";
    QTest::newRow("a key of a row") << 3 << 3 << 3 << "Пятый список 4";
    QTest::newRow("a key of no row: the first row, none highlighted") << -2 << 0 << -1 << "Пятый список 1";
}

void TestLookup::listBoxKey()
{
    QFETCH(int, key);
    QFETCH(int, current);
    QFETCH(int, highlighted);
    QFETCH(QString, entryText);
    TADOQuery *rows = query(rowsOf(kFive, 5));
    rows->Open();
    TDBLookupListBox *list = listBox(rows);
    showWindow();
    // From another key, so that setting this one is a change.
    list->setKeyValue(kFive + 1);
    list->setKeyValue(keyOf(kFive, key));
    QCOMPARE(keyText(list->KeyValue()), keyText(keyOf(kFive, key)));
    QCOMPARE(list->currentRow(), current);
    QCOMPARE(list->highlightedRow(), highlighted);
    QCOMPARE(list->currentEntryText(), entryText);
}

void TestLookup::listBoxEntryTextFollowsTheRows()
{
    TADOQuery *rows = query(rowsOf(kFive, 5));
    TDBLookupListBox *list = listBox(rows);
    showWindow();
    QSignalSpy click(list, &TDBLookupListBox::Click);

    list->setKeyValue(kFive + 2);
    QCOMPARE(list->currentEntryText(), QString());
    rows->Open();
    QCOMPARE(list->currentEntryText(), QStringLiteral("Пятый список 3"));
    QCOMPARE(list->highlightedRow(), 2);

    // Closing leaves the text; setting the same key again changes nothing.
    rows->Close();
    QCOMPARE(list->currentEntryText(), QStringLiteral("Пятый список 3"));
    QCOMPARE(list->currentRow(), -1);
    list->setKeyValue(kFive + 2);
    QCOMPARE(list->currentEntryText(), QStringLiteral("Пятый список 3"));
    // Another key while the rows are closed: no row to take a text from.
    list->setKeyValue(kFive + 4);
    QCOMPARE(list->currentEntryText(), QString());
    rows->Open();
    QCOMPARE(list->currentEntryText(), QStringLiteral("Пятый список 5"));
    QCOMPARE(list->highlightedRow(), 4);

    // Open rows without any row: the text is empty, whatever the key.
    TADOQuery *none = query(kNoRows);
    list->setListSource(source(none));
    none->Open();
    QCOMPARE(list->currentEntryText(), QString());
    QCOMPARE(list->currentRow(), -1);
    QCOMPARE(list->KeyValue(), Key(kFive + 4));
    QCOMPARE(click.count(), 0);
}

void TestLookup::listBoxMouse_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("rowsOpen");
    QTest::addColumn<int>("startRow");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("chosenRow");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<QString>("entryText");
    const QString five = rowsOf(kFive, 5);
    QTest::newRow("a press on a row")
        << five << true << -1 << QStringList{"press row 3"} << 3 << 1 << "Пятый список 4";
    QTest::newRow("the row held, chosen again")
        << five << true << 3 << QStringList{"press row 3"} << 3 << 1 << "Пятый список 4";
    QTest::newRow("a press below the last row: the last row")
        << five << true << 1 << QStringList{"press below"} << 4 << 1 << "Пятый список 5";
    QTest::newRow("a press in an empty list: Null")
        << kNoRows << true << 2 << QStringList{"press below"} << -1 << 1 << "";
    QTest::newRow("rows closed: focus only")
        << five << false << 2 << QStringList{"press below"} << 2 << 0 << "";
}

void TestLookup::listBoxMouse()
{
    QFETCH(QString, sql);
    QFETCH(bool, rowsOpen);
    QFETCH(int, startRow);
    QFETCH(QStringList, steps);
    QFETCH(int, chosenRow);
    QFETCH(int, clicks);
    QFETCH(QString, entryText);
    TADOQuery *rows = query(sql);
    if (rowsOpen)
        rows->Open();
    TDBLookupListBox *list = listBox(rows);
    showWindow();
    m_other->setFocus();
    list->setKeyValue(keyOf(kFive, startRow));
    QSignalSpy click(list, &TDBLookupListBox::Click);
    QSignalSpy keyChanged(list, &TDBLookupListBox::keyValueChanged);

    listSteps(list, steps);

    QVERIFY(list->hasFocus());
    QCOMPARE(keyText(list->KeyValue()), keyText(keyOf(kFive, chosenRow)));
    QCOMPARE(click.count(), clicks);
    QCOMPARE(list->currentEntryText(), entryText);
    QCOMPARE(keyChanged.count(), chosenRow == startRow ? 0 : 1);
    if (rowsOpen && chosenRow >= 0) {
        QCOMPARE(list->currentRow(), chosenRow);
        QCOMPARE(list->highlightedRow(), chosenRow);
    }
}

void TestLookup::listBoxKeys_data()
{
    QTest::addColumn<int>("startRow");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("chosenRow");
    // Thirty rows, six of them in sight: a page is five rows.
    QTest::newRow("Down") << 3 << "Down" << 4;
    QTest::newRow("Right") << 3 << "Right" << 4;
    QTest::newRow("Up") << 3 << "Up" << 2;
    QTest::newRow("Left") << 3 << "Left" << 2;
    QTest::newRow("Up on the first row") << 0 << "Up" << 0;
    QTest::newRow("Down on the last row") << 29 << "Down" << 29;
    QTest::newRow("Down from Null: the row after the first") << -1 << "Down" << 1;
    QTest::newRow("Up from a key of no row: the first row") << -2 << "Up" << 0;
    QTest::newRow("Page Down") << 3 << "PgDown" << 8;
    QTest::newRow("Page Up") << 12 << "PgUp" << 7;
    QTest::newRow("Page Down near the end") << 27 << "PgDown" << 29;
    QTest::newRow("Page Up near the top") << 2 << "PgUp" << 0;
    QTest::newRow("Home") << 12 << "Home" << 0;
    QTest::newRow("End") << 12 << "End" << 29;
}

void TestLookup::listBoxKeys()
{
    QFETCH(int, startRow);
    QFETCH(QString, key);
    QFETCH(int, chosenRow);
    TADOQuery *rows = query(rowsOf(kThirty, 30));
    rows->Open();
    TDBLookupListBox *list = listBox(rows);
    const int rowHeight = list->sizeHintForRow(0);
    QVERIFY(rowHeight > 0);
    list->resize(list->width(), 6 * rowHeight + 2 * list->frameWidth());
    showWindow();
    QCOMPARE(list->viewport()->height() / rowHeight, 6);
    list->setFocus();
    list->setKeyValue(keyOf(kThirty, startRow));
    QSignalSpy click(list, &TDBLookupListBox::Click);

    keyStep(key);

    QCOMPARE(keyText(list->KeyValue()), keyText(keyOf(kThirty, chosenRow)));
    QCOMPARE(click.count(), 1);
    QCOMPARE(list->currentRow(), chosenRow);
    QCOMPARE(list->highlightedRow(), chosenRow);
    QCOMPARE(list->currentEntryText(),
             QStringLiteral("Строка %1").arg(chosenRow + 1, 2, 10, QLatin1Char('0')));
}

void TestLookup::listBoxKeyDownSeesTheKeyBeforeTheMove()
{
    TADOQuery *rows = query(rowsOf(kFive, 5));
    rows->Open();
    TDBLookupListBox *list = listBox(rows);
    showWindow();
    list->setFocus();
    list->setKeyValue(kFive + 1);
    QList<std::pair<int, QString>> seen;
    connect(list, &TDBLookupListBox::KeyDown, list, [&](QKeyEvent *event) {
        seen.append({event->key(), keyText(list->KeyValue())});
    });
    connect(list, &TDBLookupListBox::Click, list, [&] { seen.append({0, keyText(list->KeyValue())}); });

    listSteps(list, {"key Down", "key F5", "type я"});

    const QList<std::pair<int, QString>> expected = {
        {Qt::Key_Down, keyText(kFive + 1)},
        {0, keyText(kFive + 2)},
        {Qt::Key_F5, keyText(kFive + 2)},
        {u'Я', keyText(kFive + 2)},
    };
    QCOMPARE(seen, expected);
    // Keys that move the focus are not the list's.
    keyStep(QStringLiteral("Tab"));
    QCOMPARE(seen.size(), expected.size());
}

void TestLookup::listBoxDoubleClick()
{
    TADOQuery *rows = query(rowsOf(kFive, 5));
    rows->Open();
    TDBLookupListBox *list = listBox(rows);
    showWindow();
    QSignalSpy dblClick(list, &TDBLookupListBox::DblClick);
    QList<Key> keyAtDblClick;
    connect(list, &TDBLookupListBox::DblClick, list, [&] { keyAtDblClick.append(list->KeyValue()); });

    listSteps(list, {"dclick row 2"});
    QCOMPARE(dblClick.count(), 1);
    QCOMPARE(keyAtDblClick, QList<Key>{kFive + 2});
    QCOMPARE(list->currentEntryText(), QStringLiteral("Пятый список 3"));

    // Nothing to double-click in an empty list.
    TADOQuery *none = query(kNoRows);
    none->Open();
    list->setListSource(source(none));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(dblClick.count(), 1);
}

// ---- type-ahead, in the list box ----------------------------------------------------------------

void TestLookup::typeAhead_data()
{
    QTest::addColumn<qint32>("first");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("chosenRow");
    QTest::addColumn<int>("clicks");
    QTest::newRow("the first entry that begins so") << kNames << QStringList{"type и"} << 3 << 1;
    QTest::newRow("capitals match small letters") << kNames << QStringList{"type ИВАНОВА"} << 4 << 7;
    QTest::newRow("small letters match capitals") << kNames << QStringList{"type яК"} << 6 << 2;
    QTest::newRow("Ё matches ё") << kNames << QStringList{"type ЁЛ"} << 1 << 2;
    QTest::newRow("ё matches Ё") << kNames << QStringList{"type ёж"} << 2 << 2;
    QTest::newRow("a character that matches nothing is dropped")
        << kNames << QStringList{"type пх", "type е"} << 5 << 2;
    QTest::newRow("a pause of two seconds goes on")
        << kNames << QStringList{"type п", "wait 2000", "type и"} << 5 << 1;
    QTest::newRow("a longer pause starts again")
        << kNames << QStringList{"type п", "wait 2001", "type и"} << 3 << 2;
    QTest::newRow("the pause counts from the last key")
        << kNames << QStringList{"type ив", "wait 1500", "type ано", "wait 1500", "type ва"} << 4 << 7;
    QTest::newRow("Backspace clears the typed text")
        << kNames << QStringList{"type п", "key Backspace", "type и"} << 3 << 2;
    QTest::newRow("Escape clears the typed text")
        << kNames << QStringList{"type п", "key Escape", "type и"} << 3 << 2;
    QTest::newRow("the 32nd character counts")
        << kLong << QStringList{"type " + QString(31, QChar(u'я')) + "а"} << 1 << 32;
    QTest::newRow("the 33rd character does not")
        << kLong << QStringList{"type " + QString(32, QChar(u'я')) + "а"} << 0 << 32;
}

void TestLookup::typeAhead()
{
    QFETCH(qint32, first);
    QFETCH(QStringList, steps);
    QFETCH(int, chosenRow);
    QFETCH(int, clicks);
    TADOQuery *rows = query(rowsOf(first, first == kNames ? int(kNameRows.size()) : int(kLongRows.size())));
    rows->Open();
    TDBLookupListBox *list = listBox(rows);
    showWindow();
    list->setFocus();
    QSignalSpy click(list, &TDBLookupListBox::Click);

    listSteps(list, steps);

    QCOMPARE(keyText(list->KeyValue()), keyText(keyOf(first, chosenRow)));
    QCOMPARE(list->highlightedRow(), chosenRow);
    QCOMPARE(click.count(), clicks);
}

QTEST_MAIN(TestLookup)
#include "tst_lookup.moc"
