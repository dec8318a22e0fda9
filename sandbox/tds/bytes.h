#pragma once
// Little-endian readers and writers over byte buffers, as TDS lays out its messages.
// ByteReader checks every read against the end of the buffer and throws ProtocolError, so a
// malformed or hostile message can never make the server read outside what it received.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <stdexcept>

namespace sandbox::tds {

// A message that breaks the protocol. The connection that sent it is closed.
class ProtocolError : public std::runtime_error {
public:
    explicit ProtocolError(const std::string &what) : std::runtime_error(what) {}
};

class ByteReader {
public:
    explicit ByteReader(const QByteArray &data, qsizetype start = 0, qsizetype end = -1);

    qsizetype position() const { return m_pos; }
    qsizetype remaining() const { return m_end - m_pos; }
    bool atEnd() const { return m_pos >= m_end; }
    void seek(qsizetype pos); // absolute, within the reader's range

    quint8 u8();
    quint16 u16();
    quint16 u16be();
    quint32 u32();
    quint32 u32be();
    quint64 u64();
    qint32 i32() { return static_cast<qint32>(u32()); }
    qint64 i64() { return static_cast<qint64>(u64()); }
    double f64();
    float f32();
    QByteArray bytes(qsizetype n);
    void skip(qsizetype n);
    quint8 peek() const;

    // UTF-16LE text of n characters.
    QString ucs2(qsizetype chars);
    // B_VARCHAR: a byte with the length in characters, then UTF-16LE.
    QString bVarchar() { return ucs2(u8()); }
    // US_VARCHAR: a 16-bit length in characters, then UTF-16LE.
    QString usVarchar() { return ucs2(u16()); }

private:
    void need(qsizetype n) const;
    const QByteArray &m_data;
    qsizetype m_pos;
    qsizetype m_end;
};

class ByteWriter {
public:
    QByteArray &data() { return m_data; }
    const QByteArray &data() const { return m_data; }
    qsizetype size() const { return m_data.size(); }

    void u8(quint8 v) { m_data.append(char(v)); }
    void u16(quint16 v);
    void u16be(quint16 v);
    void u32(quint32 v);
    void u32be(quint32 v);
    void u64(quint64 v);
    void i32(qint32 v) { u32(static_cast<quint32>(v)); }
    void i64(qint64 v) { u64(static_cast<quint64>(v)); }
    void f64(double v);
    void bytes(const QByteArray &b) { m_data.append(b); }
    void bytes(const char *p, qsizetype n) { m_data.append(p, n); }
    void ucs2(const QString &s);      // UTF-16LE, no length
    void bVarchar(const QString &s);  // at most 255 characters are kept
    void usVarchar(const QString &s); // at most 65535 characters are kept
    // Writes a 16-bit placeholder and returns its position; patch16 fills it in later.
    qsizetype placeholder16();
    void patch16(qsizetype at, quint16 v);

private:
    QByteArray m_data;
};

QByteArray toUcs2(const QString &s);
QString fromUcs2(const QByteArray &b);

} // namespace sandbox::tds
