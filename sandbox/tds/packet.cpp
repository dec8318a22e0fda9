#include "sandbox/tds/packet.h"

#include "sandbox/tds/bytes.h"

#include <QtEndian>

#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sandbox::tds {

namespace {

std::mutex linksMutex;
std::map<int, std::shared_ptr<Link>> attachedLinks; // by descriptor, until its socket takes it

std::shared_ptr<Link> takeLink(int fd)
{
    std::lock_guard lock(linksMutex);
    const auto it = attachedLinks.find(fd);
    if (it == attachedLinks.end())
        return nullptr;
    std::shared_ptr<Link> link = std::move(it->second);
    attachedLinks.erase(it);
    return link;
}

} // namespace

void Link::countTurn(quint8 firstByte)
{
    ++m_roundTrips;
    if (firstByte == quint8(PacketType::PreLogin))
        ++m_preLoginRoundTrips;
}

void attachLink(int fd, std::shared_ptr<Link> link)
{
    std::lock_guard lock(linksMutex);
    if (link)
        attachedLinks[fd] = std::move(link);
    else
        attachedLinks.erase(fd);
}

Socket::Socket(int fd) : m_fd(fd), m_link(takeLink(fd)) {}

Socket::~Socket()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Socket::readExact(char *buf, qsizetype n)
{
    qsizetype done = 0;
    while (done < n) {
        const ssize_t r = ::recv(m_fd, buf + done, size_t(n - done), 0);
        if (r == 0)
            return false;
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (!m_turnOpen) {
            m_turnOpen = true;
            m_turnFirstByte = quint8(buf[done]);
        }
        done += r;
    }
    return true;
}

bool Socket::waitForTheLink()
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(m_link->latencyMs());
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0)
            return true;
        // Asking for no event still reports the hang-up of shutdown(), which ends the wait.
        pollfd watched{m_fd, 0, 0};
        const int r = ::poll(&watched, 1, int(left));
        if (r > 0)
            return false;
        if (r < 0 && errno != EINTR)
            return false;
    }
}

bool Socket::writeAll(const char *buf, qsizetype n)
{
    if (m_turnOpen) {
        m_turnOpen = false;
        if (m_link) {
            m_link->countTurn(m_turnFirstByte);
            if (m_link->latencyMs() > 0 && !waitForTheLink())
                return false;
        }
    }
    qsizetype done = 0;
    while (done < n) {
        const ssize_t r = ::send(m_fd, buf + done, size_t(n - done), MSG_NOSIGNAL);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += r;
    }
    return true;
}

void Socket::shutdown()
{
    if (!m_shut.exchange(true))
        ::shutdown(m_fd, SHUT_RDWR);
}

ReadOutcome readMessage(ByteStream &socket, ClientMessage &out)
{
    out = ClientMessage{};
    bool first = true;
    for (;;) {
        char header[HeaderSize];
        if (!socket.readExact(header, 1)) {
            if (first)
                return ReadOutcome::Closed;
            throw ProtocolError("connection closed inside a message");
        }
        if (!socket.readExact(header + 1, HeaderSize - 1))
            throw ProtocolError("connection closed inside a packet header");
        const auto type = static_cast<PacketType>(quint8(header[0]));
        const quint8 status = quint8(header[1]);
        const quint16 length = qFromBigEndian<quint16>(header + 2);
        if (length < HeaderSize)
            throw ProtocolError("packet length below the header size");
        switch (type) {
        case PacketType::SqlBatch:
        case PacketType::Rpc:
        case PacketType::Attention:
        case PacketType::BulkLoad:
        case PacketType::TransactionManager:
        case PacketType::Login7:
        case PacketType::Sspi:
        case PacketType::PreLogin:
            break;
        default:
            throw ProtocolError("unknown packet type");
        }
        if (first) {
            out.type = type;
            out.resetConnection =
                status & (packetstatus::ResetConnection | packetstatus::ResetConnectionSkipTran);
        } else if (type != out.type) {
            throw ProtocolError("packet type changes inside a message");
        }
        const qsizetype bodySize = length - HeaderSize;
        if (out.payload.size() + bodySize > MaxMessageSize)
            throw ProtocolError("message too large");
        const qsizetype at = out.payload.size();
        out.payload.resize(at + bodySize);
        if (bodySize > 0 && !socket.readExact(out.payload.data() + at, bodySize))
            throw ProtocolError("connection closed inside a packet");
        out.status = status;
        first = false;
        if (status & packetstatus::EndOfMessage)
            return ReadOutcome::Message;
    }
}

bool PacketWriter::sendPacket(PacketType type, quint8 status, const char *data, qsizetype n)
{
    QByteArray packet(HeaderSize, Qt::Uninitialized);
    packet[0] = char(type);
    packet[1] = char(status);
    qToBigEndian<quint16>(quint16(n + HeaderSize), packet.data() + 2);
    qToBigEndian<quint16>(m_spid, packet.data() + 4);
    packet[6] = char(m_packetNumber++);
    packet[7] = 0;
    packet.append(data, n);
    return m_stream.writeAll(packet.constData(), packet.size());
}

bool PacketWriter::send(PacketType type, const QByteArray &payload)
{
    const qsizetype chunk = m_packetSize - HeaderSize;
    qsizetype at = 0;
    do {
        const qsizetype n = qMin(chunk, payload.size() - at);
        const bool last = at + n >= payload.size();
        if (!sendPacket(type, last ? packetstatus::EndOfMessage : 0, payload.constData() + at, n))
            return false;
        at += n;
    } while (at < payload.size());
    m_packetNumber = 1;
    return true;
}

bool PacketWriter::sendPartial(PacketType type, const QByteArray &payload)
{
    const qsizetype chunk = m_packetSize - HeaderSize;
    for (qsizetype at = 0; at < payload.size(); at += chunk) {
        if (!sendPacket(type, 0, payload.constData() + at, qMin(chunk, payload.size() - at)))
            return false;
    }
    return true;
}

} // namespace sandbox::tds
