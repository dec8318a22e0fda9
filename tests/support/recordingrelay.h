#pragma once
// A relay on 127.0.0.1 between a client and a server that keeps every byte the client sent, as it
// crossed the wire: what an eavesdropper on the network would read. It serves on threads of its own,
// so that a client blocked in the driver is still relayed.
//
//     RecordingRelay relay(sandbox.port());
//     ... the client connects to relay.port() ...
//     QVERIFY(!relay.clientBytes().contains(secret));

#include <QByteArray>
#include <QMutex>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

class RecordingRelay {
public:
    explicit RecordingRelay(quint16 serverPort);
    ~RecordingRelay(); // ends every relayed connection and joins the threads
    RecordingRelay(const RecordingRelay &) = delete;
    RecordingRelay &operator=(const RecordingRelay &) = delete;

    quint16 port() const { return m_port; }
    // Everything the clients sent so far, all connections in the order the bytes arrived.
    QByteArray clientBytes() const;
    int connectionCount() const { return m_connections.load(); }

private:
    void acceptLoop();
    void relay(int from, int to, bool fromClient);

    quint16 m_serverPort;
    quint16 m_port = 0;
    int m_listener = -1;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_connections{0};
    mutable QMutex m_mutex;
    QByteArray m_clientBytes;
    std::vector<int> m_sockets; // under m_mutex
    std::vector<std::thread> m_threads;
    std::thread m_acceptor;
};
