#include "sandbox/tds/datatypes.h"

#include "common/cp1251.h"
#include "sandbox/tds/bytes.h"

#include <QDate>
#include <QTime>

#include <cmath>
#include <limits>

namespace sandbox::tds {

using namespace tdstype;

QByteArray serverCollation()
{
    return QByteArray("\x19\x04\xd0\x00\x00", 5);
}

namespace {

bool isUShortLen(quint8 t)
{
    return t == BigVarBin || t == BigVarChr || t == BigBinary || t == BigChar || t == NVarChar || t == NChar;
}

bool isByteLen(quint8 t)
{
    switch (t) {
    case Guid:
    case IntN:
    case BitN:
    case FltN:
    case MoneyN:
    case DateTimN:
    case DecimalN:
    case NumericN:
    case Decimal:
    case Numeric:
    case DateN:
    case TimeN:
    case DateTime2N:
    case DateTimeOffsetN:
        return true;
    default:
        return false;
    }
}

int fixedSize(quint8 t)
{
    switch (t) {
    case Null:
        return 0;
    case Int1:
    case Bit:
        return 1;
    case Int2:
        return 2;
    case Int4:
    case DateTim4:
    case Flt4:
    case Money4:
        return 4;
    case Money:
    case DateTime:
    case Flt8:
    case Int8:
        return 8;
    default:
        return -1;
    }
}

bool isNarrowText(quint8 t)
{
    return t == BigVarChr || t == BigChar || t == Text;
}
bool isWideText(quint8 t)
{
    return t == NVarChar || t == NChar || t == NText || t == Xml;
}

qint64 littleEndianSigned(const QByteArray &b)
{
    quint64 v = 0;
    for (qsizetype i = b.size() - 1; i >= 0; --i)
        v = (v << 8) | quint8(b[i]);
    const int bits = int(b.size()) * 8;
    if (bits < 64 && (v >> (bits - 1)) & 1)
        v |= ~quint64(0) << bits;
    return qint64(v);
}

quint64 littleEndianUnsigned(const QByteArray &b, qsizetype from, qsizetype n)
{
    quint64 v = 0;
    for (qsizetype i = from + n - 1; i >= from; --i)
        v = (v << 8) | quint8(b[i]);
    return v;
}

QString timeText(quint64 units, int scale)
{
    // units of 10^-scale seconds since midnight
    quint64 pow10 = 1;
    for (int i = 0; i < scale; ++i)
        pow10 *= 10;
    const quint64 seconds = units / pow10;
    const quint64 fraction = units % pow10;
    QString text = QStringLiteral("%1:%2:%3")
                       .arg(seconds / 3600 % 24, 2, 10, QLatin1Char('0'))
                       .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                       .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    if (scale > 0)
        text += QStringLiteral(".%1").arg(fraction, scale, 10, QLatin1Char('0'));
    return text;
}

QString dateText(qint64 daysSinceYearOne)
{
    return QDate(1, 1, 1).addDays(daysSinceYearOne).toString(Qt::ISODate);
}

Value decodeDecimal(const QByteArray &b, int scale)
{
    if (b.size() < 2 || b.size() > 17)
        throw ProtocolError("bad decimal length");
    const bool positive = b[0] != 0;
    using u128 = unsigned __int128;
    u128 magnitude = 0;
    for (qsizetype i = b.size() - 1; i >= 1; --i)
        magnitude = (magnitude << 8) | quint8(b[i]);
    if (scale == 0 && magnitude <= u128(std::numeric_limits<qint64>::max())) {
        const qint64 v = qint64(magnitude);
        return positive ? v : -v;
    }
    QString digits;
    do {
        digits.prepend(QChar(u'0' + int(magnitude % 10)));
        magnitude /= 10;
    } while (magnitude != 0);
    while (digits.size() <= scale)
        digits.prepend(u'0');
    if (scale > 0)
        digits.insert(digits.size() - scale, u'.');
    const double v = digits.toDouble();
    return positive ? v : -v;
}

Value decodeByteLen(quint8 type, const TypeInfo &info, const QByteArray &b)
{
    const qsizetype n = b.size();
    switch (type) {
    case IntN:
        if (n == 1)
            return qint64(quint8(b[0])); // tinyint is unsigned
        if (n == 2 || n == 4 || n == 8)
            return littleEndianSigned(b);
        break;
    case BitN:
        if (n == 1)
            return qint64(b[0] != 0);
        break;
    case FltN:
        if (n == 4) {
            ByteReader r(b);
            return double(r.f32());
        }
        if (n == 8) {
            ByteReader r(b);
            return r.f64();
        }
        break;
    case MoneyN:
        if (n == 4)
            return double(littleEndianSigned(b)) / 10000.0;
        if (n == 8) {
            const qint64 high = qint32(littleEndianUnsigned(b, 0, 4));
            const quint64 low = littleEndianUnsigned(b, 4, 4);
            return double(qint64((quint64(high) << 32) | low)) / 10000.0;
        }
        break;
    case DateTimN:
        if (n == 4) {
            const quint64 days = littleEndianUnsigned(b, 0, 2);
            const quint64 minutes = littleEndianUnsigned(b, 2, 2);
            return QStringLiteral("%1T%2").arg(QDate(1900, 1, 1).addDays(qint64(days)).toString(Qt::ISODate),
                                               timeText(minutes * 60, 0));
        }
        if (n == 8) {
            const qint64 days = qint32(littleEndianUnsigned(b, 0, 4));
            const quint64 ticks = littleEndianUnsigned(b, 4, 4); // 1/300 s
            const quint64 ms = (ticks * 10 + 1) / 3;
            return QStringLiteral("%1T%2").arg(QDate(1900, 1, 1).addDays(days).toString(Qt::ISODate),
                                               timeText(ms, 3));
        }
        break;
    case Decimal:
    case Numeric:
    case DecimalN:
    case NumericN:
        return decodeDecimal(b, info.scale);
    case Guid:
        if (n == 16) {
            const QByteArray hex = b.toHex();
            auto swapped = [&](int from, int bytes) {
                QByteArray out;
                for (int i = from + bytes - 1; i >= from; --i)
                    out += hex.mid(i * 2, 2);
                return out;
            };
            return QString::fromLatin1(swapped(0, 4) + '-' + swapped(4, 2) + '-' + swapped(6, 2) + '-' +
                                       hex.mid(16, 4) + '-' + hex.mid(20, 12))
                .toUpper();
        }
        break;
    case DateN:
        // A date is a date: written with its T, so that no session's date format reads it
        // otherwise (2026-01-02 under dmy would be the 1st of February as a datetime's text).
        if (n == 3)
            return dateText(qint64(littleEndianUnsigned(b, 0, 3))) + QStringLiteral("T00:00:00");
        break;
    case TimeN:
        if (n >= 3 && n <= 5)
            return timeText(littleEndianUnsigned(b, 0, n), info.scale);
        break;
    case DateTime2N:
    case DateTimeOffsetN: {
        const qsizetype timeBytes = n - 3 - (type == DateTimeOffsetN ? 2 : 0);
        if (timeBytes < 3 || timeBytes > 5)
            break;
        QString text = dateText(qint64(littleEndianUnsigned(b, timeBytes, 3))) + u'T' +
                       timeText(littleEndianUnsigned(b, 0, timeBytes), info.scale);
        if (type == DateTimeOffsetN) {
            const int offset = qint16(littleEndianUnsigned(b, timeBytes + 3, 2));
            text += QStringLiteral(" %1%2:%3")
                        .arg(offset < 0 ? u'-' : u'+')
                        .arg(std::abs(offset) / 60, 2, 10, QLatin1Char('0'))
                        .arg(std::abs(offset) % 60, 2, 10, QLatin1Char('0'));
        }
        return text;
    }
    default:
        break;
    }
    throw ProtocolError("bad value length for its type");
}

Value decodeFixed(quint8 type, const QByteArray &b)
{
    switch (type) {
    case Null:
        return {};
    case Int1:
        return decodeByteLen(IntN, {}, b);
    case Bit:
        return decodeByteLen(BitN, {}, b);
    case Int2:
    case Int4:
    case Int8:
        return littleEndianSigned(b);
    case Flt4:
    case Flt8:
        return decodeByteLen(FltN, {}, b);
    case Money:
    case Money4:
        return decodeByteLen(MoneyN, {}, b);
    case DateTime:
    case DateTim4:
        return decodeByteLen(DateTimN, {}, b);
    default:
        throw ProtocolError("unknown fixed type");
    }
}

Value decodeBytes(quint8 type, const QByteArray &b)
{
    if (isNarrowText(type))
        return Cp1251::toUnicode(b);
    if (isWideText(type)) {
        if (b.size() % 2)
            throw ProtocolError("odd length of UTF-16 text");
        return fromUcs2(b);
    }
    return b;
}

} // namespace

bool TypeInfo::isPlp() const
{
    return type == Xml || (isUShortLen(type) && maxLength == 0xFFFF);
}

TypeInfo readTypeInfo(ByteReader &r)
{
    TypeInfo t;
    t.type = r.u8();
    if (const int size = fixedSize(t.type); size >= 0) {
        t.maxLength = quint32(size);
        return t;
    }
    if (isByteLen(t.type)) {
        switch (t.type) {
        case DateN:
            t.maxLength = 3;
            break;
        case TimeN:
        case DateTime2N:
        case DateTimeOffsetN:
            t.scale = r.u8();
            if (t.scale > 7)
                throw ProtocolError("bad time scale");
            break;
        default:
            t.maxLength = r.u8();
            if (t.type == DecimalN || t.type == NumericN || t.type == Decimal || t.type == Numeric) {
                t.precision = r.u8();
                t.scale = r.u8();
            }
            break;
        }
        return t;
    }
    if (isUShortLen(t.type)) {
        t.maxLength = r.u16();
        if (t.type != BigVarBin && t.type != BigBinary)
            t.collation = r.bytes(5);
        return t;
    }
    if (t.type == Text || t.type == NText || t.type == Image) {
        t.maxLength = r.u32();
        if (t.type != Image)
            t.collation = r.bytes(5);
        return t;
    }
    if (t.type == Xml) {
        if (r.u8() != 0) { // schema: database, owner, collection
            r.bVarchar();
            r.bVarchar();
            r.usVarchar();
        }
        t.maxLength = 0xFFFF;
        return t;
    }
    throw ProtocolError("unsupported data type");
}

Value readValue(ByteReader &r, const TypeInfo &t)
{
    if (const int size = fixedSize(t.type); size >= 0)
        return decodeFixed(t.type, r.bytes(size));
    if (isByteLen(t.type)) {
        const quint8 n = r.u8();
        if (n == 0)
            return {};
        return decodeByteLen(t.type, t, r.bytes(n));
    }
    if (t.isPlp()) {
        const quint64 total = r.u64();
        if (total == ~quint64(0))
            return {};
        QByteArray data;
        for (;;) {
            const quint32 chunk = r.u32();
            if (chunk == 0)
                break;
            if (qsizetype(chunk) > r.remaining())
                throw ProtocolError("PLP chunk outside the message");
            data += r.bytes(chunk);
        }
        return decodeBytes(t.type, data);
    }
    if (isUShortLen(t.type)) {
        const quint16 n = r.u16();
        if (n == 0xFFFF)
            return {};
        return decodeBytes(t.type, r.bytes(n));
    }
    if (t.type == Text || t.type == NText || t.type == Image) {
        const quint32 n = r.u32();
        if (n == 0xFFFFFFFFu)
            return {};
        if (qsizetype(n) > r.remaining())
            throw ProtocolError("value outside the message");
        return decodeBytes(t.type, r.bytes(n));
    }
    throw ProtocolError("unsupported data type");
}

QString declaration(const TypeInfo &t)
{
    auto sized = [&](const char *name, quint32 divisor) {
        if (t.maxLength == 0xFFFF)
            return QStringLiteral("%1(max)").arg(QLatin1String(name));
        return QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(qMax<quint32>(1, t.maxLength / divisor));
    };
    switch (t.type) {
    case Null:
        return QStringLiteral("int");
    case Int1:
        return QStringLiteral("tinyint");
    case Bit:
    case BitN:
        return QStringLiteral("bit");
    case Int2:
        return QStringLiteral("smallint");
    case Int4:
        return QStringLiteral("int");
    case Int8:
        return QStringLiteral("bigint");
    case IntN:
        switch (t.maxLength) {
        case 1:
            return QStringLiteral("tinyint");
        case 2:
            return QStringLiteral("smallint");
        case 8:
            return QStringLiteral("bigint");
        default:
            return QStringLiteral("int");
        }
    case Flt4:
        return QStringLiteral("real");
    case Flt8:
        return QStringLiteral("float");
    case FltN:
        return t.maxLength == 4 ? QStringLiteral("real") : QStringLiteral("float");
    case Money:
        return QStringLiteral("money");
    case Money4:
        return QStringLiteral("smallmoney");
    case MoneyN:
        return t.maxLength == 4 ? QStringLiteral("smallmoney") : QStringLiteral("money");
    case DateTime:
        return QStringLiteral("datetime");
    case DateTim4:
        return QStringLiteral("smalldatetime");
    case DateTimN:
        return t.maxLength == 4 ? QStringLiteral("smalldatetime") : QStringLiteral("datetime");
    case DateN:
        return QStringLiteral("date");
    case TimeN:
        return QStringLiteral("time(%1)").arg(t.scale);
    case DateTime2N:
        return QStringLiteral("datetime2(%1)").arg(t.scale);
    case DateTimeOffsetN:
        return QStringLiteral("datetimeoffset(%1)").arg(t.scale);
    case Decimal:
    case DecimalN:
        return QStringLiteral("decimal(%1,%2)").arg(t.precision).arg(t.scale);
    case Numeric:
    case NumericN:
        return QStringLiteral("numeric(%1,%2)").arg(t.precision).arg(t.scale);
    case Guid:
        return QStringLiteral("uniqueidentifier");
    case BigVarChr:
        return sized("varchar", 1);
    case BigChar:
        return sized("char", 1);
    case NVarChar:
        return sized("nvarchar", 2);
    case NChar:
        return sized("nchar", 2);
    case BigVarBin:
        return sized("varbinary", 1);
    case BigBinary:
        return sized("binary", 1);
    case Text:
        return QStringLiteral("text");
    case NText:
        return QStringLiteral("ntext");
    case Image:
        return QStringLiteral("image");
    case Xml:
        return QStringLiteral("xml");
    default:
        return QStringLiteral("sql_variant");
    }
}

} // namespace sandbox::tds
