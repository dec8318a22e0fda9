#pragma once
// Client requests after login: SQL batches, RPC batches and Transaction Manager requests, each
// starting with the ALL_HEADERS block of TDS 7.2 and later.

#include "sandbox/engine/engine.h"
#include "sandbox/tds/datatypes.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace sandbox::tds {

// Procedure ids of the system procedures a client may call by number.
namespace procid {
constexpr quint16 Cursor = 1;
constexpr quint16 CursorOpen = 2;
constexpr quint16 CursorPrepare = 3;
constexpr quint16 CursorExecute = 4;
constexpr quint16 CursorPrepExec = 5;
constexpr quint16 CursorUnprepare = 6;
constexpr quint16 CursorFetch = 7;
constexpr quint16 CursorOption = 8;
constexpr quint16 CursorClose = 9;
constexpr quint16 ExecuteSql = 10;
constexpr quint16 Prepare = 11;
constexpr quint16 Execute = 12;
constexpr quint16 PrepExec = 13;
constexpr quint16 PrepExecRpc = 14;
constexpr quint16 Unprepare = 15;
} // namespace procid

// The name of a system procedure by id ("sp_prepexec"), empty for an unknown id.
QString procedureName(quint16 id);
// The id of a system procedure by name (case-insensitive), 0 for other procedures.
quint16 procedureId(const QString &name);

struct RpcParameter {
    QString name; // as sent, e.g. "@P1"; often empty for the system procedures
    bool output = false;
    TypeInfo type;
    Value value;
};

struct RpcCall {
    QString name;   // the procedure name, for calls by id the system procedure's name
    quint16 id = 0; // the system procedure id, 0 for a call by a name that is no system one
    quint16 options = 0;
    QList<RpcParameter> params;
};

// Skips ALL_HEADERS, checking its lengths; returns the reader positioned after it.
void skipAllHeaders(ByteReader &r);

QString parseSqlBatch(const QByteArray &payload);
QList<RpcCall> parseRpcBatch(const QByteArray &payload);

enum class TransactionRequest { Begin, Commit, Rollback, Other };
struct TransactionCall {
    TransactionRequest request = TransactionRequest::Other;
    quint16 type = 0;
    bool beginAfter = false; // commit or rollback "and begin a new one"
};
TransactionCall parseTransactionRequest(const QByteArray &payload);

} // namespace sandbox::tds
