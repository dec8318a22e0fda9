#pragma once
// What every benchmark executable shares: runs of a baseline and the client's code in turn, the
// figures they give, and the main that runs the benchmarks under Google Benchmark.
//
// These machines are shared and noisy, so no figure is an absolute time: each is the median of
// the ratios of alternating runs (baseline, subject, baseline, subject, ...) in the same process.

#include <QList>
#include <QString>

#include <functional>
#include <string>

// The options of every benchmark executable (taken out of argv before Google Benchmark sees it):
//   --tiny         one round on tiny data, only to show that the benchmark still works
//   --table FILE   appends the figures to FILE as rows of a Markdown table
struct BenchOptions {
    bool tiny = false;
    QString tableFile;
};
const BenchOptions &benchOptions();

// Milliseconds that f takes, on a monotonic clock.
double elapsedMs(const std::function<void()> &f);

// The times of alternating runs, in milliseconds.
class AlternatingRuns {
public:
    void add(double baselineMs, double subjectMs);
    int count() const { return int(m_baseline.size()); }
    double medianBaseline() const;
    double medianSubject() const;
    // The median over the pairs of subject / baseline.
    double medianRatio() const;
    // Subject / baseline of each pair, in the order run.
    QList<double> ratios() const;

private:
    QList<double> m_baseline;
    QList<double> m_subject;
};

double median(QList<double> values);

// One row of the table.
struct Figure {
    QString name;     // what is measured
    QString baseline; // what it is measured against, with its figure
    double ratio = 0;
    QString ratioText; // how the ratio is read, when not a plain ratio ("(client − bare) / rows")
    double target = 0;
    bool atLeast = false;     // the ratio must reach the target instead of staying at or under it
    bool information = false; // shown for what it tells, with no target to meet
    bool pass() const { return information || (atLeast ? ratio >= target : ratio <= target); }
};
void reportFigure(const Figure &figure);

// A benchmark of the client's code against a baseline: after one pair unmeasured (connections,
// caches and the server's statement plans warm), `rounds` pairs are run, each run preceded by
// prepare(), which is not measured. Each run returns its own time in milliseconds. The median ratio
// of subject to baseline becomes a figure with the target as its upper bound; with throughput set,
// the figure is baseline / subject (how much of the baseline's throughput the client reaches) and
// the target its lower bound.
struct Alternating {
    std::string benchmarkName;
    QString figure;
    QString baselineName;
    int rounds = 15;
    double target = 1.0;
    bool throughput = false;
    // The figure also tells how far the pairs' own figures spread: their lowest, quartiles, highest.
    bool spread = false;
    // The figure has no target: it is in the table as information.
    bool information = false;
    std::function<void()> prepare = [] {};
    std::function<double()> baseline;
    std::function<double()> subject;
};
void registerAlternating(Alternating measure);

// Takes the benchmark options out of argv, lets Google Benchmark take its own, calls
// registerBenchmarks, runs them and prints the figures (and appends them to the table file).
// Returns the exit code: 0 unless a benchmark failed to run (a figure over its target is not a
// failure of the run).
int runBenchmarks(int &argc, char **argv, const std::function<void()> &registerBenchmarks);

// A failure of a benchmark's run (a statement failed, a child program did not answer): the run
// stops with the message, after the undo steps given to atBenchFailure, last given first.
[[noreturn]] void benchFailure(const QString &message);
// What a failure must still undo outside the process (a network namespace made for the run); the
// destructors do not run on that way out.
void atBenchFailure(std::function<void()> undo);
