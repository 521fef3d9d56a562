#include "modbus/requesthandler.h"

#include "modbus/modbusframe.h"

#include <cstring>
#include <modbus/modbus.h>

namespace qta::modbus {

TRequestHandler::TRequestHandler(Lookup lookup)
    : lookup_(std::move(lookup)), ctx_(modbus_new_tcp(nullptr, 0)) {}

TRequestHandler::~TRequestHandler() {
    modbus_set_socket(ctx_, -1);
    modbus_free(ctx_);
}

bool TRequestHandler::answer(const std::uint8_t* frame, int length, int fd) {
    modbus_set_socket(ctx_, fd);
    const int unitId = frame[6];
    const int function = length > kHeaderLength ? frame[kHeaderLength] : -1;
    const std::shared_ptr<const TImage> image = lookup_(unitId);
    int rc;
    if (!image) {
        rc = modbus_reply_exception(ctx_, frame, MODBUS_EXCEPTION_GATEWAY_TARGET);
    } else if (!isReadFunction(function)) {
        // Writes above all: nothing from the network reaches a controller.
        rc = modbus_reply_exception(ctx_, frame, MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
    } else if (length != kHeaderLength + 5) {
        // A read is its function, an address and a count: anything else is
        // malformed (and libmodbus would read past it).
        rc = modbus_reply_exception(ctx_, frame, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
    } else {
        // No coils; the rest as the map has them. libmodbus only reads here.
        auto& im = const_cast<TImage&>(*image);
        modbus_mapping_t mapping{};
        mapping.nb_input_bits = int(im.discrete.size());
        mapping.tab_input_bits = im.discrete.data();
        mapping.nb_input_registers = int(im.input.size());
        mapping.tab_input_registers = im.input.data();
        mapping.nb_registers = int(im.holding.size());
        mapping.tab_registers = im.holding.data();
        rc = modbus_reply(ctx_, frame, length, &mapping);
    }
    modbus_set_socket(ctx_, -1);
    return rc > 0;
}

QString TRequestHandler::serve(std::uint8_t* buffer, std::size_t& used, int fd) {
    std::size_t at = 0;
    QString drop;
    for (;;) {
        const TFrame f = nextFrame(buffer + at, used - at);
        if (f.kind == TFrame::Incomplete)
            break;
        if (f.kind == TFrame::Broken) {
            drop = QStringLiteral("ramka nie do odczytania: %1").arg(f.reason);
            break;
        }
        if (f.kind == TFrame::Request) {
            if (!answer(buffer + at, f.length, fd)) {
                drop = QStringLiteral("klient nie odbiera odpowiedzi");
                break;
            }
        }
        at += std::size_t(f.length);
    }
    std::memmove(buffer, buffer + at, used - at);
    used -= at;
    return drop;
}

} // namespace qta::modbus
