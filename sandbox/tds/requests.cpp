#include "sandbox/tds/requests.h"

#include "sandbox/tds/bytes.h"

namespace sandbox::tds {

namespace {
const char *const systemProcedures[] = {
    nullptr,
    "sp_cursor",
    "sp_cursoropen",
    "sp_cursorprepare",
    "sp_cursorexecute",
    "sp_cursorprepexec",
    "sp_cursorunprepare",
    "sp_cursorfetch",
    "sp_cursoroption",
    "sp_cursorclose",
    "sp_executesql",
    "sp_prepare",
    "sp_execute",
    "sp_prepexec",
    "sp_prepexecrpc",
    "sp_unprepare",
};
constexpr quint16 systemProcedureCount = quint16(std::size(systemProcedures));
} // namespace

QString procedureName(quint16 id)
{
    if (id == 0 || id >= systemProcedureCount)
        return {};
    return QString::fromLatin1(systemProcedures[id]);
}

quint16 procedureId(const QString &name)
{
    QString bare = name.trimmed().toLower();
    // "master..sp_executesql", "dbo.sp_prepare", "[sp_execute]"
    bare = bare.mid(bare.lastIndexOf(u'.') + 1);
    bare.remove(u'[').remove(u']');
    for (quint16 id = 1; id < systemProcedureCount; ++id) {
        if (bare == QLatin1String(systemProcedures[id]))
            return id;
    }
    return 0;
}

void skipAllHeaders(ByteReader &r)
{
    const qsizetype start = r.position();
    const quint32 total = r.u32();
    if (total < 4 || qsizetype(total) > r.remaining() + 4)
        throw ProtocolError("ALL_HEADERS length outside the message");
    const qsizetype end = start + qsizetype(total);
    while (r.position() < end) {
        const quint32 length = r.u32();
        if (length < 6 || qsizetype(length) > end - r.position() + 4)
            throw ProtocolError("header length outside ALL_HEADERS");
        r.skip(qsizetype(length) - 4);
    }
    if (r.position() != end)
        throw ProtocolError("ALL_HEADERS lengths disagree");
}

QString parseSqlBatch(const QByteArray &payload)
{
    ByteReader r(payload);
    skipAllHeaders(r);
    if (r.remaining() % 2)
        throw ProtocolError("odd length of a UTF-16 batch");
    return r.ucs2(r.remaining() / 2);
}

QList<RpcCall> parseRpcBatch(const QByteArray &payload)
{
    ByteReader r(payload);
    skipAllHeaders(r);
    QList<RpcCall> calls;
    for (;;) {
        RpcCall call;
        const quint16 nameLength = r.u16();
        if (nameLength == 0xFFFF) {
            call.id = r.u16();
            call.name = procedureName(call.id);
            if (call.name.isEmpty())
                throw ProtocolError("unknown procedure id");
        } else {
            call.name = r.ucs2(nameLength);
            if (call.name.isEmpty())
                throw ProtocolError("RPC without a procedure name");
            call.id = procedureId(call.name);
        }
        call.options = r.u16();
        while (!r.atEnd()) {
            const quint8 next = r.peek();
            if (next == 0xFF || next == 0xFE)
                break;
            RpcParameter p;
            p.name = r.bVarchar();
            const quint8 status = r.u8();
            p.output = status & 0x01;
            if (status & 0x08)
                throw ProtocolError("encrypted parameters are not supported");
            p.type = readTypeInfo(r);
            p.value = readValue(r, p.type);
            call.params.append(std::move(p));
            if (call.params.size() > 2100)
                throw ProtocolError("too many parameters");
        }
        calls.append(std::move(call));
        if (r.atEnd())
            return calls;
        r.u8(); // batch separator
        if (r.atEnd())
            return calls;
        if (calls.size() > 1000)
            throw ProtocolError("too many calls in one request");
    }
}

TransactionCall parseTransactionRequest(const QByteArray &payload)
{
    ByteReader r(payload);
    skipAllHeaders(r);
    TransactionCall call;
    call.type = r.u16();
    switch (call.type) {
    case 5: // TM_BEGIN_XACT: isolation level, name
        call.request = TransactionRequest::Begin;
        break;
    case 7: // TM_COMMIT_XACT: name, flags (begin a new one), ...
    case 8: // TM_ROLLBACK_XACT
        call.request = call.type == 7 ? TransactionRequest::Commit : TransactionRequest::Rollback;
        if (r.remaining() >= 1) {
            const quint8 nameLength = r.u8();
            r.skip(qsizetype(nameLength) * 2);
            if (r.remaining() >= 1)
                call.beginAfter = r.u8() & 0x01;
        }
        break;
    default:
        call.request = TransactionRequest::Other;
        break;
    }
    return call;
}

} // namespace sandbox::tds
