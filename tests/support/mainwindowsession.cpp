#include "mainwindowsession.h"

#include "app/application.h"
#include "db/dm.h"
#include "messageboxes.h"
#include "registration/dblookupcombobox.h"
#include "registration/dblookuplistbox.h"
#include "registration/unit1.h"
#include "signin/connectwith.h"

#include <QCryptographicHash>
#include <QListView>
#include <QTest>
#include <QToolButton>

namespace {

constexpr qint32 kDemoLogin = 12;

// The model row whose key column holds key, or -1.
int rowOfKey(const QAbstractItemModel *model, const QString &keyField, qint32 key)
{
    // The key column by its field name, which the query's model (and a list's view of it) gives as
    // the column's header.
    int column = -1;
    for (int c = 0; model && c < model->columnCount() && column < 0; ++c)
        if (model->headerData(c, Qt::Horizontal).toString().compare(keyField, Qt::CaseInsensitive) == 0)
            column = c;
    if (column < 0)
        return -1;
    for (int row = 0; row < model->rowCount(); ++row) {
        const QVariant value = model->index(row, column).data();
        if (!value.isNull() && value.toInt() == key)
            return row;
    }
    return -1;
}

QPoint rowCentre(QListView *view, int row)
{
    const QModelIndex index = view->model()->index(row, view->modelColumn());
    view->scrollTo(index);
    return view->visualRect(index).center();
}

} // namespace

MainWindowSession::MainWindowSession()
{
    m_server = std::make_unique<sandbox::SandboxServer>(QString(), true);
    QString error;
    if (!m_server->start(QStringLiteral("127.0.0.1"), 0, &error))
        qFatal("the sandbox server does not start: %s", qPrintable(error));
    m_boxes = std::make_unique<MessageBoxRecorder>();
    m_app = std::make_unique<TApplication>();
}

MainWindowSession::~MainWindowSession()
{
    delete Form1;
    delete DM_MB;
    m_app.reset();
    m_boxes.reset();
    // Requests still held give way, so that the server's threads end.
    m_server->releaseHeld();
    m_server->stop();
}

bool MainWindowSession::open(QString *why, int commandTimeout)
{
    new TDM_MB();
    DM_MB->ADOCon.setCommandTimeout(commandTimeout);
    try {
        ConnectWith(DM_MB->ADOCon, TFirstConnectInfo{QStringLiteral("qel_demo"),
                                                     QStringLiteral("Группа=17;демо"), QStringLiteral("qel"),
                                                     QStringLiteral("127.0.0.1,%1").arg(m_server->port())});
        DM_MB->LoadUserFaculties(kDemoLogin);
    } catch (const std::exception &e) {
        *why = QString::fromUtf8(e.what());
        return false;
    }
    Form1 = new TForm1();
    Form1->UserId = kDemoLogin;
    Form1->show();
    if (!QTest::qWaitForWindowExposed(Form1)) {
        *why = QStringLiteral("the main window was not shown");
        return false;
    }
    m_server->clearEvents();
    return true;
}

DemoGroup MainWindowSession::someGroup()
{
    DemoGroup g;
    const sandbox::ResultSet found = engine().sqlite(
        QStringLiteral("SELECT g.id_faculty, y.id_a_year, g.id_group FROM \"group\" g "
                       "JOIN g_r_y y ON y.id_group = g.id_group "
                       "JOIN user_faculty u ON u.faculty = g.id_faculty AND u.id_login = %1 "
                       "WHERE (SELECT count(*) FROM s_g WHERE s_g.id_group = g.id_group) >= 2 "
                       "ORDER BY g.id_group, y.id_a_year LIMIT 1")
            .arg(kDemoLogin));
    if (found.rows.isEmpty())
        return g;
    g.faculty = qint32(std::get<qint64>(found.rows[0][0]));
    g.year = qint32(std::get<qint64>(found.rows[0][1]));
    g.group = qint32(std::get<qint64>(found.rows[0][2]));
    const sandbox::ResultSet students =
        engine().sqlite(QStringLiteral("SELECT id_student FROM s_g WHERE id_group = ? ORDER BY id_student"),
                        {qint64(g.group)});
    for (const auto &row : students.rows)
        g.students.append(qint32(std::get<qint64>(row[0])));
    return g;
}

bool MainWindowSession::choose(TDBLookupComboBox *list, qint32 key)
{
    if (!list->ListVisible())
        list->DropDown();
    if (!list->ListVisible())
        return false;
    auto *view = list->findChild<QListView *>(QStringLiteral("dropDownList"));
    const int row = view ? rowOfKey(view->model(), list->KeyField(), key) : -1;
    if (row < 0) {
        list->CloseUp(false);
        return false;
    }
    const QPoint at = rowCentre(view, row);
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
    return list->KeyValue() == key;
}

bool MainWindowSession::chooseFaculty(qint32 key)
{
    return choose(Form1->DBLookupComboBox1, key);
}

bool MainWindowSession::chooseYear(qint32 key)
{
    return choose(Form1->DBLookupComboBox2, key);
}

bool MainWindowSession::chooseGroup(qint32 key)
{
    return choose(Form1->DBLookupComboBox3, key);
}

bool MainWindowSession::chooseStudent(qint32 key)
{
    TDBLookupListBox *list = Form1->DBLookupListBox1;
    const int row = rowOfKey(list->model(), list->KeyField(), key);
    if (row < 0)
        return false;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowCentre(list, row));
    return list->KeyValue() == key;
}

bool MainWindowSession::chooseGroupOf(const DemoGroup &g)
{
    return chooseFaculty(g.faculty) && chooseYear(g.year) && chooseGroup(g.group);
}

void MainWindowSession::assign()
{
    QTest::mouseClick(Form1->SpeedButton1, Qt::LeftButton);
}

QHash<QString, QByteArray> MainWindowSession::tableDigests()
{
    QHash<QString, QByteArray> digests;
    const sandbox::ResultSet tables =
        engine().sqlite(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"));
    for (const auto &table : tables.rows) {
        const QString name = sandbox::valueToText(table[0]);
        QCryptographicHash hash(QCryptographicHash::Sha256);
        const sandbox::ResultSet rows =
            engine().sqlite(QStringLiteral("SELECT * FROM \"%1\" ORDER BY rowid").arg(name));
        for (const auto &row : rows.rows) {
            for (const sandbox::Value &v : row) {
                hash.addData(QByteArray::number(int(v.index())));
                hash.addData(sandbox::valueToText(v).toUtf8());
                hash.addData(QByteArrayView("\x1f", 1));
            }
            hash.addData(QByteArrayView("\x1e", 1));
        }
        digests.insert(name, hash.result());
    }
    return digests;
}

QList<qint32> MainWindowSession::monitorsOf(qint32 group)
{
    QList<qint32> monitors;
    const sandbox::ResultSet rows = engine().sqlite(
        QStringLiteral("SELECT id_student FROM QELStudent WHERE id_group = ? ORDER BY id_student"),
        {qint64(group)});
    for (const auto &row : rows.rows)
        monitors.append(qint32(std::get<qint64>(row[0])));
    return monitors;
}

QList<sandbox::Event> MainWindowSession::clientEvents() const
{
    QList<sandbox::Event> events;
    for (const sandbox::Event &e : m_server->events()) {
        const bool noise = e.statement.startsWith(QLatin1String("sp_datatype_info")) ||
                           e.procedure == QLatin1String("sp_unprepare") ||
                           (e.statement.startsWith(QLatin1String("SET ")) &&
                            !e.statement.startsWith(QLatin1String("SET DATEFORMAT")));
        if (!noise)
            events.append(e);
    }
    return events;
}

QStringList changedTables(const QHash<QString, QByteArray> &before, const QHash<QString, QByteArray> &after)
{
    QStringList changed;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (before.value(it.key()) != it.value())
            changed.append(it.key());
    }
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (!after.contains(it.key()))
            changed.append(it.key());
    }
    changed.sort();
    return changed;
}
