#include "childprocess.h"

#include "figures.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char **environ;

ChildProcess::ChildProcess(const QString &program, const QStringList &arguments)
{
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        benchFailure(QStringLiteral("no pipe for %1").arg(program));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);

    std::vector<QByteArray> texts;
    texts.push_back(program.toLocal8Bit());
    for (const QString &argument : arguments)
        texts.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    if (rc != 0) {
        ::close(pipeEnds[0]);
        benchFailure(
            QStringLiteral("cannot start %1: %2").arg(program, QString::fromLocal8Bit(strerror(rc))));
    }
    m_pid = pid;
    m_output = pipeEnds[0];
}

ChildProcess::~ChildProcess()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_output >= 0)
        ::close(m_output);
}

bool ChildProcess::fill(int timeoutMs)
{
    if (m_output < 0)
        return false;
    pollfd fd{m_output, POLLIN, 0};
    const int ready = ::poll(&fd, 1, timeoutMs);
    if (ready <= 0)
        return false;
    char chunk[4096];
    const ssize_t n = ::read(m_output, chunk, sizeof chunk);
    if (n <= 0) {
        ::close(m_output);
        m_output = -1;
        return false;
    }
    m_buffer.append(chunk, n);
    return true;
}

std::optional<QByteArray> ChildProcess::readLine(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const qsizetype end = m_buffer.indexOf('\n');
        if (end >= 0) {
            const QByteArray line = m_buffer.left(end);
            m_buffer.remove(0, end + 1);
            return line;
        }
        if (!fill(int(deadline.remainingTime())))
            return std::nullopt;
    }
}

QByteArray ChildProcess::readAll(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (fill(int(deadline.remainingTime()))) {
    }
    QByteArray all = m_buffer;
    m_buffer.clear();
    return all;
}

int ChildProcess::wait(int timeoutMs)
{
    if (m_pid <= 0)
        return -1;
    const QDeadlineTimer deadline(timeoutMs);
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid)
            break;
        if (done < 0 && errno != EINTR)
            return -1;
        if (deadline.hasExpired()) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
            return -1;
        }
        // Drain the output meanwhile, so that a chatty program never blocks on a full pipe.
        if (!fill(10))
            ::usleep(2000);
    }
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

QByteArray expectLine(ChildProcess &child, const QByteArray &word, const QString &program)
{
    for (;;) {
        const std::optional<QByteArray> line = child.readLine();
        if (!line)
            benchFailure(
                QStringLiteral("%1 ended without saying \"%2\"").arg(program, QString::fromLatin1(word)));
        if (line->startsWith(word))
            return *line;
    }
}
