#include "sandbox/tds/connection.h"

#include "sandbox/engine/sqlerrors.h"
#include "sandbox/tds/bytes.h"
#include "sandbox/tds/login.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace sandbox::tds {

namespace {

constexpr quint32 Tds74 = 0x74000004;

int negotiatedPacketSize(quint32 requested)
{
    if (requested == 0)
        return DefaultPacketSize;
    return int(qBound<quint32>(MinPacketSize, requested, MaxPacketSize));
}

Message serverMessage(int number, int state, int severity, const QString &text)
{
    Message m;
    m.number = number;
    m.state = state;
    m.severity = severity;
    m.text = text;
    return m;
}

qint64 integerOf(const Value &v, qint64 fallback = 0)
{
    if (const auto *i = std::get_if<qint64>(&v))
        return *i;
    if (const auto *d = std::get_if<double>(&v))
        return qint64(*d);
    if (const auto *s = std::get_if<QString>(&v)) {
        bool ok = false;
        const qint64 n = s->trimmed().toLongLong(&ok);
        return ok ? n : fallback;
    }
    return fallback;
}

QString textOf(const Value &v)
{
    if (const auto *s = std::get_if<QString>(&v))
        return *s;
    return {};
}

// The parameters of a declaration such as "@P1 int,@P2 nvarchar(4000) OUTPUT": each name with
// its type ("nvarchar(4000)"), in order.
QList<Parameter> declaredParameters(const QString &declaration)
{
    QList<Parameter> out;
    static const QRegularExpression form(
        QStringLiteral("^\\s*(@[\\w@#$]+)\\s*(?:AS\\s+)?(.*?)\\s*(?:\\bOUT(?:PUT)?)?\\s*$"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    // Split on commas outside parentheses ("decimal(10,2)").
    int depth = 0;
    qsizetype from = 0;
    auto take = [&](qsizetype to) {
        const auto m = form.match(declaration.mid(from, to - from));
        if (m.hasMatch())
            out.append(Parameter{m.captured(1), Value{}, m.captured(2).simplified().remove(u' ')});
    };
    for (qsizetype i = 0; i < declaration.size(); ++i) {
        const QChar c = declaration[i];
        if (c == u'(')
            ++depth;
        else if (c == u')')
            depth = qMax(0, depth - 1);
        else if (c == u',' && depth == 0) {
            take(i);
            from = i + 1;
        }
    }
    take(declaration.size());
    return out;
}

// The TDS version the login acknowledges: the client's own when it is one the server speaks and
// not above 7.4; the highest the server speaks below the client's otherwise.
quint32 acknowledgedVersion(quint32 requested)
{
    static const quint32 spoken[] = {0x71000001, 0x72090002, 0x730A0003, 0x730B0003, Tds74};
    quint32 answer = spoken[0];
    for (const quint32 v : spoken) {
        if (v <= requested)
            answer = v;
    }
    return answer;
}

quint16 commandOf(const StatementResult &st)
{
    if (st.verb == QLatin1String("EXEC"))
        return command::Execute;
    if (st.resultSet)
        return command::Select;
    if (st.verb == QLatin1String("INSERT"))
        return command::Insert;
    if (st.verb == QLatin1String("UPDATE"))
        return command::Update;
    if (st.verb == QLatin1String("DELETE"))
        return command::Delete;
    if (st.verb == QLatin1String("SELECT") || st.verb == QLatin1String("WITH"))
        return command::Select;
    return command::Set;
}

// The statement's count travels: it has one and SET NOCOUNT was off when it ran.
bool counted(const StatementResult &st)
{
    return st.rowCount >= 0 && !st.noCount;
}

// A call of a procedure, answered with its own statements, return status and DONEPROC.
bool isProcedureCall(const StatementResult &st)
{
    return st.returnStatus.has_value();
}

// The client's address as the accepted socket names its peer; empty when it cannot be had.
QString peerAddressOf(int fd)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) != 0)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    const void *address =
        peer.ss_family == AF_INET6
            ? static_cast<const void *>(&reinterpret_cast<const sockaddr_in6 &>(peer).sin6_addr)
            : static_cast<const void *>(&reinterpret_cast<const sockaddr_in &>(peer).sin_addr);
    if (!inet_ntop(peer.ss_family, address, text, sizeof text))
        return {};
    return QString::fromLatin1(text);
}

// The procedure's own RAISERROR as its last statement: the procedure went on to its RETURN.
bool raisedByTheProcedure(const StatementResult &st)
{
    return st.error && st.error->severity > 10 && st.error->number == sqlerr::kUserError;
}

// The call itself failed (its arguments, its permission, a failure that ended the procedure):
// DONEPROC then carries the error bit. A procedure that went on after an error of one of its
// statements, to its RETURN, ends without it; that statement's DONEINPROC carries it.
bool callFailed(const StatementResult &st)
{
    return st.error && st.error->severity > 10 && !raisedByTheProcedure(st);
}

// An error occurred in the statement or, for a procedure, in any of its statements.
bool raisedAnError(const StatementResult &st)
{
    if (st.error && st.error->severity > 10)
        return true;
    for (const StatementResult &inner : st.inner)
        if (inner.error && inner.error->severity > 10)
            return true;
    return false;
}

} // namespace

Connection::Connection(ConnectionHost &host, int fd, int id)
    : m_host(host), m_id(id), m_peerAddress(peerAddressOf(fd)), m_socket(fd), m_channel(m_socket),
      m_writer(m_channel, quint16(50 + id % 30000)), m_tokens(host.serverName())
{
}

Connection::~Connection() = default;

void Connection::run()
{
    try {
        if (!logIn())
            return;
        for (;;) {
            ClientMessage request;
            if (readMessage(m_channel, request) == ReadOutcome::Closed)
                return;
            serve(request);
        }
    } catch (const ProtocolError &) {
        // A malformed request: this connection ends, the server goes on.
    } catch (const Closing &) {
    } catch (const std::exception &) {
    }
}

void Connection::sendReply()
{
    QByteArray reply = m_tokens.take();
    if (m_cutAt >= 0) {
        // Part of a result on purpose, then the connection goes away.
        m_writer.sendPartial(PacketType::Reply, reply.left(m_cutAt));
        throw Closing{};
    }
    if (m_dropAfterRows >= 0) // no result to cut: close without an answer
        throw Closing{};
    if (!m_writer.send(PacketType::Reply, reply))
        throw Closing{};
}

bool Connection::negotiateEncryption(const ClientMessage &preLogin)
{
    const quint8 answer = encryptionAnswer(m_host.encryptionMode(), parsePreLogin(preLogin.payload));
    m_writer.setSpid(0); // no session yet
    const bool sent = m_writer.send(PacketType::Reply, preLoginAnswer(answer));
    m_writer.setSpid(quint16(50 + m_id % 30000));
    if (!sent)
        return false;
    if (answer == encrypt::NotSupported)
        return true;
    const TlsContext *context = m_host.tlsContext();
    if (!context)
        return false;
    try {
        m_channel.handshake(*context, quint16(50 + m_id % 30000));
    } catch (const TlsError &e) {
        // This connection ends; the server goes on.
        std::fprintf(stderr, "qel31-sandbox: connection %d: %s\n", m_id, e.what());
        return false;
    }
    m_encryption = answer == encrypt::Off ? SessionEncryption::LoginOnly : SessionEncryption::All;
    return true;
}

bool Connection::logIn()
{
    ClientMessage request;
    if (readMessage(m_channel, request) == ReadOutcome::Closed)
        return false;
    if (request.type == PacketType::PreLogin) {
        if (!negotiateEncryption(request))
            return false;
        if (readMessage(m_channel, request) == ReadOutcome::Closed)
            return false;
        // Only the login travelled inside TLS: the client has dropped its TLS state, and so does
        // the server, without a closing alert.
        if (m_encryption == SessionEncryption::LoginOnly)
            m_channel.drop();
    }
    if (request.type != PacketType::Login7)
        throw ProtocolError("expected a login");
    if (m_encryption == SessionEncryption::None && m_host.encryptionMode() == EncryptionMode::Forced)
        return false; // a login in clear where encryption is required: the connection closes
    const Login7 login = parseLogin7(request.payload);

    m_session.login = login.userName;
    // ODBC's defaults make TEXTSIZE unlimited for the session; other clients start at 4096.
    m_session.textSize = login.odbc ? kUnlimitedTextSize : 4096;
    m_loginTextSize = m_session.textSize;
    m_session.application = login.appName;
    m_session.host = login.hostName;

    LoginOutcome outcome;
    try {
        outcome = m_host.engine().login(login.userName, login.password, login.database);
    } catch (const std::exception &e) {
        outcome.verdict = LoginVerdict::BadCredentials;
        outcome.error =
            serverMessage(18456, 1, 14, QStringLiteral("Login failed for user '%1'.").arg(login.userName));
    }

    // The sandbox speaks us_english only: its messages, month names and date format. A login
    // that asks for another language is refused rather than answered in English.
    if (outcome.verdict == LoginVerdict::Ok && !login.language.isEmpty() &&
        login.language.compare(QLatin1String("us_english"), Qt::CaseInsensitive) != 0) {
        outcome.verdict = LoginVerdict::BadCredentials;
        outcome.error = serverMessage(
            40517, 1, 16,
            QStringLiteral(
                "Keyword or statement option 'language %1' is not supported in this version of SQL "
                "Server.")
                .arg(login.language));
    }

    Event event;
    event.login = login.userName;
    event.kind = outcome.verdict == LoginVerdict::Ok ? EventKind::LoginOk : EventKind::LoginFailed;
    event.statement = login.database.isEmpty() ? outcome.database : login.database;
    event.tlsVersion = m_channel.protocol();
    const FaultPlan plan = admit(event);
    if (plan.error && outcome.verdict == LoginVerdict::Ok) {
        outcome.verdict = LoginVerdict::BadCredentials;
        outcome.error = *plan.error;
    }

    m_writer.setPacketSize(qMin(DefaultPacketSize, negotiatedPacketSize(login.packetSize)));
    if (outcome.verdict != LoginVerdict::Ok) {
        m_tokens.message(outcome.error);
        if (outcome.error.number != 18456) {
            m_tokens.message(serverMessage(
                18456, 1, 14, QStringLiteral("Login failed for user '%1'.").arg(login.userName)));
        }
        m_tokens.done(donestatus::Error, 0, 0);
        m_cutAt = -1;
        m_writer.send(PacketType::Reply, m_tokens.take());
        return false;
    }

    m_session.database = outcome.database.isEmpty() ? login.database : outcome.database;
    m_loginDatabase = m_session.database;
    m_announcedDatabase = m_session.database;
    const int packetSize = negotiatedPacketSize(login.packetSize);
    m_tokens.envChange(EnvChange::Database, m_session.database, QStringLiteral("master"));
    m_tokens.message(serverMessage(
        5701, 2, 0, QStringLiteral("Changed database context to '%1'.").arg(m_session.database)));
    m_tokens.envChangeBytes(EnvChange::Collation, serverCollation(), QByteArray());
    m_tokens.envChange(EnvChange::Language, QStringLiteral("us_english"), QString());
    m_tokens.message(serverMessage(5703, 1, 0, QStringLiteral("Changed language setting to us_english.")));
    // The program name as the server sends it, with two NUL characters at its end.
    m_tokens.loginAck(QStringLiteral("Microsoft SQL Server") + QString(2, QChar(0)),
                      acknowledgedVersion(login.tdsVersion));
    m_tokens.envChange(EnvChange::PacketSize, QString::number(packetSize),
                       QString::number(DefaultPacketSize));
    m_tokens.done(donestatus::Final, 0, 0);
    sendReply();
    m_writer.setPacketSize(packetSize);
    return true;
}

void Connection::serve(const ClientMessage &request)
{
    if (request.status & packetstatus::Ignore) {
        // The client abandoned this message: it is not run, and the answer is one DONE with its
        // error bit.
        m_tokens.done(donestatus::Error, 0, 0);
        sendReply();
        return;
    }
    if (request.resetConnection) {
        m_session.database = m_loginDatabase;
        m_session.dateFormat = QStringLiteral("mdy");
        m_session.noCount = false;
        m_session.xactAbort = false;
        m_session.textSize = m_loginTextSize;
        m_prepared.clear();
        m_cursors.clear();
    }
    m_cutAt = -1;
    m_dropAfterRows = -1;
    m_streamed = false;
    m_cancelled = false;
    m_closing = false;
    m_stream = Stream::Off;
    m_innerSent = 0;
    try {
        serveRequest(request);
    } catch (const Cancelled &) {
        // The client sent ATTENTION while the request ran: what ran stays, nothing more runs, and
        // the answer ends with the acknowledgement. Tokens already on their way are completed
        // (the client reads past them to the acknowledgement); those not yet begun are dropped.
        if (!m_streamed)
            m_tokens.take();
        m_cutAt = -1;
        m_dropAfterRows = -1;
        m_tokens.done(donestatus::Attention, 0, 0);
        sendReply();
    }
    m_stream = Stream::Off;
}

void Connection::noteAttention()
{
    Event event;
    event.login = m_session.login;
    event.kind = EventKind::Attention;
    event.connection = m_id;
    event.encryption = m_encryption;
    m_host.record(event);
}

bool Connection::attentionArrived(int ms)
{
    if (m_closing || m_cancelled)
        return true;
    try {
        QDeadlineTimer deadline(qMax(0, ms));
        for (;;) {
            if (!m_host.pause(0)) {
                m_closing = true;
                return true;
            }
            const qint64 left = deadline.remainingTime();
            pollfd watched{m_socket.fd(), POLLIN, 0};
            if (!m_channel.hasBuffered() &&
                ::poll(&watched, 1, int(qBound(qint64(0), left, qint64(50)))) <= 0) {
                if (left <= 0)
                    return false;
                continue;
            }
            ClientMessage next;
            if (readMessage(m_channel, next) == ReadOutcome::Closed || next.type != PacketType::Attention) {
                // Gone, or a request while another one runs: the connection ends.
                m_closing = true;
                return true;
            }
            noteAttention();
            m_cancelled = true;
            return true;
        }
    } catch (const std::exception &) {
        m_closing = true;
        return true;
    }
}

bool Connection::streamOut(bool everything)
{
    if (m_dropAfterRows >= 0 || m_closing)
        return !m_closing; // a fault cuts this answer: it stays whole until then
    QByteArray &data = m_tokens.data();
    const qsizetype chunk = m_writer.packetSize() - HeaderSize;
    // Whole packets, keeping at least one byte back for the packet that ends the message.
    const qsizetype n = everything ? data.size() : (data.size() - 1) / chunk * chunk;
    if (n <= 0)
        return true;
    if (!m_writer.sendPartial(PacketType::Reply, data.left(n))) {
        m_closing = true;
        return false;
    }
    data.remove(0, n);
    m_streamed = true;
    return true;
}

bool Connection::completed(const StatementResult &st, bool last)
{
    try {
        switch (m_stream) {
        case Stream::Off:
            return true;
        case Stream::Batch:
            writeBatchStatement(st, last);
            break;
        case Stream::InProc: {
            BatchResult one;
            one.statements.append(st);
            writeProcResults(one);
            break;
        }
        case Stream::ProcCall:
            if (isProcedureCall(st)) {
                m_procStatus = *st.returnStatus;
                writeProcedureBody(st);
            } else {
                writeInner(st);
            }
            break;
        }
        if (m_cancelled)
            return false;
        if (!last && !streamOut(false))
            return false;
        return !attentionArrived(0);
    } catch (const std::exception &) {
        m_closing = true;
        return false;
    }
}

bool Connection::paused(const StatementResult &soFar, int ms)
{
    if (m_stream == Stream::Off)
        return true;
    try {
        for (; m_innerSent < qsizetype(soFar.inner.size()); ++m_innerSent)
            writeInner(soFar.inner[size_t(m_innerSent)]);
        if (!streamOut(true))
            return false;
        return !attentionArrived(ms);
    } catch (const std::exception &) {
        m_closing = true;
        return false;
    }
}

void Connection::finishRun()
{
    if (m_closing)
        throw Closing{};
    if (m_cancelled)
        throw Cancelled{};
}

bool Connection::waitUnlessCancelled(int ms)
{
    QDeadlineTimer deadline(qMax(0, ms));
    for (;;) {
        const qint64 left = deadline.remainingTime();
        if (left <= 0)
            return true;
        if (!m_host.pause(0))
            return false;
        pollfd watched{m_socket.fd(), POLLIN, 0};
        if (!m_channel.hasBuffered() && ::poll(&watched, 1, int(qMin<qint64>(left, 50))) <= 0)
            continue;
        ClientMessage next;
        if (readMessage(m_channel, next) == ReadOutcome::Closed)
            return false;
        if (next.type != PacketType::Attention)
            throw ProtocolError("a request while another one is running");
        noteAttention();
        throw Cancelled{};
    }
}

void Connection::serveRequest(const ClientMessage &request)
{
    switch (request.type) {
    case PacketType::SqlBatch:
        handleBatch(request);
        return;
    case PacketType::Rpc: {
        const QList<RpcCall> calls = parseRpcBatch(request.payload);
        for (qsizetype i = 0; i < calls.size(); ++i) {
            handleRpc(calls[i], i + 1 == calls.size());
            finishRun();
            if (!streamOut(false))
                throw Closing{};
        }
        sendReply();
        return;
    }
    case PacketType::Attention:
        // The answer was complete before this arrived, so there is nothing left to cancel:
        // acknowledge.
        noteAttention();
        m_tokens.done(donestatus::Attention, 0, 0);
        sendReply();
        return;
    case PacketType::TransactionManager:
        handleTransaction(request);
        return;
    default:
        throw ProtocolError("unexpected request after login");
    }
}

Connection::FaultPlan Connection::admit(Event &event)
{
    event.connection = m_id;
    event.peerAddress = m_peerAddress;
    event.encryption = m_encryption;
    FaultPlan plan;
    const QList<Fault> faults = m_host.record(event);
    for (const Fault &f : faults) {
        switch (f.action) {
        case Fault::Action::Delay:
            if (!waitUnlessCancelled(f.delayMs))
                throw Closing{};
            break;
        case Fault::Action::Hold:
            if (!m_host.hold())
                throw Closing{};
            break;
        case Fault::Action::DropBeforeAnswer:
            plan.dropNow = true;
            break;
        case Fault::Action::DropMidResult:
            plan.dropAfterRows = qMax(0, f.rowsBeforeDrop);
            break;
        case Fault::Action::Error:
            if (!plan.error)
                plan.error = f.error;
            break;
        }
    }
    if (plan.dropNow)
        throw Closing{};
    if (plan.dropAfterRows >= 0)
        m_dropAfterRows = plan.dropAfterRows;
    return plan;
}

BatchResult Connection::run(const QString &sql, const QList<Parameter> &params, Stream stream)
{
    m_stream = stream;
    m_innerSent = 0;
    BatchResult result;
    try {
        result = m_host.engine().execute(m_session, sql, params, stream == Stream::Off ? nullptr : this);
    } catch (const std::exception &e) {
        StatementResult st;
        // A failure of the sandbox itself: what it cannot do, never a user's error number.
        st.error =
            sqlerr::notSupported(QStringLiteral("this statement (%1)").arg(QString::fromUtf8(e.what())), 1);
        result.statements.append(st);
        completed(st, true);
    }
    m_stream = Stream::Off;
    return result;
}

QList<Value> Connection::cutToTextSize(const QList<Column> &columns, const QList<Value> &row) const
{
    // A (max) value carries at most TEXTSIZE bytes: Windows-1251 characters of varchar, UTF-16
    // code units of nvarchar (two bytes each), bytes of varbinary.
    QList<Value> out = row;
    for (qsizetype c = 0; c < columns.size() && c < out.size(); ++c) {
        if (columns[c].maxLength != kMaxWidth)
            continue;
        const qsizetype limit =
            columns[c].type == ColumnType::NVarChar ? m_session.textSize / 2 : m_session.textSize;
        if (auto *text = std::get_if<QString>(&out[c]); text && text->size() > limit)
            text->truncate(limit);
        else if (auto *bytes = std::get_if<QByteArray>(&out[c]); bytes && bytes->size() > limit)
            bytes->truncate(limit);
    }
    return out;
}

void Connection::writeRow(const QList<Column> &columns, const QList<WireColumn> &wire,
                          const QList<Value> &row)
{
    if (m_dropAfterRows >= 0 && m_cutAt < 0 && m_rowsWritten == m_dropAfterRows)
        m_cutAt = m_tokens.size();
    m_tokens.row(wire, cutToTextSize(columns, row));
    ++m_rowsWritten;
}

void Connection::writeResultSet(const ResultSet &rs)
{
    QList<WireColumn> columns;
    columns.reserve(rs.columns.size());
    for (qsizetype i = 0; i < rs.columns.size(); ++i)
        columns.append(wireColumn(rs.columns[i]));
    if (columns.isEmpty())
        return; // a result without columns cannot be described; only its count travels
    m_tokens.columnMetadata(columns);
    m_rowsWritten = 0;
    constexpr qsizetype kRowsBetweenLooks = 256;
    for (qsizetype r = 0; r < rs.rows.size(); ++r) {
        // A long result travels while it is written, and a cancel stops its rows.
        if (m_stream != Stream::Off && r > 0 && r % kRowsBetweenLooks == 0 &&
            (!streamOut(false) || attentionArrived(0)))
            return;
        writeRow(rs.columns, columns, rs.rows[r]);
    }
    if (m_dropAfterRows >= 0 && m_cutAt < 0)
        m_cutAt = m_tokens.size();
}

void Connection::writeResult(const StatementResult &st)
{
    if (!st.streamed) {
        if (st.resultSet)
            writeResultSet(*st.resultSet);
        return;
    }
    // The rows went while the query ran (rows()); a fault that cuts after more rows than it had
    // cuts at its end.
    if (st.resultSet && m_dropAfterRows >= 0 && m_cutAt < 0)
        m_cutAt = m_tokens.size();
}

bool Connection::rows(const StatementResult &st, const ResultSet &chunk, bool first)
{
    Q_UNUSED(st);
    if (m_stream == Stream::Off)
        return true;
    try {
        QList<WireColumn> columns;
        columns.reserve(chunk.columns.size());
        for (const Column &column : chunk.columns)
            columns.append(wireColumn(column));
        if (columns.isEmpty())
            return !attentionArrived(0);
        if (first) {
            m_tokens.columnMetadata(columns);
            m_rowsWritten = 0;
        }
        for (const QList<Value> &row : chunk.rows)
            writeRow(chunk.columns, columns, row);
        if (m_cancelled || !streamOut(false))
            return false;
        return !attentionArrived(0);
    } catch (const std::exception &) {
        m_closing = true;
        return false;
    }
}

void Connection::writeInfos(const StatementResult &st)
{
    for (const Message &info : st.infos) {
        // A change of database or language is announced before the message that tells it.
        if (info.number == 5701) {
            m_tokens.envChange(EnvChange::Database, m_session.database, m_announcedDatabase);
            m_announcedDatabase = m_session.database;
        } else if (info.number == 5703) {
            m_tokens.envChange(EnvChange::Language, QStringLiteral("us_english"),
                               QStringLiteral("us_english"));
        }
        m_tokens.message(info);
    }
}

void Connection::writeMessages(const StatementResult &st)
{
    if (st.error)
        m_tokens.message(*st.error);
    for (const Message &m : st.afterError)
        m_tokens.message(m);
}

void Connection::writeInner(const StatementResult &st)
{
    writeInfos(st);
    writeResult(st);
    writeMessages(st);
    if (st.verb == QLatin1String("PRINT") && !st.error)
        return; // a message alone has no DONEINPROC
    quint16 status = donestatus::More;
    if (counted(st))
        status |= donestatus::Count;
    if (st.error)
        status |= donestatus::Error;
    m_tokens.doneInProc(status, commandOf(st), counted(st) ? st.rowCount : 0);
}

void Connection::writeProcedureBody(const StatementResult &st)
{
    writeInfos(st);
    for (size_t i = size_t(m_innerSent); i < st.inner.size(); ++i)
        writeInner(st.inner[i]);
    m_innerSent = 0;
    writeMessages(st);
    // The procedure's RAISERROR is a statement of its own, ended by its DONEINPROC.
    if (isProcedureCall(st) && raisedByTheProcedure(st))
        m_tokens.doneInProc(donestatus::More | donestatus::Error, command::Set, 0);
}

void Connection::writeBatchResults(const BatchResult &result)
{
    const auto &statements = result.statements;
    if (statements.isEmpty()) {
        m_tokens.done(donestatus::Final, 0, 0);
        return;
    }
    for (qsizetype i = 0; i < statements.size(); ++i)
        writeBatchStatement(statements[i], i + 1 == statements.size());
}

void Connection::writeBatchStatement(const StatementResult &st, bool last)
{
    if (isProcedureCall(st)) {
        // EXEC in a batch: DONEINPROC for each statement of the procedure, its error,
        // RETURNSTATUS and DONEPROC; the batch's DONE ends the answer.
        writeProcedureBody(st);
        m_tokens.returnStatus(*st.returnStatus);
        m_tokens.doneProc(donestatus::More | (callFailed(st) ? donestatus::Error : 0), command::Execute, 0);
        if (last)
            m_tokens.done(raisedAnError(st) ? donestatus::Error : donestatus::Final, 0, 0);
        return;
    }
    writeInfos(st);
    writeResult(st);
    writeMessages(st);
    quint16 status = last ? donestatus::Final : donestatus::More;
    if (counted(st))
        status |= donestatus::Count;
    if (st.error)
        status |= donestatus::Error;
    m_tokens.done(status, commandOf(st), counted(st) ? st.rowCount : 0);
}

void Connection::writeProcResults(const BatchResult &result)
{
    for (const StatementResult &st : result.statements) {
        if (!isProcedureCall(st)) {
            writeInner(st);
            continue;
        }
        // A procedure called by a statement of the RPC: its statements, then one DONEINPROC.
        writeProcedureBody(st);
        m_tokens.doneInProc(donestatus::More | (callFailed(st) ? donestatus::Error : 0), command::Execute, 0);
    }
}

void Connection::writeProcEnd(qint32 status, bool failed)
{
    Q_UNUSED(status);
    quint16 flags = m_lastCall ? donestatus::Final : donestatus::More;
    if (failed)
        flags |= donestatus::Error;
    m_tokens.doneProc(flags, 0, 0);
}

void Connection::writeRpcError(const Message &error)
{
    m_tokens.message(error);
    writeProcEnd(0, true);
}

Message Connection::procedureError(int number, const QString &text, const QString &procedure)
{
    Message m = serverMessage(number, 1, 16, text);
    m.procedure = procedure;
    return m;
}

void Connection::writeReturnValue(const RpcCall &call, int index, const TypeInfo &type, const Value &value)
{
    const QString name = index < call.params.size() ? call.params[index].name : QString();
    m_tokens.returnValue(quint16(index), name, type, value);
}

void Connection::handleBatch(const ClientMessage &request)
{
    Event event;
    event.login = m_session.login;
    event.kind = EventKind::Batch;
    event.statement = parseSqlBatch(request.payload);
    const FaultPlan plan = admit(event);
    if (plan.error) {
        m_tokens.message(*plan.error);
        m_tokens.done(donestatus::Error, 0, 0);
    } else {
        const BatchResult result = run(event.statement, {}, Stream::Batch);
        finishRun();
        if (result.statements.isEmpty())
            m_tokens.done(donestatus::Final, 0, 0);
    }
    sendReply();
}

void Connection::handleTransaction(const ClientMessage &request)
{
    // The sandbox keeps no transactions: every statement commits as it completes. A request to
    // begin, commit, roll back or save one is refused, and the driver sees the failure, rather
    // than acknowledged while nothing would be undone.
    const TransactionCall call = parseTransactionRequest(request.payload);
    QString what;
    switch (call.request) {
    case TransactionRequest::Begin:
        what = QStringLiteral("BEGIN TRANSACTION");
        break;
    case TransactionRequest::Commit:
        what = QStringLiteral("COMMIT TRANSACTION");
        break;
    case TransactionRequest::Rollback:
        what = QStringLiteral("ROLLBACK TRANSACTION");
        break;
    case TransactionRequest::Other:
        what =
            call.type == 9 ? QStringLiteral("SAVE TRANSACTION") : QStringLiteral("DISTRIBUTED TRANSACTION");
        break;
    }
    m_tokens.message(sqlerr::notSupported(what, 1));
    m_tokens.done(donestatus::Error, 0, 0);
    sendReply();
}

QList<Parameter> Connection::statementParameters(const RpcCall &call, int first,
                                                 const QString &declaration) const
{
    const QList<Parameter> declared = declaredParameters(declaration);
    QList<Parameter> params;
    for (qsizetype i = first; i < call.params.size(); ++i) {
        const qsizetype position = i - first;
        Parameter p;
        if (!call.params[i].name.isEmpty()) {
            p.name = call.params[i].name;
            for (const Parameter &d : declared)
                if (d.name.compare(p.name, Qt::CaseInsensitive) == 0)
                    p.type = d.type;
        } else if (position < declared.size()) {
            p.name = declared[position].name;
            p.type = declared[position].type;
        } else {
            p.name = QStringLiteral("@P%1").arg(position + 1);
        }
        p.value = call.params[i].value;
        params.append(p);
    }
    return params;
}

Event Connection::rpcEvent(const RpcCall &call, const QString &statement, const QList<Value> &values) const
{
    Event event;
    event.login = m_session.login;
    event.kind = EventKind::Rpc;
    event.procedure = call.name;
    event.statement = statement;
    event.params = values;
    return event;
}

namespace {
QList<Value> valuesFrom(const RpcCall &call, int first)
{
    QList<Value> values;
    for (qsizetype i = first; i < call.params.size(); ++i)
        values.append(call.params[i].value);
    return values;
}
} // namespace

void Connection::handleRpc(const RpcCall &call, bool last)
{
    m_lastCall = last;
    switch (call.id) {
    case procid::ExecuteSql:
        rpcExecuteSql(call);
        return;
    case procid::Prepare:
        rpcPrepare(call, false);
        return;
    case procid::PrepExec:
        rpcPrepare(call, true);
        return;
    case procid::Execute:
        rpcExecute(call);
        return;
    case procid::Unprepare:
        rpcUnprepare(call);
        return;
    case procid::CursorOpen:
        rpcCursorOpen(call);
        return;
    case procid::CursorFetch:
        rpcCursorFetch(call);
        return;
    case procid::CursorClose:
        rpcCursorClose(call);
        return;
    case procid::CursorOption:
        rpcNoOp(call);
        return;
    case 0:
        rpcProcedure(call);
        return;
    default: {
        Event event = rpcEvent(call, QString(), valuesFrom(call, 0));
        const FaultPlan plan = admit(event);
        writeRpcError(
            plan.error
                ? *plan.error
                // A system procedure the sandbox does not run (sp_cursor, ...): refused by name.
                : procedureError(40517,
                                 QStringLiteral("Keyword or statement option '%1' is not supported in this "
                                                "version of SQL Server.")
                                     .arg(call.name),
                                 call.name));
        return;
    }
    }
}

void Connection::rpcExecuteSql(const RpcCall &call)
{
    // @stmt, [@params], values...
    const QString statement = call.params.size() > 0 ? textOf(call.params[0].value) : QString();
    const QString declaration = call.params.size() > 1 ? textOf(call.params[1].value) : QString();
    Event event = rpcEvent(call, statement, valuesFrom(call, 2));
    const FaultPlan plan = admit(event);
    if (plan.error) {
        writeRpcError(*plan.error);
        return;
    }
    if (call.params.isEmpty()) {
        writeRpcError(procedureError(201,
                                     QStringLiteral("Procedure or function 'sp_executesql' expects parameter "
                                                    "'@statement', which was not supplied."),
                                     call.name));
        return;
    }
    const BatchResult result = run(statement, statementParameters(call, 2, declaration), Stream::InProc);
    finishRun();
    m_tokens.returnStatus(result.failed() ? 1 : 0);
    writeProcEnd(0, result.failed());
}

void Connection::rpcPrepare(const RpcCall &call, bool execute)
{
    // @handle OUTPUT, @params, @stmt, then values (sp_prepexec) or @options (sp_prepare)
    const QString declaration = call.params.size() > 1 ? textOf(call.params[1].value) : QString();
    const QString statement = call.params.size() > 2 ? textOf(call.params[2].value) : QString();
    Event event = rpcEvent(call, statement, execute ? valuesFrom(call, 3) : QList<Value>{});
    const FaultPlan plan = admit(event);
    if (plan.error) {
        writeRpcError(*plan.error);
        return;
    }
    if (call.params.size() < 3) {
        writeRpcError(
            procedureError(8178,
                           QStringLiteral("The parameterized query '%1' expects a parameter which was "
                                          "not supplied.")
                               .arg(call.name),
                           call.name));
        return;
    }
    const qint32 handle = m_nextHandle++;
    m_prepared[handle] = Prepared{statement, declaration};
    bool failed = false;
    if (execute) {
        const BatchResult result = run(statement, statementParameters(call, 3, declaration), Stream::InProc);
        finishRun();
        failed = result.failed();
    } else {
        writePreparedMetadata(statement, declaration);
    }
    m_tokens.returnStatus(failed ? 1 : 0);
    TypeInfo intType;
    intType.type = tdstype::IntN;
    intType.maxLength = 4;
    writeReturnValue(call, 0, intType, qint64(handle));
    writeProcEnd(0, failed);
}

void Connection::writePreparedMetadata(const QString &statement, const QString &declaration)
{
    // The client asks for the columns of a prepared statement before running it. A query is
    // run with every parameter NULL to learn them; other statements are not run here, as they
    // may change data, and announce no columns.
    static const QRegularExpression query(QStringLiteral("^(\\s|--[^\\n]*(\\n|$)|/\\*.*?\\*/)*select\\b"),
                                          QRegularExpression::CaseInsensitiveOption |
                                              QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression into(QStringLiteral("\\binto\\b"),
                                         QRegularExpression::CaseInsensitiveOption);
    if (!query.match(statement).hasMatch() || into.match(statement).hasMatch())
        return;
    const BatchResult result = run(statement, declaredParameters(declaration));
    if (result.failed() || result.statements.size() != 1 || !result.statements[0].resultSet)
        return;
    ResultSet shape = *result.statements[0].resultSet;
    shape.rows.clear();
    if (shape.columns.isEmpty())
        return;
    QList<WireColumn> columns;
    for (qsizetype i = 0; i < shape.columns.size(); ++i)
        columns.append(wireColumn(shape.columns[i]));
    m_tokens.columnMetadata(columns);
}

void Connection::rpcExecute(const RpcCall &call)
{
    const qint32 handle = call.params.isEmpty() ? 0 : qint32(integerOf(call.params[0].value));
    const auto found = m_prepared.find(handle);
    const QString statement = found == m_prepared.end() ? QString() : found->second.statement;
    Event event = rpcEvent(call, statement, valuesFrom(call, 1));
    const FaultPlan plan = admit(event);
    if (plan.error) {
        writeRpcError(*plan.error);
        return;
    }
    if (found == m_prepared.end()) {
        writeRpcError(procedureError(
            8179, QStringLiteral("Could not find prepared statement with handle %1.").arg(handle),
            call.name));
        return;
    }
    const BatchResult result =
        run(statement, statementParameters(call, 1, found->second.declaration), Stream::InProc);
    finishRun();
    m_tokens.returnStatus(result.failed() ? 1 : 0);
    writeProcEnd(0, result.failed());
}

void Connection::rpcUnprepare(const RpcCall &call)
{
    Event event = rpcEvent(call, QString(), valuesFrom(call, 0));
    const FaultPlan plan = admit(event);
    if (plan.error) {
        writeRpcError(*plan.error);
        return;
    }
    const qint32 handle = call.params.isEmpty() ? 0 : qint32(integerOf(call.params[0].value));
    if (m_prepared.erase(handle) == 0) {
        writeRpcError(procedureError(
            8179, QStringLiteral("Could not find prepared statement with handle %1.").arg(handle),
            call.name));
        return;
    }
    m_tokens.returnStatus(0);
    writeProcEnd(0, false);
}

void Connection::rpcNoOp(const RpcCall &call)
{
    Event event = rpcEvent(call, QString(), valuesFrom(call, 0));
    const FaultPlan plan = admit(event);
    if (plan.error) {
        writeRpcError(*plan.error);
        return;
    }
    m_tokens.returnStatus(0);
    writeProcEnd(0, false);
}

void Connection::rpcCursorOpen(const RpcCall &call)
{
    // @cursor OUTPUT, @stmt, @scrollopt OUTPUT, @ccopt OUTPUT, @rowcount OUTPUT,
    // [@params, values...]
    const QString statement = call.params.size() > 1 ? textOf(call.params[1].value) : QString();
    const QString declaration = call.params.size() > 5 ? textOf(call.params[5].value) : QString();
    Event event = rpcEvent(call, statement, valuesFrom(call, 6));
    const FaultPlan plan = admit(event);
    if (plan.error) {
        writeRpcError(*plan.error);
        return;
    }
    if (call.params.size() < 2) {
        writeRpcError(procedureError(16902,
                                     QStringLiteral("sp_cursoropen: The value of the parameter "
                                                    "'stmt' is invalid."),
                                     call.name));
        return;
    }
    const BatchResult result = run(statement, statementParameters(call, 6, declaration));
    qint32 cursorId = 0;
    qint64 rowCount = -1;
    // A cursor needs exactly one result (of a SELECT, or of a procedure that returns one) and no
    // error; anything else runs directly and its results travel at once, as without a cursor.
    const StatementResult *single = nullptr;
    int resultSets = 0;
    QList<Message> infos;
    const auto look = [&](const StatementResult &st) {
        infos += st.infos;
        infos += st.afterError; // after a query that succeeded: its warnings, such as 8153
        if (st.resultSet && !st.resultSet->columns.isEmpty()) {
            ++resultSets;
            single = &st;
        }
    };
    for (const StatementResult &st : result.statements) {
        look(st);
        for (const StatementResult &inner : st.inner)
            look(inner);
    }
    if (resultSets == 1 && !result.failed()) {
        for (const Message &info : infos)
            m_tokens.message(info);
        Cursor cursor;
        cursor.result = *single->resultSet;
        for (qsizetype i = 0; i < cursor.result.columns.size(); ++i)
            cursor.columns.append(wireColumn(cursor.result.columns[i]));
        m_tokens.columnMetadata(cursor.columns);
        rowCount = cursor.result.rows.size();
        cursorId = m_nextCursor++;
        m_cursors[cursorId] = std::move(cursor);
    } else {
        writeProcResults(result);
        if (!result.statements.isEmpty())
            rowCount = result.statements.last().rowCount;
    }
    m_tokens.returnStatus(result.failed() ? 1 : 0);
    TypeInfo intType;
    intType.type = tdstype::IntN;
    intType.maxLength = 4;
    writeReturnValue(call, 0, intType, qint64(cursorId));
    auto echo = [&](int index, qint64 fallback) {
        if (index < call.params.size() && call.params[index].output)
            writeReturnValue(call, index, intType, integerOf(call.params[index].value, fallback));
    };
    if (2 < call.params.size() && call.params[2].output)
        writeReturnValue(call, 2, intType, integerOf(call.params[2].value) & ~qint64(0x1000));
    echo(3, 0);
    if (4 < call.params.size() && call.params[4].output)
        writeReturnValue(call, 4, intType, rowCount);
    writeProcEnd(0, result.failed());
}

void Connection::rpcCursorFetch(const RpcCall &call)
{
    // @cursor, @fetchtype, @rownum, @nrows
    Event event = rpcEvent(call, QString(), valuesFrom(call, 0));
    const FaultPlan plan = admit(event);
    if (plan.error) {
        writeRpcError(*plan.error);
        return;
    }
    const qint32 id = call.params.size() > 0 ? qint32(integerOf(call.params[0].value)) : 0;
    const auto found = m_cursors.find(id);
    if (found == m_cursors.end()) {
        writeRpcError(procedureError(16955, QStringLiteral("Could not find a cursor with handle %1.").arg(id),
                                     call.name));
        return;
    }
    Cursor &cursor = found->second;
    const qint64 fetchType = call.params.size() > 1 ? integerOf(call.params[1].value, 2) : 2;
    const qint64 rowNumber = call.params.size() > 2 ? integerOf(call.params[2].value, 0) : 0;
    // nrows 0 fetches nothing: FIRST so positions the cursor before the first row.
    const qint64 wanted = qMax<qint64>(0, call.params.size() > 3 ? integerOf(call.params[3].value, 1) : 1);
    const qint64 total = cursor.result.rows.size();
    TypeInfo intType;
    intType.type = tdstype::IntN;
    intType.maxLength = 4;

    if (fetchType & 0x100) { // FETCH_INFO: the current row number and the row count
        m_tokens.returnStatus(0);
        writeReturnValue(call, 2, intType, cursor.start);
        writeReturnValue(call, 3, intType, total);
        writeProcEnd(0, false);
        return;
    }

    qint64 start = 0;
    switch (fetchType & 0xFF) {
    case 0x01:
        start = 1;
        break; // FIRST
    case 0x02:
        start = qMax<qint64>(1, cursor.start + cursor.size); // NEXT
        if (cursor.start > total)
            start = total + 1;
        break;
    case 0x04:
        start = cursor.start - wanted;
        break; // PREV
    case 0x08:
        start = qMax<qint64>(1, total - wanted + 1);
        break; // LAST
    case 0x10:
        start = rowNumber >= 0 ? rowNumber : total + rowNumber + 1;
        break; // ABSOLUTE
    case 0x20:
        start = (cursor.start == 0 && rowNumber > 0 ? 0 : cursor.start) + rowNumber;
        break; // RELATIVE
    case 0x80:
        start = cursor.start;
        break; // REFRESH
    default:
        writeRpcError(procedureError(16902,
                                     QStringLiteral("sp_cursorfetch: The value of the parameter "
                                                    "'fetchtype' is invalid."),
                                     call.name));
        return;
    }

    qint64 first = qMax<qint64>(1, start);
    const qint64 lastRow = qMin(total, start + wanted - 1);
    if (wanted == 0) {
        cursor.start = (fetchType & 0xFF) == 0x01 ? 0 : qBound<qint64>(0, start, total + 1);
        cursor.size = 0;
        first = 1;
    } else if (start > total || lastRow < 1) {
        cursor.start = start > total ? total + 1 : 0;
        cursor.size = 0;
        first = 1;
    } else {
        cursor.start = first;
        cursor.size = lastRow - first + 1;
    }

    if (call.options & 0x02)
        m_tokens.noMetadata();
    else
        m_tokens.columnMetadata(cursor.columns);
    for (qint64 r = 0; r < cursor.size; ++r)
        m_tokens.row(cursor.columns, cutToTextSize(cursor.result.columns, cursor.result.rows[first - 1 + r]));
    m_tokens.doneInProc(donestatus::More | donestatus::Count, command::Select, cursor.size);
    m_tokens.returnStatus(0);
    writeProcEnd(0, false);
}

void Connection::rpcCursorClose(const RpcCall &call)
{
    Event event = rpcEvent(call, QString(), valuesFrom(call, 0));
    const FaultPlan plan = admit(event);
    if (plan.error) {
        writeRpcError(*plan.error);
        return;
    }
    const qint32 id = call.params.size() > 0 ? qint32(integerOf(call.params[0].value)) : 0;
    if (m_cursors.erase(id) == 0) {
        writeRpcError(procedureError(16955, QStringLiteral("Could not find a cursor with handle %1.").arg(id),
                                     call.name));
        return;
    }
    m_tokens.returnStatus(0);
    writeProcEnd(0, false);
}

void Connection::rpcProcedure(const RpcCall &call)
{
    Event event = rpcEvent(call, QString(), valuesFrom(call, 0));
    const FaultPlan plan = admit(event);
    if (plan.error) {
        writeRpcError(*plan.error);
        return;
    }
    // EXEC name @P1, @P2, ... with the values by position.
    QString sql = QStringLiteral("EXEC ") + call.name;
    QList<Parameter> params;
    for (qsizetype i = 0; i < call.params.size(); ++i) {
        const QString name = QStringLiteral("@P%1").arg(i + 1);
        sql += (i == 0 ? QStringLiteral(" ") : QStringLiteral(", ")) + name;
        params.append(Parameter{name, call.params[i].value});
    }
    m_procStatus = -1;
    const BatchResult result = run(sql, params, Stream::ProcCall);
    finishRun();
    const qint32 status = m_procStatus >= 0 ? m_procStatus : result.failed() ? 1 : 0;
    m_tokens.returnStatus(status);
    for (qsizetype i = 0; i < call.params.size(); ++i) {
        if (call.params[i].output)
            writeReturnValue(call, int(i), returnType(call.params[i].type), call.params[i].value);
    }
    bool failed = false;
    for (const StatementResult &st : result.statements)
        failed = failed || callFailed(st);
    writeProcEnd(status, failed);
}

} // namespace sandbox::tds
