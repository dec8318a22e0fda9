// qel31-sandbox: the sandbox server from the command line.

#include "sandbox/tds/sandboxserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

bool splitListen(const QString &text, QString *host, quint16 *port)
{
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0)
        return false;
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    if (!ok || number > 65535)
        return false;
    *host = text.left(colon);
    if (host->startsWith(u'[') && host->endsWith(u']'))
        *host = host->mid(1, host->size() - 2);
    *port = quint16(number);
    return true;
}

int fail(const QString &message)
{
    std::fprintf(stderr, "qel31-sandbox: %s\n", qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qel31-sandbox"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A small TDS 7.4 server over SQLite that stands in for the QEL 31 database server.\n"
        "Clients connect with SQL Server authentication, TDS version 7.4. Encryption works as the\n"
        "database server does it: the pre-login negotiates it, the TLS handshake travels inside\n"
        "PRELOGIN packets, then either only the login or everything travels inside TLS.\n"
        "When ready it prints one line \"listening on HOST:PORT\". SIGTERM or SIGINT stop it."));
    parser.addHelpOption();
    const QCommandLineOption listen(
        QStringLiteral("listen"),
        QStringLiteral("Address to listen on (default 127.0.0.1:0; port 0 picks a "
                       "free port)."),
        QStringLiteral("HOST:PORT"), QStringLiteral("127.0.0.1:0"));
    const QCommandLineOption db(
        QStringLiteral("db"),
        QStringLiteral("SQLite database file, created when missing (default: a database "
                       "in memory)."),
        QStringLiteral("FILE"));
    const QCommandLineOption demo(QStringLiteral("demo"),
                                  QStringLiteral("Fill a new or empty database with the demo university; an "
                                                 "existing one is left as it is."));
    const QCommandLineOption statementLog(
        QStringLiteral("statement-log"),
        QStringLiteral(
            "Append one line per login, batch, RPC and ATTENTION (cancel) received: login name, kind "
            "(LOGIN-OK, LOGIN-FAILED, BATCH, RPC, ATTENTION), text (the database of a login; the "
            "procedure name and the statement it carries for an RPC; none for an ATTENTION), then "
            "the parameter values of an RPC; tab-separated, "
            "with backslash, tab, CR and LF in a field written as \\\\, \\t, \\r, \\n and a NULL "
            "value as \\N. A login's line ends with one more field, what of the connection travels "
            "inside TLS: encryption=none, encryption=login (the login only) or encryption=all."),
        QStringLiteral("FILE"));
    const QCommandLineOption portFile(QStringLiteral("port-file"),
                                      QStringLiteral("Write the port number to FILE once listening."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption encryption(
        QStringLiteral("encryption"),
        QStringLiteral("none: answer that encryption is not supported, as a server without a "
                       "certificate; supported (default): the client chooses, its login at least "
                       "inside TLS unless it cannot do TLS; forced: everything inside TLS, a client "
                       "that cannot do TLS is refused."),
        QStringLiteral("MODE"), QStringLiteral("supported"));
    const QCommandLineOption tlsCert(QStringLiteral("tls-cert"),
                                     QStringLiteral("The server's certificate (PEM, may hold the chain); "
                                                    "with --tls-key. Default: a self-signed certificate "
                                                    "for localhost and 127.0.0.1, made at start."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption tlsKey(QStringLiteral("tls-key"),
                                    QStringLiteral("The private key of --tls-cert (PEM, not encrypted)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption tlsMaxVersion(
        QStringLiteral("tls-max-version"),
        QStringLiteral("Highest TLS version offered: 1.0, 1.1 or 1.2 (default). Below 1.2 the server "
                       "offers only that version."),
        QStringLiteral("VERSION"), QStringLiteral("1.2"));
    const QCommandLineOption latency(
        QStringLiteral("latency"),
        QStringLiteral("Answer every request MS milliseconds after it arrived, as over a network with "
                       "that round-trip time, and print to standard error, as each connection ends, "
                       "how many of its requests waited for an answer (default: no delay, no count)."),
        QStringLiteral("MS"));
    const QCommandLineOption procedurePause(
        QStringLiteral("procedure-pause"),
        QStringLiteral("How long CreateStarasta waits between its error and its store for a student "
                       "marked error-then-store, with the error already sent; an ATTENTION meanwhile "
                       "stops it before the store (default 2000)."),
        QStringLiteral("MS"));
    const QCommandLineOption compatibility(
        QStringLiteral("compatibility-level"),
        QStringLiteral("The database's compatibility level (default 160). A truncation is error 2628, "
                       "naming the table, the column and the value, at 150 and above, and 8152 at 140 "
                       "and below."),
        QStringLiteral("LEVEL"));
    parser.addOptions({listen, db, demo, statementLog, portFile, encryption, tlsCert, tlsKey, tlsMaxVersion,
                       latency, procedurePause, compatibility});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));

    QString host;
    quint16 port = 0;
    if (!splitListen(parser.value(listen), &host, &port))
        return fail(QStringLiteral("--listen wants HOST:PORT, not %1").arg(parser.value(listen)));

    sandbox::TlsSettings tls;
    if (!sandbox::parseEncryptionMode(parser.value(encryption), &tls.mode))
        return fail(QStringLiteral("--encryption wants none, supported or forced, not %1")
                        .arg(parser.value(encryption)));
    if (!sandbox::parseTlsVersion(parser.value(tlsMaxVersion), &tls.maxVersion))
        return fail(QStringLiteral("--tls-max-version wants 1.0, 1.1 or 1.2, not %1")
                        .arg(parser.value(tlsMaxVersion)));
    if (parser.isSet(tlsCert) != parser.isSet(tlsKey))
        return fail(QStringLiteral("--tls-cert and --tls-key go together"));
    tls.certificateFile = parser.value(tlsCert);
    tls.keyFile = parser.value(tlsKey);

    std::unique_ptr<sandbox::SandboxServer> server;
    try {
        server = std::make_unique<sandbox::SandboxServer>(parser.value(db), parser.isSet(demo));
    } catch (const std::exception &e) {
        return fail(QStringLiteral("cannot open the database: %1").arg(QString::fromUtf8(e.what())));
    }

    server->setTlsSettings(tls);
    if (parser.isSet(latency)) {
        bool ok = false;
        const int ms = parser.value(latency).toInt(&ok);
        if (!ok || ms < 0)
            return fail(QStringLiteral("--latency wants milliseconds, not %1").arg(parser.value(latency)));
        server->setLatency(ms);
        // Called on the connection's own thread; one line, written at once.
        server->setConnectionEndListener([](int connection, const sandbox::SandboxServer::RoundTrips &r) {
            std::fprintf(stderr, "connection %d: %d round trips (%d pre-login, %d TLS handshake)\n",
                         connection, r.total, r.preLogin - r.handshake, r.handshake);
        });
    }

    if (parser.isSet(procedurePause)) {
        bool ok = false;
        const int ms = parser.value(procedurePause).toInt(&ok);
        if (!ok || ms < 0)
            return fail(QStringLiteral("--procedure-pause wants milliseconds, not %1")
                            .arg(parser.value(procedurePause)));
        server->engine().setProcedurePause(ms);
    }

    if (parser.isSet(compatibility)) {
        bool ok = false;
        const int level = parser.value(compatibility).toInt(&ok);
        if (!ok || level < 100 || level > 160 || level % 10 != 0)
            return fail(QStringLiteral("--compatibility-level wants 100, 110, ... 160, not %1")
                            .arg(parser.value(compatibility)));
        server->engine().setCompatibilityLevel(level);
    }

    QFile log;
    if (parser.isSet(statementLog)) {
        log.setFileName(parser.value(statementLog));
        if (!log.open(QIODevice::WriteOnly | QIODevice::Append))
            return fail(QStringLiteral("cannot open %1: %2").arg(log.fileName(), log.errorString()));
        // Called for one event at a time, in order.
        server->setEventListener([&log](const sandbox::Event &event) {
            log.write(sandbox::logLine(event).toUtf8() + '\n');
            log.flush();
        });
    }

    if (::pipe(signalPipe) != 0)
        return fail(QStringLiteral("cannot create a pipe"));
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QString error;
    if (!server->start(host, port, &error))
        return fail(error);

    if (parser.isSet(portFile)) {
        QSaveFile file(parser.value(portFile));
        if (!file.open(QIODevice::WriteOnly)) {
            server->stop();
            return fail(QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString()));
        }
        file.write(QByteArray::number(server->port()) + '\n');
        if (!file.commit()) {
            server->stop();
            return fail(QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString()));
        }
    }

    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    std::printf("listening on %s:%u\n", qPrintable(shownHost), unsigned(server->port()));
    std::fflush(stdout);

    char byte;
    while (::read(signalPipe[0], &byte, 1) < 0 && errno == EINTR) {
    }
    server->stop();
    return 0;
}
