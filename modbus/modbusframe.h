// Modbus TCP framing: where one request ends in the bytes a client has sent
// (the MBAP header's length field), and what is wrong with it when it cannot
// be a request. Pure functions over a buffer, so that a frame cut across
// reads or several in one read are handled alike.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

namespace qta::modbus {

constexpr int kHeaderLength = 7; // transaction 2, protocol 2, length 2, unit 1
constexpr int kMaxPdu = 253;     // function and data
constexpr int kMaxFrame = 6 + 1 + kMaxPdu;

struct TFrame {
    enum Kind {
        Incomplete, // wait for more bytes
        Request,    // `length` bytes make one request
        Foreign,    // `length` bytes of another protocol (identifier not 0): dropped unanswered
        Broken,     // the length field cannot be right: the stream cannot be followed further
    };
    Kind kind = Incomplete;
    int length = 0;
    QString reason; // Broken: why, in Polish
};

TFrame nextFrame(const std::uint8_t* data, std::size_t size);

// Function codes the server answers from its registers, and the writes it refuses.
bool isReadFunction(int function);
bool isWriteFunction(int function);

} // namespace qta::modbus
