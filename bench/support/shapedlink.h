#pragma once
// The link of a workstation to a server on its LAN, for the benchmarks: a network namespace of its
// own for the server, reached from this one through a pair of virtual Ethernet devices, each end
// shaped by tc to the link's rate (a token bucket), so that what crosses it goes no faster than over
// that link. The addresses are a /30 of 198.18.0.0/15, the range set aside for benchmarks, chosen by
// the process id, as are the names, so that runs side by side do not meet. Making it needs the right
// to administer the network (root), ip and tc. Linux only.

#include <QString>
#include <QStringList>

class ShapedLink {
public:
    // Empty when this process can make a link, else why it cannot.
    static QString unavailable();

    // Makes the namespace and the link shaped to rate (tc's notation: "1gbit"); a failure ends the
    // benchmark with the command that failed. Namespaces left by runs that died are removed first.
    explicit ShapedLink(const QString &rate);
    // Removes the namespace, and with it both devices. Whatever runs inside should have ended.
    ~ShapedLink();
    ShapedLink(const ShapedLink &) = delete;
    ShapedLink &operator=(const ShapedLink &) = delete;

    // The server's address inside the namespace, reached through the link.
    QString serverAddress() const { return m_serverAddress; }
    // The program and arguments that run program with arguments inside the namespace.
    QString launcher() const;
    QStringList inside(const QString &program, const QStringList &arguments) const;

private:
    QString m_namespace;
    QString m_device;
    QString m_serverAddress;
};
