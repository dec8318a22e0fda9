// The download benchmark's HTTP server as a process of its own, so that serving does not compete with
// the client it measures inside one process: bench_body_server SIZE [ADDRESS] serves SIZE bytes (a
// random megabyte repeated) on a free port of ADDRESS (default 127.0.0.1), prints "port N" and serves
// until it is killed, or until the benchmark that started it ends.

#include "bodyserver.h"

#include <QByteArray>
#include <QRandomGenerator>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: bench_body_server SIZE [ADDRESS]\n");
        return 2;
    }
    // Started inside a network namespace, it would otherwise outlive a benchmark that failed.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const qint64 size = std::strtoll(argv[1], nullptr, 10);
    QByteArray piece(qMin<qint64>(size, 1 << 20), Qt::Uninitialized);
    QRandomGenerator(31).fillRange(reinterpret_cast<quint32 *>(piece.data()), piece.size() / 4);
    BodyServer server(piece, size, argc == 3 ? QByteArray(argv[2]) : QByteArray("127.0.0.1"));
    std::printf("port %u\n", unsigned(server.port()));
    std::fflush(stdout);
    for (;;)
        ::pause();
}
