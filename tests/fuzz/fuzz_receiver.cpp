// Arbitrary bytes into the receiver and the reply decoding: no crash, no read
// past a buffer, and after any garbage the next valid frame is received. The
// same bytes from a telnet (RFC 2217) server: no crash, never more data out
// than came in, and any data escaped for sending is received as it was.
#include "core/controller.h"
#include "link/frame.h"
#include "link/telnet.h"
#include "tests/recordingview.h"

#include <QCoreApplication>
#include <cstdlib>

namespace {
QCoreApplication* app = nullptr;
NullView* view = nullptr;
qta::TQTA504Core* core = nullptr;

// Runs the posted frame-complete calls, as the main window's event loop would.
void drain() {
    QCoreApplication::sendPostedEvents(core, QEvent::MetaCall);
    while (core->Rx.complete()) {
        core->COM_Rx_Complete();
        QCoreApplication::sendPostedEvents(core, QEvent::MetaCall);
    }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    app = new QCoreApplication(*argc, *argv);
    view = new NullView;
    core = new qta::TQTA504Core(view);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const char* p = reinterpret_cast<const char*>(data);
    // Split the input at an arbitrary point: frames may arrive in pieces.
    const size_t cut = size ? data[0] % (size + 1) : 0;
    core->receiveBytes(QByteArray::fromRawData(p, qsizetype(cut)));
    drain();
    core->receiveBytes(QByteArray::fromRawData(p + cut, qsizetype(size - cut)));
    drain();

    // Resynchronisation: after any garbage, the first valid frame that
    // follows is received as soon as its last byte is in. The one exception
    // is a valid frame that began in the garbage and ends inside it: two
    // frames overlap and the one complete first wins; the next copy then
    // comes through (the good frame holds no 255 after its start byte).
    const QByteArray good = qta::buildFrame(qta::RxNewest, QByteArray("\x01\x02", 2));
    auto feedGood = [&](int& goodSeen, int& otherSeen) {
        core->receiveBytes(good);
        // Each complete frame is looked at before its handler runs it.
        while (core->Rx.complete()) {
            if (core->Rx.code() == qta::RxNewest && core->Rx.word(0) == 0x0102)
                ++goodSeen;
            else
                ++otherSeen;
            core->COM_Rx_Complete();
        }
        drain(); // the posted calls find nothing left to handle
    };
    int goodSeen = 0;
    int otherSeen = 0;
    feedGood(goodSeen, otherSeen);
    if (goodSeen == 0) {
        if (otherSeen == 0)
            std::abort(); // lost with nothing in its way
        feedGood(goodSeen, otherSeen);
        if (goodSeen != 1)
            std::abort();
    }

    qta::TTelnetCodec telnet;
    telnet.start(true);
    QByteArray fromServer;
    telnet.receive(QByteArray::fromRawData(p, qsizetype(cut)), fromServer);
    telnet.receive(QByteArray::fromRawData(p + cut, qsizetype(size - cut)), fromServer);
    if (fromServer.size() > qsizetype(size))
        std::abort();
    qta::TTelnetCodec fresh;
    fresh.start(true);
    const QByteArray raw(p, qsizetype(size));
    QByteArray back;
    if (!fresh.receive(qta::TTelnetCodec::escape(raw), back).isEmpty() || back != raw)
        std::abort();
    return 0;
}
