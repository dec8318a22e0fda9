#pragma once
// The sandbox server for in-process use: serves TDS on threads of its own (never on the
// caller's thread, which may block on the client), records every request it receives and
// lets tests inject faults.
//
//     sandbox::SandboxServer server(std::make_shared<sandbox::Engine>(QString(), true));
//     server.start();                       // 127.0.0.1 on a free port
//     ... connect to server.port() ...
//     auto login = server.waitForEvent();   // the next event, waiting at most 30 s
//     server.stop();                        // or let the destructor do it

#include "sandbox/engine/engine.h"
#include "sandbox/tds/event.h"
#include "sandbox/tds/fault.h"
#include "sandbox/tds/tls.h"

#include <QList>
#include <QRegularExpression>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace sandbox {

class SandboxServer {
public:
    // Serves the given engine (shared, so a test may keep using it directly).
    explicit SandboxServer(std::shared_ptr<Engine> engine);
    // Serves an engine of its own over the database at path (empty: in memory).
    explicit SandboxServer(const QString &databasePath = QString(), bool demo = false);
    ~SandboxServer(); // stops
    SandboxServer(const SandboxServer &) = delete;
    SandboxServer &operator=(const SandboxServer &) = delete;

    // Listens on host:port (port 0: a free one) and starts serving. False with a reason in
    // *error when the address cannot be used, or when already started.
    bool start(const QString &host = QStringLiteral("127.0.0.1"), quint16 port = 0, QString *error = nullptr);
    // Closes the listening socket and every connection and joins all threads. Idempotent.
    void stop();
    bool isRunning() const;
    quint16 port() const;
    QString host() const;
    Engine &engine();
    std::shared_ptr<Engine> sharedEngine() const;
    // The name in the server's messages (ERROR and INFO tokens). Default "QEL31-SANDBOX".
    void setServerName(const QString &name);
    // Encryption, for the next start(): by default supported, with a self-signed certificate,
    // TLS 1.2 at most. start() fails when the certificate cannot be used.
    void setTlsSettings(const TlsSettings &settings);
    TlsSettings tlsSettings() const;

    // Every event so far, in order.
    QList<Event> events() const;
    int eventCount() const;
    // The event with index `index` (0-based, in order of arrival), waiting up to timeoutMs for it.
    std::optional<Event> eventAt(int index, int timeoutMs = 30000) const;
    // The next event that this reader has not yet taken, waiting up to timeoutMs for it. The
    // read position starts at the first event and is moved by clearEvents() to the end.
    std::optional<Event> waitForEvent(int timeoutMs = 30000);
    // Waits for the next event that matches (skipping others); empty on timeout.
    std::optional<Event> waitForEvent(const std::function<bool(const Event &)> &match, int timeoutMs = 30000);
    // Forgets the events so far.
    void clearEvents();
    // Called for every event, in order, on the connection's thread, while no other event is
    // recorded: it must not call back into the server. Used for the statement log.
    void setEventListener(std::function<void(const Event &)> listener);

    // The row that the next GET_USER returns (see Engine::scriptNextGetUserRow).
    void scriptNextGetUserRow(const QList<Value> &row);

    // Faults for requests whose text matches pattern (see Fault); they stay until cleared or
    // used up (times).
    void addFault(const Fault &fault);
    void failStatements(const QRegularExpression &pattern, int number, int severity, const QString &text,
                        int times = -1);
    void delayStatements(const QRegularExpression &pattern, int delayMs, int times = -1);
    void dropConnectionOn(const QRegularExpression &pattern, int times = -1);
    void dropConnectionMidResult(const QRegularExpression &pattern, int rowsBeforeDrop, int times = -1);
    // Holds matching requests (before they run) until releaseHeld(); a deterministic way to
    // keep a client waiting while others are served.
    void holdStatements(const QRegularExpression &pattern, int times = -1);
    // Lets every request held now go on.
    void releaseHeld();
    // Requests being held now.
    int heldCount() const;
    void clearFaults();

    // Connections being served now.
    int connectionCount() const;

    // A slow link: every answer to connections accepted from now on leaves ms milliseconds after
    // the request it answers, as over a network with that round-trip time (0: at once).
    void setLatency(int ms);
    int latency() const;
    // Round trips: the client's requests that waited for an answer, each counted once however many
    // packets the request and its answer take. Those whose request was a PRELOGIN message are also
    // counted apart: the pre-login, then the flights of a TLS handshake where one was negotiated.
    struct RoundTrips {
        int total = 0;
        int preLogin = 0;
        // The TLS handshake's flights: the PRELOGIN turns after the pre-login of each connection.
        int handshake = 0;
    };
    // Of the connection with this number (Event::connection); zeros for an unknown one.
    RoundTrips roundTrips(int connection) const;
    // Of every connection accepted since the start or the last clearRoundTrips().
    RoundTrips roundTrips() const;
    void clearRoundTrips();
    // Called on the connection's thread when a connection has ended, with its number and its round
    // trips over its whole life. Set before start().
    void setConnectionEndListener(std::function<void(int connection, const RoundTrips &)> listener);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace sandbox
