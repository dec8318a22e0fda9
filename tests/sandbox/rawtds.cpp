#include "rawtds.h"

#include <QTest>
#include <QtEndian>

QByteArray packet(quint8 type, const QByteArray &payload, quint8 status)
{
    QByteArray p(8, '\0');
    p[0] = char(type);
    p[1] = char(status);
    qToBigEndian<quint16>(quint16(payload.size() + 8), p.data() + 2);
    p[6] = 1;
    return p + payload;
}

QByteArray ucs2(const QString &s)
{
    QByteArray b;
    for (const QChar c : s) {
        b.append(char(c.unicode() & 0xFF));
        b.append(char(c.unicode() >> 8));
    }
    return b;
}

QByteArray preLogin(quint8 encryption)
{
    // VERSION at 11 (6 bytes), ENCRYPTION at 17 (1 byte), terminator, the data
    return QByteArray::fromHex("00000b0006"
                               "0100110001"
                               "ff"
                               "0b0000000000") +
           QByteArray(1, char(encryption));
}

QByteArray login7(const QString &user, const QString &password, const QString &database,
                  const QString &language)
{
    QByteArray scrambled = ucs2(password);
    for (char &c : scrambled) {
        const quint8 b = quint8(c);
        c = char(quint8((b << 4) | (b >> 4)) ^ 0xA5);
    }
    const QList<QByteArray> fields = {ucs2(QStringLiteral("probe")), ucs2(user),     scrambled,
                                      ucs2(QStringLiteral("probe")), QByteArray(),   QByteArray(),
                                      ucs2(QStringLiteral("probe")), ucs2(language), ucs2(database)};
    QByteArray fixed(36, '\0');
    qToLittleEndian<quint32>(0x74000004, fixed.data() + 4);
    qToLittleEndian<quint32>(4096, fixed.data() + 8);
    QByteArray table;
    QByteArray data;
    quint16 offset = 94;
    auto pair = [&](quint16 a, quint16 b) {
        char buf[4];
        qToLittleEndian<quint16>(a, buf);
        qToLittleEndian<quint16>(b, buf + 2);
        table.append(buf, 4);
    };
    for (const QByteArray &f : fields) {
        pair(quint16(offset + data.size()), quint16(f.size() / 2));
        data += f;
    }
    table += QByteArray(6, '\0'); // client id
    pair(0, 0);                   // SSPI
    pair(0, 0);                   // attach file
    pair(0, 0);                   // change password
    table += QByteArray(4, '\0'); // long SSPI
    QByteArray record = fixed + table + data;
    qToLittleEndian<quint32>(quint32(record.size()), record.data());
    return record;
}

QByteArray allHeaders()
{
    // total length, one transaction descriptor header (length 18, type 2, descriptor, count)
    return QByteArray::fromHex("16000000"
                               "12000000"
                               "0200"
                               "0000000000000000"
                               "01000000");
}

namespace {
// One packet's payload; false when the server closed or nothing came in time.
bool readPacket(QTcpSocket &socket, QByteArray &payload, bool &last)
{
    while (socket.bytesAvailable() < 8) {
        if (!socket.waitForReadyRead(Patience))
            return false;
    }
    const QByteArray header = socket.read(8);
    const int length = qFromBigEndian<quint16>(header.constData() + 2);
    QByteArray body;
    while (body.size() < length - 8) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(Patience))
            return false;
        body += socket.read(length - 8 - body.size());
    }
    payload += body;
    last = quint8(header[1]) & 0x01;
    return true;
}
} // namespace

QByteArray readAnswer(QTcpSocket &socket)
{
    QByteArray answer;
    bool last = false;
    while (!last) {
        if (!readPacket(socket, answer, last))
            return {};
    }
    return answer;
}

QByteArray readAnswerUntil(QTcpSocket &socket, const QString &word, bool *ended)
{
    QByteArray answer;
    bool last = false;
    while (!last && !tokenWords(answer).contains(word)) {
        if (!readPacket(socket, answer, last))
            break;
    }
    if (ended)
        *ended = last;
    return answer;
}

QStringList tokenWords(const QByteArray &answer)
{
    QStringList out;
    qsizetype i = 0;
    const auto u16 = [&](qsizetype at) { return qFromLittleEndian<quint16>(answer.constData() + at); };
    QList<quint8> columns; // the types of the result's columns, while they are integers
    while (i < answer.size()) {
        const quint8 token = quint8(answer[i]);
        if (token == 0x81) {
            // Columns of integer types only (INTN, INT4, INT8), each its user type, flags, type,
            // INTN's length and a name.
            if (i + 3 > answer.size())
                break;
            QList<quint8> types;
            qsizetype at = i + 3;
            bool whole = true;
            for (quint16 c = 0; whole && c < u16(i + 1); ++c) {
                if (at + 8 > answer.size()) {
                    whole = false;
                    break;
                }
                const quint8 type = quint8(answer[at + 6]);
                if (type != 0x26 && type != 0x38 && type != 0x7F) {
                    types.clear();
                    break;
                }
                types << type;
                at += 7 + (type == 0x26 ? 1 : 0);
                whole = at < answer.size() && at + 1 + 2 * quint8(answer[at]) <= answer.size();
                if (whole)
                    at += 1 + 2 * quint8(answer[at]);
            }
            if (!whole)
                break;
            if (types.size() != u16(i + 1)) {
                out << QStringLiteral("token 81");
                break;
            }
            columns = types;
            out << QStringLiteral("COLMETADATA %1").arg(types.size());
            i = at;
            continue;
        }
        if (token == 0xD1) {
            if (columns.isEmpty()) {
                out << QStringLiteral("token d1");
                break;
            }
            QStringList values;
            qsizetype at = i + 1;
            for (const quint8 type : columns) {
                const int length = type == 0x26   ? (at < answer.size() ? quint8(answer[at++]) : 99)
                                   : type == 0x38 ? 4
                                                  : 8;
                if (at + length > answer.size()) {
                    values.clear();
                    break;
                }
                values << (length == 0   ? QStringLiteral("NULL")
                           : length == 1 ? QString::number(quint8(answer[at]))
                           : length == 2 ? QString::number(qFromLittleEndian<qint16>(answer.constData() + at))
                           : length == 4
                               ? QString::number(qFromLittleEndian<qint32>(answer.constData() + at))
                               : QString::number(qFromLittleEndian<qint64>(answer.constData() + at)));
                at += length;
            }
            if (values.size() != columns.size())
                break; // not arrived whole
            out << QStringLiteral("ROW ") + values.join(u',');
            i = at;
            continue;
        }
        // A token that has not arrived whole ends the reading.
        if (i + 13 > answer.size() && (token == 0xFD || token == 0xFE || token == 0xFF))
            break;
        if (i + 5 > answer.size() ||
            ((token == 0xAA || token == 0xAB || token == 0xE3) && i + 3 + u16(i + 1) > answer.size()))
            break;
        if (token == 0xFD || token == 0xFE || token == 0xFF) {
            const quint16 status = u16(i + 1);
            const quint64 count = qFromLittleEndian<quint64>(answer.constData() + i + 5);
            QStringList flags;
            if (status & 0x01)
                flags << QStringLiteral("MORE");
            if (status & 0x02)
                flags << QStringLiteral("ERROR");
            if (status & 0x10)
                flags << QStringLiteral("COUNT");
            if (status & 0x20)
                flags << QStringLiteral("ATTN");
            QString word = token == 0xFD   ? QStringLiteral("DONE")
                           : token == 0xFE ? QStringLiteral("DONEPROC")
                                           : QStringLiteral("DONEINPROC");
            if (!flags.isEmpty())
                word += u' ' + flags.join(u'|');
            if (status & 0x10)
                word += u' ' + QString::number(count);
            out << word;
            i += 13;
        } else if (token == 0x79) {
            out << QStringLiteral("RETURNSTATUS %1")
                       .arg(qFromLittleEndian<qint32>(answer.constData() + i + 1));
            i += 5;
        } else if (token == 0xAA || token == 0xAB) {
            out << QStringLiteral("%1 %2")
                       .arg(token == 0xAA ? QStringLiteral("ERROR") : QStringLiteral("INFO"))
                       .arg(qFromLittleEndian<qint32>(answer.constData() + i + 3));
            i += 3 + u16(i + 1);
        } else if (token == 0xE3) {
            i += 3 + u16(i + 1);
        } else {
            out << QStringLiteral("token %1").arg(token, 2, 16, QLatin1Char('0'));
            break;
        }
    }
    return out;
}

QStringList messagePlaces(const QByteArray &answer)
{
    QStringList out;
    const auto u16 = [&](qsizetype at) { return qFromLittleEndian<quint16>(answer.constData() + at); };
    const auto text = [&](qsizetype at, qsizetype chars) {
        return QString::fromUtf16(reinterpret_cast<const char16_t *>(answer.constData() + at), chars);
    };
    for (qsizetype i = 0; i + 3 <= answer.size();) {
        const quint8 token = quint8(answer[i]);
        if (token == 0xFD || token == 0xFE || token == 0xFF) {
            i += 13;
        } else if (token == 0x79) {
            i += 5;
        } else if (token == 0xAA || token == 0xAB || token == 0xE3) {
            const qsizetype end = i + 3 + u16(i + 1);
            if (end > answer.size())
                break;
            if (token != 0xE3) {
                // number, state, class, text (US_VARCHAR), server and procedure (B_VARCHAR), line
                qsizetype at = i + 3;
                const qint32 number = qFromLittleEndian<qint32>(answer.constData() + at);
                at += 6;
                at += 2 + 2 * qsizetype(u16(at));
                at += 1 + 2 * qsizetype(quint8(answer[at]));
                const qsizetype procChars = quint8(answer[at]);
                const QString procedure = text(at + 1, procChars);
                at += 1 + 2 * procChars;
                const qint32 line = qFromLittleEndian<qint32>(answer.constData() + at);
                out << QStringLiteral("%1 %2 at %3:%4")
                           .arg(token == 0xAA ? QStringLiteral("ERROR") : QStringLiteral("INFO"))
                           .arg(number)
                           .arg(procedure)
                           .arg(line);
            }
            i = end;
        } else {
            break;
        }
    }
    return out;
}

QByteArray rpcCall(const QString &procedure, const QList<qint32> &arguments)
{
    QByteArray body = allHeaders();
    body.append(char(procedure.size()));
    body.append(char(0));
    body += ucs2(procedure);
    body += QByteArray(2, '\0'); // option flags
    for (const qint32 a : arguments) {
        body += QByteArray::fromHex("00"
                                    "00"
                                    "26"
                                    "04"
                                    "04"); // no name, input, INTN 4, 4 bytes
        char v[4];
        qToLittleEndian<qint32>(a, v);
        body.append(v, 4);
    }
    return packet(0x03, body);
}

bool waitClosed(QTcpSocket &socket)
{
    if (socket.state() != QAbstractSocket::UnconnectedState)
        socket.waitForDisconnected(Patience);
    return socket.state() == QAbstractSocket::UnconnectedState;
}

void signInRaw(QTcpSocket &socket, quint16 port, const QString &user, const QString &password)
{
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    QVERIFY(socket.waitForConnected(Patience));
    socket.write(packet(0x12, preLogin()));
    QVERIFY(!readAnswer(socket).isEmpty());
    socket.write(packet(0x10, login7(user, password, QStringLiteral("qel"))));
    QVERIFY(readAnswer(socket).contains(char(0xAD))); // LOGINACK
}
