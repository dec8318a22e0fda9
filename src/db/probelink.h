#pragma once
// One TCP connection of the encryption probe to the database server, whose every wait ends at one
// deadline. One implementation for POSIX systems (probelink_posix.cpp) and one for Windows
// (probelink_windows.cpp).

#include <QString>

#include <chrono>

class ProbeLink {
public:
    using Clock = std::chrono::steady_clock;

    // Connects to the first of the host's addresses that answers before the deadline.
    ProbeLink(const QString &host, int port, Clock::time_point deadline);
    ~ProbeLink();
    ProbeLink(const ProbeLink &) = delete;
    ProbeLink &operator=(const ProbeLink &) = delete;

    bool connected() const { return m_socket != kNoSocket; }

    // All of the bytes, or false once the link fails or the deadline passes.
    bool send(const char *data, qsizetype size);
    bool read(char *data, qsizetype size);

private:
    static constexpr qintptr kNoSocket = -1;
    bool wait(qintptr socket, short events) const;

    Clock::time_point m_deadline;
    qintptr m_socket = kNoSocket;
};

// An IPv4 (4 bytes) or IPv6 (16 bytes) address in network order as the system writes it; empty for
// any other length.
QString ipAddressText(const unsigned char *bytes, int length);

// Whether the text is an IPv4 or IPv6 address rather than a name.
bool isAddress(const QString &host);
