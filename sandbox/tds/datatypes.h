#pragma once
// TDS data types: reading a TYPE_INFO and a value of that type (RPC parameters), and the
// declaration text of a type (for the statement log and parameter lists).

#include "sandbox/engine/engine.h"

#include <QByteArray>
#include <QString>

namespace sandbox::tds {

class ByteReader;

namespace tdstype {
constexpr quint8 Null = 0x1F;
constexpr quint8 Int1 = 0x30;
constexpr quint8 Bit = 0x32;
constexpr quint8 Int2 = 0x34;
constexpr quint8 Int4 = 0x38;
constexpr quint8 DateTim4 = 0x3A;
constexpr quint8 Flt4 = 0x3B;
constexpr quint8 Money = 0x3C;
constexpr quint8 DateTime = 0x3D;
constexpr quint8 Flt8 = 0x3E;
constexpr quint8 Money4 = 0x7A;
constexpr quint8 Int8 = 0x7F;
constexpr quint8 Guid = 0x24;
constexpr quint8 IntN = 0x26;
constexpr quint8 DateN = 0x28;
constexpr quint8 TimeN = 0x29;
constexpr quint8 DateTime2N = 0x2A;
constexpr quint8 DateTimeOffsetN = 0x2B;
constexpr quint8 BitN = 0x68;
constexpr quint8 DecimalN = 0x6A;
constexpr quint8 NumericN = 0x6C;
constexpr quint8 FltN = 0x6D;
constexpr quint8 MoneyN = 0x6E;
constexpr quint8 DateTimN = 0x6F;
constexpr quint8 Decimal = 0x37;
constexpr quint8 Numeric = 0x3F;
constexpr quint8 Image = 0x22;
constexpr quint8 Text = 0x23;
constexpr quint8 NText = 0x63;
constexpr quint8 BigVarBin = 0xA5;
constexpr quint8 BigVarChr = 0xA7;
constexpr quint8 BigBinary = 0xAD;
constexpr quint8 BigChar = 0xAF;
constexpr quint8 NVarChar = 0xE7;
constexpr quint8 NChar = 0xEF;
constexpr quint8 Xml = 0xF1;
} // namespace tdstype

// The server collation, Cyrillic_General_CI_AS: LCID 0x0419, sort id 0xD0 (Windows-1251).
QByteArray serverCollation();

struct TypeInfo {
    quint8 type = tdstype::Null;
    quint32 maxLength = 0; // 0xFFFF for the MAX types sent as partially length-prefixed data
    quint8 precision = 0;
    quint8 scale = 0;
    QByteArray collation;
    bool isPlp() const;
};

TypeInfo readTypeInfo(ByteReader &r);
// Reads a value of the type; text arrives as Unicode (VARCHAR bytes are Windows-1251),
// numbers as integers or doubles, dates as ISO text (yyyy-mm-ddThh:mm:ss.fff, which reads the same
// under every date format).
Value readValue(ByteReader &r, const TypeInfo &type);
// "int", "nvarchar(4000)", "varchar(max)", ...
QString declaration(const TypeInfo &type);

} // namespace sandbox::tds
