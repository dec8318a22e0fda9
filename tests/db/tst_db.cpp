// The access layer and the data module against the sandbox server, through the real driver stack
// (unixODBC, FreeTDS) on 127.0.0.1.

#include "db/adoconnection.h"
#include "db/databaseerror.h"
#include "db/dm.h"
#include "sandbox/tds/sandboxserver.h"
#include "signin/connectwith.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTest>

using sandbox::Event;
using sandbox::EventKind;

namespace {

// The demo login "demo" (id 12) and its own database account.
constexpr qint32 kDemoLogin = 12;
constexpr qint32 kNoFacultyLogin = 17;
const QString kDemoAccount = QStringLiteral("qel_demo");
const QString kDemoPassword = QStringLiteral("Группа=17;демо");

qint64 countOf(sandbox::Engine &engine, const QString &sql)
{
    const sandbox::ResultSet rs = engine.sqlite(sql);
    return std::get<qint64>(rs.rows.at(0).at(0));
}

} // namespace

class TestDb : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void connectWith_data();
    void connectWith();
    void connectFailure_data();
    void connectFailure();
    void unansweredLoginTimesOut();

    void statementsReachTheServerUnchanged();
    void nullKeyTravelsAsNull();
    void recordCountsMatchTheDatabase();
    void loginWithoutFaculties();
    void severalQueriesOpenAtOnce();
    void rejectedStatementCarriesServerText();
    void droppedConnectionRaises();
    void unansweredCommandTimesOut_data();
    void unansweredCommandTimesOut();
    void replacingTextCloses();
    void valuesReadBackAsSent_data();
    void valuesReadBackAsSent();
    void roundTrips_data();
    void roundTrips();
    void slowLinkDelaysEveryAnswer();

private:
    TFirstConnectInfo demoInfo(const QString &server = QString()) const;
    QList<Event> eventsAfterConnect() const;

    std::unique_ptr<sandbox::SandboxServer> m_server;
    std::unique_ptr<TDM_MB> m_dm;
};

void TestDb::initTestCase()
{
    m_server = std::make_unique<sandbox::SandboxServer>(QString(), true);
    QString error;
    QVERIFY2(m_server->start(QStringLiteral("127.0.0.1"), 0, &error), qPrintable(error));
}

void TestDb::init()
{
    m_server->clearFaults();
    m_server->clearEvents();
    m_dm = std::make_unique<TDM_MB>();
}

void TestDb::cleanup()
{
    m_dm.reset();
    m_server->setLatency(0);
    m_server->releaseHeld();
}

TFirstConnectInfo TestDb::demoInfo(const QString &server) const
{
    return TFirstConnectInfo{kDemoAccount, kDemoPassword, QStringLiteral("qel"),
                             server.isEmpty() ? QStringLiteral("127.0.0.1,%1").arg(m_server->port())
                                              : server};
}

QList<Event> TestDb::eventsAfterConnect() const
{
    // What the driver sends by itself at connect is not the client's doing.
    QList<Event> events;
    for (const Event &e : m_server->events()) {
        if (e.kind == EventKind::LoginOk || e.kind == EventKind::LoginFailed)
            continue;
        if (e.statement.startsWith(QLatin1String("sp_datatype_info")) ||
            e.statement.startsWith(QLatin1String("SET ")))
            continue;
        // The driver lets go of a prepared statement when the query has read its rows.
        if (e.procedure == QLatin1String("sp_unprepare"))
            continue;
        events.append(e);
    }
    return events;
}

void TestDb::connectWith_data()
{
    QTest::addColumn<QString>("dataSourcePattern");
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("password");
    QTest::newRow("host,port") << "127.0.0.1,%1" << kDemoAccount << kDemoPassword;
    QTest::newRow("tcp:host,port") << "tcp:127.0.0.1,%1" << kDemoAccount << kDemoPassword;
    QTest::newRow("(local),port") << "(local),%1" << kDemoAccount << kDemoPassword;
    QTest::newRow(".,port") << ".,%1" << kDemoAccount << kDemoPassword;
    QTest::newRow("localhost,port") << "localhost,%1" << kDemoAccount << kDemoPassword;
    QTest::newRow("a brace in the password") << "127.0.0.1,%1"
                                             << "qel_expiring"
                                             << "Срок;истекает}9";
    QTest::newRow("a trailing semicolon") << "127.0.0.1,%1"
                                          << "qel_expired"
                                          << "Пароль=устарел;";
}

void TestDb::connectWith()
{
    QFETCH(QString, dataSourcePattern);
    QFETCH(QString, account);
    QFETCH(QString, password);
    TFirstConnectInfo info = demoInfo(dataSourcePattern.arg(m_server->port()));
    info.User = account;
    info.Password = password;
    ConnectWith(m_dm->ADOCon, info);
    QVERIFY(m_dm->ADOCon.Connected());
    QVERIFY(m_dm->ADOCon.connectionString().endsWith(
        QLatin1String("Tag with column collation when possible=False")));
    // The password with '=' and ';' and Cyrillic letters reached the server intact.
    const auto login = m_server->waitForEvent([](const Event &e) { return e.kind == EventKind::LoginOk; });
    QVERIFY(login);
    QCOMPARE(login->login, account);
    QCOMPARE(login->statement, QStringLiteral("qel"));

    // Connecting again closes first and opens with the new values.
    ConnectWith(m_dm->ADOCon, info);
    QVERIFY(m_dm->ADOCon.Connected());
}

void TestDb::connectFailure_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("database");
    QTest::addColumn<bool>("serverUp");
    QTest::addColumn<QString>("message");
    QTest::newRow("wrong password") << kDemoAccount << "wrong"
                                    << "qel" << true << "Login failed for user 'qel_demo'.";
    QTest::newRow("unknown user") << "nobody"
                                  << "x"
                                  << "qel" << true << "Login failed for user 'nobody'.";
    QTest::newRow("unknown database")
        << kDemoAccount << kDemoPassword << "nosuchdb" << true
        << "Cannot open database \"nosuchdb\" requested by the login. The login failed.";
    QTest::newRow("nothing listening")
        << kDemoAccount << kDemoPassword << "qel" << false
        << "Unable to connect: Adaptive Server is unavailable or does not exist";
}

void TestDb::connectFailure()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, database);
    QFETCH(bool, serverUp);
    QFETCH(QString, message);
    quint16 port = m_server->port();
    if (!serverUp) {
        QTcpServer probe; // a port that was free a moment ago and is closed again
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    try {
        ConnectWith(m_dm->ADOCon,
                    TFirstConnectInfo{user, password, database, QStringLiteral("127.0.0.1,%1").arg(port)});
        QFAIL("connected");
    } catch (const DatabaseError &e) {
        QVERIFY2(e.message().contains(message), qPrintable(e.message()));
        QVERIFY2(!e.message().contains(QLatin1Char('[')), qPrintable(e.message()));
        QVERIFY2(!e.message().startsWith(QLatin1Char('[')), qPrintable(e.message()));
    }
    QVERIFY(!m_dm->ADOCon.Connected());
}

void TestDb::unansweredLoginTimesOut()
{
    QTcpServer silent; // accepts connections (the kernel does) and never says a word
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    m_dm->ADOCon.setConnectionTimeout(2);
    QElapsedTimer timer;
    timer.start();
    QVERIFY_THROWS_EXCEPTION(
        DatabaseError,
        ConnectWith(m_dm->ADOCon, demoInfo(QStringLiteral("127.0.0.1,%1").arg(silent.serverPort()))));
    QVERIFY2(timer.elapsed() < 60000, "the login time limit did not hold");
    QVERIFY(!m_dm->ADOCon.Connected());
}

void TestDb::statementsReachTheServerUnchanged()
{
    ConnectWith(m_dm->ADOCon, demoInfo());
    m_server->clearEvents();
    m_dm->LoadUserFaculties(kDemoLogin);
    QVERIFY(m_dm->ADOQ_Faculty.RecordCount() > 0);

    const qint32 year = m_dm->ADOQ_Year.fieldAsInteger(0);
    const qint32 faculty = m_dm->ADOQ_Faculty.FieldByName(QStringLiteral("id_faculty")).toInt();
    m_dm->ADOQ_group.setParameter(QStringLiteral("id_a_year"), Key(year));
    m_dm->ADOQ_group.setParameter(QStringLiteral("id_faculty"), Key(faculty));
    m_dm->ADOQ_group.Open();
    QVERIFY(m_dm->ADOQ_group.RecordCount() > 0);
    const qint32 group = m_dm->ADOQ_group.fieldAsInteger(0);
    m_dm->ADOQ_Students.setParameter(QStringLiteral("id_group"), Key(group));
    m_dm->ADOQ_Students.Open();

    const QList<Event> events = eventsAfterConnect();
    QCOMPARE(events.size(), 4);
    QCOMPARE(events[0].kind, EventKind::Batch);
    QCOMPARE(events[0].statement, userFacultiesStatement(kDemoLogin) + QStringLiteral("\r\n"));
    QCOMPARE(events[0].login, kDemoAccount);
    QCOMPARE(events[1].statement, QStringLiteral("SELECT id_a_year, p32 FROM a_year\r\n"));
    QCOMPARE(events[2].kind, EventKind::Rpc);
    QString groupText = m_dm->ADOQ_group.commandText();
    groupText.replace(QStringLiteral(":id_a_year"), QStringLiteral("@P1"));
    groupText.replace(QStringLiteral(":id_faculty"), QStringLiteral("@P2"));
    QCOMPARE(events[2].statement, groupText);
    QCOMPARE(events[2].params.size(), 2);
    QCOMPARE(std::get<qint64>(events[2].params[0]), qint64(year));
    QCOMPARE(std::get<qint64>(events[2].params[1]), qint64(faculty));
    QString studentText = m_dm->ADOQ_Students.commandText();
    studentText.replace(QStringLiteral(":id_group"), QStringLiteral("@P1"));
    QCOMPARE(events[3].statement, studentText);
}

void TestDb::nullKeyTravelsAsNull()
{
    ConnectWith(m_dm->ADOCon, demoInfo());
    m_server->clearEvents();
    m_dm->ADOQ_group.setParameter(QStringLiteral("id_a_year"), Key(1));
    m_dm->ADOQ_group.setParameter(QStringLiteral("id_faculty"), Key());
    m_dm->ADOQ_group.Open();
    QVERIFY(m_dm->ADOQ_group.Active());
    QCOMPARE(m_dm->ADOQ_group.RecordCount(), 0);
    QCOMPARE(m_dm->ADOQ_group.currentRow(), -1);
    QCOMPARE(m_dm->ADOQ_group.fieldAsString(1), QString());
    QCOMPARE(m_dm->ADOQ_group.fieldAsInteger(0), 0);
    QVERIFY(m_dm->ADOQ_group.FieldByName(QStringLiteral("id_group")).isNull());
    const QList<Event> events = eventsAfterConnect();
    QCOMPARE(events.size(), 1);
    QVERIFY(sandbox::isNull(events[0].params.at(1)));
}

void TestDb::recordCountsMatchTheDatabase()
{
    sandbox::Engine &engine = m_server->engine();
    ConnectWith(m_dm->ADOCon, demoInfo());
    m_dm->LoadUserFaculties(kDemoLogin);
    QCOMPARE(
        m_dm->ADOQ_Faculty.RecordCount(),
        countOf(engine,
                QStringLiteral("SELECT count(*) FROM user_faculty WHERE id_login = %1").arg(kDemoLogin)));
    QCOMPARE(m_dm->ADOQ_Year.RecordCount(), countOf(engine, QStringLiteral("SELECT count(*) FROM a_year")));

    // Every group of the first faculty and year, with its students and its monitor.
    const qint32 faculty = m_dm->ADOQ_Faculty.FieldByName(QStringLiteral("id_faculty")).toInt();
    const qint32 year = m_dm->ADOQ_Year.FieldByName(QStringLiteral("id_a_year")).toInt();
    m_dm->ADOQ_group.setParameter(QStringLiteral("id_a_year"), Key(year));
    m_dm->ADOQ_group.setParameter(QStringLiteral("id_faculty"), Key(faculty));
    m_dm->ADOQ_group.Open();
    QCOMPARE(m_dm->ADOQ_group.RecordCount(),
             countOf(engine, QStringLiteral("SELECT count(*) FROM g_r_y JOIN \"group\" g USING (id_group) "
                                            "WHERE g_r_y.id_a_year = %1 AND g.id_faculty = %2")
                                 .arg(year)
                                 .arg(faculty)));
    // Sorted by name, as the statement asks.
    for (int row = 1; row < m_dm->ADOQ_group.RecordCount(); ++row)
        QVERIFY(m_dm->ADOQ_group.rows().value(row - 1, 1).toString() <=
                m_dm->ADOQ_group.rows().value(row, 1).toString());

    for (int row = 0; row < m_dm->ADOQ_group.RecordCount(); ++row) {
        m_dm->ADOQ_group.setCurrentRow(row);
        const Key group = m_dm->ADOQ_group.fieldAsInteger(0);
        m_dm->ADOQ_Students.Close();
        m_dm->ADOQ_Students.setParameter(QStringLiteral("id_group"), group);
        m_dm->ADOQ_Students.Open();
        QCOMPARE(m_dm->ADOQ_Students.RecordCount(),
                 countOf(engine, QStringLiteral("SELECT count(*) FROM s_g WHERE id_group = %1").arg(*group)));
        m_dm->ADOQ_Starasta.Close();
        m_dm->ADOQ_Starasta.setParameter(QStringLiteral("id_group"), group);
        m_dm->ADOQ_Starasta.Open();
        QCOMPARE(m_dm->ADOQ_Starasta.RecordCount(),
                 qMin<qint64>(
                     1, countOf(engine, QStringLiteral("SELECT count(*) FROM QELStudent WHERE id_group = %1")
                                            .arg(*group))));
    }
    // Cyrillic names arrive intact.
    QVERIFY(
        m_dm->ADOQ_Students.fieldAsString(1).contains(QRegularExpression(QStringLiteral("^[А-ЯЁ][а-яё]+ "))));
}

void TestDb::loginWithoutFaculties()
{
    ConnectWith(m_dm->ADOCon, demoInfo());
    m_server->clearEvents();
    m_dm->LoadUserFaculties(kNoFacultyLogin);
    QVERIFY(m_dm->ADOQ_Faculty.Active());
    QCOMPARE(m_dm->ADOQ_Faculty.RecordCount(), 0);
    QVERIFY(m_dm->ADOQ_Year.Active());
    QVERIFY(m_dm->ADOQ_Year.RecordCount() > 0);

    // A second call replaces and reopens the faculties; the years, already open, are not read again.
    m_dm->LoadUserFaculties(kDemoLogin);
    QVERIFY(m_dm->ADOQ_Faculty.RecordCount() > 0);
    const QList<Event> events = eventsAfterConnect();
    QCOMPARE(events.size(), 3);
    QCOMPARE(events[2].statement, userFacultiesStatement(kDemoLogin) + QStringLiteral("\r\n"));
}

void TestDb::severalQueriesOpenAtOnce()
{
    // The connection opens by itself when a query needs it.
    m_dm->ADOCon.setConnectionString(
        QStringLiteral("Provider=SQLOLEDB.1;Password=\"%1\";User ID=%2;Initial Catalog=qel;"
                       "Data Source=127.0.0.1,%3")
            .arg(kDemoPassword, kDemoAccount)
            .arg(m_server->port()));
    m_dm->ADOQ_Year.Open();
    QVERIFY(m_dm->ADOCon.Connected());
    m_dm->LoadUserFaculties(kDemoLogin);
    QVERIFY(m_dm->ADOQ_Year.Active());
    QVERIFY(m_dm->ADOQ_Faculty.Active());
    QCOMPARE(m_dm->ADOQ_Year.model()->rowCount(), m_dm->ADOQ_Year.RecordCount());
    QCOMPARE(m_dm->ADOQ_Year.model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("p32"));

    // Closing the connection closes its queries.
    m_dm->ADOCon.Close();
    QVERIFY(!m_dm->ADOQ_Year.Active());
    QCOMPARE(m_dm->ADOQ_Faculty.RecordCount(), 0);
}

void TestDb::rejectedStatementCarriesServerText()
{
    ConnectWith(m_dm->ADOCon, demoInfo());
    m_dm->ADOQ_Exec.setSQL({QStringLiteral("EXEC CreateStarasta 17, ")});
    try {
        m_dm->ADOQ_Exec.ExecSQL();
        QFAIL("no error");
    } catch (const DatabaseError &e) {
        QVERIFY2(e.message().startsWith(QLatin1String("Incorrect syntax near")), qPrintable(e.message()));
    }
    m_server->failStatements(QRegularExpression(QStringLiteral("a_year")), 50000, 16,
                             QStringLiteral("Таблица недоступна"), 1);
    try {
        m_dm->ADOQ_Year.Open();
        QFAIL("no error");
    } catch (const DatabaseError &e) {
        QCOMPARE(e.message(), QStringLiteral("Таблица недоступна"));
    }
    QVERIFY(!m_dm->ADOQ_Year.Active());
    m_dm->ADOQ_Year.Open(); // the connection goes on
    QVERIFY(m_dm->ADOQ_Year.RecordCount() > 0);
}

void TestDb::droppedConnectionRaises()
{
    ConnectWith(m_dm->ADOCon, demoInfo());
    m_server->dropConnectionOn(QRegularExpression(QStringLiteral("a_year")), 1);
    try {
        m_dm->ADOQ_Year.Open();
        QFAIL("no error");
    } catch (const DatabaseError &e) {
        QVERIFY(!e.message().isEmpty());
        QVERIFY2(!e.message().startsWith(QLatin1Char('[')), qPrintable(e.message()));
    }
    QVERIFY(!m_dm->ADOQ_Year.Active());
}

void TestDb::unansweredCommandTimesOut_data()
{
    QTest::addColumn<bool>("withParameters");
    QTest::newRow("batch") << false;
    QTest::newRow("prepared with parameters") << true;
}

void TestDb::unansweredCommandTimesOut()
{
    QFETCH(bool, withParameters);
    m_dm->ADOCon.setCommandTimeout(2);
    ConnectWith(m_dm->ADOCon, demoInfo());
    TADOQuery &query = withParameters ? m_dm->ADOQ_Students : m_dm->ADOQ_Year;
    if (withParameters)
        query.setParameter(QStringLiteral("id_group"), Key(1));
    m_server->holdStatements(
        QRegularExpression(withParameters ? QStringLiteral("s_g") : QStringLiteral("a_year")), 1);
    QElapsedTimer timer;
    timer.start();
    try {
        query.Open();
        QFAIL("no error");
    } catch (const DatabaseError &e) {
        QCOMPARE(e.message(), QStringLiteral("Timeout expired"));
    }
    QVERIFY2(timer.elapsed() < 60000, "the command time limit did not hold");
    m_server->releaseHeld();
}

void TestDb::replacingTextCloses()
{
    ConnectWith(m_dm->ADOCon, demoInfo());
    m_dm->LoadUserFaculties(kDemoLogin);
    QVERIFY(m_dm->ADOQ_Faculty.Active());
    m_dm->ADOQ_Faculty.setSQL({QStringLiteral("SELECT 1")});
    QVERIFY(!m_dm->ADOQ_Faculty.Active());
    m_dm->ADOQ_Faculty.Open();
    m_dm->ADOQ_Faculty.Open(); // opening an open query does nothing
    QCOMPARE(m_dm->ADOQ_Faculty.RecordCount(), 1);
}

// The rows are held column by column; every value comes back as the driver gave it, a Null as a null
// value of its column's type and never as an empty text.
void TestDb::valuesReadBackAsSent_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("shortNameNull");
    QTest::addColumn<QString>("shortName");
    QTest::newRow("Null text") << 0 << true << QString();
    QTest::newRow("empty text") << 1 << false << QString();
    QTest::newRow("Cyrillic text") << 2 << false << QStringLiteral("ФИТ");
    QTest::newRow("the last row") << 3 << false << QStringLiteral("x");
}

void TestDb::valuesReadBackAsSent()
{
    QFETCH(int, row);
    QFETCH(bool, shortNameNull);
    QFETCH(QString, shortName);
    sandbox::Engine &engine = m_server->engine();
    engine.sqlite(QStringLiteral("DELETE FROM faculty WHERE id_faculty >= 9000"));
    const QList<sandbox::Value> shortNames = {sandbox::Value(), QStringLiteral(""), QStringLiteral("ФИТ"),
                                              QStringLiteral("x")};
    for (int i = 0; i < shortNames.size(); ++i)
        engine.sqlite(QStringLiteral("INSERT INTO faculty VALUES (?, ?, ?, ?)"),
                      {qint64(9000 + i), QStringLiteral("Факультет %1").arg(i), qint64(i), shortNames[i]});
    ConnectWith(m_dm->ADOCon, demoInfo());
    TADOQuery query(&m_dm->ADOCon);
    query.setSQL({QStringLiteral("SELECT id_faculty, [p23-1], [p23-3] FROM faculty WHERE id_faculty >= 9000 "
                                 "ORDER BY id_faculty")});
    query.Open();
    QCOMPARE(query.RecordCount(), int(shortNames.size()));
    query.setCurrentRow(row);
    QCOMPARE(query.FieldByName(QStringLiteral("id_faculty")), QVariant(9000 + row));
    QCOMPARE(query.fieldAsString(1), QStringLiteral("Факультет %1").arg(row));
    const QVariant value = query.model()->data(query.model()->index(row, 2));
    QCOMPARE(value.isNull(), shortNameNull);
    QCOMPARE(value.typeId(), int(QMetaType::QString));
    QCOMPARE(value.toString(), shortName);
}

// Each round trip costs a user on a slow link the link's whole round-trip time: opening costs the
// pre-login and the login (and a TLS handshake where one is negotiated), every statement one, and
// nothing is left on the server to be let go of afterwards.
void TestDb::roundTrips_data()
{
    QTest::addColumn<int>("statements"); // run after the open, each counted
    QTest::addColumn<QString>("what");
    QTest::newRow("open alone") << 0 << "";
    QTest::newRow("a statement with parameters") << 1 << "students";
    QTest::newRow("the same statement with new values") << 3 << "students";
    QTest::newRow("a batch") << 1 << "years";
    QTest::newRow("a session option") << 1 << "SET DATEFORMAT dmy";
}

void TestDb::roundTrips()
{
    QFETCH(int, statements);
    QFETCH(const QString, what);
    m_server->clearRoundTrips();
    QVERIFY_THROWS_NO_EXCEPTION(ConnectWith(m_dm->ADOCon, demoInfo()));
    const auto afterOpen = m_server->roundTrips();
    QCOMPARE(afterOpen.total, 2 + afterOpen.handshake);
    QCOMPARE(afterOpen.preLogin - afterOpen.handshake, 1);

    for (int i = 0; i < statements; ++i) {
        if (what == QLatin1String("students")) {
            m_dm->ADOQ_Students.Close();
            m_dm->ADOQ_Students.setParameter(QStringLiteral("id_group"), Key(1 + i));
            QVERIFY_THROWS_NO_EXCEPTION(m_dm->ADOQ_Students.Open());
        } else if (what == QLatin1String("years")) {
            QVERIFY_THROWS_NO_EXCEPTION(m_dm->ADOQ_Year.Open());
        } else {
            TADOQuery set(&m_dm->ADOCon);
            set.setSQL({what});
            QVERIFY_THROWS_NO_EXCEPTION(set.ExecSQL());
        }
    }
    // The server counts a turn before it answers, so the answers read are all counted by now.
    QCOMPARE(m_server->roundTrips().total - afterOpen.total, statements);
    // Closing sends nothing that waits for an answer.
    m_dm->ADOCon.Close();
    QTRY_COMPARE(m_server->connectionCount(), 0);
    QCOMPARE(m_server->roundTrips().total - afterOpen.total, statements);
}

// The benchmarks' slow link: each of the open's two round trips and the statement's one waits the
// link's time at least (a lower bound: however loaded the machine, the answers cannot come sooner).
void TestDb::slowLinkDelaysEveryAnswer()
{
    constexpr int latencyMs = 150;
    m_server->setLatency(latencyMs);
    QElapsedTimer timer;
    timer.start();
    QVERIFY_THROWS_NO_EXCEPTION(ConnectWith(m_dm->ADOCon, demoInfo()));
    QVERIFY_THROWS_NO_EXCEPTION(m_dm->ADOQ_Year.Open());
    QCOMPARE_GE(timer.elapsed(), 3 * latencyMs);
}

QTEST_GUILESS_MAIN(TestDb)
#include "tst_db.moc"
