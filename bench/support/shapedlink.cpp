#include "shapedlink.h"

#include "childprocess.h"
#include "figures.h"

#include <QStandardPaths>

#include <cerrno>
#include <csignal>

#include <unistd.h>

namespace {

const QString kNamespacePrefix = QStringLiteral("qel31-bench-");

// ip and tc live in the administrator's folders, which a user's PATH may lack.
QString tool(const QString &name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(
            name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin")});
    return path;
}

// Runs a command to its end; its exit code (its error output goes to the benchmark's).
int run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr)
{
    ChildProcess child(program, arguments);
    const QByteArray text = child.readAll();
    if (output)
        *output = text;
    return child.wait();
}

void mustRun(const QString &program, const QStringList &arguments)
{
    if (run(program, arguments) != 0)
        benchFailure(QStringLiteral("the shaped link could not be made: %1 %2 failed")
                         .arg(program, arguments.join(QLatin1Char(' '))));
}

void removeNamespace(const QString &name)
{
    run(tool(QStringLiteral("ip")), {QStringLiteral("netns"), QStringLiteral("delete"), name});
}

// Namespaces of earlier runs whose process is gone: a run that failed leaves its namespace behind.
void removeStaleNamespaces(const QString &ip)
{
    QByteArray list;
    if (run(ip, {QStringLiteral("netns"), QStringLiteral("list")}, &list) != 0)
        return;
    for (const QByteArray &line : list.split('\n')) {
        const QString name = QString::fromLatin1(line.split(' ').first());
        if (!name.startsWith(kNamespacePrefix))
            continue;
        bool ok = false;
        const pid_t pid = name.mid(kNamespacePrefix.size()).toInt(&ok);
        if (ok && pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH)
            removeNamespace(name);
    }
}

} // namespace

QString ShapedLink::unavailable()
{
    if (::geteuid() != 0)
        return QStringLiteral(
            "the shaped link needs root (it makes a network namespace and shapes it with tc)");
    if (tool(QStringLiteral("ip")).isEmpty() || tool(QStringLiteral("tc")).isEmpty())
        return QStringLiteral("the shaped link needs ip and tc (package iproute2)");
    return {};
}

ShapedLink::ShapedLink(const QString &rate)
{
    if (const QString why = unavailable(); !why.isEmpty())
        benchFailure(why);
    const QString ip = tool(QStringLiteral("ip"));
    const QString tc = tool(QStringLiteral("tc"));
    removeStaleNamespaces(ip);

    const unsigned pid = unsigned(::getpid());
    m_namespace = kNamespacePrefix + QString::number(pid);
    m_device = QStringLiteral("q31b%1").arg(pid);
    const QString peer = QStringLiteral("q31n%1").arg(pid);
    // 198.18.0.0/15 holds 32768 blocks of four addresses: .1 here, .2 in the namespace.
    const unsigned block = (pid % 32768) * 4;
    const auto address = [block](unsigned host) {
        const unsigned value = block + host;
        return QStringLiteral("198.%1.%2.%3")
            .arg(18 + (value >> 16))
            .arg((value >> 8) & 255)
            .arg(value & 255);
    };
    m_serverAddress = address(2);

    mustRun(ip, {QStringLiteral("netns"), QStringLiteral("add"), m_namespace});
    atBenchFailure([name = m_namespace] { removeNamespace(name); });
    mustRun(ip, {QStringLiteral("link"), QStringLiteral("add"), m_device, QStringLiteral("type"),
                 QStringLiteral("veth"), QStringLiteral("peer"), QStringLiteral("name"), peer,
                 QStringLiteral("netns"), m_namespace});
    mustRun(ip, {QStringLiteral("address"), QStringLiteral("add"), address(1) + QStringLiteral("/30"),
                 QStringLiteral("dev"), m_device});
    mustRun(ip, {QStringLiteral("link"), QStringLiteral("set"), m_device, QStringLiteral("up")});
    mustRun(ip, {QStringLiteral("-n"), m_namespace, QStringLiteral("address"), QStringLiteral("add"),
                 m_serverAddress + QStringLiteral("/30"), QStringLiteral("dev"), peer});
    mustRun(ip, {QStringLiteral("-n"), m_namespace, QStringLiteral("link"), QStringLiteral("set"), peer,
                 QStringLiteral("up")});
    // Both directions at the link's rate, as a switch port would carry them: a token bucket that lets
    // a burst of 128 KB through at once and queues up to 5 ms beyond the rate.
    const QStringList shape{
        QStringLiteral("root"),  QStringLiteral("tbf"),   QStringLiteral("rate"),    rate,
        QStringLiteral("burst"), QStringLiteral("128kb"), QStringLiteral("latency"), QStringLiteral("5ms")};
    mustRun(tc,
            QStringList{QStringLiteral("qdisc"), QStringLiteral("replace"), QStringLiteral("dev"), m_device} +
                shape);
    mustRun(tc, QStringList{QStringLiteral("-n"), m_namespace, QStringLiteral("qdisc"),
                            QStringLiteral("replace"), QStringLiteral("dev"), peer} +
                    shape);
}

ShapedLink::~ShapedLink()
{
    // The devices go with the namespace once nothing runs inside it any more.
    removeNamespace(m_namespace);
}

QString ShapedLink::launcher() const
{
    return tool(QStringLiteral("ip"));
}

QStringList ShapedLink::inside(const QString &program, const QStringList &arguments) const
{
    return QStringList{QStringLiteral("netns"), QStringLiteral("exec"), m_namespace, program} + arguments;
}
