// Sign-in: SignIn as the enter action runs it, from the settings file read to the faculties and the
// years loaded, against the same two logins and three statements done with plain Qt SQL: the
// settings account runs GET_USER, the login's own account reads its faculties and the years.

#include "app/application.h"
#include "app/messagebox.h"
#include "common/md5.h"
#include "common/programfolder.h"
#include "common/workstation.h"
#include "db/adoconnection.h"
#include "db/dm.h"
#include "figures.h"
#include "fixture.h"
#include "signin/getuserrequest.h"
#include "signin/loginwidgets.h"
#include "signin/unit10.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <benchmark/benchmark.h>

namespace {

const QString kPlainConnection = QStringLiteral("plain");

// Runs a statement as a batch and reads every value of every row; the first row's values.
QList<QVariant> fetchPlain(const QSqlDatabase &db, const QString &text)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(text))
        benchFailure(query.lastError().text());
    QList<QVariant> first;
    const int columns = query.record().count();
    while (query.next()) {
        for (int i = 0; i < columns; ++i) {
            const QVariant value = query.value(i);
            if (first.size() < columns)
                first.append(value);
        }
    }
    if (query.lastError().isValid())
        benchFailure(query.lastError().text());
    return first;
}

} // namespace

int main(int argc, char *argv[])
{
    GuiApplication app(argc, argv);
    TApplication application;
    BenchServer server;
    setProgramFolder(server.programFolder());
    setMessageBoxHandler([](const MessageBoxRequest &box) -> int {
        benchFailure(QStringLiteral("message box: ") + box.text);
    });
    TDM_MB dm;
    TForm8 login;
    Form8 = &login;
    login.FormCreate();
    login.Login_Edit->setText(demo::kLogin);
    login.Password_Edit->setText(demo::kLoginPassword);
    QSqlDatabase::addDatabase(QStringLiteral("QODBC"), kPlainConnection);

    return runBenchmarks(argc, argv, [&] {
        Alternating measure;
        measure.benchmarkName = "signin/demo";
        measure.figure = QStringLiteral("sign-in to the faculties and years loaded");
        measure.baselineName = QStringLiteral("plain Qt SQL");
        measure.rounds = 31;
        measure.target = 1.15;
        // Every run starts signed out, as the login window does.
        measure.prepare = [] {
            DM_MB->ADOCon.Close();
            QSqlDatabase::database(kPlainConnection, false).close();
        };
        measure.baseline = [&server] {
            GetUserArguments arguments;
            arguments.login = demo::kLogin;
            arguments.passwordDigest = Md5Hex(demo::kLoginPassword);
            arguments.newPassword = QStringLiteral("NULL");
            arguments.computerName = WorkstationName();
            arguments.ipAddress =
                WorkstationIp(ServerRoute{std::nullopt, {0x7F000001}}); // the sandbox on loopback
            const QString getUser = GetUserRequest(arguments) + QStringLiteral("\r\n");
            return elapsedMs([&] {
                QSqlDatabase db = QSqlDatabase::database(kPlainConnection, false);
                server.openPlain(db, demo::kGateAccount, demo::kGatePassword);
                const QList<QVariant> user = fetchPlain(db, getUser);
                db.close();
                server.openPlain(db, demo::kAccount, demo::kAccountPassword);
                fetchPlain(db, userFacultiesStatement(user.value(2).toInt()) + QStringLiteral("\r\n"));
                fetchPlain(db, DM_MB->ADOQ_Year.commandText());
            });
        };
        measure.subject = [] {
            bool signedIn = false;
            const double ms =
                elapsedMs([&] { signedIn = Form8->SignIn(DM_MB->ADOCon, QStringLiteral("NULL")); });
            if (!signedIn || !DM_MB->ADOQ_Faculty.Active() || !DM_MB->ADOQ_Year.Active())
                benchFailure(QStringLiteral("not signed in: ") + Form8->RzLabel1->Caption());
            return ms;
        };
        registerAlternating(measure);
    });
}
