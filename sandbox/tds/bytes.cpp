#include "sandbox/tds/bytes.h"

#include <QtEndian>

#include <cstring>

namespace sandbox::tds {

ByteReader::ByteReader(const QByteArray &data, qsizetype start, qsizetype end)
    : m_data(data), m_pos(start), m_end(end < 0 ? data.size() : end)
{
    if (m_pos < 0 || m_end > data.size() || m_pos > m_end)
        throw ProtocolError("reader outside the message");
}

void ByteReader::need(qsizetype n) const
{
    if (n < 0 || n > m_end - m_pos)
        throw ProtocolError("message ends early");
}

void ByteReader::seek(qsizetype pos)
{
    if (pos < 0 || pos > m_end)
        throw ProtocolError("offset outside the message");
    m_pos = pos;
}

quint8 ByteReader::u8()
{
    need(1);
    return static_cast<quint8>(m_data[m_pos++]);
}

quint8 ByteReader::peek() const
{
    need(1);
    return static_cast<quint8>(m_data[m_pos]);
}

quint16 ByteReader::u16()
{
    need(2);
    const quint16 v = qFromLittleEndian<quint16>(m_data.constData() + m_pos);
    m_pos += 2;
    return v;
}

quint16 ByteReader::u16be()
{
    need(2);
    const quint16 v = qFromBigEndian<quint16>(m_data.constData() + m_pos);
    m_pos += 2;
    return v;
}

quint32 ByteReader::u32()
{
    need(4);
    const quint32 v = qFromLittleEndian<quint32>(m_data.constData() + m_pos);
    m_pos += 4;
    return v;
}

quint32 ByteReader::u32be()
{
    need(4);
    const quint32 v = qFromBigEndian<quint32>(m_data.constData() + m_pos);
    m_pos += 4;
    return v;
}

quint64 ByteReader::u64()
{
    need(8);
    const quint64 v = qFromLittleEndian<quint64>(m_data.constData() + m_pos);
    m_pos += 8;
    return v;
}

double ByteReader::f64()
{
    const quint64 bits = u64();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

float ByteReader::f32()
{
    const quint32 bits = u32();
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

QByteArray ByteReader::bytes(qsizetype n)
{
    need(n);
    QByteArray out = m_data.mid(m_pos, n);
    m_pos += n;
    return out;
}

void ByteReader::skip(qsizetype n)
{
    need(n);
    m_pos += n;
}

QString ByteReader::ucs2(qsizetype chars)
{
    if (chars < 0 || chars > (m_end - m_pos) / 2)
        throw ProtocolError("text runs past the message");
    return fromUcs2(bytes(chars * 2));
}

void ByteWriter::u16(quint16 v)
{
    char b[2];
    qToLittleEndian(v, b);
    m_data.append(b, 2);
}

void ByteWriter::u16be(quint16 v)
{
    char b[2];
    qToBigEndian(v, b);
    m_data.append(b, 2);
}

void ByteWriter::u32(quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    m_data.append(b, 4);
}

void ByteWriter::u32be(quint32 v)
{
    char b[4];
    qToBigEndian(v, b);
    m_data.append(b, 4);
}

void ByteWriter::u64(quint64 v)
{
    char b[8];
    qToLittleEndian(v, b);
    m_data.append(b, 8);
}

void ByteWriter::f64(double v)
{
    quint64 bits;
    std::memcpy(&bits, &v, sizeof bits);
    u64(bits);
}

void ByteWriter::ucs2(const QString &s)
{
    m_data.append(toUcs2(s));
}

void ByteWriter::bVarchar(const QString &s)
{
    const QString t = s.left(255);
    u8(quint8(t.size()));
    ucs2(t);
}

void ByteWriter::usVarchar(const QString &s)
{
    const QString t = s.left(65535);
    u16(quint16(t.size()));
    ucs2(t);
}

qsizetype ByteWriter::placeholder16()
{
    const qsizetype at = m_data.size();
    u16(0);
    return at;
}

void ByteWriter::patch16(qsizetype at, quint16 v)
{
    qToLittleEndian(v, m_data.data() + at);
}

QByteArray toUcs2(const QString &s)
{
    QByteArray out(s.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < s.size(); ++i)
        qToLittleEndian<quint16>(s.at(i).unicode(), out.data() + 2 * i);
    return out;
}

QString fromUcs2(const QByteArray &b)
{
    QString out(b.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < out.size(); ++i)
        out[i] = QChar(qFromLittleEndian<quint16>(b.constData() + 2 * i));
    return out;
}

} // namespace sandbox::tds
