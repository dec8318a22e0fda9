#pragma once
// What the server records of every request it receives: logins, SQL batches, RPCs and the
// client's ATTENTION (cancel) messages, in the order they arrived, with the login that sent them.
// The statement log writes one line each.

#include "sandbox/engine/engine.h"

#include <QList>
#include <QString>

namespace sandbox {

enum class EventKind { LoginOk, LoginFailed, Batch, Rpc, Attention };

// How much of a connection travels inside TLS: nothing, the login only, or everything.
enum class SessionEncryption { None, LoginOnly, All };

struct Event {
    quint64 sequence = 0; // 1, 2, 3, ... in the order of arrival over all connections
    int connection = 0;   // 1, 2, 3, ... per accepted connection
    QString peerAddress;  // the client's address as the server sees it ("127.0.0.1")
    QString login;        // the login name of the connection
    EventKind kind = EventKind::Batch;
    QString procedure;   // RPC: the procedure called ("sp_prepexec", "GET_USER")
    QString statement;   // BATCH: its text; RPC: the statement the call carries (may be empty);
                         // logins: the database
    QList<Value> params; // RPC: the parameter values (for sp_prepexec and the like, only
                         // those of the statement)
    // Logins: what of the connection travels inside TLS, and the TLS version ("TLSv1.2"; empty
    // in clear). Other events carry their connection's values too.
    SessionEncryption encryption = SessionEncryption::None;
    QString tlsVersion;

    // The text field of the log: the statement, for an RPC after the procedure name and a space.
    QString text() const;
};

// "LOGIN-OK", "LOGIN-FAILED", "BATCH", "RPC", "ATTENTION".
QString kindName(EventKind kind);

// A field of the statement log: backslash, tab, CR and LF written as \\, \t, \r, \n.
QString escapeLogField(const QString &field);
// A parameter value in the log: NULL as \N, numbers in decimal, binary as 0x and hex digits.
QString logValue(const Value &value);
// "none", "login", "all".
QString encryptionName(SessionEncryption encryption);

// One line (without the line end): login, kind, text, then each parameter value, tab-separated;
// a login's line ends with its encryption ("encryption=login") instead; an ATTENTION's line is
// the login and the kind alone.
QString logLine(const Event &event);

} // namespace sandbox
