#pragma once
// The token stream of the server's answers: login acknowledgement, environment changes,
// messages, result sets, return status and values, and the DONE family.

#include "sandbox/engine/engine.h"
#include "sandbox/tds/bytes.h"
#include "sandbox/tds/datatypes.h"

namespace sandbox::tds {

namespace donestatus {
constexpr quint16 Final = 0x0000;
constexpr quint16 More = 0x0001;
constexpr quint16 Error = 0x0002;
constexpr quint16 InTransaction = 0x0004;
constexpr quint16 Count = 0x0010;
constexpr quint16 Attention = 0x0020;
constexpr quint16 ServerError = 0x0100;
} // namespace donestatus

enum class EnvChange : quint8 {
    Database = 1,
    Language = 2,
    PacketSize = 4,
    Collation = 7,
    BeginTransaction = 8,
    CommitTransaction = 9,
    RollbackTransaction = 10,
};

// The wire type of one result column: what COLMETADATA announces and how ROW encodes values.
struct WireColumn {
    QString name;
    TypeInfo type;
    quint16 flags = 0x0009; // COLMETADATA flags: nullable, updatable unknown
};

// The wire form of an engine column: its declared type and width, never widened for a value.
WireColumn wireColumn(const Column &column);
// The wire form of a value given back as a return value, of the type the client sent.
TypeInfo returnType(const TypeInfo &sent);

class TokenWriter {
public:
    explicit TokenWriter(QString serverName) : m_serverName(std::move(serverName)) {}

    QByteArray &data() { return m_out.data(); }
    QByteArray take();
    qsizetype size() const { return m_out.size(); }

    void envChange(EnvChange type, const QString &newValue, const QString &oldValue);
    void envChangeBytes(EnvChange type, const QByteArray &newValue, const QByteArray &oldValue);
    void message(const Message &m); // INFO for severity 10 and below, ERROR above
    void loginAck(const QString &programName, quint32 tdsVersion);
    void columnMetadata(const QList<WireColumn> &columns);
    void noMetadata(); // the stand-in COLMETADATA of a cursor fetch
    void row(const QList<WireColumn> &columns, const QList<Value> &values);
    void returnStatus(qint32 status);
    void returnValue(quint16 ordinal, const QString &name, const TypeInfo &type, const Value &value);
    void done(quint16 status, quint16 command, qint64 rowCount);
    void doneInProc(quint16 status, quint16 command, qint64 rowCount);
    void doneProc(quint16 status, quint16 command, qint64 rowCount);

private:
    void doneToken(quint8 token, quint16 status, quint16 command, qint64 rowCount);
    void typeInfo(const TypeInfo &type);
    void value(const TypeInfo &type, const Value &value);
    void integer(quint32 bytes, qint64 n); // little-endian, of 1, 2, 4 or 8 bytes
    void real(quint32 bytes, double d);    // a 4-byte single or an 8-byte double
    ByteWriter m_out;
    QString m_serverName;
};

// Current-command values of DONE tokens.
namespace command {
constexpr quint16 Select = 0xC1;
constexpr quint16 Insert = 0xC3;
constexpr quint16 Delete = 0xC4;
constexpr quint16 Update = 0xC5;
constexpr quint16 Execute = 0xE0;
constexpr quint16 Set = 0xBE;
} // namespace command

} // namespace sandbox::tds
