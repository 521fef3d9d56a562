// Arbitrary bytes as a Modbus TCP client's stream, cut in two reads where the
// first byte says: no crash, no read past the buffer, the buffer never holds
// more than one unfinished request, and what goes back is whole answers, each
// to a request that was sent.
#include "modbus/modbusframe.h"
#include "modbus/requesthandler.h"

#include <QByteArray>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

using namespace qta::modbus;

namespace {
int pair[2] = {-1, -1};
std::shared_ptr<TImage> image = std::make_shared<TImage>();
TRequestHandler* handler = nullptr;

QByteArray drain() {
    QByteArray out;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(pair[1], buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0)
            return out;
        out.append(buf, int(n));
    }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
        std::abort();
    const int big = 4 << 20;
    ::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    ::setsockopt(pair[1], SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    TUnitState s;
    s.identifier = QStringLiteral("QTA1v2");
    s.voltages.fill(230);
    fillImage(s, *image);
    handler = new TRequestHandler([](int unit) {
        return unit >= 1 && unit <= 3 ? std::shared_ptr<const TImage>(image) : nullptr;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > 4096)
        return 0;
    const std::size_t cut = std::min<std::size_t>(data[0], size - 1);
    const std::uint8_t* stream = data + 1;
    const std::size_t length = size - 1;
    // The server's buffer: one read of up to 4096 bytes behind what is left.
    static std::uint8_t buffer[4096 + kMaxFrame];
    std::size_t used = 0;
    QString dropped;
    for (const auto& [from, n] : {std::pair{std::size_t(0), cut}, std::pair{cut, length - cut}}) {
        if (!dropped.isEmpty())
            break;
        std::memcpy(buffer + used, stream + from, n);
        used += n;
        dropped = handler->serve(buffer, used, pair[0]);
        if (used > std::size_t(kMaxFrame))
            std::abort(); // more than one unfinished request kept
    }
    // Every answer is one whole frame of this protocol.
    const QByteArray out = drain();
    std::size_t at = 0;
    while (at < std::size_t(out.size())) {
        const TFrame f = nextFrame(reinterpret_cast<const std::uint8_t*>(out.constData()) + at,
                                   std::size_t(out.size()) - at);
        if (f.kind != TFrame::Request)
            std::abort();
        at += std::size_t(f.length);
    }
    return 0;
}
