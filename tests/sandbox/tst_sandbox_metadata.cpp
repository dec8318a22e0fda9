// What the ODBC driver itself reports for the columns the client reads, asked through unixODBC
// directly (SQLDescribeCol and SQLColAttribute), with no Qt in between: the declared type and
// width of each column, as the server announces them, whatever the values.

#include "sandbox/engine/demodata.h"
#include "sandbox/tds/sandboxserver.h"

#include <QTest>

#include <sql.h>
#include <sqlext.h>

#include <memory>

using sandbox::SandboxServer;

namespace {

struct Described {
    QString name;
    int type = 0;      // SQL_VARCHAR, SQL_WVARCHAR, SQL_INTEGER, ...
    qint64 size = 0;   // characters, from SQLDescribeCol
    qint64 octets = 0; // SQL_DESC_OCTET_LENGTH
    QString typeName;  // SQL_DESC_TYPE_NAME
    int nullable = SQL_NULLABLE_UNKNOWN;
    bool ok = false;
    QString error;
};

QString diagnostics(SQLSMALLINT kind, SQLHANDLE handle)
{
    QString out;
    SQLCHAR state[6], text[1024];
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    for (SQLSMALLINT i = 1;
         SQLGetDiagRecA(kind, handle, i, state, &native, text, sizeof text, &length) == SQL_SUCCESS; ++i)
        out += QString::fromUtf8(reinterpret_cast<const char *>(text)) + u' ';
    return out;
}

// One ODBC connection through the FreeTDS driver, as the client connects.
class OdbcConnection {
public:
    OdbcConnection(quint16 port, const QString &user, const QString &password)
    {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_env);
        SQLSetEnvAttr(m_env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, m_env, &m_dbc);
        const QByteArray connection =
            QStringLiteral("DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=%1;DATABASE=qel;UID=%2;PWD={%3};"
                           "TDS_Version=7.4;Encryption=off;ClientCharset=UTF-8")
                .arg(port)
                .arg(user, password)
                .toUtf8();
        const SQLRETURN rc = SQLDriverConnectA(
            m_dbc, nullptr, reinterpret_cast<SQLCHAR *>(const_cast<char *>(connection.constData())),
            SQLSMALLINT(connection.size()), nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
        m_connected = SQL_SUCCEEDED(rc);
        if (!m_connected)
            m_error = diagnostics(SQL_HANDLE_DBC, m_dbc);
    }
    ~OdbcConnection()
    {
        if (m_connected)
            SQLDisconnect(m_dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, m_env);
    }
    bool connected() const { return m_connected; }
    QString error() const { return m_error; }

    // Runs the statement and describes the column (0-based) of its first result.
    Described describe(const QString &statement, int column)
    {
        Described d;
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        SQLAllocHandle(SQL_HANDLE_STMT, m_dbc, &stmt);
        const QByteArray sql = statement.toUtf8();
        SQLRETURN rc = SQLExecDirectA(stmt, reinterpret_cast<SQLCHAR *>(const_cast<char *>(sql.constData())),
                                      SQLINTEGER(sql.size()));
        // A procedure's row counts come first: move on to its result set.
        SQLSMALLINT columns = 0;
        while (SQL_SUCCEEDED(rc) && SQL_SUCCEEDED(SQLNumResultCols(stmt, &columns)) && columns == 0)
            rc = SQLMoreResults(stmt);
        if (!SQL_SUCCEEDED(rc) || columns <= column) {
            d.error = diagnostics(SQL_HANDLE_STMT, stmt) + QStringLiteral("(%1 columns)").arg(columns);
            SQLFreeHandle(SQL_HANDLE_STMT, stmt);
            return d;
        }
        SQLCHAR name[256];
        SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        SQLDescribeColA(stmt, SQLUSMALLINT(column + 1), name, sizeof name, &nameLength, &type, &size, &digits,
                        &nullable);
        d.name = QString::fromUtf8(reinterpret_cast<const char *>(name), nameLength);
        d.type = type;
        d.size = qint64(size);
        d.nullable = nullable;
        SQLLEN octets = 0;
        SQLColAttributeA(stmt, SQLUSMALLINT(column + 1), SQL_DESC_OCTET_LENGTH, nullptr, 0, nullptr, &octets);
        d.octets = octets;
        SQLCHAR typeName[128];
        SQLSMALLINT typeNameLength = 0;
        SQLColAttributeA(stmt, SQLUSMALLINT(column + 1), SQL_DESC_TYPE_NAME, typeName, sizeof typeName,
                         &typeNameLength, nullptr);
        d.typeName = QString::fromUtf8(reinterpret_cast<const char *>(typeName));
        d.ok = true;
        SQLCloseCursor(stmt);
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return d;
    }

private:
    SQLHENV m_env = SQL_NULL_HENV;
    SQLHDBC m_dbc = SQL_NULL_HDBC;
    bool m_connected = false;
    QString m_error;
};

} // namespace

class TestSandboxMetadata : public QObject {
    Q_OBJECT

    std::unique_ptr<SandboxServer> m_server;

private Q_SLOTS:
    void initTestCase()
    {
        m_server = std::make_unique<SandboxServer>(QString(), true);
        QString error;
        QVERIFY2(m_server->start(QStringLiteral("127.0.0.1"), 0, &error), qPrintable(error));
        m_server->engine().sqlite(QStringLiteral(
            "CREATE TABLE declared (i int NOT NULL, ni int, b bigint, s smallint NOT NULL, t tinyint, bt "
            "bit, "
            "r real, f float NOT NULL, d datetime, dd date, c char(3) NOT NULL, w nchar(2), v varchar(7), "
            "nv nvarchar(9) NOT NULL)"));
    }

    void cleanupTestCase() { m_server.reset(); }

    void columns_data()
    {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("typeName");
        QTest::addColumn<int>("size");

        const QString faculty = QStringLiteral("SELECT faculty.* FROM faculty INNER JOIN user_faculty ON "
                                               "faculty.id_faculty = user_faculty.faculty "
                                               "WHERE user_faculty.id_login = 12 ORDER BY [p23-2]");
        QTest::newRow("faculty id") << faculty << 0 << "id_faculty" << int(SQL_INTEGER) << "int" << 10;
        QTest::newRow("faculty name") << faculty << 1 << "p23-1" << int(SQL_VARCHAR) << "varchar" << 150;
        QTest::newRow("faculty sort key") << faculty << 2 << "p23-2" << int(SQL_INTEGER) << "int" << 10;
        QTest::newRow("faculty short name") << faculty << 3 << "p23-3" << int(SQL_VARCHAR) << "varchar" << 20;
        QTest::newRow("year") << "SELECT id_a_year, p32 FROM a_year" << 1 << "p32" << int(SQL_VARCHAR)
                              << "varchar" << 9;
        const QString groups = QStringLiteral("SELECT g_r_y.id_group, [group].p20 FROM g_r_y, [group] WHERE "
                                              "g_r_y.id_group = [group].id_group AND g_r_y.id_a_year = 4 AND "
                                              "[group].id_faculty = 1 ORDER BY [group].p20");
        QTest::newRow("group id") << groups << 0 << "id_group" << int(SQL_INTEGER) << "int" << 10;
        QTest::newRow("group name") << groups << 1 << "p20" << int(SQL_VARCHAR) << "varchar" << 30;
        // The marked group holds names of the full 100 characters: still varchar(100).
        const QString students = QStringLiteral("SELECT s_g.id_student, s_fio.s_fio FROM s_g, s_fio WHERE "
                                                "s_g.id_student = s_fio.id_student AND s_g.id_group = %1")
                                     .arg(sandbox::demo::kMarkedGroup);
        QTest::newRow("student id") << students << 0 << "id_student" << int(SQL_INTEGER) << "int" << 10;
        QTest::newRow("student name") << students << 1 << "s_fio" << int(SQL_VARCHAR) << "varchar" << 100;
        QTest::newRow("monitor name")
            << QStringLiteral("SELECT TOP 1 QELStudent.id_student, s_fio.s_fio FROM QELStudent, s_fio WHERE "
                              "QELStudent.id_student = s_fio.id_student AND QELStudent.id_group = 3")
            << 1 << "s_fio" << int(SQL_VARCHAR) << "varchar" << 100;
        QTest::newRow("varchar literal")
            << "SELECT 'abc' AS t" << 0 << "t" << int(SQL_VARCHAR) << "varchar" << 3;
        QTest::newRow("nvarchar literal")
            << "SELECT N'абв' AS t" << 0 << "t" << int(SQL_WVARCHAR) << "nvarchar" << 3;
        QTest::newRow("concatenation") << "SELECT p20 + ' / ' + p20 AS t FROM [group]" << 0 << "t"
                                       << int(SQL_VARCHAR) << "varchar" << 63;
        QTest::newRow("int literal") << "SELECT 7 AS t" << 0 << "t" << int(SQL_INTEGER) << "int" << 10;
        QTest::newRow("unnamed expression")
            << "SELECT 'abc'" << 0 << "" << int(SQL_VARCHAR) << "varchar" << 3;
        // A (max) type: a width of 0, "unlimited".
        QTest::newRow("nvarchar(max)")
            << "SELECT CAST(N'x' AS nvarchar(max)) AS t" << 0 << "t" << int(SQL_WVARCHAR) << "nvarchar" << 0;
    }

    void columns()
    {
        QFETCH(QString, statement);
        QFETCH(int, column);
        QFETCH(QString, name);
        QFETCH(int, type);
        QFETCH(QString, typeName);
        QFETCH(int, size);
        OdbcConnection odbc(m_server->port(), QStringLiteral("qel_admin"), QStringLiteral("admin"));
        QVERIFY2(odbc.connected(), qPrintable(odbc.error()));
        const Described d = odbc.describe(statement, column);
        QVERIFY2(d.ok, qPrintable(d.error));
        QCOMPARE(d.name, name);
        QCOMPARE(d.type, type);
        QCOMPARE(d.typeName, typeName);
        QCOMPARE(d.size, qint64(size));
    }

    // Each type announced as declared, with whether it may hold NULL.
    void declaredTypes_data()
    {
        QTest::addColumn<QString>("column");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("typeName");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("nullable");

        QTest::newRow("int NOT NULL") << "i" << int(SQL_INTEGER) << "int" << 10 << int(SQL_NO_NULLS);
        QTest::newRow("int") << "ni" << int(SQL_INTEGER) << "int" << 10 << int(SQL_NULLABLE);
        QTest::newRow("bigint") << "b" << int(SQL_BIGINT) << "bigint" << 19 << int(SQL_NULLABLE);
        QTest::newRow("smallint NOT NULL")
            << "s" << int(SQL_SMALLINT) << "smallint" << 5 << int(SQL_NO_NULLS);
        QTest::newRow("tinyint") << "t" << int(SQL_TINYINT) << "tinyint" << 3 << int(SQL_NULLABLE);
        QTest::newRow("bit") << "bt" << int(SQL_BIT) << "bit" << 1 << int(SQL_NULLABLE);
        QTest::newRow("real") << "r" << int(SQL_REAL) << "real" << 24 << int(SQL_NULLABLE);
        // FreeTDS's driver reports an 8-byte float as SQL_DOUBLE.
        QTest::newRow("float NOT NULL") << "f" << int(SQL_DOUBLE) << "float" << 53 << int(SQL_NO_NULLS);
        QTest::newRow("datetime") << "d" << int(SQL_TYPE_TIMESTAMP) << "datetime" << 23 << int(SQL_NULLABLE);
        QTest::newRow("date") << "dd" << int(SQL_TYPE_DATE) << "date" << 10 << int(SQL_NULLABLE);
        QTest::newRow("char NOT NULL") << "c" << int(SQL_CHAR) << "char" << 3 << int(SQL_NO_NULLS);
        QTest::newRow("nchar") << "w" << int(SQL_WCHAR) << "nchar" << 2 << int(SQL_NULLABLE);
        QTest::newRow("varchar") << "v" << int(SQL_VARCHAR) << "varchar" << 7 << int(SQL_NULLABLE);
        QTest::newRow("nvarchar NOT NULL")
            << "nv" << int(SQL_WVARCHAR) << "nvarchar" << 9 << int(SQL_NO_NULLS);
    }

    void declaredTypes()
    {
        QFETCH(QString, column);
        QFETCH(int, type);
        QFETCH(QString, typeName);
        QFETCH(int, size);
        QFETCH(int, nullable);
        OdbcConnection odbc(m_server->port(), QStringLiteral("qel_admin"), QStringLiteral("admin"));
        QVERIFY2(odbc.connected(), qPrintable(odbc.error()));
        const Described d = odbc.describe(QStringLiteral("SELECT %1 FROM declared").arg(column), 0);
        QVERIFY2(d.ok, qPrintable(d.error));
        QCOMPARE(d.name, column);
        QCOMPARE(d.type, type);
        QCOMPARE(d.typeName, typeName);
        QCOMPARE(d.size, qint64(size));
        QCOMPARE(d.nullable, nullable);
    }

    // A name of the full width takes 100 bytes in Windows-1251, which the column announces.
    void longestNameFitsTheAnnouncedWidth()
    {
        OdbcConnection odbc(m_server->port(), QStringLiteral("qel_admin"), QStringLiteral("admin"));
        QVERIFY2(odbc.connected(), qPrintable(odbc.error()));
        const Described d = odbc.describe(QStringLiteral("SELECT s_fio FROM s_fio WHERE id_student = %1")
                                              .arg(sandbox::demo::kLongNameStudent),
                                          0);
        QVERIFY2(d.ok, qPrintable(d.error));
        QCOMPARE(d.size, qint64(100));
        QCOMPARE(d.octets, qint64(100));
    }
};

QTEST_GUILESS_MAIN(TestSandboxMetadata)
#include "tst_sandbox_metadata.moc"
