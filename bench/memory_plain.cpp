// The baseline of the memory benchmark: a plain Qt program that opens the connection through Qt SQL's
// ODBC driver (the same driver stack as the client: unixODBC, FreeTDS, and the same connection
// string), reads a group's students with one forward-only query into a list of names, shows them in
// a plain list view, then says its peak memory and ends. Any program that shows those rows from this
// server maps these libraries and holds these rows; what the client takes beyond that is its own.
//
// Arguments: the ODBC connection string, the statement (one '?' for the group) and the group's id.

#include "probe.h"

#include <QApplication>
#include <QListView>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringListModel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 4) {
        tellBenchmark("failed usage: bench_memory_plain CONNECTION STATEMENT GROUP_ID");
        return 2;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"));
    db.setDatabaseName(QString::fromUtf8(argv[1]));
    db.setConnectOptions(QStringLiteral("SQL_ATTR_ODBC_VERSION=SQL_OV_ODBC3"));
    if (!db.open()) {
        tellBenchmark("failed " + db.lastError().text().toUtf8());
        return 1;
    }
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QString::fromUtf8(argv[2]));
    query.addBindValue(QByteArray(argv[3]).toInt());
    if (!query.exec()) {
        tellBenchmark("failed " + query.lastError().text().toUtf8());
        return 1;
    }
    QList<int> keys;
    QStringList names;
    while (query.next()) {
        keys.append(query.value(0).toInt());
        names.append(query.value(1).toString());
    }
    query.finish();

    QStringListModel model(names);
    QListView view;
    view.viewport()->setObjectName(QStringLiteral("plainList"));
    view.setModel(&model);
    view.resize(497, 273);
    const FirstPaint painted(QStringLiteral("plainList"), [&keys] {
        tellBenchmark("rows " + QByteArray::number(keys.size()));
        tellBenchmark("peak-kb " + QByteArray::number(peakResidentKb()));
        QCoreApplication::quit();
    });
    view.show();
    return app.exec();
}
