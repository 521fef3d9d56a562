// Arbitrary bytes into the receiver and the reply decoding: no crash, no read
// past a buffer, and after any garbage a valid frame is still received.
#include "link/controller.h"
#include "link/frame.h"
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

    // Resynchronisation: a valid newest-index frame (no 255 after its start
    // byte), repeated, must come through once whatever frame the garbage
    // left open has been consumed: the longest swallows 36 bytes, five copies.
    const QByteArray good = qta::buildFrame(qta::RxNewest, QByteArray("\x01\x02", 2));
    int received = 0;
    for (int i = 0; i < 8 && received == 0; ++i) {
        core->receiveBytes(good);
        while (core->Rx.complete()) {
            if (core->Rx.code() == qta::RxNewest && core->Rx.word(0) == 0x0102)
                ++received;
            core->COM_Rx_Complete();
        }
        drain();
    }
    if (received == 0)
        std::abort();
    return 0;
}
