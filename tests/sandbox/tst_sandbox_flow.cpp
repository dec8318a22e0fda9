// The flow of the sandbox's answers, through FreeTDS's ODBC driver (unixODBC directly), through tsql
// and in raw TDS: which errors end their statement and which the batch, a cancel that stops what has
// not yet run and keeps what ran, transactions refused, and the tokens of messages.

#include "checked.h"
#include "rawtds.h"
#include "sandbox/engine/demodata.h"
#include "sandbox/tds/sandboxserver.h"
#include "surface.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>
#include <QtEndian>

#include <sql.h>
#include <sqlext.h>

#include <memory>

using sandbox::Event;
using sandbox::EventKind;
using sandbox::SandboxServer;

namespace {

const QString Admin = QStringLiteral("qel_admin");
const QString AdminPassword = QStringLiteral("admin");

// What a statement's answer held, read to its end through every result.
struct Outcome {
    QList<int> errors;   // native numbers of the error diagnostics, in order
    QList<int> messages; // native numbers of the informational ones
    QStringList values;  // the first column of every row of every result
    QString text;        // every diagnostic's text
    bool failed = false; // a call returned SQL_ERROR
};

void collect(SQLSMALLINT kind, SQLHANDLE handle, SQLRETURN rc, Outcome &out)
{
    if (rc != SQL_ERROR && rc != SQL_SUCCESS_WITH_INFO)
        return;
    if (rc == SQL_ERROR)
        out.failed = true;
    SQLCHAR state[6], text[2048];
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    for (SQLSMALLINT i = 1;
         SQLGetDiagRecA(kind, handle, i, state, &native, text, sizeof text, &length) == SQL_SUCCESS; ++i) {
        const QString sqlState = QString::fromLatin1(reinterpret_cast<const char *>(state));
        (sqlState.startsWith(QLatin1String("01")) ? out.messages : out.errors).append(int(native));
        out.text += QString::fromUtf8(reinterpret_cast<const char *>(text)) + u'\n';
    }
}

// One ODBC connection through the FreeTDS driver, as the client connects.
class Odbc {
public:
    explicit Odbc(quint16 port)
    {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_env);
        SQLSetEnvAttr(m_env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, m_env, &m_dbc);
        const QByteArray connection =
            QStringLiteral("DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=%1;DATABASE=qel;UID=%2;PWD=%3;"
                           "TDS_Version=7.4;Encryption=off;ClientCharset=UTF-8")
                .arg(port)
                .arg(Admin, AdminPassword)
                .toUtf8();
        const SQLRETURN rc = SQLDriverConnectA(
            m_dbc, nullptr, reinterpret_cast<SQLCHAR *>(const_cast<char *>(connection.constData())),
            SQLSMALLINT(connection.size()), nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
        m_connected = SQL_SUCCEEDED(rc);
        Outcome out;
        collect(SQL_HANDLE_DBC, m_dbc, rc, out);
        m_error = out.text;
    }
    ~Odbc()
    {
        if (m_stmt)
            SQLFreeHandle(SQL_HANDLE_STMT, m_stmt);
        if (m_connected)
            SQLDisconnect(m_dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, m_env);
    }
    bool connected() const { return m_connected; }
    QString error() const { return m_error; }
    SQLHDBC dbc() const { return m_dbc; }

    // Starts the statement (with one int parameter unless it is null: then it travels as
    // sp_executesql) and reads its first answer's diagnostics.
    SQLRETURN start(const QString &sql, Outcome &out, std::optional<int> parameter = std::nullopt)
    {
        if (m_stmt)
            SQLFreeHandle(SQL_HANDLE_STMT, m_stmt);
        SQLAllocHandle(SQL_HANDLE_STMT, m_dbc, &m_stmt);
        m_parameter = parameter.value_or(0);
        if (parameter)
            SQLBindParameter(m_stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &m_parameter, 0,
                             nullptr);
        const QByteArray text = sql.toUtf8();
        const SQLRETURN rc =
            SQLExecDirectA(m_stmt, reinterpret_cast<SQLCHAR *>(const_cast<char *>(text.constData())),
                           SQLINTEGER(text.size()));
        collect(SQL_HANDLE_STMT, m_stmt, rc, out);
        return rc;
    }
    // Reads the current result's rows, then every further result, to the end.
    void readToEnd(SQLRETURN rc, Outcome &out)
    {
        for (int guard = 0; guard < 1000 && rc != SQL_NO_DATA && rc != SQL_INVALID_HANDLE; ++guard) {
            SQLSMALLINT columns = 0;
            SQLNumResultCols(m_stmt, &columns);
            while (columns > 0) {
                const SQLRETURN fetched = SQLFetch(m_stmt);
                collect(SQL_HANDLE_STMT, m_stmt, fetched, out);
                if (!SQL_SUCCEEDED(fetched))
                    break;
                char value[512] = {};
                SQLLEN length = 0;
                SQLGetData(m_stmt, 1, SQL_C_CHAR, value, sizeof value, &length);
                out.values << (length == SQL_NULL_DATA ? QStringLiteral("NULL") : QString::fromUtf8(value));
            }
            rc = SQLMoreResults(m_stmt);
            collect(SQL_HANDLE_STMT, m_stmt, rc, out);
        }
    }
    Outcome run(const QString &sql, std::optional<int> parameter = std::nullopt)
    {
        Outcome out;
        readToEnd(start(sql, out, parameter), out);
        return out;
    }
    SQLHSTMT stmt() const { return m_stmt; }

private:
    SQLHENV m_env = SQL_NULL_HENV;
    SQLHDBC m_dbc = SQL_NULL_HDBC;
    SQLHSTMT m_stmt = SQL_NULL_HSTMT;
    SQLINTEGER m_parameter = 0;
    bool m_connected = false;
    QString m_error;
};

// A batch's answer through the driver, as the surface table writes it (surface.h): each result's
// first column's type (the driver's SQL_DESC_TYPE_NAME) and first value, and each error.
QString surfaceAnswer(SQLHDBC dbc, const QString &sql)
{
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    QStringList out;
    // The errors of a call that failed: those of a runtime error come with the fetch.
    const auto errors = [&](SQLRETURN rc) {
        SQLCHAR state[6], message[2048];
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        static const QRegularExpression prefixes(QStringLiteral("^(\\[[^\\]]*\\])+"));
        for (SQLSMALLINT i = 1;
             rc == SQL_ERROR && SQLGetDiagRecA(SQL_HANDLE_STMT, stmt, i, state, &native, message,
                                               sizeof message, &length) == SQL_SUCCESS;
             ++i) {
            if (!QByteArray(reinterpret_cast<const char *>(state)).startsWith("01"))
                out << QStringLiteral("error %1: %2")
                           .arg(native)
                           .arg(QString::fromUtf8(reinterpret_cast<const char *>(message)).remove(prefixes));
        }
        return rc != SQL_ERROR;
    };
    const QByteArray text = sql.toUtf8();
    SQLRETURN rc = SQLExecDirectA(stmt, reinterpret_cast<SQLCHAR *>(const_cast<char *>(text.constData())),
                                  SQLINTEGER(text.size()));
    for (int guard = 0; guard < 100 && rc != SQL_NO_DATA && rc != SQL_INVALID_HANDLE; ++guard) {
        SQLSMALLINT columns = 0;
        if (errors(rc) && SQL_SUCCEEDED(SQLNumResultCols(stmt, &columns)) && columns > 0) {
            SQLCHAR typeName[128] = {};
            SQLColAttributeA(stmt, 1, SQL_DESC_TYPE_NAME, typeName, sizeof typeName, nullptr, nullptr);
            SQLLEN type = 0;
            SQLColAttributeA(stmt, 1, SQL_DESC_CONCISE_TYPE, nullptr, 0, nullptr, &type);
            QString value = QStringLiteral("(no rows)");
            const SQLRETURN fetched = SQLFetch(stmt);
            if (SQL_SUCCEEDED(fetched)) {
                char data[4096] = {};
                SQLLEN size = 0;
                SQLGetData(stmt, 1, SQL_C_CHAR, data, sizeof data, &size);
                value = size == SQL_NULL_DATA ? QStringLiteral("NULL") : QString::fromUtf8(data);
                if (type == SQL_BINARY || type == SQL_VARBINARY || type == SQL_LONGVARBINARY)
                    value = value.toUpper();
            }
            if (errors(fetched))
                out << QString::fromUtf8(reinterpret_cast<const char *>(typeName)) + u' ' + value;
        }
        rc = SQLMoreResults(stmt);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return out.join(QStringLiteral(" ; "));
}

QString runTsql(quint16 port, const QString &script)
{
    QProcess tsql;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TDSVER"), QStringLiteral("7.4"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    tsql.setProcessEnvironment(env);
    tsql.setProcessChannelMode(QProcess::MergedChannels);
    tsql.start(QStringLiteral("tsql"),
               {QStringLiteral("-H"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                QString::number(port), QStringLiteral("-U"), Admin, QStringLiteral("-P"), AdminPassword,
                QStringLiteral("-D"), QStringLiteral("qel")});
    if (!tsql.waitForStarted(Patience))
        return {};
    tsql.write(script.toUtf8());
    tsql.closeWriteChannel();
    if (!tsql.waitForFinished(Patience)) {
        tsql.kill();
        tsql.waitForFinished();
    }
    return QString::fromUtf8(tsql.readAll());
}

// A Transaction Manager request of the given type with its smallest body.
QByteArray transactionRequest(quint16 type)
{
    QByteArray body = allHeaders();
    char t[2];
    qToLittleEndian<quint16>(type, t);
    body.append(t, 2);
    if (type == 5)
        body += QByteArray::fromHex("0000"); // isolation level unchanged, no name
    else if (type == 7 || type == 8)
        body += QByteArray::fromHex("0000"); // no name, no new transaction
    else if (type == 9)
        body += QByteArray::fromHex("00");
    return packet(0x0E, body);
}

// The tokens of an answer that carry messages and environment changes, in a few words:
// "ENVCHANGE 1", "INFO 5701 class 0", "ERROR 50000 class 16", "LOGINACK", "DONE ERROR" (the DONE
// family as tokenWords gives it). Other tokens stop the reading.
QStringList messageWords(const QByteArray &answer)
{
    QStringList out;
    qsizetype i = 0;
    const auto u16 = [&](qsizetype at) { return qFromLittleEndian<quint16>(answer.constData() + at); };
    while (i + 3 <= answer.size()) {
        const quint8 token = quint8(answer[i]);
        if (token == 0xE3) {
            out << QStringLiteral("ENVCHANGE %1").arg(quint8(answer[i + 3]));
            i += 3 + u16(i + 1);
        } else if (token == 0xAA || token == 0xAB) {
            out << QStringLiteral("%1 %2 class %3")
                       .arg(token == 0xAA ? QStringLiteral("ERROR") : QStringLiteral("INFO"))
                       .arg(qFromLittleEndian<qint32>(answer.constData() + i + 3))
                       .arg(quint8(answer[i + 8]));
            i += 3 + u16(i + 1);
        } else if (token == 0xAD) {
            out << QStringLiteral("LOGINACK");
            i += 3 + u16(i + 1);
        } else if (token == 0xFD || token == 0xFE || token == 0xFF) {
            out += tokenWords(answer.mid(i, 13));
            i += 13;
        } else {
            break;
        }
    }
    return out;
}

// An RPC parameter: no name, input or output, an nvarchar or int value.
QByteArray nvarcharParameter(const QString &value)
{
    QByteArray p = QByteArray::fromHex("0000e7"); // no name, input, NVARCHAR
    const QByteArray bytes = ucs2(value);
    char n[2];
    qToLittleEndian<quint16>(quint16(qMax<qsizetype>(bytes.size(), 2)), n);
    p.append(n, 2);
    p += QByteArray::fromHex("0904d00034"); // collation
    qToLittleEndian<quint16>(quint16(bytes.size()), n);
    p.append(n, 2);
    return p + bytes;
}

QByteArray intParameter(qint32 value, bool output = false)
{
    QByteArray p = QByteArray::fromHex(output ? "00012604" : "00002604");
    char v[4];
    qToLittleEndian<qint32>(value, v);
    return p + QByteArray(1, 4) + QByteArray(v, 4);
}

// An RPC of a system procedure by its id, with the parameters given.
QByteArray rpcById(quint16 id, const QByteArray &parameters)
{
    QByteArray body = allHeaders() + QByteArray::fromHex("ffff");
    char v[2];
    qToLittleEndian<quint16>(id, v);
    body.append(v, 2);
    body += QByteArray(2, '\0'); // option flags
    return packet(0x03, body + parameters);
}

} // namespace

class TestSandboxFlow : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<SandboxServer> m_server;
    quint16 port() const { return m_server->port(); }

    QStringList rows()
    {
        QStringList out;
        for (const auto &row :
             m_server->engine().sqlite(QStringLiteral("SELECT v FROM flow ORDER BY id")).rows)
            out << sandbox::valueToText(row.value(0));
        return out;
    }
    qint64 monitor()
    {
        const auto rs =
            m_server->engine().sqlite(QStringLiteral("SELECT id_student FROM QELStudent WHERE id_group = %1")
                                          .arg(sandbox::demo::kMarkedGroup));
        return sandbox::valueToText(rs.rows.value(0).value(0)).toLongLong();
    }
    void signInRaw(QTcpSocket &socket) { ::signInRaw(socket, port(), Admin, AdminPassword); }

private Q_SLOTS:
    void initTestCase()
    {
        m_server = std::make_unique<SandboxServer>(QString(), true);
        QString error;
        QVERIFY2(m_server->start(QStringLiteral("127.0.0.1"), 0, &error), qPrintable(error));
        m_server->engine().sqlite(QStringLiteral("CREATE TABLE flow (id int NOT NULL PRIMARY KEY, "
                                                 "v varchar(5) NOT NULL)"));
        // The third row fails each runtime error: x divides by zero, b + 1 leaves int, t is no
        // number.
        m_server->engine().sqlite(QStringLiteral(
            "CREATE TABLE amid (id int NOT NULL PRIMARY KEY, x int, b int, t varchar(10)); "
            "INSERT INTO amid VALUES (1, 5, 1, '1'), (2, 2, 2, '2'), (3, 0, 2147483647, 'abc'), "
            "(4, 1, 4, '4')"));
    }

    void cleanupTestCase() { m_server.reset(); }

    void init()
    {
        m_server->clearFaults();
        m_server->clearEvents();
        m_server->engine().setProcedurePause(0);
        m_server->engine().sqlite(
            QStringLiteral("DELETE FROM flow; INSERT INTO flow (id, v) VALUES (1, 'one')"));
        m_server->engine().sqlite(QStringLiteral("DELETE FROM QELStudent WHERE id_group = %1; INSERT INTO "
                                                 "QELStudent (id_group, id_student) VALUES (%1, %2)")
                                      .arg(sandbox::demo::kMarkedGroup)
                                      .arg(sandbox::demo::kMarkedGroupMonitor));
    }

    // Errors that end their statement let the batch (and sp_executesql, and a procedure) go on;
    // those that end the batch stop it; XACT_ABORT ON makes every error but RAISERROR's end it.
    void errorsAndTheBatch_data()
    {
        QTest::addColumn<QString>("batch");
        QTest::addColumn<int>("parameter"); // -1: none; else sent as @P1 through sp_executesql
        QTest::addColumn<QList<int>>("errors");
        QTest::addColumn<QStringList>("stored"); // flow's v after the batch

        const QString after = QStringLiteral(" INSERT INTO flow (id, v) VALUES (9, 'after')");
        const QStringList goesOn{"one", "after"};
        const QStringList stops{"one"};
        QTest::newRow("2627 duplicate key")
            << "INSERT INTO flow (id, v) VALUES (1, 'dup')" + after << -1 << QList<int>{2627, 3621} << goesOn;
        QTest::newRow("515 NULL into NOT NULL")
            << "INSERT INTO flow (id, v) VALUES (2, NULL)" + after << -1 << QList<int>{515, 3621} << goesOn;
        QTest::newRow("truncation") << "INSERT INTO flow (id, v) VALUES (2, 'toolong')" + after << -1
                                    << QList<int>{2628, 3621} << goesOn;
        QTest::newRow("RAISERROR severity 16")
            << "RAISERROR('stop?', 16, 1)" + after << -1 << QList<int>{50000} << goesOn;
        QTest::newRow("a procedure's error")
            << QStringLiteral("EXEC CreateStarasta %1, 1").arg(sandbox::demo::kMarkedGroup) + after << -1
            << QList<int>{50000} << goesOn;
        QTest::newRow("inside sp_executesql")
            << "INSERT INTO flow (id, v) VALUES (?, 'dup')" + after << 1 << QList<int>{2627, 3621} << goesOn;
        QTest::newRow("220 tinyint overflow")
            << "INSERT INTO flow (id, v) VALUES (CAST(300 AS tinyint), 'big')" + after << -1
            << QList<int>{220, 3621} << goesOn;
        QTest::newRow("8114 conversion ends the batch")
            << "EXEC CreateStarasta 'x', 1" + after << -1 << QList<int>{8114} << stops;
        QTest::newRow("XACT_ABORT ON: 2627 ends the batch")
            << "SET XACT_ABORT ON INSERT INTO flow (id, v) VALUES (1, 'dup')" + after << -1
            << QList<int>{2627, 3621} << stops;
        QTest::newRow("XACT_ABORT ON: RAISERROR does not")
            << "SET XACT_ABORT ON RAISERROR('stop?', 16, 1)" + after << -1 << QList<int>{50000} << goesOn;
        QTest::newRow("XACT_ABORT ON: a procedure's RAISERROR does not")
            << QStringLiteral("SET XACT_ABORT ON EXEC CreateStarasta %1, 1")
                       .arg(sandbox::demo::kMarkedGroup) +
                   after
            << -1 << QList<int>{50000} << goesOn;
        QTest::newRow("XACT_ABORT OFF again")
            << "SET XACT_ABORT OFF INSERT INTO flow (id, v) VALUES (1, 'dup')" + after << -1
            << QList<int>{2627, 3621} << goesOn;
    }

    void errorsAndTheBatch()
    {
        QFETCH(QString, batch);
        QFETCH(int, parameter);
        QFETCH(QList<int>, errors);
        QFETCH(QStringList, stored);
        Odbc odbc(port());
        QVERIFY2(odbc.connected(), qPrintable(odbc.error()));
        const Outcome out = parameter < 0 ? odbc.run(batch) : odbc.run(batch, parameter);
        QVERIFY(out.failed);
        QList<int> all = out.errors + out.messages;
        std::sort(all.begin(), all.end());
        QCOMPARE(all, errors);
        QCOMPARE(rows(), stored);

        if (parameter >= 0)
            return; // tsql sends no parameters
        init();
        const QString output = runTsql(port(), batch + QStringLiteral("\ngo\nexit\n"));
        QVERIFY2(output.contains(QStringLiteral("Msg %1 ").arg(errors.first())), qPrintable(output));
        QCOMPARE(rows(), stored);
    }

    // CreateStarasta's error-then-store student through the driver: the error, then the store,
    // when the answer is read to its end; the ATTENTION of a cancel on the error stops the store
    // and the rest of the batch, and what ran before stays.
    void cancelOnTheError_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("read to the end") << false;
        QTest::newRow("cancelled on the error") << true;
    }

    void cancelOnTheError()
    {
        QFETCH(bool, cancel);
        using namespace sandbox::demo;
        m_server->engine().setProcedurePause(cancel ? 2 * Patience : 50);
        Odbc odbc(port());
        QVERIFY2(odbc.connected(), qPrintable(odbc.error()));
        m_server->clearEvents();
        Outcome out;
        SQLRETURN rc = odbc.start(QStringLiteral("INSERT INTO flow (id, v) VALUES (2, 'two') "
                                                 "EXEC CreateStarasta %1, %2 "
                                                 "INSERT INTO flow (id, v) VALUES (3, 'three')")
                                      .arg(kMarkedGroup)
                                      .arg(kErrorThenStoreStudent),
                                  out);
        QVERIFY(SQL_SUCCEEDED(rc)); // the first INSERT's count
        if (cancel) {
            while (rc != SQL_NO_DATA && !out.errors.contains(50000)) {
                rc = SQLMoreResults(odbc.stmt());
                collect(SQL_HANDLE_STMT, odbc.stmt(), rc, out);
            }
            QVERIFY2(out.errors.contains(50000), qPrintable(out.text));
            QVERIFY(SQL_SUCCEEDED(SQLCancel(odbc.stmt())));
            QCOMPARE(rows(), (QStringList{"one", "two"}));
            QCOMPARE(monitor(), qint64(kMarkedGroupMonitor));
            const auto attention = m_server->waitForEvent(
                [](const Event &e) { return e.kind == EventKind::Attention; }, Patience);
            QVERIFY(attention);
            QCOMPARE(attention->login, Admin);
        } else {
            odbc.readToEnd(rc, out);
            QVERIFY2(out.errors.contains(50000), qPrintable(out.text));
            QCOMPARE(rows(), (QStringList{"one", "two", "three"}));
            QCOMPARE(monitor(), qint64(kErrorThenStoreStudent));
            for (const Event &e : m_server->events())
                QVERIFY(e.kind != EventKind::Attention);
        }
        // The connection goes on.
        const Outcome next = odbc.run(QStringLiteral("SELECT 7"));
        QCOMPARE(next.values, QStringList{"7"});
    }

    // A request that waits (the error-then-store student's pause) holds no other connection up.
    void othersRunWhileARequestWaits()
    {
        using namespace sandbox::demo;
        m_server->engine().setProcedurePause(2 * Patience);
        QTcpSocket waiting;
        QEL31_CHECKED(signInRaw(waiting));
        waiting.write(rpcCall(QStringLiteral("CreateStarasta"), {kMarkedGroup, kErrorThenStoreStudent}));
        bool ended = false;
        readAnswerUntil(waiting, QStringLiteral("ERROR 50000"), &ended);
        QVERIFY(!ended);
        Odbc other(port());
        QVERIFY2(other.connected(), qPrintable(other.error()));
        const Outcome out =
            other.run(QStringLiteral("INSERT INTO flow (id, v) VALUES (2, 'two') SELECT COUNT(*) FROM flow"));
        QCOMPARE(out.values, QStringList{"2"});
        waiting.write(packet(0x06, QByteArray()));
        QCOMPARE(tokenWords(readAnswer(waiting)).last(), QStringLiteral("DONE ATTN"));
        QCOMPARE(monitor(), qint64(kMarkedGroupMonitor));
    }

    // A long result travels while it is written: an ATTENTION stops its rows, and the answer ends
    // with DONE_ATTN long before the rows would.
    void cancelALongResult()
    {
        m_server->engine().sqlite(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS wide (id int PRIMARY KEY, v varchar(200)); DELETE FROM wide; "
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
            "INSERT INTO wide SELECT i, printf('%0200d', i) FROM n"));
        // 100,000 rows of 200 bytes: more than the sockets' buffers hold, so the server is still
        // writing rows when the ATTENTION arrives, however late it reads it.
        const qsizetype whole = 100000 * 200;
        QTcpSocket socket;
        QEL31_CHECKED(signInRaw(socket));
        socket.write(packet(0x01, allHeaders() + ucs2(QStringLiteral("SELECT v FROM wide"))));
        socket.write(packet(0x06, QByteArray()));
        const QByteArray answer = readAnswer(socket);
        QVERIFY(answer.size() >= 13);
        QVERIFY(answer.size() < whole);
        QCOMPARE(tokenWords(answer.right(13)), QStringList{QStringLiteral("DONE ATTN")});
        socket.write(packet(0x01, allHeaders() + ucs2(QStringLiteral("SET NOCOUNT OFF"))));
        QCOMPARE(tokenWords(readAnswer(socket)), QStringList{QStringLiteral("DONE")});
        m_server->engine().sqlite(QStringLiteral("DROP TABLE wide"));
    }

    // A runtime error in the middle of a query's rows: its columns and the rows before the failing
    // one arrive, then the error and a DONE with the error bit and no count. An error that ends
    // only its statement lets the batch go on; a conversion error ends it. What the server refuses
    // before running (155) comes without columns.
    void errorsAmidRows_data()
    {
        QTest::addColumn<QString>("batch");
        QTest::addColumn<QStringList>("tokens");
        // Through the driver, the first column of every row. A batch whose first statement fails
        // before its first row fails the driver's execution itself, which reads no further result.
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QList<int>>("errors");

        const QString next = QStringLiteral(" SELECT 7");
        const QStringList nextTokens{"COLMETADATA 1", "ROW 7", "DONE COUNT 1"};
        QTest::newRow("8134 at the third row")
            << "SELECT 10 / x FROM amid ORDER BY id" + next
            << QStringList{"COLMETADATA 1", "ROW 2", "ROW 5", "ERROR 8134", "DONE MORE|ERROR"} + nextTokens
            << QStringList{"2", "5", "7"} << QList<int>{8134};
        QTest::newRow("8115 at the third row")
            << "SELECT b + 1, id FROM amid ORDER BY id" + next
            << QStringList{"COLMETADATA 2", "ROW 2,1", "ROW 3,2", "ERROR 8115", "DONE MORE|ERROR"} +
                   nextTokens
            << QStringList{"2", "3", "7"} << QList<int>{8115};
        QTest::newRow("245 at the third row ends the batch")
            << "SELECT CAST(t AS int) FROM amid ORDER BY id" + next
            << QStringList{"COLMETADATA 1", "ROW 1", "ROW 2", "ERROR 245", "DONE ERROR"}
            << QStringList{"1", "2"} << QList<int>{245};
        QTest::newRow("at the first row")
            << "SELECT 10 / (x - 5) FROM amid ORDER BY id" + next
            << QStringList{"COLMETADATA 1", "ERROR 8134", "DONE MORE|ERROR"} + nextTokens << QStringList{}
            << QList<int>{8134};
        QTest::newRow("in a WHERE, after the rows it let through")
            << "SELECT id FROM amid WHERE 10 / x > 0 ORDER BY id" + next
            << QStringList{"COLMETADATA 1", "ROW 1", "ROW 2", "ERROR 8134", "DONE MORE|ERROR"} + nextTokens
            << QStringList{"1", "2", "7"} << QList<int>{8134};
        QTest::newRow("refused before running")
            << "SELECT DATEADD(xx, x, GETDATE()) FROM amid" + next << QStringList{"ERROR 155", "DONE ERROR"}
            << QStringList{} << QList<int>{155};
    }

    void errorsAmidRows()
    {
        QFETCH(QString, batch);
        QFETCH(QStringList, tokens);
        QFETCH(QStringList, values);
        QFETCH(QList<int>, errors);
        QTcpSocket socket;
        QEL31_CHECKED(signInRaw(socket));
        socket.write(packet(0x01, allHeaders() + ucs2(batch)));
        QCOMPARE(tokenWords(readAnswer(socket)), tokens);

        Odbc odbc(port());
        QVERIFY2(odbc.connected(), qPrintable(odbc.error()));
        const Outcome out = odbc.run(batch);
        QVERIFY(out.failed);
        QCOMPARE(out.values, values);
        QCOMPARE(out.errors, errors);
    }

    // The same inside sp_executesql: the rows before the error, the error, DONEINPROC with its
    // error bit, and the call's end.
    void errorAmidRowsInAnRpc()
    {
        QTcpSocket socket;
        QEL31_CHECKED(signInRaw(socket));
        socket.write(rpcById(10, nvarcharParameter(QStringLiteral("SELECT 10 / x FROM amid ORDER BY id"))));
        QCOMPARE(tokenWords(readAnswer(socket)),
                 (QStringList{"COLMETADATA 1", "ROW 2", "ROW 5", "ERROR 8134", "DONEINPROC MORE|ERROR",
                              "RETURNSTATUS 1", "DONEPROC ERROR"}));
    }

    // A result without end (a cross join of a billion rows) travels as it is read: its first rows
    // arrive, a client that stops reading holds no other connection up, and an ATTENTION stops
    // the rows, answered with DONE_ATTN; the connection goes on.
    void cancelAResultWithoutEnd()
    {
        m_server->engine().sqlite(
            QStringLiteral("CREATE TABLE IF NOT EXISTS thousand (id int PRIMARY KEY); DELETE FROM thousand; "
                           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000) "
                           "INSERT INTO thousand SELECT i FROM n"));
        QTcpSocket socket;
        QEL31_CHECKED(signInRaw(socket));
        m_server->clearEvents();
        socket.write(packet(0x01, allHeaders() + ucs2(QStringLiteral("SELECT a.id FROM thousand a CROSS JOIN "
                                                                     "thousand b CROSS JOIN thousand c"))));
        bool ended = false;
        QByteArray answer = readAnswerUntil(socket, QStringLiteral("ROW 1"), &ended);
        QVERIFY(!ended);
        QCOMPARE(tokenWords(answer).value(0), QStringLiteral("COLMETADATA 1"));

        // This client reads nothing more; another one works meanwhile, on the same table too.
        Odbc other(port());
        QVERIFY2(other.connected(), qPrintable(other.error()));
        const Outcome out =
            other.run(QStringLiteral("INSERT INTO flow (id, v) VALUES (2, 'two') SELECT COUNT(*) FROM flow "
                                     "SELECT COUNT(*) FROM thousand"));
        QCOMPARE(out.values, (QStringList{"2", "1000"}));

        socket.write(packet(0x06, QByteArray()));
        answer += readAnswer(socket);
        QVERIFY(answer.size() >= 13);
        QCOMPARE(tokenWords(answer.right(13)), QStringList{QStringLiteral("DONE ATTN")});
        QVERIFY(
            m_server->waitForEvent([](const Event &e) { return e.kind == EventKind::Attention; }, Patience));
        socket.write(packet(0x01, allHeaders() + ucs2(QStringLiteral("SELECT 7"))));
        QCOMPARE(tokenWords(readAnswer(socket)), (QStringList{"COLMETADATA 1", "ROW 7", "DONE COUNT 1"}));
        m_server->engine().sqlite(QStringLiteral("DROP TABLE thousand"));
    }

    // A client that leaves in the middle of a result without end: the server closes the query,
    // so its table can be dropped again, and serves the others.
    void aClientLeavesAmidRows()
    {
        m_server->engine().sqlite(
            QStringLiteral("CREATE TABLE thousand (id int PRIMARY KEY); "
                           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000) "
                           "INSERT INTO thousand SELECT i FROM n"));
        {
            QTcpSocket socket;
            QEL31_CHECKED(signInRaw(socket));
            socket.write(packet(
                0x01, allHeaders() + ucs2(QStringLiteral("SELECT a.id FROM thousand a CROSS JOIN thousand b "
                                                         "CROSS JOIN thousand c"))));
            bool ended = false;
            readAnswerUntil(socket, QStringLiteral("ROW 1"), &ended);
            QVERIFY(!ended);
            socket.abort();
        }
        Odbc other(port());
        QVERIFY2(other.connected(), qPrintable(other.error()));
        // Refused with 40517 while the query is still open, done once the server has closed it.
        bool dropped = false;
        QTRY_VERIFY_WITH_TIMEOUT(
            dropped = dropped || !other.run(QStringLiteral("DROP TABLE thousand")).failed, Patience);
        QCOMPARE(other.run(QStringLiteral("SELECT 7")).values, QStringList{"7"});
    }

    // The surface's table through the driver: the same answers as through the engine alone.
    void surface_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("answer");
        for (const surface::Row &row : surface::kRows)
            if (row.throughDriver)
                QTest::newRow(row.name) << QString::fromUtf8(row.sql) << QString::fromUtf8(row.answer);
    }

    void surface()
    {
        QFETCH(QString, sql);
        QFETCH(QString, answer);
        Odbc odbc(port());
        QVERIFY2(odbc.connected(), qPrintable(odbc.error()));
        QCOMPARE(surfaceAnswer(odbc.dbc(), sql), answer);
    }

    // The driver's login asks for ODBC's defaults (fODBC), which make TEXTSIZE unlimited: a (max)
    // value arrives whole without any SET TEXTSIZE.
    void textSizeThroughTheDriver()
    {
        Odbc odbc(port());
        QVERIFY2(odbc.connected(), qPrintable(odbc.error()));
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        SQLAllocHandle(SQL_HANDLE_STMT, odbc.dbc(), &stmt);
        const QByteArray sql = QStringLiteral("SELECT '%1' AS v").arg(QString(9000, u'x')).toUtf8();
        QVERIFY(SQL_SUCCEEDED(SQLExecDirectA(
            stmt, reinterpret_cast<SQLCHAR *>(const_cast<char *>(sql.constData())), SQLINTEGER(sql.size()))));
        QVERIFY(SQL_SUCCEEDED(SQLFetch(stmt)));
        QByteArray value(20000, '\0');
        SQLLEN length = 0;
        QVERIFY(SQL_SUCCEEDED(SQLGetData(stmt, 1, SQL_C_CHAR, value.data(), value.size(), &length)));
        QCOMPARE(qint64(length), qint64(9000));
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    }

    // An aggregate that left out a NULL warns with 8153 through a server cursor as without one.
    void nullEliminatedThroughACursor()
    {
        m_server->engine().sqlite(
            QStringLiteral("CREATE TABLE IF NOT EXISTS holes (n int); DELETE FROM holes; "
                           "INSERT INTO holes VALUES (1), (NULL)"));
        Odbc odbc(port());
        QVERIFY2(odbc.connected(), qPrintable(odbc.error()));
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        SQLAllocHandle(SQL_HANDLE_STMT, odbc.dbc(), &stmt);
        QVERIFY(SQL_SUCCEEDED(
            SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_STATIC), 0)));
        const QByteArray sql("SELECT SUM(n) FROM holes");
        m_server->clearEvents();
        Outcome out;
        collect(SQL_HANDLE_STMT, stmt,
                SQLExecDirectA(stmt, reinterpret_cast<SQLCHAR *>(const_cast<char *>(sql.constData())),
                               SQLINTEGER(sql.size())),
                out);
        collect(SQL_HANDLE_STMT, stmt, SQLFetch(stmt), out);
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        QVERIFY2(out.messages.contains(8153), qPrintable(out.text));
        bool cursor = false;
        for (const sandbox::Event &e : m_server->events())
            cursor = cursor || e.statement.contains(QLatin1String("sp_cursoropen"), Qt::CaseInsensitive) ||
                     e.procedure == QLatin1String("sp_cursoropen");
        QVERIFY(cursor);
    }

    // A (max) value carries at most TEXTSIZE bytes: all of it for a session that never sets it
    // (FreeTDS sets the login's fODBC flag, which makes TEXTSIZE unlimited), what SET TEXTSIZE says
    // after it.
    void textSize_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("characters");
        const QString wide = QStringLiteral("N'%1'").arg(QString(6000, QChar(u'я')));
        const QString narrow = QStringLiteral("'%1'").arg(QString(9000, QChar(u'x')));
        QTest::newRow("nvarchar(max), never set") << "" << wide << 6000;
        QTest::newRow("varchar(max), never set") << "" << narrow << 9000;
        QTest::newRow("nvarchar(max), 100") << "SET TEXTSIZE 100" << wide << 50;
        QTest::newRow("varchar(max), 100") << "SET TEXTSIZE 100" << narrow << 100;
        QTest::newRow("0 restores the default") << "SET TEXTSIZE 100 SET TEXTSIZE 0" << narrow << 4096;
        QTest::newRow("the largest") << "SET TEXTSIZE 2147483647" << wide << 6000;
        QTest::newRow("a sized type is never cut") << ""
                                                   << "N'" + QString(3000, QChar(u'я')) + "'" << 3000;
    }

    void textSize()
    {
        QFETCH(QString, setting);
        QFETCH(QString, value);
        QFETCH(int, characters);
        const QString output = runTsql(port(), setting + QStringLiteral("\ngo\nSELECT ") + value +
                                                   QStringLiteral(" AS t\ngo\nexit\n"));
        const QChar letter = value.contains(u'я') ? QChar(u'я') : QChar(u'x');
        static const QRegularExpression run(QStringLiteral("(.)\\1{49,}"));
        qsizetype longest = 0;
        for (auto it = run.globalMatch(output); it.hasNext();) {
            const auto m = it.next();
            if (m.captured(1) == letter)
                longest = qMax(longest, m.capturedLength());
        }
        QCOMPARE(longest, qsizetype(characters));
    }

    // Messages' classes (severity 10 travels as 0) and the environment changes that come with them.
    void messagesAndEnvironment_data()
    {
        QTest::addColumn<QString>("batch");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("USE") << "USE qel" << QStringList{"ENVCHANGE 1", "INFO 5701 class 0", "DONE"};
        QTest::newRow("SET LANGUAGE us_english")
            << "SET LANGUAGE us_english" << QStringList{"ENVCHANGE 2", "INFO 5703 class 0", "DONE"};
        QTest::newRow("SET LANGUAGE of no words here")
            << "SET LANGUAGE Russian" << QStringList{"ERROR 40517 class 16", "DONE ERROR"};
        QTest::newRow("PRINT") << "PRINT 'p'" << QStringList{"INFO 0 class 0", "DONE"};
        QTest::newRow("RAISERROR severity 10")
            << "RAISERROR('x', 10, 1)" << QStringList{"INFO 50000 class 0", "DONE"};
        QTest::newRow("RAISERROR severity 5")
            << "RAISERROR('x', 5, 1)" << QStringList{"INFO 50000 class 5", "DONE"};
        QTest::newRow("RAISERROR severity 16")
            << "RAISERROR('x', 16, 1)" << QStringList{"ERROR 50000 class 16", "DONE ERROR"};
        QTest::newRow("a statement ended, the batch goes on")
            << "INSERT INTO flow (id, v) VALUES (1, 'dup') SELECT 1 WHERE 1 = 0"
            << QStringList{"ERROR 2627 class 14", "INFO 3621 class 0", "DONE MORE|ERROR"};
    }

    void messagesAndEnvironment()
    {
        QFETCH(QString, batch);
        QFETCH(QStringList, expected);
        QTcpSocket socket;
        QEL31_CHECKED(signInRaw(socket));
        socket.write(packet(0x01, allHeaders() + ucs2(batch)));
        QCOMPARE(messageWords(readAnswer(socket)).mid(0, expected.size()), expected);
    }

    // LOGINACK acknowledges the TDS version the client asked for, up to 7.4, and names the program
    // as the server does; the pre-login answer carries SPID 0, the login's answer a session's.
    void loginAcknowledgement_data()
    {
        QTest::addColumn<quint32>("requested");
        QTest::addColumn<quint32>("acknowledged");
        QTest::newRow("7.1") << quint32(0x71000001) << quint32(0x71000001);
        QTest::newRow("7.2") << quint32(0x72090002) << quint32(0x72090002);
        QTest::newRow("7.3A") << quint32(0x730A0003) << quint32(0x730A0003);
        QTest::newRow("7.3B") << quint32(0x730B0003) << quint32(0x730B0003);
        QTest::newRow("7.4") << quint32(0x74000004) << quint32(0x74000004);
        QTest::newRow("above 7.4") << quint32(0x75000000) << quint32(0x74000004);
    }

    void loginAcknowledgement()
    {
        QFETCH(quint32, requested);
        QFETCH(quint32, acknowledged);
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), port());
        QVERIFY(socket.waitForConnected(Patience));
        socket.write(packet(0x12, preLogin()));
        while (socket.bytesAvailable() < 8)
            QVERIFY(socket.waitForReadyRead(Patience));
        const QByteArray header = socket.peek(8);
        QCOMPARE(qFromBigEndian<quint16>(header.constData() + 4), quint16(0));
        QVERIFY(!readAnswer(socket).isEmpty());
        QByteArray login = login7(Admin, AdminPassword, QStringLiteral("qel"));
        qToLittleEndian<quint32>(requested, login.data() + 4);
        socket.write(packet(0x10, login));
        while (socket.bytesAvailable() < 8)
            QVERIFY(socket.waitForReadyRead(Patience));
        QVERIFY(qFromBigEndian<quint16>(socket.peek(8).constData() + 4) != 0);
        const QByteArray answer = readAnswer(socket);
        const qsizetype at = answer.indexOf(char(0xAD));
        QVERIFY(at >= 0 && messageWords(answer).contains(QStringLiteral("LOGINACK")));
        QCOMPARE(qFromBigEndian<quint32>(answer.constData() + at + 4), acknowledged);
        const int nameLength = quint8(answer[at + 8]);
        QString name;
        for (int k = 0; k < nameLength; ++k)
            name += QChar(qFromLittleEndian<quint16>(answer.constData() + at + 9 + 2 * k));
        QCOMPARE(name, QStringLiteral("Microsoft SQL Server") + QString(2, QChar(0)));
    }

    // The sandbox answers in us_english only: a login that asks for another language is refused,
    // not answered in English words and the English date format.
    void loginLanguage_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("none") << QString() << true;
        QTest::newRow("us_english") << QStringLiteral("us_english") << true;
        QTest::newRow("written in capitals") << QStringLiteral("US_ENGLISH") << true;
        QTest::newRow("Deutsch") << QStringLiteral("Deutsch") << false;
        QTest::newRow("русский") << QStringLiteral("русский") << false;
    }

    void loginLanguage()
    {
        QFETCH(QString, language);
        QFETCH(bool, accepted);
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), port());
        QVERIFY(socket.waitForConnected(Patience));
        socket.write(packet(0x12, preLogin()));
        QVERIFY(!readAnswer(socket).isEmpty());
        socket.write(packet(0x10, login7(Admin, AdminPassword, QStringLiteral("qel"), language)));
        const QStringList words = messageWords(readAnswer(socket));
        if (accepted) {
            QVERIFY2(words.contains(QStringLiteral("LOGINACK")), qPrintable(words.join(u',')));
            return;
        }
        QCOMPARE(words, (QStringList{QStringLiteral("ERROR 40517 class 16"),
                                     QStringLiteral("ERROR 18456 class 14"), QStringLiteral("DONE ERROR")}));
    }

    // A request whose last packet has the IGNORE bit is not run; the answer is one DONE with its
    // error bit, and the connection goes on.
    void ignoreBit()
    {
        QTcpSocket socket;
        QEL31_CHECKED(signInRaw(socket));
        socket.write(packet(
            0x01, allHeaders() + ucs2(QStringLiteral("INSERT INTO flow (id, v) VALUES (5, 'five')")), 0x03));
        QCOMPARE(tokenWords(readAnswer(socket)), QStringList{QStringLiteral("DONE ERROR")});
        QCOMPARE(rows(), QStringList{"one"});
        socket.write(packet(0x01, allHeaders() + ucs2(QStringLiteral("SET NOCOUNT OFF"))));
        QCOMPARE(tokenWords(readAnswer(socket)), QStringList{QStringLiteral("DONE")});
    }

    // sp_datatype_info_100 answers by @ODBCVer: ODBC 2's column names by default, ODBC 3's for 3;
    // the driver gives an ODBC 3 program ODBC 3's names either way.
    void typeInfoByOdbcVersion_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("size");
        QTest::addColumn<qint64>("datetime");
        QTest::newRow("ODBC 2 by default") << "EXEC sp_datatype_info_100 0"
                                           << "PRECISION" << qint64(11);
        QTest::newRow("ODBC 2") << "EXEC sp_datatype_info_100 0, @ODBCVer = 2"
                                << "PRECISION" << qint64(11);
        QTest::newRow("ODBC 3") << "EXEC sp_datatype_info_100 0, @ODBCVer = 3"
                                << "COLUMN_SIZE" << qint64(93);
    }

    void typeInfoByOdbcVersion()
    {
        QFETCH(QString, call);
        QFETCH(QString, size);
        QFETCH(qint64, datetime);
        sandbox::Session session;
        session.login = Admin;
        const sandbox::BatchResult result = m_server->engine().execute(session, call);
        QCOMPARE(result.statements.size(), 1);
        QCOMPARE(result.statements[0].inner.size(), size_t(1));
        const sandbox::ResultSet &rs = *result.statements[0].inner[0].resultSet;
        QCOMPARE(rs.columns[2].name, size);
        QCOMPARE(rs.columns[10].name, size == QLatin1String("PRECISION")
                                          ? QStringLiteral("MONEY")
                                          : QStringLiteral("FIXED_PREC_SCALE"));
        QCOMPARE(rs.columns[11].name, size == QLatin1String("PRECISION")
                                          ? QStringLiteral("AUTO_INCREMENT")
                                          : QStringLiteral("AUTO_UNIQUE_VALUE"));
        bool found = false;
        for (const auto &row : rs.rows)
            found = found || (sandbox::valueToText(row[0]) == QLatin1String("datetime") &&
                              std::get<qint64>(row[1]) == datetime);
        QVERIFY(found);

        Odbc odbc(port());
        QVERIFY2(odbc.connected(), qPrintable(odbc.error()));
        Outcome out;
        odbc.start(QStringLiteral("SELECT 1"), out);
        SQLFreeStmt(odbc.stmt(), SQL_CLOSE);
        QVERIFY(SQL_SUCCEEDED(SQLGetTypeInfo(odbc.stmt(), SQL_ALL_TYPES)));
        SQLCHAR name[64];
        SQLSMALLINT length = 0;
        QVERIFY(SQL_SUCCEEDED(
            SQLColAttributeA(odbc.stmt(), 3, SQL_DESC_NAME, name, sizeof name, &length, nullptr)));
        QCOMPARE(QString::fromLatin1(reinterpret_cast<const char *>(name)), QStringLiteral("COLUMN_SIZE"));
        odbc.readToEnd(SQL_SUCCESS, out);
    }

    // sp_cursorfetch FIRST with nrows 0 fetches no row and positions before the first one: NEXT
    // then gives the first row.
    void cursorFetchOfNoRows()
    {
        QTcpSocket socket;
        QEL31_CHECKED(signInRaw(socket));
        // A fresh connection's first cursor has the number the server starts from.
        const qint32 cursor = 180150000;
        socket.write(
            rpcById(2, intParameter(0, true) + nvarcharParameter(QStringLiteral("SELECT v FROM flow")) +
                           intParameter(0x10, true) + intParameter(1, true) + intParameter(0, true)));
        QVERIFY(readAnswer(socket).contains(QByteArray::fromHex("79") + QByteArray(4, '\0'))); // status 0
        const QByteArray none = QByteArray::fromHex("ff1100c100") + QByteArray(8, '\0');
        const QByteArray one = QByteArray::fromHex("ff1100c10001") + QByteArray(7, '\0');
        socket.write(
            rpcById(7, intParameter(cursor) + intParameter(0x01) + intParameter(0) + intParameter(0)));
        QVERIFY(readAnswer(socket).contains(none));
        socket.write(
            rpcById(7, intParameter(cursor) + intParameter(0x02) + intParameter(0) + intParameter(1)));
        QVERIFY(readAnswer(socket).contains(one));
    }

    // Transactions are refused, never pretended: each request of the Transaction Manager and each
    // T-SQL transaction statement gets error 40517 and a DONE with its error bit.
    void transactionsRefused_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("named");
        QTest::newRow("begin") << transactionRequest(5) << "BEGIN TRANSACTION";
        QTest::newRow("commit") << transactionRequest(7) << "COMMIT TRANSACTION";
        QTest::newRow("rollback") << transactionRequest(8) << "ROLLBACK TRANSACTION";
        QTest::newRow("save") << transactionRequest(9) << "SAVE TRANSACTION";
        QTest::newRow("distributed") << transactionRequest(0) << "DISTRIBUTED TRANSACTION";
        QTest::newRow("T-SQL BEGIN TRAN")
            << packet(0x01, allHeaders() + ucs2(QStringLiteral("BEGIN TRAN"))) << "BEGIN";
        QTest::newRow("T-SQL COMMIT")
            << packet(0x01, allHeaders() + ucs2(QStringLiteral("COMMIT"))) << "COMMIT";
        QTest::newRow("T-SQL ROLLBACK TRANSACTION")
            << packet(0x01, allHeaders() + ucs2(QStringLiteral("ROLLBACK TRANSACTION"))) << "ROLLBACK";
    }

    void transactionsRefused()
    {
        QFETCH(QByteArray, request);
        QFETCH(QString, named);
        QTcpSocket socket;
        QEL31_CHECKED(signInRaw(socket));
        socket.write(request);
        const QByteArray answer = readAnswer(socket);
        QCOMPARE(tokenWords(answer), (QStringList{"ERROR 40517", "DONE ERROR"}));
        QVERIFY(answer.contains(ucs2(QStringLiteral("'%1'").arg(named))));
    }

    // What FreeTDS's ODBC driver makes of the refusal: turning autocommit off fails with the
    // server's error, and the connection goes on in autocommit.
    void autocommitOffRefused()
    {
        Odbc odbc(port());
        QVERIFY2(odbc.connected(), qPrintable(odbc.error()));
        const SQLRETURN rc =
            SQLSetConnectAttr(odbc.dbc(), SQL_ATTR_AUTOCOMMIT,
                              reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), SQL_IS_UINTEGER);
        Outcome out;
        collect(SQL_HANDLE_DBC, odbc.dbc(), rc, out);
        QVERIFY(!SQL_SUCCEEDED(rc));
        QVERIFY2(out.errors.contains(40517), qPrintable(out.text));
        QVERIFY2(out.text.contains(QLatin1String("BEGIN TRANSACTION")), qPrintable(out.text));
        const Outcome insert = odbc.run(QStringLiteral("INSERT INTO flow (id, v) VALUES (2, 'two')"));
        QVERIFY2(!insert.failed, qPrintable(insert.text));
        QCOMPARE(rows(), (QStringList{"one", "two"}));
    }
};

QTEST_GUILESS_MAIN(TestSandboxFlow)
#include "tst_sandbox_flow.moc"
