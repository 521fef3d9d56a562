// Answers one Modbus TCP request on a client's socket through libmodbus
// (the protocol library builds every reply and exception): reads from the
// unit's registers, exception 1 for every write and any other function,
// exception 2 for addresses outside the map (libmodbus checks them against
// the unit's sizes), 3 for a request of the wrong length, 11 for a unit
// identifier no controller has.
#pragma once

#include "modbus/registermap.h"

#include <cstdint>
#include <functional>

struct _modbus;

namespace qta::modbus {

class TRequestHandler {
public:
    // The unit's answers, or nullptr when no controller has that identifier.
    using Lookup = std::function<const TImage*(int unitId)>;
    explicit TRequestHandler(Lookup lookup);
    ~TRequestHandler();
    TRequestHandler(const TRequestHandler&) = delete;
    TRequestHandler& operator=(const TRequestHandler&) = delete;

    // Answers `frame` (one whole request, TFrame::Request) on socket `fd`.
    // False when the answer could not be sent whole (the client does not
    // read, or is gone): the stream is then out of step and must be closed.
    bool answer(const std::uint8_t* frame, int length, int fd);

private:
    Lookup lookup_;
    _modbus* ctx_;
};

} // namespace qta::modbus
