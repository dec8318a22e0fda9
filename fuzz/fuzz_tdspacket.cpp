// The sandbox's packet parser over any bytes. The first byte chooses what the rest is: a PRELOGIN,
// a LOGIN7, a SQL batch, an RPC batch or a Transaction Manager request payload, or a raw stream of
// packets read through the framing. A malformed message may only raise ProtocolError.

#include "sandbox/tds/bytes.h"
#include "sandbox/tds/datatypes.h"
#include "sandbox/tds/login.h"
#include "sandbox/tds/packet.h"
#include "sandbox/tds/requests.h"

#include <cstdint>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

using namespace sandbox::tds;

namespace {

// Feeds the bytes through a socket pair to the packet reader, as a client would send them.
void readStream(const QByteArray &stream)
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        std::abort();
    int buffer = 1 << 20;
    ::setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    if (::write(fds[0], stream.constData(), size_t(stream.size())) != stream.size())
        std::abort();
    ::close(fds[0]);
    Socket socket(fds[1]);
    ClientMessage message;
    while (readMessage(socket, message) == ReadOutcome::Message) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 200000)
        return 0;
    const QByteArray payload(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1);
    try {
        switch (data[0] % 6) {
        case 0:
            parsePreLogin(payload);
            break;
        case 1:
            parseLogin7(payload);
            break;
        case 2:
            parseSqlBatch(payload);
            break;
        case 3:
            for (const RpcCall &call : parseRpcBatch(payload)) {
                for (const RpcParameter &p : call.params)
                    (void)declaration(p.type);
            }
            break;
        case 4:
            parseTransactionRequest(payload);
            break;
        default:
            readStream(payload);
            break;
        }
    } catch (const ProtocolError &) {
    }
    return 0;
}
