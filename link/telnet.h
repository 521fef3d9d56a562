// Telnet (RFC 854) as far as a client of an RFC 2217 serial device server
// needs it: the data bytes out of the received stream (IAC IAC is one data
// byte 255; sequences may be split across reads anywhere), IAC doubled in
// what is sent, the option negotiation (BINARY and SUPPRESS-GO-AHEAD both
// ways, COM-PORT-OPTION from our side; anything else refused) and the
// COM-PORT-OPTION subcommands that set the line: baud rate, data size,
// parity, stop size, flow control. No sockets: bytes in, bytes out.
#pragma once

#include <QByteArray>
#include <array>
#include <cstdint>

namespace qta {

class TTelnetCodec {
public:
    // Commands (RFC 854).
    static constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250,
                                  SE = 240;
    // Options.
    static constexpr std::uint8_t OptBinary = 0;          // RFC 856
    static constexpr std::uint8_t OptEcho = 1;            // RFC 857 (refused)
    static constexpr std::uint8_t OptSuppressGoAhead = 3; // RFC 858
    static constexpr std::uint8_t OptComPort = 44;        // RFC 2217
    // COM-PORT-OPTION subcommands from the client; the server answers each
    // with the same code plus 100 and the value it now uses.
    static constexpr std::uint8_t SetBaudRate = 1, SetDataSize = 2, SetParity = 3, SetStopSize = 4,
                                  SetControl = 5;
    static constexpr std::uint8_t kServerOffset = 100;

    // Line settings in RFC 2217's values. 0 in a field: not set / not known.
    struct TLine {
        std::uint32_t baudRate = 0;
        std::uint8_t dataSize = 0; // 5..8
        std::uint8_t parity = 0;   // 1 none, 2 odd, 3 even, 4 mark, 5 space
        std::uint8_t stopSize = 0; // 1 one, 2 two, 3 one and a half
        std::uint8_t control = 0;  // 1 none, 2 XON/XOFF, 3 hardware (RTS/CTS)
        bool operator==(const TLine&) const = default;
    };

    // Where the server stands on COM-PORT-OPTION.
    enum class ComPort { Pending, Agreed, Refused };

    // A new session: the codec forgets everything of the last one. With
    // `comPort`, RFC 2217 is asked for; without, only BINARY and
    // SUPPRESS-GO-AHEAD. Returns the offers to send first.
    QByteArray start(bool comPort);

    // Data to send, every 255 doubled.
    static QByteArray escape(const QByteArray& data);

    // Takes received bytes: appends the data bytes among them to `data` and
    // returns what must be sent back (answers to the negotiation, and the
    // line settings once the server agrees to COM-PORT-OPTION).
    QByteArray receive(const QByteArray& in, QByteArray& data);

    // The line settings wanted. Returns the subcommands to send now when the
    // server has agreed to COM-PORT-OPTION (empty otherwise: they go with
    // its agreement).
    QByteArray setLine(const TLine& line);
    // The subcommands that set every non-zero field of `line`.
    static QByteArray lineRequest(const TLine& line);

    ComPort comPort() const { return comPort_; }
    // What the server reported it uses (its answers 101 to 105).
    const TLine& confirmed() const { return confirmed_; }
    // Whether an option is in force on our side (we WILL) / the server's (it WILL).
    bool localEnabled(std::uint8_t option) const { return local_[option].enabled; }
    bool remoteEnabled(std::uint8_t option) const { return remote_[option].enabled; }

private:
    struct Side {
        bool enabled = false;
        bool requested = false; // we asked and wait for the answer
    };
    enum class State { Data, Iac, Verb, Sb, SbIac };

    bool localSupported(std::uint8_t option) const;
    static bool remoteSupported(std::uint8_t option);
    void negotiate(std::uint8_t verb, std::uint8_t option, QByteArray& reply);
    void subnegotiation();
    void commandAfterIac(std::uint8_t c, QByteArray& data);

    bool wantComPort_ = false;
    ComPort comPort_ = ComPort::Pending;
    TLine wanted_;
    TLine confirmed_;
    std::array<Side, 256> local_{};
    std::array<Side, 256> remote_{};
    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    QByteArray sb_; // the subnegotiation being received, option byte first
    bool sbOverflow_ = false;
};

} // namespace qta
