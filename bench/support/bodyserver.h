#pragma once
// An HTTP server on 127.0.0.1 (or another address of this host) that answers every request with one body
// (200, Content-Length), one request per connection, on a thread of its own so that it serves while the
// caller's thread waits. The body is a piece repeated up to its size, so that a long body takes no memory of
// its own.

#include <QByteArray>

#include <atomic>
#include <thread>

class BodyServer {
public:
    explicit BodyServer(QByteArray body);
    // The piece sent again and again until size bytes have gone, listening on the IPv4 address.
    BodyServer(QByteArray piece, qint64 size, const QByteArray &address = "127.0.0.1");
    // Stops serving and joins the thread.
    ~BodyServer();
    BodyServer(const BodyServer &) = delete;
    BodyServer &operator=(const BodyServer &) = delete;

    quint16 port() const { return m_port; }

private:
    void serve();
    void answer(int connection);

    QByteArray m_body;
    qint64 m_size = 0;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
