#include "sandbox/tds/tokens.h"

#include "common/cp1251.h"

#include <QDateTime>

#include <cstring>

namespace sandbox::tds {

using namespace tdstype;

namespace {

enum Token : quint8 {
    ReturnStatusToken = 0x79,
    ColMetadataToken = 0x81,
    ErrorToken = 0xAA,
    InfoToken = 0xAB,
    ReturnValueToken = 0xAC,
    LoginAckToken = 0xAD,
    RowToken = 0xD1,
    EnvChangeToken = 0xE3,
    DoneToken = 0xFD,
    DoneProcToken = 0xFE,
    DoneInProcToken = 0xFF,
};

constexpr quint16 ColumnNullable = 0x0001;
constexpr quint16 ColumnUpdatableUnknown = 0x0008;
constexpr quint16 ColumnComputed = 0x0020;
constexpr qsizetype ShortMaxBytes = 8000; // the widest sized column; wider ones are (max) types

QString asText(const Value &v)
{
    return valueToText(v);
}

QByteArray asBytes(const Value &v)
{
    if (const auto *b = std::get_if<QByteArray>(&v))
        return *b;
    return asText(v).toUtf8();
}

qint64 asInteger(const Value &v)
{
    if (const auto *i = std::get_if<qint64>(&v))
        return *i;
    if (const auto *d = std::get_if<double>(&v))
        return qint64(*d);
    return asText(v).trimmed().toLongLong();
}

double asDouble(const Value &v)
{
    if (const auto *d = std::get_if<double>(&v))
        return *d;
    if (const auto *i = std::get_if<qint64>(&v))
        return double(*i);
    return asText(v).trimmed().toDouble();
}

// The bytes a text or binary value takes on the wire for the type.
QByteArray wireBytes(quint8 type, const Value &v)
{
    switch (type) {
    case BigVarChr:
    case BigChar:
        return Cp1251::fromUnicode(asText(v));
    case NVarChar:
    case NChar:
        return toUcs2(asText(v));
    default:
        return asBytes(v);
    }
}

} // namespace

WireColumn wireColumn(const Column &column)
{
    WireColumn wc;
    wc.name = column.name;
    // A table's column is of unknown updatability; an expression is computed; an aggregate is
    // neither. Each may hold NULL or not.
    const quint16 kind = column.aggregate ? 0 : column.computed ? ColumnComputed : ColumnUpdatableUnknown;
    wc.flags = quint16(kind | (column.nullable ? ColumnNullable : 0));
    TypeInfo &t = wc.type;
    // Numbers and datetime that cannot be NULL travel in the fixed-length types.
    const auto sized = [&](quint8 nullable, quint8 fixed, quint32 length) {
        t.type = column.nullable ? nullable : fixed;
        t.maxLength = length;
        return wc;
    };
    switch (column.type) {
    case ColumnType::Int:
        return sized(IntN, Int4, 4);
    case ColumnType::BigInt:
        return sized(IntN, Int8, 8);
    case ColumnType::SmallInt:
        return sized(IntN, Int2, 2);
    case ColumnType::TinyInt:
        return sized(IntN, Int1, 1);
    case ColumnType::Bit:
        return sized(BitN, Bit, 1);
    case ColumnType::Float:
        return sized(FltN, Flt8, 8);
    case ColumnType::Real:
        return sized(FltN, Flt4, 4);
    case ColumnType::DateTime:
        return sized(DateTimN, DateTime, 8);
    case ColumnType::Date:
        t.type = DateN;
        t.maxLength = 3;
        return wc;
    case ColumnType::VarChar:
        t.type = BigVarChr;
        t.collation = serverCollation();
        break;
    case ColumnType::Char:
        t.type = BigChar;
        t.collation = serverCollation();
        break;
    case ColumnType::NVarChar:
        t.type = NVarChar;
        t.collation = serverCollation();
        break;
    case ColumnType::NChar:
        t.type = NChar;
        t.collation = serverCollation();
        break;
    case ColumnType::VarBinary:
        t.type = BigVarBin;
        break;
    }
    // The declared width, whatever the values: varchar(n) and char(n) take n bytes, nvarchar(n)
    // and nchar(n) 2n; the (max) types travel as partially length-prefixed data.
    const bool wide = t.type == NVarChar || t.type == NChar;
    const qsizetype bytes = qMax(1, column.maxLength) * (wide ? 2 : 1);
    if (column.maxLength == kMaxWidth || bytes > ShortMaxBytes) {
        t.maxLength = 0xFFFF;
        if (t.type == BigChar)
            t.type = BigVarChr;
        else if (t.type == NChar)
            t.type = NVarChar;
        return wc;
    }
    t.maxLength = quint32(bytes);
    return wc;
}

TypeInfo returnType(const TypeInfo &sent)
{
    TypeInfo t;
    switch (sent.type) {
    case Int1:
    case Int2:
    case Int4:
    case Int8:
    case Bit:
    case BitN:
    case IntN:
        t.type = IntN;
        t.maxLength = (sent.type == Int8 || sent.maxLength == 8) ? 8 : 4;
        return t;
    case Flt4:
    case Flt8:
    case FltN:
    case Money:
    case Money4:
    case MoneyN:
    case Decimal:
    case Numeric:
    case DecimalN:
    case NumericN:
        t.type = FltN;
        t.maxLength = 8;
        return t;
    case BigVarBin:
    case BigBinary:
    case Image:
        t.type = BigVarBin;
        t.maxLength = 0xFFFF;
        return t;
    case BigVarChr:
    case BigChar:
    case Text:
        t.type = BigVarChr;
        t.maxLength = 0xFFFF;
        t.collation = serverCollation();
        return t;
    default:
        t.type = NVarChar;
        t.maxLength = 0xFFFF;
        t.collation = serverCollation();
        return t;
    }
}

QByteArray TokenWriter::take()
{
    QByteArray out = std::move(m_out.data());
    m_out.data().clear();
    return out;
}

void TokenWriter::envChange(EnvChange type, const QString &newValue, const QString &oldValue)
{
    ByteWriter body;
    body.u8(quint8(type));
    body.bVarchar(newValue);
    body.bVarchar(oldValue);
    m_out.u8(EnvChangeToken);
    m_out.u16(quint16(body.size()));
    m_out.bytes(body.data());
}

void TokenWriter::envChangeBytes(EnvChange type, const QByteArray &newValue, const QByteArray &oldValue)
{
    ByteWriter body;
    body.u8(quint8(type));
    body.u8(quint8(newValue.size()));
    body.bytes(newValue);
    body.u8(quint8(oldValue.size()));
    body.bytes(oldValue);
    m_out.u8(EnvChangeToken);
    m_out.u16(quint16(body.size()));
    m_out.bytes(body.data());
}

void TokenWriter::message(const Message &m)
{
    ByteWriter body;
    body.i32(m.number);
    body.u8(quint8(m.state));
    // Severity 10 travels as class 0, as the server sends it.
    body.u8(quint8(m.severity == 10 ? 0 : m.severity));
    body.usVarchar(m.text.left(4000));
    body.bVarchar(m_serverName);
    body.bVarchar(m.procedure);
    body.i32(m.line);
    m_out.u8(m.severity > 10 ? ErrorToken : InfoToken);
    m_out.u16(quint16(body.size()));
    m_out.bytes(body.data());
}

void TokenWriter::loginAck(const QString &programName, quint32 tdsVersion)
{
    ByteWriter body;
    body.u8(1); // SQL interface
    body.u32be(tdsVersion);
    body.bVarchar(programName);
    body.u8(16); // program version 16.0.1000
    body.u8(0);
    body.u8(0x03);
    body.u8(0xE8);
    m_out.u8(LoginAckToken);
    m_out.u16(quint16(body.size()));
    m_out.bytes(body.data());
}

void TokenWriter::typeInfo(const TypeInfo &t)
{
    m_out.u8(t.type);
    switch (t.type) {
    case Int1:
    case Int2:
    case Int4:
    case Int8:
    case Bit:
    case Flt4:
    case Flt8:
    case DateTime:
        break; // the type gives the length
    case IntN:
    case BitN:
    case FltN:
    case DateTimN:
        m_out.u8(quint8(t.maxLength));
        break;
    case DateN:
        break;
    case BigVarChr:
    case BigChar:
    case NVarChar:
    case NChar:
        m_out.u16(quint16(t.maxLength));
        m_out.bytes(t.collation.size() == 5 ? t.collation : serverCollation());
        break;
    case BigVarBin:
        m_out.u16(quint16(t.maxLength));
        break;
    case Text:
    case NText:
    case Image:
        m_out.u32(t.maxLength);
        if (t.type != Image)
            m_out.bytes(t.collation.size() == 5 ? t.collation : serverCollation());
        break;
    default:
        throw std::logic_error("unsupported result type");
    }
}

void TokenWriter::integer(quint32 bytes, qint64 n)
{
    switch (bytes) {
    case 1:
        m_out.u8(quint8(n));
        return;
    case 2:
        m_out.u16(quint16(n));
        return;
    case 4:
        m_out.i32(qint32(n));
        return;
    default:
        m_out.i64(n);
        return;
    }
}

void TokenWriter::real(quint32 bytes, double d)
{
    if (bytes == 4) {
        const float f = float(d);
        quint32 bits = 0;
        std::memcpy(&bits, &f, sizeof bits);
        m_out.u32(bits);
        return;
    }
    m_out.f64(d);
}

void TokenWriter::value(const TypeInfo &t, const Value &v)
{
    switch (t.type) {
    case Int1:
    case Int2:
    case Int4:
    case Int8:
        integer(t.maxLength, asInteger(v));
        return;
    case Bit:
        m_out.u8(asInteger(v) != 0 ? 1 : 0);
        return;
    case Flt4:
    case Flt8:
        real(t.maxLength, asDouble(v));
        return;
    case IntN:
        if (isNull(v)) {
            m_out.u8(0);
        } else {
            m_out.u8(quint8(t.maxLength));
            integer(t.maxLength, asInteger(v));
        }
        return;
    case BitN:
        if (isNull(v)) {
            m_out.u8(0);
        } else {
            m_out.u8(1);
            m_out.u8(asInteger(v) != 0 ? 1 : 0);
        }
        return;
    case FltN:
        if (isNull(v)) {
            m_out.u8(0);
        } else {
            m_out.u8(quint8(t.maxLength));
            real(t.maxLength, asDouble(v));
        }
        return;
    case DateTime:
    case DateTimN:
    case DateN: {
        const QDateTime at =
            isNull(v) ? QDateTime() : QDateTime::fromString(asText(v).trimmed(), Qt::ISODateWithMs);
        if (t.type == DateTime) {
            // Never NULL: the column is NOT NULL and the engine keeps dates as ISO text.
            m_out.i32(qint32(QDate(1900, 1, 1).daysTo(at.date())));
            m_out.u32(quint32((qint64(at.time().msecsSinceStartOfDay()) * 3 + 5) / 10));
            return;
        }
        if (!at.isValid()) {
            m_out.u8(0);
            return;
        }
        if (t.type == DateN) {
            const qint64 days = QDate(1, 1, 1).daysTo(at.date());
            m_out.u8(3);
            m_out.u8(quint8(days));
            m_out.u8(quint8(days >> 8));
            m_out.u8(quint8(days >> 16));
            return;
        }
        // Days since 1900-01-01, then the time in 1/300 s.
        m_out.u8(8);
        m_out.i32(qint32(QDate(1900, 1, 1).daysTo(at.date())));
        m_out.u32(quint32((qint64(at.time().msecsSinceStartOfDay()) * 3 + 5) / 10));
        return;
    }
    default:
        break;
    }
    if (t.type == Text || t.type == NText || t.type == Image) {
        if (isNull(v)) {
            m_out.u8(0); // no text pointer
            return;
        }
        const QByteArray bytes = wireBytes(t.type == Text    ? BigVarChr
                                           : t.type == NText ? NVarChar
                                                             : Image,
                                           v);
        m_out.u8(16);
        m_out.bytes(QByteArray(16, '\x01')); // text pointer
        m_out.bytes(QByteArray(8, '\0'));    // timestamp
        m_out.u32(quint32(bytes.size()));
        m_out.bytes(bytes);
        return;
    }
    if (t.isPlp()) {
        if (isNull(v)) {
            m_out.u64(~quint64(0));
            return;
        }
        const QByteArray bytes = wireBytes(t.type, v);
        m_out.u64(quint64(bytes.size()));
        if (!bytes.isEmpty()) {
            m_out.u32(quint32(bytes.size()));
            m_out.bytes(bytes);
        }
        m_out.u32(0);
        return;
    }
    if (isNull(v)) {
        m_out.u16(0xFFFF);
        return;
    }
    QByteArray bytes = wireBytes(t.type, v).left(qMin<qsizetype>(t.maxLength, 0xFFFE));
    if (t.type == BigChar || t.type == NChar) {
        // char(n) and nchar(n) values are padded with blanks to the full width.
        const QByteArray blank = t.type == NChar ? QByteArray(" \0", 2) : QByteArray(" ");
        while (bytes.size() < qsizetype(t.maxLength))
            bytes += blank;
    }
    m_out.u16(quint16(bytes.size()));
    m_out.bytes(bytes);
}

void TokenWriter::columnMetadata(const QList<WireColumn> &columns)
{
    m_out.u8(ColMetadataToken);
    m_out.u16(quint16(columns.size()));
    for (const WireColumn &c : columns) {
        m_out.u32(0); // user type
        m_out.u16(c.flags);
        typeInfo(c.type);
        if (c.type.type == Text || c.type.type == NText || c.type.type == Image)
            m_out.u8(0); // table name in no parts
        m_out.bVarchar(c.name);
    }
}

void TokenWriter::noMetadata()
{
    m_out.u8(ColMetadataToken);
    m_out.u16(0xFFFF);
}

void TokenWriter::row(const QList<WireColumn> &columns, const QList<Value> &values)
{
    m_out.u8(RowToken);
    for (qsizetype i = 0; i < columns.size(); ++i)
        value(columns[i].type, i < values.size() ? values[i] : Value{});
}

void TokenWriter::returnStatus(qint32 status)
{
    m_out.u8(ReturnStatusToken);
    m_out.i32(status);
}

void TokenWriter::returnValue(quint16 ordinal, const QString &name, const TypeInfo &type, const Value &v)
{
    m_out.u8(ReturnValueToken);
    m_out.u16(ordinal);
    m_out.bVarchar(name);
    m_out.u8(0x01); // output parameter
    m_out.u32(0);   // user type
    m_out.u16(ColumnNullable);
    typeInfo(type);
    value(type, v);
}

void TokenWriter::doneToken(quint8 token, quint16 status, quint16 cmd, qint64 rowCount)
{
    m_out.u8(token);
    m_out.u16(status);
    m_out.u16(cmd);
    m_out.u64(quint64(rowCount < 0 ? 0 : rowCount));
}

void TokenWriter::done(quint16 status, quint16 cmd, qint64 rowCount)
{
    doneToken(DoneToken, status, cmd, rowCount);
}

void TokenWriter::doneInProc(quint16 status, quint16 cmd, qint64 rowCount)
{
    doneToken(DoneInProcToken, status, cmd, rowCount);
}

void TokenWriter::doneProc(quint16 status, quint16 cmd, qint64 rowCount)
{
    doneToken(DoneProcToken, status, cmd, rowCount);
}

} // namespace sandbox::tds
