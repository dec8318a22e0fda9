#pragma once
// TDS packet framing over a blocking socket: an 8-byte header (type, status, big-endian length,
// SPID, packet number, window) before each packet; a message is one or more packets of one type,
// the last carrying the end-of-message bit.

#include <QByteArray>

#include <atomic>
#include <cstdint>
#include <memory>

namespace sandbox::tds {

enum class PacketType : quint8 {
    SqlBatch = 0x01,
    Rpc = 0x03,
    Reply = 0x04, // tabular result, every answer of the server
    Attention = 0x06,
    BulkLoad = 0x07,
    TransactionManager = 0x0E,
    Login7 = 0x10,
    Sspi = 0x11,
    PreLogin = 0x12,
};

namespace packetstatus {
constexpr quint8 EndOfMessage = 0x01;
constexpr quint8 Ignore = 0x02;
constexpr quint8 ResetConnection = 0x08;
constexpr quint8 ResetConnectionSkipTran = 0x10;
} // namespace packetstatus

constexpr int HeaderSize = 8;
constexpr int DefaultPacketSize = 4096;
constexpr int MinPacketSize = 512;
constexpr int MaxPacketSize = 32767;
// A client message larger than this is refused as hostile (a long statement is far smaller).
constexpr qsizetype MaxMessageSize = 64 * 1024 * 1024;

struct ClientMessage {
    PacketType type = PacketType::SqlBatch;
    quint8 status = 0; // status of the last packet
    QByteArray payload;
    bool resetConnection = false;
};

// Where TDS packets are read from and written to: the socket itself, or TLS over it.
class ByteStream {
public:
    virtual ~ByteStream() = default;
    // Reads exactly n bytes; false on end of stream or error.
    virtual bool readExact(char *buf, qsizetype n) = 0;
    virtual bool writeAll(const char *buf, qsizetype n) = 0;
};

// The network between the server and one client, as the client would feel it over a slow link:
// every answer leaves `latencyMs` after the request it answers (a link with that round-trip time),
// and every such turn counts as one round trip. A turn begins when the server reads bytes the
// client sent after the server last wrote, and ends with the server's first write after that.
// Turns whose request began with a PRELOGIN packet are counted apart: the pre-login itself and,
// where encryption is negotiated, the flights of the TLS handshake, which travel in PRELOGIN
// packets. Shared between the connection's thread and the server, which reads the counts.
class Link {
public:
    explicit Link(int latencyMs = 0) : m_latencyMs(latencyMs) {}
    int latencyMs() const { return m_latencyMs; }
    int roundTrips() const { return m_roundTrips.load(); }
    int preLoginRoundTrips() const { return m_preLoginRoundTrips.load(); }
    // One turn whose request began with this byte (the type of its first packet).
    void countTurn(quint8 firstByte);

private:
    const int m_latencyMs;
    std::atomic<int> m_roundTrips{0};
    std::atomic<int> m_preLoginRoundTrips{0};
};

// The link that the Socket made next over descriptor fd goes through; set by the code that accepts
// the connection before it hands the descriptor on. A socket without one has no delay and counts
// nothing.
void attachLink(int fd, std::shared_ptr<Link> link);

// A connected socket owned by one connection thread. shutdown() may be called from any thread
// to wake a blocked read or write; the descriptor is closed by the destructor only.
class Socket : public ByteStream {
public:
    explicit Socket(int fd);
    ~Socket() override;
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;

    int fd() const { return m_fd; }
    bool readExact(char *buf, qsizetype n) override;
    bool writeAll(const char *buf, qsizetype n) override;
    void shutdown();

private:
    // The link's wait before the first write of an answer; false when the socket was shut down.
    bool waitForTheLink();

    int m_fd;
    std::atomic<bool> m_shut{false};
    std::shared_ptr<Link> m_link;
    bool m_turnOpen = false; // read from the client since the last write
    quint8 m_turnFirstByte = 0;
};

enum class ReadOutcome { Message, Closed };

// Reads one whole client message, joining its packets. Returns Closed when the peer closed the
// connection between messages; throws ProtocolError for a malformed header, a type change
// inside a message, a message past MaxMessageSize, or a stream that ends inside a message.
ReadOutcome readMessage(ByteStream &stream, ClientMessage &out);

// Splits a server message into packets of at most packetSize bytes (header included).
class PacketWriter {
public:
    PacketWriter(ByteStream &stream, quint16 spid) : m_stream(stream), m_spid(spid) {}
    void setPacketSize(int size) { m_packetSize = size; }
    // The session id in the headers; the pre-login answer carries 0, as no session exists yet.
    void setSpid(quint16 spid) { m_spid = spid; }
    int packetSize() const { return m_packetSize; }

    // Sends payload as a whole message (the last packet with end-of-message).
    bool send(PacketType type, const QByteArray &payload);
    // Sends payload in packets none of which carries end-of-message; used to stop on purpose
    // in the middle of a result.
    bool sendPartial(PacketType type, const QByteArray &payload);

private:
    bool sendPacket(PacketType type, quint8 status, const char *data, qsizetype n);
    ByteStream &m_stream;
    quint16 m_spid;
    int m_packetSize = DefaultPacketSize;
    quint8 m_packetNumber = 1;
};

} // namespace sandbox::tds
