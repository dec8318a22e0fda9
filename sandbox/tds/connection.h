#pragma once
// One client connection, served on its own thread with a blocking socket: pre-login and login,
// then SQL batches, RPCs, attention and Transaction Manager requests until the client leaves.
// A request that breaks the protocol closes this connection only.

#include "sandbox/engine/engine.h"
#include "sandbox/tds/event.h"
#include "sandbox/tds/fault.h"
#include "sandbox/tds/packet.h"
#include "sandbox/tds/requests.h"
#include "sandbox/tds/tls.h"
#include "sandbox/tds/tokens.h"

#include <map>
#include <optional>

namespace sandbox::tds {

// What a connection needs of the server that accepted it.
class ConnectionHost {
public:
    virtual ~ConnectionHost() = default;
    virtual Engine &engine() = 0;
    // Records the event (assigning its sequence number) and returns the faults that hit it.
    virtual QList<Fault> record(Event &event) = 0;
    // Waits ms milliseconds; false when the server stops meanwhile.
    virtual bool pause(int ms) = 0;
    // Waits until held requests are released; false when the server stops meanwhile.
    virtual bool hold() = 0;
    virtual QString serverName() const = 0;
    virtual EncryptionMode encryptionMode() const = 0;
    // The TLS configuration; null when the mode is none.
    virtual const TlsContext *tlsContext() const = 0;
};

class Connection : private BatchObserver {
public:
    Connection(ConnectionHost &host, int fd, int id);
    ~Connection() override;
    // Serves the client until it leaves, breaks the protocol or the server stops.
    void run();
    // Wakes run() from any thread; it returns soon after.
    void shutdown() { m_socket.shutdown(); }

private:
    struct Prepared {
        QString statement;
        QString declaration;
    };
    struct Cursor {
        ResultSet result;
        QList<WireColumn> columns;
        qint64 start = 0; // first row (1-based) of the current rowset, 0 before the first row
        qint64 size = 0;  // rows in the current rowset
    };
    // How the faults of one request work out.
    struct FaultPlan {
        bool dropNow = false;
        int dropAfterRows = -1;
        std::optional<Message> error;
    };
    // Stops serving: set when the connection is to close after the current answer.
    struct Closing {};
    struct Cancelled {}; // ATTENTION arrived while a request waited

    // How the statements of a running request travel as they complete (see completed()).
    enum class Stream {
        Off,      // the caller writes the whole result afterwards
        Batch,    // a SQL batch: DONE after each statement, the last one final
        InProc,   // the statements of an RPC (sp_executesql, sp_prepexec, sp_execute): DONEINPROC each
        ProcCall, // an RPC of a procedure by name: its own statements; the caller ends it
    };

    // BatchObserver: writes the statement's tokens and sends what fills whole packets; false when
    // the client cancelled or the connection is gone. Never throws.
    bool completed(const StatementResult &statement, bool last) override;
    // BatchObserver: writes a query's columns (with the first chunk) and rows, sends what fills
    // whole packets and looks for the client's ATTENTION; false when it came or the connection is
    // gone. Never throws.
    bool rows(const StatementResult &statement, const ResultSet &chunk, bool first) override;
    // Sends what the procedure has done so far, to the last byte, and waits up to ms for the
    // client's ATTENTION; false when it came (or the connection is gone).
    bool paused(const StatementResult &soFar, int ms) override;
    // Sends the answer so far in packets without end-of-message: whole packets only, or every
    // byte. False when the connection is gone. Does nothing while a fault is to cut the answer.
    bool streamOut(bool everything);
    // Looks for the client's ATTENTION for up to ms (0: only what has arrived); true when it
    // came, or when the connection cannot go on (m_closing).
    bool attentionArrived(int ms);
    // Records an ATTENTION in the server's events.
    void noteAttention();
    // After a request ran: the connection closes, or the cancel is answered.
    void finishRun();

    bool logIn();
    // The pre-login and, when negotiated, the TLS handshake; false when the connection is to end.
    bool negotiateEncryption(const ClientMessage &preLogin);
    void serve(const ClientMessage &request);
    void serveRequest(const ClientMessage &request);
    // Waits ms (a delay fault) while watching for the client's ATTENTION, which cancels the
    // request (throws Cancelled), as the server stops a statement it is told to. False when the
    // connection closed or the server stops.
    bool waitUnlessCancelled(int ms);
    void handleBatch(const ClientMessage &request);
    void handleRpc(const RpcCall &call, bool last);
    void handleTransaction(const ClientMessage &request);

    void rpcExecuteSql(const RpcCall &call);
    void rpcPrepare(const RpcCall &call, bool execute);
    void rpcExecute(const RpcCall &call);
    void rpcUnprepare(const RpcCall &call);
    void rpcCursorOpen(const RpcCall &call);
    void rpcCursorFetch(const RpcCall &call);
    void rpcCursorClose(const RpcCall &call);
    void rpcProcedure(const RpcCall &call);
    void rpcNoOp(const RpcCall &call);

    // Records the event and applies its faults: waits, closes (throws Closing), or gives the
    // error to answer with.
    FaultPlan admit(Event &event);
    // Runs the statements; with a stream other than Off, their tokens are written as they complete.
    BatchResult run(const QString &sql, const QList<Parameter> &params, Stream stream = Stream::Off);
    // One statement of a batch: its messages, rows and DONE.
    void writeBatchStatement(const StatementResult &st, bool last);
    // The statements' tokens as a batch answers them (DONE each, the last one final).
    void writeBatchResults(const BatchResult &result);
    // The statements' tokens inside a procedure (DONEINPROC each).
    void writeProcResults(const BatchResult &result);
    // One statement inside a procedure or an RPC: messages, rows, DONEINPROC.
    void writeInner(const StatementResult &st);
    // What a procedure's own statements sent, then its error.
    void writeProcedureBody(const StatementResult &st);
    void writeMessages(const StatementResult &st); // the error and what follows it
    // The statement's messages before its results, each change of database or language announced
    // (ENVCHANGE) before the message that tells it.
    void writeInfos(const StatementResult &st);
    // The row as the session's TEXTSIZE lets it travel.
    QList<Value> cutToTextSize(const QList<Column> &columns, const QList<Value> &row) const;
    void writeResultSet(const ResultSet &rs);
    // The statement's result: its columns and rows, or, when they travelled while the query ran,
    // only the end of them.
    void writeResult(const StatementResult &st);
    // Rows of the result being written, and where a DropMidResult fault cuts the answer.
    void writeRow(const QList<Column> &columns, const QList<WireColumn> &wire, const QList<Value> &row);
    void writePreparedMetadata(const QString &statement, const QString &declaration);
    void writeRpcError(const Message &error);
    void writeProcEnd(qint32 status, bool failed);
    void writeReturnValue(const RpcCall &call, int index, const TypeInfo &type, const Value &value);
    void sendReply();

    QList<Parameter> statementParameters(const RpcCall &call, int first, const QString &declaration) const;
    Event rpcEvent(const RpcCall &call, const QString &statement, const QList<Value> &values) const;
    static Message procedureError(int number, const QString &text, const QString &procedure);

    ConnectionHost &m_host;
    int m_id;
    QString m_peerAddress;
    Socket m_socket;
    SecureChannel m_channel; // the socket, or TLS over it
    PacketWriter m_writer;
    TokenWriter m_tokens;
    Session m_session;
    QString m_loginDatabase;
    int m_loginTextSize = 4096;
    QString m_announcedDatabase; // the database the client was last told of
    SessionEncryption m_encryption = SessionEncryption::None;
    std::map<qint32, Prepared> m_prepared;
    qint32 m_nextHandle = 1;
    std::map<qint32, Cursor> m_cursors;
    qint32 m_nextCursor = 180150000;
    qsizetype m_cutAt = -1;   // DropMidResult: where the answer stops
    int m_dropAfterRows = -1; // DropMidResult: rows of the first result to send
    qint64 m_rowsWritten = 0; // rows of the result being written
    bool m_lastCall = true;   // the RPC being answered is the last of its request
    Stream m_stream = Stream::Off;
    qsizetype m_innerSent = 0; // inner statements of the running procedure already written
    qint32 m_procStatus = 0;   // Stream::ProcCall: the return status of the procedure
    bool m_streamed = false;   // part of the current answer has been sent
    bool m_cancelled = false;  // the client's ATTENTION stopped the current request
    bool m_closing = false;    // the connection failed while a request ran
};

} // namespace sandbox::tds
