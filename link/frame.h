// Framing of everything exchanged with the controller:
//   255, code, 255-code, payload (length fixed per code and direction),
//   16-bit sum of the payload bytes, high byte first.
// No escaping, no length field.
#pragma once

#include <QByteArray>
#include <array>
#include <cstdint>

namespace qta {

constexpr std::uint8_t kFrameStart = 255;

// Codes the program sends.
enum TxCode : std::uint8_t {
    TxAskConfig = 1,     // empty payload, answered by RxConfig
    TxWriteConfig = 2,   // 32 bytes
    TxSetClock = 3,      // 6 bytes
    TxAskCustom = 4,     // empty payload, answered by RxCustom
    TxWriteCustom = 5,   // 8 bytes
    TxSetPin = 6,        // 3 bytes
    TxAskIdentifier = 7, // empty payload, answered by RxIdentifier
    TxAskRecord = 8,     // 2 bytes, answered by RxRecord
    TxDemo = 100,        // 12 bytes
};

// Codes the controller sends.
enum RxCode : std::uint8_t {
    RxStatus = 1,     // 24 bytes, unasked
    RxConfig = 2,     // 34 bytes
    RxRecord = 3,     // 12 bytes
    RxCustom = 4,     // 10 bytes
    RxIdentifier = 7, // 8 bytes
    RxNewest = 8,     // 2 bytes, unasked
};

// Payload length of a frame the controller sends, or -1 for a code it never sends.
int rxPayloadLength(int code);

// Payload length of a frame the program sends, or -1 for an unknown code.
int txPayloadLength(int code);

// The 16-bit payload sum carried at the end of a frame.
std::uint16_t payloadSum(const QByteArray& payload);

// A whole frame for a code and a payload.
QByteArray buildFrame(std::uint8_t code, const QByteArray& payload = {});

// Request for event record `numer` (0..499): 255, 8, 247, H, L, SH, SL.
QByteArray recordRequest(int numer);

// Cuts the incoming byte stream into frames whose checksum agrees.
//
// A frame is received the moment its last byte arrives: at every byte the
// receiver looks back for a valid frame (start byte, a code the controller
// sends, its complement, payload, checksum) that ends at that byte and starts
// after the previous frame. So broken bytes (a frame cut short, a corrupted
// checksum, a stray 255) cost no frame that follows them complete: every
// start byte stays a candidate until a frame is found or it can no longer
// be one. Bad frames are dropped without a word.
//
// The UART_Rx_ fields describe the oldest candidate still open: Status 0
// hunting for 255, 1 code, 2 complement, 3 payload and checksum, 4 frame
// complete and waiting for its handler (then they describe that frame).
//
// Bytes that arrive in state 4 are held back and replayed, in order, by
// rearm(), so a frame that follows another in the same read is not lost.
class TReceiver {
public:
    int UART_Rx_Status = 0;
    int UART_Rx_CRC = 0;
    int UART_Rx_CRC_Kontrola = 0;
    int UART_Rx_Ile = 0;
    int UART_Rx_Licznik = 0;
    int UART_Rx_Kod = 0;
    // [1] start byte, [2] code, [3] complement, [4..] payload; [0] unused.
    std::array<std::uint8_t, 129> UART_Rx_Tab{};

    // Feeds bytes in order. Returns true when a frame became complete
    // (the caller posts the frame-complete notification once).
    bool feed(const char* data, qsizetype size);
    bool feed(const QByteArray& bytes) { return feed(bytes.constData(), bytes.size()); }

    // Ends the handling of the complete frame: back to state 0, then the held
    // bytes are fed. Returns true when that completed another frame.
    bool rearm();

    bool complete() const { return UART_Rx_Status == 4; }
    int code() const { return UART_Rx_Kod; }
    std::uint8_t payload(int k) const { return UART_Rx_Tab[4 + k]; }
    // Big-endian 16-bit value of payload bytes k, k+1.
    int word(int k) const { return payload(k) * 256 + payload(k + 1); }
    QByteArray payloadBytes() const;

    // Held bytes beyond this are dropped (a stalled handler must not grow memory).
    static constexpr qsizetype kMaxHeld = 64 * 1024;

    // The longest frame the controller sends: start, code, complement,
    // 34 bytes of configuration, checksum.
    static constexpr int kMaxFrame = 39;

private:
    bool step(std::uint8_t b);
    std::uint8_t at(qint64 pos) const { return window_[size_t(pos % kWindow)]; }
    void describeOpenCandidate();

    static constexpr int kWindow = 64; // >= kMaxFrame
    std::array<std::uint8_t, kWindow> window_{};
    qint64 pos_ = -1;     // position of the last byte received
    qint64 minStart_ = 0; // frames start after the last one received
    QByteArray held_;
};

} // namespace qta
