#include "link/frame.h"

#include <algorithm>

namespace qta {

int rxPayloadLength(int code) {
    switch (code) {
    case RxStatus: return 24;
    case RxConfig: return 34;
    case RxRecord: return 12;
    case RxCustom: return 10;
    case RxIdentifier: return 8;
    case RxNewest: return 2;
    default: return -1;
    }
}

int txPayloadLength(int code) {
    switch (code) {
    case TxAskConfig:
    case TxAskCustom:
    case TxAskIdentifier: return 0;
    case TxWriteConfig: return 32;
    case TxSetClock: return 6;
    case TxWriteCustom: return 8;
    case TxSetPin: return 3;
    case TxAskRecord: return 2;
    case TxDemo: return 12;
    default: return -1;
    }
}

std::uint16_t payloadSum(const QByteArray& payload) {
    unsigned sum = 0;
    for (char c : payload)
        sum += static_cast<std::uint8_t>(c);
    return static_cast<std::uint16_t>(sum & 0xFFFF);
}

QByteArray buildFrame(std::uint8_t code, const QByteArray& payload) {
    QByteArray f;
    f.reserve(payload.size() + 5);
    f.append(char(kFrameStart));
    f.append(char(code));
    f.append(char(255 - code));
    f.append(payload);
    const std::uint16_t sum = payloadSum(payload);
    f.append(char(sum >> 8));
    f.append(char(sum & 0xFF));
    return f;
}

QByteArray recordRequest(int numer) {
    QByteArray p;
    p.append(char((numer / 256) & 0xFF));
    p.append(char(numer % 256));
    return buildFrame(TxAskRecord, p);
}

namespace {
constexpr RxCode kRxCodes[] = {RxStatus, RxConfig, RxRecord, RxCustom, RxIdentifier, RxNewest};
} // namespace

bool TReceiver::step(std::uint8_t b) {
    ++pos_;
    window_[size_t(pos_ % kWindow)] = b;

    // A valid frame ending at this byte; of several, the one that began first.
    qint64 best = -1;
    int bestCode = 0;
    for (const RxCode code : kRxCodes) {
        const int len = rxPayloadLength(code);
        const qint64 s = pos_ - (len + 5) + 1;
        if (s < minStart_ || (best >= 0 && s >= best))
            continue;
        if (at(s) != kFrameStart || at(s + 1) != code || at(s + 2) != 255 - code)
            continue;
        int sum = 0;
        for (int k = 0; k < len; ++k)
            sum += at(s + 3 + k);
        if (sum == at(pos_ - 1) * 256 + at(pos_)) {
            best = s;
            bestCode = code;
        }
    }
    if (best < 0) {
        describeOpenCandidate();
        return false;
    }
    const int len = rxPayloadLength(bestCode);
    for (int k = 0; k < len + 5; ++k)
        UART_Rx_Tab[size_t(1 + k)] = at(best + k);
    UART_Rx_Kod = bestCode;
    UART_Rx_Ile = len + 2;
    UART_Rx_Licznik = len + 2;
    UART_Rx_CRC_Kontrola = at(pos_ - 1) * 256 + at(pos_);
    UART_Rx_CRC = UART_Rx_CRC_Kontrola;
    UART_Rx_Status = 4;
    minStart_ = pos_ + 1;
    return true;
}

// The oldest start byte that may still begin a frame, for the UART_Rx_ fields.
void TReceiver::describeOpenCandidate() {
    UART_Rx_Status = 0;
    for (qint64 s = std::max(minStart_, pos_ - kMaxFrame + 1); s <= pos_; ++s) {
        if (at(s) != kFrameStart)
            continue;
        if (s == pos_) {
            UART_Rx_Status = 1;
            return;
        }
        const int code = at(s + 1);
        const int len = rxPayloadLength(code);
        if (len < 0 || pos_ - s + 1 >= len + 5)
            continue;
        if (s + 1 == pos_) {
            UART_Rx_Status = 2;
            return;
        }
        if (at(s + 2) != 255 - code)
            continue;
        UART_Rx_Status = 3;
        UART_Rx_Kod = code;
        UART_Rx_Ile = len + 2;
        UART_Rx_Licznik = int(pos_ - s - 2);
        return;
    }
}

bool TReceiver::feed(const char* data, qsizetype size) {
    bool completed = false;
    for (qsizetype i = 0; i < size; ++i) {
        if (UART_Rx_Status == 4) {
            const qsizetype room = kMaxHeld - held_.size();
            held_.append(data + i, std::min(room, size - i));
            break;
        }
        completed = step(static_cast<std::uint8_t>(data[i])) || completed;
    }
    return completed;
}

bool TReceiver::rearm() {
    describeOpenCandidate(); // nothing open: the frame took every byte before it
    if (held_.isEmpty())
        return false;
    const QByteArray pending = std::move(held_);
    held_.clear();
    return feed(pending);
}

QByteArray TReceiver::payloadBytes() const {
    const int len = rxPayloadLength(UART_Rx_Kod);
    if (len <= 0)
        return {};
    return QByteArray(reinterpret_cast<const char*>(UART_Rx_Tab.data() + 4), len);
}

} // namespace qta
