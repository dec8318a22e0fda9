// The download benchmark's HTTP server as a process of its own, so that serving does not compete with
// the client it measures inside one process: bench_body_server SIZE serves SIZE bytes (a random
// megabyte repeated) on a free port of 127.0.0.1, prints "port N" and serves until it is killed.

#include "bodyserver.h"

#include <QByteArray>
#include <QRandomGenerator>

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_body_server SIZE\n");
        return 2;
    }
    const qint64 size = std::strtoll(argv[1], nullptr, 10);
    QByteArray piece(qMin<qint64>(size, 1 << 20), Qt::Uninitialized);
    QRandomGenerator(31).fillRange(reinterpret_cast<quint32 *>(piece.data()), piece.size() / 4);
    BodyServer server(piece, size);
    std::printf("port %u\n", unsigned(server.port()));
    std::fflush(stdout);
    for (;;)
        ::pause();
}
