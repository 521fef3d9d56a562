#include "modbus/modbusframe.h"

namespace qta::modbus {

TFrame nextFrame(const std::uint8_t* data, std::size_t size) {
    TFrame f;
    if (size < 6)
        return f;
    const int length = (data[4] << 8) | data[5]; // unit identifier and PDU
    if (length < 2) {
        f.kind = TFrame::Broken;
        f.reason = QStringLiteral("pole długości %1 (co najmniej 2)").arg(length);
        return f;
    }
    if (length > 1 + kMaxPdu) {
        f.kind = TFrame::Broken;
        f.reason = QStringLiteral("pole długości %1 (ramka dłuższa niż %2 bajty danych)")
                       .arg(length)
                       .arg(kMaxPdu);
        return f;
    }
    if (size < std::size_t(6 + length))
        return f;
    f.length = 6 + length;
    const int protocol = (data[2] << 8) | data[3];
    f.kind = protocol == 0 ? TFrame::Request : TFrame::Foreign;
    return f;
}

bool isReadFunction(int function) { return function >= 1 && function <= 4; }

bool isWriteFunction(int function) {
    switch (function) {
    case 5:
    case 6:
    case 15:
    case 16:
    case 22:
    case 23: return true;
    default: return false;
    }
}

} // namespace qta::modbus
