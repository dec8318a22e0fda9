#pragma once
// A program started by a benchmark, its standard output read line by line. POSIX only.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

class ChildProcess {
public:
    // Starts program with arguments and the benchmark's environment; a failure ends the benchmark.
    ChildProcess(const QString &program, const QStringList &arguments);
    // Kills the program if it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // The next line of its output without the line feed, waiting at most timeoutMs; empty when the
    // output ended or the time ran out.
    std::optional<QByteArray> readLine(int timeoutMs = 60000);
    // Everything it writes until it ends (at most timeoutMs).
    QByteArray readAll(int timeoutMs = 60000);
    // Waits for its end (at most timeoutMs, then kills it); its exit code, -1 when it did not exit by
    // itself.
    int wait(int timeoutMs = 60000);

private:
    bool fill(int timeoutMs);

    int m_pid = -1;
    int m_output = -1;
    QByteArray m_buffer;
};

// The line of a child's output that begins with the word, or a failure of the benchmark.
QByteArray expectLine(ChildProcess &child, const QByteArray &word, const QString &program);
