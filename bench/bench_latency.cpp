// Over a slow link: the sandbox server answers every request 25 ms after it arrived, as a network
// with that round-trip time would, and counts the requests that waited for an answer. Two things a
// user waits for are timed: the sign-in (the enter action, from the settings file read to the
// faculties and years loaded and the session's date format set) and a group choice (from the choice
// to the students and the monitor shown). Each is set against the least that its own exchange needs
// over that link: for the sign-in, per login its pre-login, the TLS handshake where the server and
// the driver negotiated one (counted at the server) and the login itself, then GET_USER,
// SET DATEFORMAT dmy, the faculties and the years; for a group choice its two statements. The figure
// is the client's time over that minimum times the latency: 1.0 is a client that costs nothing but
// the round trips it cannot avoid.

#include "app/application.h"
#include "app/messagebox.h"
#include "common/error.h"
#include "common/programfolder.h"
#include "db/dm.h"
#include "figures.h"
#include "fixture.h"
#include "registration/dblookupcombobox.h"
#include "registration/dblookuplistbox.h"
#include "registration/unit1.h"
#include "signin/loginwidgets.h"
#include "signin/unit10.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int kLatencyMs = 25;
constexpr int kStudents = 30;
constexpr double kTarget = 1.1;

// The requests of a sign-in that the client cannot do without, besides its logins.
constexpr int kSignInStatements = 4; // GET_USER, SET DATEFORMAT dmy, the faculties, the years
constexpr int kSignInLogins = 2;     // the settings account, then the user's own account
constexpr int kGroupChoiceStatements = 2;

// The runs of one operation over the slow link.
struct LinkRuns {
    QList<double> ms;
    QList<double> roundTrips;
    QList<double> minimum;
    QList<double> ratios;

    void add(double runMs, int counted, int least)
    {
        ms.append(runMs);
        roundTrips.append(counted);
        minimum.append(least);
        ratios.append(runMs / (least * kLatencyMs));
    }
};

void report(const QString &name, const QString &minimumText, const LinkRuns &runs, benchmark::State &state)
{
    state.counters["client_ms"] = median(runs.ms);
    state.counters["round_trips"] = median(runs.roundTrips);
    state.counters["minimum"] = median(runs.minimum);
    state.counters["ratio"] = median(runs.ratios);
    Figure figure;
    figure.name = name;
    figure.baseline = QStringLiteral("%1 round trips (%2) × %3 ms = %4 ms; client %5 ms, %6 round trips "
                                     "counted at the server (medians of %7)")
                          .arg(median(runs.minimum))
                          .arg(minimumText)
                          .arg(kLatencyMs)
                          .arg(median(runs.minimum) * kLatencyMs, 0, 'f', 0)
                          .arg(median(runs.ms), 0, 'f', 1)
                          .arg(median(runs.roundTrips))
                          .arg(runs.ms.size());
    figure.ratio = median(runs.ratios);
    figure.target = kTarget;
    reportFigure(figure);
}

void signIn()
{
    Form8->setModalResult(ModalResultValue::None);
    Form8->SpeedButton2Click();
    if (Form8->ModalResult() != ModalResultValue::Ok || !DM_MB->ADOQ_Faculty.Active() ||
        !DM_MB->ADOQ_Year.Active())
        benchFailure(QStringLiteral("not signed in: ") + Form8->RzLabel1->Caption());
}

void chooseGroup(const FixtureGroup &group)
{
    Form1->DBLookupComboBox3->setKeyValue(group.id);
    Form1->DBLookupComboBox3Click();
    if (Form1->DBLookupListBox1->KeyValue() != Key(group.monitor) ||
        DM_MB->ADOQ_Students.RecordCount() != group.students)
        benchFailure(QStringLiteral("the group's students or monitor are not shown"));
}

} // namespace

int main(int argc, char *argv[])
{
    GuiApplication app(argc, argv);
    TApplication application;
    BenchServer server;
    sandbox::SandboxServer &sandbox = server.server();
    sandbox.setLatency(kLatencyMs);
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
    TForm1 window;
    Form1 = &window;
    window.show();
    const FixtureGroup group = server.addGroup(9101, kStudents);

    return runBenchmarks(argc, argv, [&] {
        const int rounds = benchOptions().tiny ? 1 : 15;
        benchmark::RegisterBenchmark("latency/signin",
                                     [&](benchmark::State &state) {
                                         // One unmeasured: the driver loaded, the server's plans warm.
                                         DM_MB->ADOCon.Close();
                                         signIn();
                                         LinkRuns runs;
                                         for (auto _ : state) {
                                             DM_MB->ADOCon.Close();
                                             sandbox.clearRoundTrips();
                                             const double ms = elapsedMs(signIn);
                                             const sandbox::SandboxServer::RoundTrips counted =
                                                 sandbox.roundTrips();
                                             const int least =
                                                 kSignInLogins * 2 + counted.handshake + kSignInStatements;
                                             runs.add(ms, counted.total, least);
                                             state.SetIterationTime(ms / 1000.0);
                                         }
                                         report(QStringLiteral("sign-in over a %1 ms link, to the faculties "
                                                               "and years loaded")
                                                    .arg(kLatencyMs),
                                                QStringLiteral("2 pre-logins, 2 logins, TLS handshakes %1, "
                                                               "4 statements")
                                                    .arg(sandbox.roundTrips().handshake),
                                                runs, state);
                                     })
            ->Iterations(rounds)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);

        benchmark::RegisterBenchmark("latency/group_choice",
                                     [&](benchmark::State &state) {
                                         // Signed in, the lists loaded: the choice alone is measured.
                                         if (!DM_MB->ADOCon.Connected())
                                             signIn();
                                         chooseGroup(group);
                                         LinkRuns runs;
                                         for (auto _ : state) {
                                             DM_MB->ADOQ_Students.Close();
                                             DM_MB->ADOQ_Starasta.Close();
                                             Form1->DBLookupListBox1->setKeyValue(Key());
                                             Form1->DBLookupComboBox3->setKeyValue(Key());
                                             Application->ProcessMessages();
                                             sandbox.clearRoundTrips();
                                             const double ms = elapsedMs([&] { chooseGroup(group); });
                                             runs.add(ms, sandbox.roundTrips().total, kGroupChoiceStatements);
                                             state.SetIterationTime(ms / 1000.0);
                                         }
                                         report(QStringLiteral("group choice over a %1 ms link, %2 students")
                                                    .arg(kLatencyMs)
                                                    .arg(kStudents),
                                                QStringLiteral("the students and the monitor"), runs, state);
                                     })
            ->Iterations(rounds)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    });
}
