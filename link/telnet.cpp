#include "link/telnet.h"

namespace qta {

namespace {

// A subnegotiation longer than this is not one we take: its bytes are
// skipped up to its end, whatever its length.
constexpr qsizetype kMaxSubnegotiation = 64;

void command(QByteArray& out, std::uint8_t verb, std::uint8_t option) {
    out.append(char(TTelnetCodec::IAC));
    out.append(char(verb));
    out.append(char(option));
}

// IAC SB COM-PORT-OPTION cmd value IAC SE, a 255 in the value doubled.
void comPortCommand(QByteArray& out, std::uint8_t cmd, const QByteArray& value) {
    out.append(char(TTelnetCodec::IAC));
    out.append(char(TTelnetCodec::SB));
    out.append(char(TTelnetCodec::OptComPort));
    out.append(char(cmd));
    out.append(TTelnetCodec::escape(value));
    out.append(char(TTelnetCodec::IAC));
    out.append(char(TTelnetCodec::SE));
}

} // namespace

QByteArray TTelnetCodec::start(bool comPort) {
    *this = TTelnetCodec();
    wantComPort_ = comPort;
    QByteArray out;
    const auto offerLocal = [&](std::uint8_t option) {
        local_[option].requested = true;
        command(out, WILL, option);
    };
    const auto askRemote = [&](std::uint8_t option) {
        remote_[option].requested = true;
        command(out, DO, option);
    };
    // Both directions transparent, no go-ahead: a plain byte pipe.
    offerLocal(OptBinary);
    askRemote(OptBinary);
    offerLocal(OptSuppressGoAhead);
    askRemote(OptSuppressGoAhead);
    if (comPort)
        offerLocal(OptComPort);
    return out;
}

QByteArray TTelnetCodec::escape(const QByteArray& data) {
    if (!data.contains(char(IAC)))
        return data;
    QByteArray out;
    out.reserve(data.size() + 8);
    for (char c : data) {
        out.append(c);
        if (std::uint8_t(c) == IAC)
            out.append(c);
    }
    return out;
}

bool TTelnetCodec::localSupported(std::uint8_t option) const {
    return option == OptBinary || option == OptSuppressGoAhead ||
           (option == OptComPort && wantComPort_);
}

bool TTelnetCodec::remoteSupported(std::uint8_t option) {
    return option == OptBinary || option == OptSuppressGoAhead;
}

void TTelnetCodec::negotiate(std::uint8_t verb, std::uint8_t option, QByteArray& reply) {
    // An answer only where the state changes, so that two sides never keep
    // acknowledging each other (RFC 854); a refusal of what is off anyway is
    // an answer the other side expects.
    switch (verb) {
    case DO: {
        Side& s = local_[option];
        if (!localSupported(option)) {
            command(reply, WONT, option);
            break;
        }
        if (!s.enabled) {
            s.enabled = true;
            if (!s.requested)
                command(reply, WILL, option);
            if (option == OptComPort) {
                comPort_ = ComPort::Agreed;
                reply.append(lineRequest(wanted_));
            }
        }
        s.requested = false;
        break;
    }
    case DONT: {
        Side& s = local_[option];
        if (s.enabled) {
            s.enabled = false;
            command(reply, WONT, option);
        }
        s.requested = false;
        if (option == OptComPort && wantComPort_)
            comPort_ = ComPort::Refused;
        break;
    }
    case WILL: {
        Side& s = remote_[option];
        if (!remoteSupported(option)) {
            command(reply, DONT, option);
            break;
        }
        if (!s.enabled) {
            s.enabled = true;
            if (!s.requested)
                command(reply, DO, option);
        }
        s.requested = false;
        break;
    }
    case WONT: {
        Side& s = remote_[option];
        if (s.enabled) {
            s.enabled = false;
            command(reply, DONT, option);
        }
        s.requested = false;
        break;
    }
    default: break;
    }
}

void TTelnetCodec::subnegotiation() {
    if (sbOverflow_ || sb_.size() < 3 || std::uint8_t(sb_[0]) != OptComPort)
        return;
    const auto value = [this](int i) { return std::uint8_t(sb_[i]); };
    switch (value(1)) {
    case kServerOffset + SetBaudRate:
        if (sb_.size() >= 6)
            confirmed_.baudRate = std::uint32_t(value(2)) << 24 | std::uint32_t(value(3)) << 16 |
                                  std::uint32_t(value(4)) << 8 | value(5);
        break;
    case kServerOffset + SetDataSize: confirmed_.dataSize = value(2); break;
    case kServerOffset + SetParity: confirmed_.parity = value(2); break;
    case kServerOffset + SetStopSize: confirmed_.stopSize = value(2); break;
    case kServerOffset + SetControl:
        // The same subcommand also answers questions about the break and the
        // modem lines (values 4 and up); only the flow control is kept.
        if (value(2) >= 1 && value(2) <= 3)
            confirmed_.control = value(2);
        break;
    default: break; // line and modem state notifications, signature, ...
    }
}

void TTelnetCodec::commandAfterIac(std::uint8_t c, QByteArray& data) {
    state_ = State::Data;
    switch (c) {
    case IAC: data.append(char(IAC)); break;
    case WILL:
    case WONT:
    case DO:
    case DONT:
        verb_ = c;
        state_ = State::Verb;
        break;
    case SB:
        sb_.clear();
        sbOverflow_ = false;
        state_ = State::Sb;
        break;
    default: break; // NOP, GA, DM, AYT, SE out of place, ...: nothing to do
    }
}

QByteArray TTelnetCodec::receive(const QByteArray& in, QByteArray& data) {
    QByteArray reply;
    for (char ch : in) {
        const auto c = std::uint8_t(ch);
        switch (state_) {
        case State::Data:
            if (c == IAC)
                state_ = State::Iac;
            else
                data.append(ch);
            break;
        case State::Iac: commandAfterIac(c, data); break;
        case State::Verb:
            negotiate(verb_, c, reply);
            state_ = State::Data;
            break;
        case State::Sb:
            if (c == IAC) {
                state_ = State::SbIac;
            } else if (sb_.size() < kMaxSubnegotiation) {
                sb_.append(ch);
            } else {
                sbOverflow_ = true;
            }
            break;
        case State::SbIac:
            if (c == IAC) {
                if (sb_.size() < kMaxSubnegotiation)
                    sb_.append(ch);
                else
                    sbOverflow_ = true;
                state_ = State::Sb;
            } else {
                // IAC SE ends it; any other command ends it as well (the
                // server broke the rules) and is then taken as a command.
                subnegotiation();
                state_ = State::Data;
                if (c != SE)
                    commandAfterIac(c, data);
            }
            break;
        }
    }
    return reply;
}

QByteArray TTelnetCodec::setLine(const TLine& line) {
    wanted_ = line;
    return comPort_ == ComPort::Agreed ? lineRequest(line) : QByteArray();
}

QByteArray TTelnetCodec::lineRequest(const TLine& line) {
    QByteArray out;
    if (line.baudRate != 0) {
        const std::uint32_t b = line.baudRate;
        const char value[4] = {char(b >> 24), char(b >> 16), char(b >> 8), char(b)};
        comPortCommand(out, SetBaudRate, QByteArray(value, 4));
    }
    if (line.dataSize != 0)
        comPortCommand(out, SetDataSize, QByteArray(1, char(line.dataSize)));
    if (line.parity != 0)
        comPortCommand(out, SetParity, QByteArray(1, char(line.parity)));
    if (line.stopSize != 0)
        comPortCommand(out, SetStopSize, QByteArray(1, char(line.stopSize)));
    if (line.control != 0)
        comPortCommand(out, SetControl, QByteArray(1, char(line.control)));
    return out;
}

} // namespace qta
