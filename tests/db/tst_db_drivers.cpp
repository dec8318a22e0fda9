// The ODBC driver the client picks on each platform, and the connection string in each driver's own
// keywords. Microsoft's drivers run only on Windows; their strings are checked here as text.

#include "db/connectionproperties.h"
#include "db/odbcdriver.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

ConnectionProperties properties(const QString &dataSource)
{
    ConnectionProperties p;
    p.provider = QStringLiteral("SQLOLEDB.1");
    p.dataSource = dataSource;
    p.user = QStringLiteral("qel_gate");
    p.password = QStringLiteral("gate");
    p.database = QStringLiteral("qel");
    return p;
}

const OdbcDriver kDriver18{QStringLiteral("ODBC Driver 18 for SQL Server"), DriverFamily::MicrosoftOdbc};
const OdbcDriver kWindowsDriver{QStringLiteral("SQL Server"), DriverFamily::WindowsSqlServer};

} // namespace

class TestDbDrivers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void driverOfName_data();
    void driverOfName();
    void choice_data();
    void choice();
    void administratorsChoiceIsTheFilesFirstLine();
    void microsoftString_data();
    void microsoftString();
    void microsoftValuesAreCarriedWhole_data();
    void microsoftValuesAreCarriedWhole();
    void freeTdsStringKeepsItsForm();
};

void TestDbDrivers::driverOfName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("family");
    QTest::newRow("FreeTDS") << "FreeTDS" << int(DriverFamily::FreeTds);
    QTest::newRow("FreeTDS under another entry") << "FreeTDS 1.3" << int(DriverFamily::FreeTds);
    QTest::newRow("18") << "ODBC Driver 18 for SQL Server" << int(DriverFamily::MicrosoftOdbc);
    QTest::newRow("17") << "ODBC Driver 17 for SQL Server" << int(DriverFamily::MicrosoftOdbc);
    QTest::newRow("Windows' own") << "SQL Server" << int(DriverFamily::WindowsSqlServer);
    QTest::newRow("Windows' own in other letters") << "sql server" << int(DriverFamily::WindowsSqlServer);
    QTest::newRow("Native Client speaks Microsoft's keywords")
        << "SQL Server Native Client 11.0" << int(DriverFamily::MicrosoftOdbc);
}

void TestDbDrivers::driverOfName()
{
    QFETCH(QString, name);
    QFETCH(int, family);
    QCOMPARE(driverNamed(name), (OdbcDriver{name, DriverFamily(family)}));
}

void TestDbDrivers::choice_data()
{
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QString>("administrators");
    QTest::addColumn<QString>("chosen");
    const QString d18 = QStringLiteral("ODBC Driver 18 for SQL Server");
    const QString d17 = QStringLiteral("ODBC Driver 17 for SQL Server");
    const QString windows = QStringLiteral("SQL Server");
    const QString freeTds = QStringLiteral("FreeTDS");
    QTest::newRow("the administrator's, installed or not") << QStringList{d18, windows} << "My Driver"
                                                           << "My Driver";
#ifdef Q_OS_WIN
    QTest::newRow("18 before 17 and Windows' own") << QStringList{windows, d17, d18} << "" << d18;
    QTest::newRow("17 without 18") << QStringList{windows, d17} << "" << d17;
    QTest::newRow("Windows' own without Microsoft's") << QStringList{windows, freeTds} << "" << windows;
    QTest::newRow("FreeTDS where it is the only one (Wine)") << QStringList{freeTds} << "" << freeTds;
    QTest::newRow("none listed: Windows' own, which every Windows has") << QStringList{} << "" << windows;
#else
    QTest::newRow("FreeTDS, whatever else is there") << QStringList{d18, windows} << "" << freeTds;
    QTest::newRow("FreeTDS with nothing listed") << QStringList{} << "" << freeTds;
#endif
}

void TestDbDrivers::choice()
{
    QFETCH(QStringList, installed);
    QFETCH(QString, administrators);
    QFETCH(QString, chosen);
    QCOMPARE(chooseDriver(installed, administrators).name, chosen);
}

void TestDbDrivers::administratorsChoiceIsTheFilesFirstLine()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QCOMPARE(administratorsDriver(folder.path()), QString());
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("Data")));
    QFile file(folder.filePath(QStringLiteral("Data/odbc-driver")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("  ODBC Driver 17 for SQL Server \r\nFreeTDS\n");
    file.close();
    QCOMPARE(administratorsDriver(folder.path()), QStringLiteral("ODBC Driver 17 for SQL Server"));
}

void TestDbDrivers::microsoftString_data()
{
    QTest::addColumn<QString>("dataSource");
    QTest::addColumn<bool>("useEncryptionForData");
    QTest::addColumn<int>("workstation");
    QTest::addColumn<QString>("authority");
    QTest::addColumn<QString>("expected");
    const QString tail = QStringLiteral(";DATABASE=qel;UID=qel_gate;PWD=gate;");
    QTest::newRow("the login encrypted, no certificate checked")
        << "db01" << false << int(EncryptionSetting::Login) << ""
        << "DRIVER={ODBC Driver 18 for SQL Server};SERVER={tcp:db01,1433}" + tail +
               "Encrypt=no;TrustServerCertificate=yes;APP={QEL 31};";
    QTest::newRow("the login encrypted even with encryption off: the drivers always do")
        << "db01,1500" << false << int(EncryptionSetting::Off) << ""
        << "DRIVER={ODBC Driver 18 for SQL Server};SERVER={tcp:db01,1500}" + tail +
               "Encrypt=no;TrustServerCertificate=yes;APP={QEL 31};";
    QTest::newRow("everything encrypted, asked by the string")
        << "db01" << true << int(EncryptionSetting::Login) << ""
        << "DRIVER={ODBC Driver 18 for SQL Server};SERVER={tcp:db01,1433}" + tail +
               "Encrypt=yes;TrustServerCertificate=yes;APP={QEL 31};";
    QTest::newRow("everything encrypted, asked by the workstation")
        << "db01" << false << int(EncryptionSetting::All) << ""
        << "DRIVER={ODBC Driver 18 for SQL Server};SERVER={tcp:db01,1433}" + tail +
               "Encrypt=yes;TrustServerCertificate=yes;APP={QEL 31};";
    QTest::newRow("an authority: encrypted throughout and the certificate checked")
        << "sql01.example.edu" << false << int(EncryptionSetting::Login) << "C:\\QEL 31\\Data\\ca.pem"
        << "DRIVER={ODBC Driver 18 for SQL Server};SERVER={tcp:sql01.example.edu,1433}" + tail +
               "Encrypt=yes;TrustServerCertificate=no;APP={QEL 31};";
    QTest::newRow("a named instance: the driver asks the browser for its port")
        << "db01\\DEKANAT" << false << int(EncryptionSetting::Login) << ""
        << "DRIVER={ODBC Driver 18 for SQL Server};SERVER=db01\\DEKANAT" + tail +
               "Encrypt=no;TrustServerCertificate=yes;APP={QEL 31};";
}

void TestDbDrivers::microsoftString()
{
    QFETCH(QString, dataSource);
    QFETCH(bool, useEncryptionForData);
    QFETCH(int, workstation);
    QFETCH(QString, authority);
    QFETCH(QString, expected);
    ConnectionProperties p = properties(dataSource);
    p.encrypt = useEncryptionForData;
    p.encryption = EncryptionSetting(workstation);
    p.authorityFile = authority;
    QCOMPARE(odbcConnectionString(p, 30, kDriver18), expected);
    // Windows' own driver takes the same keywords.
    QCOMPARE(odbcConnectionString(p, 30, kWindowsDriver),
             QString(expected).replace(QStringLiteral("{ODBC Driver 18 for SQL Server}"),
                                       QStringLiteral("{SQL Server}")));
}

// Microsoft's grammar doubles a '}' inside braces, so every value arrives whole, "};" included, which
// FreeTDS could not carry.
void TestDbDrivers::microsoftValuesAreCarriedWhole_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("carried");
    QTest::newRow("plain") << "gate"
                           << "gate";
    QTest::newRow("a semicolon") << "ga;te"
                                 << "{ga;te}";
    QTest::newRow("braces") << "{ga}te"
                            << "{{ga}}te}";
    QTest::newRow("brace and semicolon") << "a};b"
                                         << "{a}};b}";
    QTest::newRow("an equals sign and blanks") << "a = b"
                                               << "{a = b}";
}

void TestDbDrivers::microsoftValuesAreCarriedWhole()
{
    QFETCH(QString, password);
    QFETCH(QString, carried);
    QCOMPARE(odbcValue(password, DriverFamily::MicrosoftOdbc), carried);
    ConnectionProperties p = properties(QStringLiteral("db01"));
    p.password = password;
    QVERIFY(odbcConnectionString(p, 0, kDriver18).contains(QStringLiteral(";PWD=") + carried + u';'));
}

void TestDbDrivers::freeTdsStringKeepsItsForm()
{
    const ConnectionProperties p = properties(QStringLiteral("db01,1500"));
    const QString expected = odbcConnectionString(p, 30);
    QVERIFY2(expected.startsWith(QStringLiteral("DRIVER={FreeTDS};SERVER=db01;PORT=1500;")),
             qPrintable(expected));
    QCOMPARE(odbcConnectionString(p, 30, driverNamed(QStringLiteral("FreeTDS"))), expected);
    QVERIFY(expected.contains(QStringLiteral(";Timeout=30;")));
}

QTEST_GUILESS_MAIN(TestDbDrivers)
#include "tst_db_drivers.moc"
