#include "sandbox/tds/sandboxserver.h"

#include "sandbox/tds/connection.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <list>
#include <map>
#include <mutex>
#include <thread>

namespace sandbox {

namespace {
SandboxServer::RoundTrips roundTripsOf(const tds::Link &link)
{
    SandboxServer::RoundTrips r;
    r.total = link.roundTrips();
    r.preLogin = link.preLoginRoundTrips();
    r.handshake = qMax(0, r.preLogin - 1);
    return r;
}

struct Served {
    std::unique_ptr<tds::Connection> connection;
    std::thread thread;
    std::atomic<bool> finished{false};
};
} // namespace

struct SandboxServer::Private : tds::ConnectionHost {
    std::shared_ptr<Engine> sharedEngine;
    QString name = QStringLiteral("QEL31-SANDBOX");
    QString host;
    quint16 port = 0;
    TlsSettings tls;
    std::unique_ptr<tds::TlsContext> tlsShared; // made by start(), unless the mode is none

    int listenFd = -1;
    int wakePipe[2] = {-1, -1};
    std::thread acceptThread;
    std::atomic<bool> running{false};

    mutable std::mutex connectionsMutex;
    std::list<std::unique_ptr<Served>> connections;
    int nextConnectionId = 1;
    std::atomic<int> latencyMs{0};
    // The links of the connections by number, with their counts at the last clearRoundTrips();
    // under connectionsMutex.
    struct CountedLink {
        std::shared_ptr<tds::Link> link;
        RoundTrips cleared;
    };
    std::map<int, CountedLink> links;
    std::function<void(int, const RoundTrips &)> connectionEnded;

    mutable std::mutex eventsMutex;
    mutable std::condition_variable eventsChanged;
    QList<Event> events;
    quint64 nextSequence = 1;
    qsizetype readPosition = 0;
    std::function<void(const Event &)> listener;
    QList<Fault> faults;

    mutable std::mutex stopMutex;
    std::condition_variable stopChanged;
    bool stopping = false;
    quint64 releases = 0; // counts releaseHeld() calls
    int held = 0;

    Engine &engine() override { return *sharedEngine; }
    QString serverName() const override { return name; }
    EncryptionMode encryptionMode() const override { return tls.mode; }
    const tds::TlsContext *tlsContext() const override { return tlsShared.get(); }

    QList<Fault> record(Event &event) override
    {
        QList<Fault> hits;
        {
            std::lock_guard lock(eventsMutex);
            event.sequence = nextSequence++;
            const bool isLogin = event.kind == EventKind::LoginOk || event.kind == EventKind::LoginFailed;
            // A cancel is recorded only; faults hit requests.
            for (auto it = faults.begin(); event.kind != EventKind::Attention && it != faults.end();) {
                const QString subject = isLogin ? event.login : event.text();
                if ((!isLogin || it->matchLogins) && it->pattern.match(subject).hasMatch()) {
                    hits.append(*it);
                    if (it->times > 0 && --it->times == 0) {
                        it = faults.erase(it);
                        continue;
                    }
                }
                ++it;
            }
            events.append(event);
            if (listener)
                listener(event);
        }
        eventsChanged.notify_all();
        return hits;
    }

    bool pause(int ms) override
    {
        std::unique_lock lock(stopMutex);
        return !stopChanged.wait_for(lock, std::chrono::milliseconds(qMax(0, ms)), [&] { return stopping; });
    }

    bool hold() override
    {
        std::unique_lock lock(stopMutex);
        const quint64 generation = releases;
        ++held;
        stopChanged.wait(lock, [&] { return stopping || releases != generation; });
        --held;
        return !stopping;
    }

    void reapFinished()
    {
        std::lock_guard lock(connectionsMutex);
        for (auto it = connections.begin(); it != connections.end();) {
            if ((*it)->finished) {
                (*it)->thread.join();
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
    }

    void acceptLoop()
    {
        for (;;) {
            pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
            const int r = ::poll(fds, 2, -1);
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (fds[1].revents)
                return;
            if (!(fds[0].revents & POLLIN))
                continue;
            const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            reapFinished();
            std::lock_guard lock(connectionsMutex);
            auto served = std::make_unique<Served>();
            Served *s = served.get();
            const int id = nextConnectionId++;
            auto link = std::make_shared<tds::Link>(latencyMs.load());
            links[id] = {link, {}};
            tds::attachLink(fd, std::move(link));
            s->connection = std::make_unique<tds::Connection>(*this, fd, id);
            s->thread = std::thread([this, s, id, link = links[id].link] {
                s->connection->run();
                s->connection->shutdown();
                if (connectionEnded)
                    connectionEnded(id, roundTripsOf(*link));
                s->finished = true;
            });
            connections.push_back(std::move(served));
        }
    }
};

SandboxServer::SandboxServer(std::shared_ptr<Engine> engine) : d(std::make_unique<Private>())
{
    d->sharedEngine = std::move(engine);
}

SandboxServer::SandboxServer(const QString &databasePath, bool demo)
    : SandboxServer(std::make_shared<Engine>(databasePath, demo))
{
}

SandboxServer::~SandboxServer()
{
    stop();
}

bool SandboxServer::start(const QString &host, quint16 port, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        if (d->listenFd >= 0)
            ::close(d->listenFd);
        d->listenFd = -1;
        return false;
    };
    if (d->running)
        return fail(QStringLiteral("already serving"));
    d->tlsShared.reset();
    if (d->tls.mode != EncryptionMode::None) {
        try {
            d->tlsShared = std::make_unique<tds::TlsContext>(d->tls);
        } catch (const tds::TlsError &e) {
            return fail(QString::fromLocal8Bit(e.what()));
        }
    }

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const QByteArray node = host.toUtf8();
    const QByteArray service = QByteArray::number(port);
    if (const int rc =
            ::getaddrinfo(node.isEmpty() ? nullptr : node.constData(), service.constData(), &hints, &found);
        rc != 0)
        return fail(
            QStringLiteral("cannot resolve %1: %2").arg(host, QString::fromLocal8Bit(gai_strerror(rc))));
    QString lastError;
    for (addrinfo *a = found; a; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, 64) == 0) {
            d->listenFd = fd;
            break;
        }
        lastError = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
    }
    ::freeaddrinfo(found);
    if (d->listenFd < 0)
        return fail(QStringLiteral("cannot listen on %1:%2: %3").arg(host).arg(port).arg(lastError));

    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(d->listenFd, reinterpret_cast<sockaddr *>(&bound), &length);
    d->port = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port)
                                          : ntohs(reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
    d->host = host;

    if (::pipe2(d->wakePipe, O_CLOEXEC) != 0)
        return fail(
            QStringLiteral("cannot create a pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    {
        std::lock_guard lock(d->stopMutex);
        d->stopping = false;
    }
    d->running = true;
    d->acceptThread = std::thread([this] { d->acceptLoop(); });
    return true;
}

void SandboxServer::stop()
{
    if (!d->running.exchange(false))
        return;
    {
        std::lock_guard lock(d->stopMutex);
        d->stopping = true;
    }
    d->stopChanged.notify_all();
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(d->wakePipe[1], &byte, 1);
    d->acceptThread.join();
    ::close(d->listenFd);
    d->listenFd = -1;
    ::close(d->wakePipe[0]);
    ::close(d->wakePipe[1]);
    d->wakePipe[0] = d->wakePipe[1] = -1;

    std::list<std::unique_ptr<Served>> connections;
    {
        std::lock_guard lock(d->connectionsMutex);
        connections.swap(d->connections);
    }
    for (auto &s : connections)
        s->connection->shutdown();
    for (auto &s : connections)
        s->thread.join();
}

bool SandboxServer::isRunning() const
{
    return d->running;
}

quint16 SandboxServer::port() const
{
    return d->port;
}

QString SandboxServer::host() const
{
    return d->host;
}

Engine &SandboxServer::engine()
{
    return *d->sharedEngine;
}

std::shared_ptr<Engine> SandboxServer::sharedEngine() const
{
    return d->sharedEngine;
}

void SandboxServer::setTlsSettings(const TlsSettings &settings)
{
    d->tls = settings;
}

TlsSettings SandboxServer::tlsSettings() const
{
    return d->tls;
}

void SandboxServer::setServerName(const QString &name)
{
    std::lock_guard lock(d->eventsMutex);
    d->name = name;
}

QList<Event> SandboxServer::events() const
{
    std::lock_guard lock(d->eventsMutex);
    return d->events;
}

int SandboxServer::eventCount() const
{
    std::lock_guard lock(d->eventsMutex);
    return int(d->events.size());
}

std::optional<Event> SandboxServer::eventAt(int index, int timeoutMs) const
{
    std::unique_lock lock(d->eventsMutex);
    if (!d->eventsChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return d->events.size() > index; }))
        return std::nullopt;
    return d->events.at(index);
}

std::optional<Event> SandboxServer::waitForEvent(int timeoutMs)
{
    return waitForEvent([](const Event &) { return true; }, timeoutMs);
}

std::optional<Event> SandboxServer::waitForEvent(const std::function<bool(const Event &)> &match,
                                                 int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lock(d->eventsMutex);
    for (;;) {
        while (d->readPosition < d->events.size()) {
            const Event &e = d->events.at(d->readPosition++);
            if (match(e))
                return e;
        }
        if (d->eventsChanged.wait_until(lock, deadline) == std::cv_status::timeout &&
            d->readPosition >= d->events.size())
            return std::nullopt;
    }
}

void SandboxServer::clearEvents()
{
    std::lock_guard lock(d->eventsMutex);
    d->events.clear();
    d->readPosition = 0;
}

void SandboxServer::setEventListener(std::function<void(const Event &)> listener)
{
    std::lock_guard lock(d->eventsMutex);
    d->listener = std::move(listener);
}

void SandboxServer::scriptNextGetUserRow(const QList<Value> &row)
{
    d->sharedEngine->scriptNextGetUserRow(row);
}

void SandboxServer::addFault(const Fault &fault)
{
    std::lock_guard lock(d->eventsMutex);
    d->faults.append(fault);
}

void SandboxServer::failStatements(const QRegularExpression &pattern, int number, int severity,
                                   const QString &text, int times)
{
    Fault f;
    f.action = Fault::Action::Error;
    f.pattern = pattern;
    f.error.number = number;
    f.error.severity = severity;
    f.error.text = text;
    f.times = times;
    addFault(f);
}

void SandboxServer::delayStatements(const QRegularExpression &pattern, int delayMs, int times)
{
    Fault f;
    f.action = Fault::Action::Delay;
    f.pattern = pattern;
    f.delayMs = delayMs;
    f.times = times;
    addFault(f);
}

void SandboxServer::dropConnectionOn(const QRegularExpression &pattern, int times)
{
    Fault f;
    f.action = Fault::Action::DropBeforeAnswer;
    f.pattern = pattern;
    f.times = times;
    addFault(f);
}

void SandboxServer::dropConnectionMidResult(const QRegularExpression &pattern, int rowsBeforeDrop, int times)
{
    Fault f;
    f.action = Fault::Action::DropMidResult;
    f.pattern = pattern;
    f.rowsBeforeDrop = rowsBeforeDrop;
    f.times = times;
    addFault(f);
}

void SandboxServer::holdStatements(const QRegularExpression &pattern, int times)
{
    Fault f;
    f.action = Fault::Action::Hold;
    f.pattern = pattern;
    f.times = times;
    addFault(f);
}

void SandboxServer::releaseHeld()
{
    {
        std::lock_guard lock(d->stopMutex);
        ++d->releases;
    }
    d->stopChanged.notify_all();
}

int SandboxServer::heldCount() const
{
    std::lock_guard lock(d->stopMutex);
    return d->held;
}

void SandboxServer::clearFaults()
{
    std::lock_guard lock(d->eventsMutex);
    d->faults.clear();
}

int SandboxServer::connectionCount() const
{
    std::lock_guard lock(d->connectionsMutex);
    int n = 0;
    for (const auto &s : d->connections)
        n += s->finished ? 0 : 1;
    return n;
}

void SandboxServer::setConnectionEndListener(std::function<void(int, const RoundTrips &)> listener)
{
    d->connectionEnded = std::move(listener);
}

void SandboxServer::setLatency(int ms)
{
    d->latencyMs = qMax(0, ms);
}

int SandboxServer::latency() const
{
    return d->latencyMs;
}

namespace {
SandboxServer::RoundTrips since(const SandboxServer::RoundTrips &now, const SandboxServer::RoundTrips &then)
{
    return {now.total - then.total, now.preLogin - then.preLogin, now.handshake - then.handshake};
}
} // namespace

SandboxServer::RoundTrips SandboxServer::roundTrips(int connection) const
{
    std::lock_guard lock(d->connectionsMutex);
    const auto it = d->links.find(connection);
    if (it == d->links.end())
        return {};
    return since(roundTripsOf(*it->second.link), it->second.cleared);
}

SandboxServer::RoundTrips SandboxServer::roundTrips() const
{
    std::lock_guard lock(d->connectionsMutex);
    RoundTrips sum;
    for (const auto &[id, counted] : d->links) {
        const RoundTrips r = since(roundTripsOf(*counted.link), counted.cleared);
        sum.total += r.total;
        sum.preLogin += r.preLogin;
        sum.handshake += r.handshake;
    }
    return sum;
}

void SandboxServer::clearRoundTrips()
{
    std::lock_guard lock(d->connectionsMutex);
    for (auto it = d->links.begin(); it != d->links.end();) {
        // A link held by nobody else belongs to a connection that has ended: it counts no more.
        if (it->second.link.use_count() == 1) {
            it = d->links.erase(it);
        } else {
            it->second.cleared = roundTripsOf(*it->second.link);
            ++it;
        }
    }
}

} // namespace sandbox
