#include "link/frame.h"

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

bool TReceiver::step(std::uint8_t b) {
    switch (UART_Rx_Status) {
    case 0:
        if (b == kFrameStart) {
            UART_Rx_Tab[1] = b;
            UART_Rx_Status = 1;
        }
        return false;
    case 1:
        UART_Rx_Tab[2] = b;
        UART_Rx_Status = 2;
        return false;
    case 2: {
        UART_Rx_Tab[3] = b;
        const int code = UART_Rx_Tab[2];
        const int len = rxPayloadLength(code);
        if (b == std::uint8_t(255 - code) && len >= 0) {
            UART_Rx_CRC = 0;
            UART_Rx_Kod = code;
            UART_Rx_Licznik = 0;
            UART_Rx_Ile = len + 2;
            UART_Rx_Status = 3;
        } else {
            // Bad complement, or a code the controller never sends: drop.
            UART_Rx_Status = 0;
        }
        return false;
    }
    case 3: {
        const int d = UART_Rx_Ile - UART_Rx_Licznik;
        bool done = false;
        if (d > 2) {
            UART_Rx_Tab[4 + UART_Rx_Licznik] = b;
            UART_Rx_CRC += b;
        } else if (d == 2) {
            UART_Rx_CRC_Kontrola = b * 256;
        } else {
            UART_Rx_CRC_Kontrola += b;
            if (UART_Rx_CRC == UART_Rx_CRC_Kontrola) {
                UART_Rx_Status = 4;
                done = true;
            } else {
                UART_Rx_Status = 0;
            }
        }
        ++UART_Rx_Licznik;
        return done;
    }
    default: return false;
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
    UART_Rx_Status = 0;
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
