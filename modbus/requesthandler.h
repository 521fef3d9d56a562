// Answers one Modbus TCP request on a client's socket through libmodbus
// (the protocol library builds every reply and exception): reads from the
// unit's registers, exception 1 for every write and any other function,
// exception 2 for addresses outside the map (libmodbus checks them against
// the unit's sizes), 3 for a request of the wrong length, 11 for a unit
// identifier no controller has.
#pragma once

#include "modbus/registermap.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

struct _modbus;

namespace qta::modbus {

class TRequestHandler {
public:
    // The unit's answers, or nullptr when no controller has that identifier.
    using Lookup = std::function<std::shared_ptr<const TImage>(int unitId)>;
    explicit TRequestHandler(Lookup lookup);
    ~TRequestHandler();
    TRequestHandler(const TRequestHandler&) = delete;
    TRequestHandler& operator=(const TRequestHandler&) = delete;

    // Answers `frame` (one whole request, TFrame::Request) on socket `fd`.
    // False when the answer could not be sent whole (the client does not
    // read, or is gone): the stream is then out of step and must be closed.
    bool answer(const std::uint8_t* frame, int length, int fd);

    // Answers every whole request at the start of `buffer` (`used` bytes, a
    // client's stream so far) on `fd`, passes over another protocol's frames,
    // and moves what is left (the start of the next request) to the front.
    // An empty string, or why the client must be dropped (a length that
    // cannot be right, an answer it does not take).
    QString serve(std::uint8_t* buffer, std::size_t& used, int fd);

private:
    Lookup lookup_;
    _modbus* ctx_;
};

} // namespace qta::modbus
