// The access layer's text work, which needs no server: the connection string and its mapping onto the
// driver's, parameter markers, error texts, the faculty statement.

#include "db/adoquery.h"
#include "db/connectionproperties.h"
#include "db/databaseerror.h"
#include "db/dm.h"
#include "db/statement.h"
#include "signin/connectionstring.h"

#include <QTest>

class TestDbText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void dataSource_data();
    void dataSource();
    void odbcString_data();
    void odbcString();
    void unknownProviderIsRefused();
    void encryption_data();
    void encryption();
    void authorityGoesThroughTheDriversConfiguration();
    void driversConfigurationRefusesWhatItCannotCarry_data();
    void driversConfigurationRefusesWhatItCannotCarry();
    void connectionStringIsRead_data();
    void connectionStringIsRead();
    void driverPrefixesAreRemoved_data();
    void driverPrefixesAreRemoved();
    void parameterMarkers_data();
    void parameterMarkers();
    void facultyStatement_data();
    void facultyStatement();
    void queryText();
};

void TestDbText::dataSource_data()
{
    QTest::addColumn<QString>("dataSource");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("instance");
    QTest::newRow("host") << "db01"
                          << "db01" << 0 << "";
    QTest::newRow("host,port") << "db01,14330"
                               << "db01" << 14330 << "";
    QTest::newRow("host, port with blanks") << " db01 , 14330 "
                                            << "db01" << 14330 << "";
    QTest::newRow("host\\instance") << "db01\\SQLEXPRESS"
                                    << "db01" << 0 << "SQLEXPRESS";
    QTest::newRow("tcp:host,port") << "tcp:10.1.2.3,1500"
                                   << "10.1.2.3" << 1500 << "";
    QTest::newRow("(local)") << "(local)"
                             << "127.0.0.1" << 0 << "";
    QTest::newRow(".") << "."
                       << "127.0.0.1" << 0 << "";
    QTest::newRow(".\\instance") << ".\\DEKANAT"
                                 << "127.0.0.1" << 0 << "DEKANAT";
    QTest::newRow("(local),port") << "(local),2000"
                                  << "127.0.0.1" << 2000 << "";
    QTest::newRow("host\\instance,port") << "db01\\A,2000"
                                         << "db01" << 2000 << "A";
    QTest::newRow("the highest port") << "db01,65535"
                                      << "db01" << 65535 << "";
    QTest::newRow("a port past 65535 stays in the name") << "db01,65536"
                                                         << "db01,65536" << 0 << "";
    QTest::newRow("port 0 stays in the name") << "db01,0"
                                              << "db01,0" << 0 << "";
    QTest::newRow("a negative port stays in the name") << "db01,-5"
                                                       << "db01,-5" << 0 << "";
    QTest::newRow("nothing but a negative number after the comma") << " ,-1889358995"
                                                                   << ",-1889358995" << 0 << "";
}

void TestDbText::dataSource()
{
    QFETCH(QString, dataSource);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, instance);
    const ServerAddress a = parseDataSource(dataSource);
    QCOMPARE(a.host, host);
    QCOMPARE(a.port, port);
    QCOMPARE(a.instance, instance);
}

void TestDbText::odbcString_data()
{
    QTest::addColumn<QString>("dataSource");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("expectedStart");
    QTest::newRow("default port")
        << "db01"
        << "u"
        << "p"
        << "DRIVER={FreeTDS};SERVER=db01;PORT=1433;DATABASE=qel;UID=u;PWD=p;TDS_Version=7.4;"
           "Encryption=request;ClientCharset=UTF-8;PacketSize=4096";
    QTest::newRow("instance asks the browser") << "db01\\A"
                                               << "u"
                                               << "p"
                                               << "DRIVER={FreeTDS};SERVER=db01\\A;DATABASE=qel;UID=u;PWD=p;";
    QTest::newRow("special characters braced")
        << "127.0.0.1,5000"
        << "a;b"
        << "П}=;{x"
        << "DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=5000;DATABASE=qel;UID={a;b};"
           "PWD={П}=;{x};";
}

void TestDbText::odbcString()
{
    QFETCH(QString, dataSource);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, expectedStart);
    ConnectionProperties p;
    p.provider = QStringLiteral("SQLOLEDB.1");
    p.dataSource = dataSource;
    p.user = user;
    p.password = password;
    p.database = QStringLiteral("qel");
    const QString odbc = odbcConnectionString(p);
    QVERIFY2(odbc.startsWith(expectedStart), qPrintable(odbc));
}

void TestDbText::unknownProviderIsRefused()
{
    QVERIFY_THROWS_EXCEPTION(DatabaseError,
                             parseConnectionString(QStringLiteral("Provider=SQLOLEDB.1;Password=\"open")));
    ConnectionProperties p;
    p.provider = QStringLiteral("MSDASQL");
    QVERIFY_THROWS_EXCEPTION(DatabaseError, odbcConnectionString(p));
}

void TestDbText::encryption_data()
{
    QTest::addColumn<bool>("useEncryptionForData");
    QTest::addColumn<int>("workstation");
    QTest::addColumn<QString>("driver");
    QTest::newRow("no encryption of the data: the login still encrypted")
        << false << int(EncryptionSetting::Login) << "request";
    QTest::newRow("workstation asks for all") << false << int(EncryptionSetting::All) << "require";
    QTest::newRow("workstation turns it off") << false << int(EncryptionSetting::Off) << "off";
    QTest::newRow("the string's encryption of the data wins over off")
        << true << int(EncryptionSetting::Off) << "require";
}

void TestDbText::encryption()
{
    QFETCH(bool, useEncryptionForData);
    QFETCH(int, workstation);
    ConnectionProperties p = parseConnectionString(
        QStringLiteral("Provider=SQLOLEDB.1;Data Source=db01;Use Encryption for Data=%1")
            .arg(useEncryptionForData ? QStringLiteral("True") : QStringLiteral("False")));
    p.encryption = EncryptionSetting(workstation);
    QFETCH(QString, driver);
    QCOMPARE(driverEncryption(p), driver);
    QVERIFY(odbcConnectionString(p).contains(QStringLiteral(";Encryption=") + driver + u';'));
}

// The driver takes an authority only from its configuration: the string then names the entry, and
// the entry carries the address, the authority and the check of the name.
void TestDbText::authorityGoesThroughTheDriversConfiguration()
{
    ConnectionProperties p;
    p.provider = QStringLiteral("SQLOLEDB.1");
    p.dataSource = QStringLiteral("sql01.example.edu,1500");
    p.user = QStringLiteral("u");
    p.password = QStringLiteral("p;w");
    p.authorityFile = QStringLiteral("/opt/qel31/Data/ca.pem");
    QCOMPARE(odbcConnectionString(p).section(u';', 0, 5),
             QStringLiteral("DRIVER={FreeTDS};SERVERNAME=qel31;DATABASE=;UID=u;PWD={p;w}"));
    QCOMPARE(driverConfiguration(p, QStringLiteral("/tmp/qel31-driver-x/ca.pem")),
             QByteArray("[qel31]\n"
                        "\thost = sql01.example.edu\n"
                        "\tport = 1500\n"
                        "\ttds version = 7.4\n"
                        "\tencryption = request\n"
                        "\tca file = /tmp/qel31-driver-x/ca.pem\n"
                        "\tcheck certificate hostname = yes\n"));
    p.dataSource = QStringLiteral("sql01\\MAIN");
    p.encryption = EncryptionSetting::All;
    const QByteArray named = driverConfiguration(p, QStringLiteral("/tmp/ca.pem"));
    QVERIFY2(named.contains("\tinstance = MAIN\n") && !named.contains("port") &&
                 named.contains("\tencryption = require\n"),
             named.constData());
}

void TestDbText::driversConfigurationRefusesWhatItCannotCarry_data()
{
    QTest::addColumn<QString>("dataSource");
    QTest::addColumn<QString>("authority");
    QTest::newRow("comment sign in the server") << "db#01"
                                                << "/opt/ca.pem";
    QTest::newRow("semicolon in the instance") << "db01\\A;B"
                                               << "/opt/ca.pem";
    QTest::newRow("comment sign in the path") << "db01"
                                              << "/opt/#qel/ca.pem";
    QTest::newRow("two blanks in the path") << "db01"
                                            << "/opt/qel  31/ca.pem";
    QTest::newRow("path too long for a line")
        << "db01" << QStringLiteral("/opt/") + QString(120, QChar(0x416)) + "/ca.pem";
}

void TestDbText::driversConfigurationRefusesWhatItCannotCarry()
{
    QFETCH(QString, dataSource);
    QFETCH(QString, authority);
    ConnectionProperties p;
    p.dataSource = dataSource;
    p.authorityFile = QStringLiteral("/opt/ca.pem");
    QVERIFY_THROWS_EXCEPTION(DatabaseError, driverConfiguration(p, authority));
}

void TestDbText::connectionStringIsRead_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("server");
    QTest::newRow("the client's own string")
        << BuildConnectionString({QStringLiteral("вахтёр"), QStringLiteral("Пароль"), QStringLiteral("qel"),
                                  QStringLiteral("db01,1433")})
        << "вахтёр"
        << "Пароль"
        << "qel"
        << "db01,1433";
    QTest::newRow("quoted values") << "Provider=SQLOLEDB.1;Password=\"a;b\"\"c\";User ID='x''y';Data Source=s"
                                   << "x'y"
                                   << "a;b\"c"
                                   << ""
                                   << "s";
    QTest::newRow("keys without regard to case, aliases")
        << "provider=sqloledb;UID=u;PWD=p;Database=d;Server=s;"
        << "u"
        << "p"
        << "d"
        << "s";
}

void TestDbText::connectionStringIsRead()
{
    QFETCH(QString, text);
    const ConnectionProperties p = parseConnectionString(text);
    QTEST(p.user, "user");
    QTEST(p.password, "password");
    QTEST(p.database, "database");
    QTEST(p.dataSource, "server");
    QCOMPARE(p.packetSize, 4096);
    QVERIFY(!p.encrypt);
}

void TestDbText::driverPrefixesAreRemoved_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("shown");
    QTest::newRow("server text") << "[FreeTDS][SQL Server]Login failed for user 'x'."
                                 << "Login failed for user 'x'.";
    QTest::newRow("driver manager too")
        << "[unixODBC][FreeTDS][SQL Server]Unable to connect: Adaptive Server is "
           "unavailable or does not exist"
        << "Unable to connect: Adaptive Server is unavailable or does not exist";
    QTest::newRow("one line per message")
        << "[FreeTDS][SQL Server]Login failed. [FreeTDS][SQL Server]Cannot open database \"x\"."
        << "Login failed.\nCannot open database \"x\".";
    QTest::newRow("brackets inside kept") << "[FreeTDS][SQL Server]Invalid object name 'a[1]'."
                                          << "Invalid object name 'a[1]'.";
    QTest::newRow("no prefix") << "Timeout expired"
                               << "Timeout expired";
    QTest::newRow("the driver's comment after the server's text")
        << "[FreeTDS][SQL Server]Login failed for user 'qel_demo'. [FreeTDS][SQL Server]Unable to connect to "
           "data source"
        << "Login failed for user 'qel_demo'.";
}

void TestDbText::driverPrefixesAreRemoved()
{
    QFETCH(QString, raw);
    QFETCH(QString, shown);
    QCOMPARE(withoutDriverPrefixes(raw), shown);
}

void TestDbText::parameterMarkers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("no colon: unchanged") << "SELECT faculty.* FROM  faculty WHERE id = 12Order by [p23-2]\r\n"
                                         << "SELECT faculty.* FROM  faculty WHERE id = 12Order by [p23-2]\r\n"
                                         << QStringList();
    QTest::newRow("two markers in order")
        << "g_r_y.id_a_year =:id_a_year AND\r\n [group].id_faculty =:id_faculty"
        << "g_r_y.id_a_year =? AND\r\n [group].id_faculty =?" << QStringList{"id_a_year", "id_faculty"};
    QTest::newRow("a lone colon stays") << "SELECT ': x' : 1"
                                        << "SELECT ': x' : 1" << QStringList();
    QTest::newRow("colon names inside quotes are data")
        << "EXEC GET_USER 'a:b','o'':c', [x:y], \"q:r\", :p"
        << "EXEC GET_USER 'a:b','o'':c', [x:y], \"q:r\", ?" << QStringList{"p"};
}

void TestDbText::parameterMarkers()
{
    QFETCH(QString, text);
    const MarkedText marked = replaceParameterMarkers(text);
    QTEST(marked.text, "sent");
    QTEST(marked.names, "names");
}

void TestDbText::facultyStatement_data()
{
    QTest::addColumn<int>("loginId");
    QTest::addColumn<QString>("ending");
    QTest::newRow("12") << 12 << "WHERE user_faculty.id_login = 12Order by [p23-2]";
    QTest::newRow("negative") << -7 << "WHERE user_faculty.id_login = -7Order by [p23-2]";
    QTest::newRow("zero") << 0 << "WHERE user_faculty.id_login = 0Order by [p23-2]";
    QTest::newRow("smallest") << int(INT_MIN) << "WHERE user_faculty.id_login = -2147483648Order by [p23-2]";
}

void TestDbText::facultyStatement()
{
    QFETCH(int, loginId);
    QFETCH(QString, ending);
    const QString statement = userFacultiesStatement(loginId);
    QVERIFY(statement.startsWith(QStringLiteral("SELECT faculty.* FROM  faculty INNER JOIN user_faculty ON "
                                                "faculty.id_faculty = user_faculty.faculty ")));
    QVERIFY2(statement.endsWith(ending), qPrintable(statement));
}

void TestDbText::queryText()
{
    TDM_MB dm;
    QCOMPARE(dm.ADOQ_Students.commandText(),
             QStringLiteral(
                 "SELECT s_g.id_student,\r\n       s_fio.s_fio  \r\n  FROM s_g,\r\n       s_fio\r\nWHERE "
                 "s_g.id_student = s_fio.id_student AND\r\n      s_g.id_group =:id_group\r\n"));
    QCOMPARE(dm.ADOQ_group.parameterNames(), (QStringList{"id_a_year", "id_faculty"}));
    QVERIFY(!dm.ADOCon.Connected());
    QVERIFY(!dm.ADOQ_Year.Active());
    QVERIFY_THROWS_EXCEPTION(DatabaseError, dm.ADOQ_group.setParameter(QStringLiteral("id_group"), Key(1)));
}

QTEST_GUILESS_MAIN(TestDbText)
#include "tst_db_text.moc"
