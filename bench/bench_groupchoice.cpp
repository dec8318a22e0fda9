// Group choice: from the choice of a group to its students and its monitor shown, through the main
// window's handler and its lists, against fetching the same two statements with plain Qt SQL
// forward-only queries on a connection of their own with the same account, through the same
// driver. Groups of 30, 2,000 and 20,000 students.

#include "app/application.h"
#include "common/error.h"
#include "db/adoquery.h"
#include "db/dm.h"
#include "db/statement.h"
#include "figures.h"
#include "fixture.h"
#include "registration/dblookupcombobox.h"
#include "registration/dblookuplistbox.h"
#include "registration/unit1.h"
#include "signin/connectwith.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <benchmark/benchmark.h>

namespace {

const QString kPlainConnection = QStringLiteral("plain");

// The statement of a query as the client sends it: markers replaced by '?'.
QString sentText(const TADOQuery &query)
{
    return replaceParameterMarkers(query.commandText()).text;
}

// Runs a statement with one integer parameter and reads every value of every row.
void fetchPlain(const QSqlDatabase &db, const QString &text, qint32 value)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(text))
        benchFailure(query.lastError().text());
    query.addBindValue(value);
    if (!query.exec())
        benchFailure(query.lastError().text());
    qint64 seen = 0;
    while (query.next()) {
        seen += query.value(0).isNull() ? 0 : 1;
        seen += query.value(1).isNull() ? 0 : 1;
    }
    if (query.lastError().isValid())
        benchFailure(query.lastError().text());
    benchmark::DoNotOptimize(seen);
}

} // namespace

int main(int argc, char *argv[])
{
    GuiApplication app(argc, argv);
    TApplication application;
    BenchServer server;
    TDM_MB dm;
    TForm1 window;
    Form1 = &window;
    window.show();
    try {
        ConnectWith(dm.ADOCon, {demo::kAccount, demo::kAccountPassword, demo::kDatabase, server.address()});
    } catch (const Error &error) {
        benchFailure(error.message());
    }
    {
        QSqlDatabase plain = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), kPlainConnection);
        server.openPlain(plain, demo::kAccount, demo::kAccountPassword);
    }

    return runBenchmarks(argc, argv, [&] {
        const QList<int> sizes = benchOptions().tiny ? QList<int>{30} : QList<int>{30, 2000, 20000};
        for (int i = 0; i < sizes.size(); ++i) {
            const int students = sizes[i];
            const FixtureGroup group = server.addGroup(9001 + i, students);
            Alternating measure;
            measure.benchmarkName = "group_choice/" + std::to_string(students);
            measure.figure = QStringLiteral("group choice, %1 students").arg(students);
            measure.baselineName = QStringLiteral("plain Qt SQL");
            measure.rounds = students >= 20000 ? 21 : 31;
            measure.target = 1.2;
            // Each run starts from a year chosen and no group: the lists empty, and whatever the run
            // before changed drawn.
            measure.prepare = [] {
                DM_MB->ADOQ_Students.Close();
                DM_MB->ADOQ_Starasta.Close();
                Form1->DBLookupListBox1->setKeyValue(Key());
                Form1->DBLookupComboBox3->setKeyValue(Key());
                Application->ProcessMessages();
            };
            measure.baseline = [id = group.id] {
                const QSqlDatabase db = QSqlDatabase::database(kPlainConnection, false);
                const QString students = sentText(DM_MB->ADOQ_Students);
                const QString monitor = sentText(DM_MB->ADOQ_Starasta);
                return elapsedMs([&] {
                    fetchPlain(db, students, id);
                    fetchPlain(db, monitor, id);
                });
            };
            measure.subject = [group] {
                // The lists have taken their rows, found the monitor and scrolled to it; drawing them
                // is the toolkit's and waits for the event loop (see prepare).
                const double ms = elapsedMs([&] {
                    Form1->DBLookupComboBox3->setKeyValue(group.id);
                    Form1->DBLookupComboBox3Click();
                });
                if (Form1->DBLookupListBox1->KeyValue() != Key(group.monitor) ||
                    DM_MB->ADOQ_Students.RecordCount() != group.students)
                    benchFailure(QStringLiteral("the group's students or monitor are not shown"));
                return ms;
            };
            registerAlternating(measure);
        }
    });
}
