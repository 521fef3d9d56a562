#include "tools/sim/simulator.h"

#include "link/frame.h"

#include <QStringList>
#include <algorithm>

namespace qta::sim {

namespace {

// A frame from the program arrives within a few milliseconds at 38400 baud; bytes
// that have waited longer for the rest of their frame belong to a frame that was
// cut off (the program closed the line mid-frame) and must not swallow the next one.
constexpr qint64 kFrameGapMs = 250;
constexpr qint64 kDemoStepMs = 1000;

QString bytesText(const QByteArray& bytes) {
    QString s;
    for (char c : bytes) {
        s += u' ';
        s += QString::number(std::uint8_t(c));
    }
    return s;
}

void put16(QByteArray& b, int v) {
    b.append(char((v >> 8) & 0xFF));
    b.append(char(v & 0xFF));
}

int get16(const QByteArray& b, int k) { return std::uint8_t(b[k]) * 256 + std::uint8_t(b[k + 1]); }

QByteArray defaultConfig() {
    QByteArray c;
    for (int line = 0; line < 3; ++line) {
        put16(c, 195); // Umin
        put16(c, 253); // Umax
        put16(c, 8);   // hysteresis
    }
    put16(c, 5);       // qualification as good, s
    put16(c, 2);       // qualification as bad, s
    put16(c, 10);      // minimum connection time, s
    put16(c, 25);      // switching on, tenths
    put16(c, 10);      // switching off, tenths
    put16(c, 5);       // break, tenths
    c.append(char(9)); // contactors, program 1, priority line N1
    c.append(char(0)); // no load shedding
    return c;
}

QByteArray defaultCustom() {
    QByteArray c;
    c.append(char(128 | 32 | 16 | 8)); // monitoring, sound, backlight, register; no PIN
    put16(c, 10);                      // alarm delay
    put16(c, 5);                       // alarm duration
    put16(c, 30);                      // backlight time
    c.append(char(80));                // brightness
    put16(c, 1234);                    // PIN
    return c;
}

// Reads count integers lo..hi from words[from..].
bool ints(const QStringList& w, int from, int count, int lo, int hi, int* out, QString* error) {
    if (w.size() != from + count) {
        *error = QStringLiteral("%1 needs %2 number(s)").arg(w[0]).arg(count);
        return false;
    }
    for (int k = 0; k < count; ++k) {
        bool ok = false;
        const int v = w[from + k].toInt(&ok, 10);
        if (!ok || v < lo || v > hi) {
            *error = QStringLiteral("%1: \"%2\" is not a number %3..%4")
                         .arg(w[0], w[from + k])
                         .arg(lo)
                         .arg(hi);
            return false;
        }
        out[k] = v;
    }
    return true;
}

} // namespace

Simulator::Simulator(Writer writer, Logger logger)
    : config(defaultConfig()), custom(defaultCustom()), write_(std::move(writer)),
      log_(std::move(logger)) {}

void Simulator::start(qint64 now, int periodMs, bool demo, std::uint32_t seed) {
    periodMs_ = periodMs;
    nextStatus_ = periodMs_ > 0 ? now + periodMs_ : -1;
    demo_ = demo;
    if (demo_) {
        rng_.seed(seed);
        nextDip_ = pick(3, 6);
        nextDemo_ = now + kDemoStepMs;
    }
}

QDateTime Simulator::clock() const { return QDateTime::currentDateTime().addMSecs(clockOffsetMs_); }

// ---------------------------------------------------------------------------
// Receiving

void Simulator::receive(const QByteArray& bytes, qint64 now) {
    if (now - lastRx_ > kFrameGapMs) {
        if (!rxBuf_.isEmpty())
            parse(true);
        skippingBadFrame_ = false; // what comes after a pause is not the rest of a bad frame
    }
    rxBuf_ += bytes;
    lastRx_ = now;
    parse(false);
}

void Simulator::flushJunk() {
    if (junk_.isEmpty())
        return;
    constexpr qsizetype kShown = 48;
    QString line = QStringLiteral("rx-junk") + bytesText(junk_.left(kShown));
    if (junk_.size() > kShown)
        line += QStringLiteral(" ... (%1 bytes)").arg(junk_.size());
    log_(line);
    junk_.clear();
}

// Cuts the buffer into frames. A bad frame costs only its start byte: the scan goes on
// from the next byte, so a good frame that follows a truncated one is still found.
// With `final`, a frame still waiting for its rest is given up.
void Simulator::parse(bool final) {
    const auto at = [this](qsizetype k) { return std::uint8_t(rxBuf_[k]); };
    qsizetype i = 0;
    while (i < rxBuf_.size()) {
        if (at(i) != kFrameStart) {
            if (!skippingBadFrame_)
                junk_.append(rxBuf_[i]);
            ++i;
            continue;
        }
        const qsizetype avail = rxBuf_.size() - i;
        const auto giveUp = [&](const QString& why) {
            flushJunk();
            log_(QStringLiteral("rx-bad") + bytesText(rxBuf_.mid(i + 1, 2)) + u' ' + why);
            skippingBadFrame_ = true;
            ++i;
        };
        if (avail < 3) {
            if (!final)
                break;
            giveUp(QStringLiteral("(incomplete header)"));
            continue;
        }
        const int code = at(i + 1);
        if (at(i + 2) != std::uint8_t(255 - code)) {
            giveUp(QStringLiteral("(bad complement)"));
            continue;
        }
        const int len = txPayloadLength(code);
        if (len < 0) {
            giveUp(QStringLiteral("(unknown code)"));
            continue;
        }
        if (avail < len + 5) {
            if (!final)
                break;
            flushJunk();
            log_(QStringLiteral("rx-bad %1").arg(code) + bytesText(rxBuf_.mid(i + 3)) +
                 QStringLiteral(" (incomplete: %1 of %2 bytes)").arg(avail).arg(len + 5));
            skippingBadFrame_ = true;
            ++i;
            continue;
        }
        const QByteArray payload = rxBuf_.mid(i + 3, len);
        const int sum = at(i + 3 + len) * 256 + at(i + 4 + len);
        if (sum != payloadSum(payload)) {
            flushJunk();
            log_(QStringLiteral("rx-bad %1").arg(code) + bytesText(payload) +
                 QStringLiteral(" (checksum %1, expected %2)").arg(sum).arg(payloadSum(payload)));
            skippingBadFrame_ = true;
            ++i;
            continue;
        }
        flushJunk();
        skippingBadFrame_ = false;
        i += len + 5;
        handleFrame(code, payload);
    }
    flushJunk();
    rxBuf_.remove(0, i);
}

void Simulator::handleFrame(int code, const QByteArray& p) {
    log_(QStringLiteral("rx %1").arg(code) + bytesText(p));
    // A settings write is shown whole as well, start byte to checksum (header
    // and checksum were checked above, so the rebuilt frame is the one received).
    if (code == TxWriteConfig || code == TxWriteCustom)
        log_(QStringLiteral("frame %1").arg(code) + bytesText(buildFrame(std::uint8_t(code), p)));
    if (auto d = drops_.find(code); d != drops_.end() && d->second > 0) {
        --d->second;
        log_(QStringLiteral("lost %1 (drop, %2 more)").arg(code).arg(d->second));
        return;
    }
    switch (code) {
    case TxAskConfig: {
        QByteArray reply = config;
        put16(reply, czasZrzutu);
        answer(code, RxConfig, reply);
        break;
    }
    case TxWriteConfig: config = p; break;
    case TxSetClock: applyClock(p); break;
    case TxAskCustom: answer(code, RxCustom, custom); break;
    case TxWriteCustom: applyCustomWrite(p); break;
    case TxSetPin:
        custom[0] = char((std::uint8_t(custom[0]) & ~64) | (p[0] != 0 ? 64 : 0));
        custom[8] = p[1];
        custom[9] = p[2];
        break;
    case TxAskIdentifier: {
        QByteArray reply = identifier;
        put16(reply, ring.newest());
        answer(code, RxIdentifier, reply);
        break;
    }
    case TxAskRecord: {
        const int index = get16(p, 0);
        if (index >= kRingSize) {
            log_(QStringLiteral("no-answer 8 (record %1 does not exist)").arg(index));
            break;
        }
        const Record& r = ring.record(index);
        answer(code, RxRecord, QByteArray(reinterpret_cast<const char*>(r.data()), 12));
        break;
    }
    case TxDemo: applyDemoVoltages(p); break;
    default: break;
    }
}

// The customisation write carries monitoring, sound, backlight and register in bits 7..4;
// the reply keeps the PIN switch in bit 6 and the other three one place lower.
void Simulator::applyCustomWrite(const QByteArray& p) {
    const int w = std::uint8_t(p[0]);
    int flags = std::uint8_t(custom[0]) & 64;
    if (w & 128)
        flags |= 128;
    if (w & 64)
        flags |= 32;
    if (w & 32)
        flags |= 16;
    if (w & 16)
        flags |= 8;
    custom[0] = char(flags);
    for (int k = 1; k < 8; ++k)
        custom[k] = p[k];
}

void Simulator::applyClock(const QByteArray& p) {
    const auto b = [&p](int k) { return int(std::uint8_t(p[k])); };
    const QDate date{2000 + b(0), b(1), b(2)};
    const QTime time{b(3), b(4), b(5)};
    if (!date.isValid() || !time.isValid()) {
        log_(QStringLiteral("clock-bad") + bytesText(p) + QStringLiteral(" (not a date and time)"));
        return;
    }
    const QDateTime set(date, time);
    clockOffsetMs_ = QDateTime::currentDateTime().msecsTo(set);
    log_(QStringLiteral("clock ") + set.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

// Mode 1 puts the nine voltages (volts, one byte each) in place of the measured ones, and
// the controller judges them as its own: the fault bits follow its thresholds at once, and
// once a second the lines are qualified and the load switched as in the demonstration.
// Mode 0 ends that: the status frames report the measured voltages again and, outside the
// demonstration, the faults, line states and active line from before the panel took over.
void Simulator::applyDemoVoltages(const QByteArray& p) {
    const int mode = std::uint8_t(p[0]);
    if (mode == 1) {
        if (!external_) {
            measured_ = live.voltages;
            beforePanel_ = live;
            if (!demo_)
                nextDemo_ = lastRx_ + kDemoStepMs;
        }
        external_ = true;
        for (int k = 0; k < 9; ++k)
            live.voltages[std::size_t(k)] = std::uint8_t(p[1 + k]);
        for (int l = 0; l < 3; ++l)
            live.faults[std::size_t(l)] = thresholdFaults(l);
        log_(QStringLiteral("demo-voltages on"));
    } else if (mode == 0) {
        if (external_) {
            if (demo_) {
                live.voltages = measured_;
            } else {
                live = beforePanel_;
                nextDemo_ = -1;
            }
        }
        external_ = false;
        log_(QStringLiteral("demo-voltages off"));
    } else {
        log_(QStringLiteral("demo-voltages ignored (mode %1)").arg(mode));
    }
}

// ---------------------------------------------------------------------------
// Sending

bool Simulator::send(std::uint8_t code, const QByteArray& payload) {
    if (silent_)
        return false;
    if (!write_(buildFrame(code, payload))) {
        log_(QStringLiteral("tx-lost %1 (line full)").arg(code));
        return false;
    }
    log_(QStringLiteral("tx %1").arg(code) + bytesText(payload));
    return true;
}

bool Simulator::answer(int request, std::uint8_t code, const QByteArray& payload) {
    if (silent_) {
        log_(QStringLiteral("no-answer %1 (silent)").arg(request));
        return false;
    }
    return send(code, payload);
}

QByteArray Simulator::statusPayload() const {
    QByteArray p;
    for (int v : live.voltages)
        put16(p, v);
    for (int f : live.faults)
        p.append(char(f));
    p.append(char(((live.program & 15) << 4) | (live.active & 15)));
    p.append(
        char(((live.states[0] & 3) << 4) | ((live.states[1] & 3) << 2) | (live.states[2] & 3)));
    p.append(char(live.awaria));
    return p;
}

void Simulator::sendStatus() { send(RxStatus, statusPayload()); }

void Simulator::sendNewest() {
    QByteArray p;
    put16(p, ring.newest());
    send(RxNewest, p);
}

void Simulator::addEvent(int event, int kod1, int kod2, int kod3, int kod4) {
    const int index = ring.append(recordData(clock(), event, kod1, kod2, kod3, kod4));
    log_(QStringLiteral("event %1 at %2").arg(event).arg(index));
    sendNewest();
}

// ---------------------------------------------------------------------------
// Timers

void Simulator::tick(qint64 now) {
    if (nextDemo_ >= 0 && now >= nextDemo_) {
        demoStep();
        nextDemo_ = demo_ || external_ ? std::max(nextDemo_ + kDemoStepMs, now + 1) : -1;
    }
    if (nextStatus_ >= 0 && now >= nextStatus_) {
        sendStatus();
        // A late tick does not produce a burst of frames to catch up.
        nextStatus_ = std::max(nextStatus_ + periodMs_, now + 1);
    }
}

qint64 Simulator::msUntilNextTick(qint64 now) const {
    qint64 next = -1;
    for (qint64 t : {nextStatus_, nextDemo_})
        if (t >= 0 && (next < 0 || t < next))
            next = t;
    return next < 0 ? -1 : std::max<qint64>(0, next - now);
}

// ---------------------------------------------------------------------------
// Runtime commands

Simulator::CommandResult Simulator::command(const QString& line, qint64 now, QString* error) {
    const QStringList w = line.simplified().split(u' ', Qt::SkipEmptyParts);
    if (w.isEmpty())
        return CommandResult::Done;
    log_(QStringLiteral("cmd ") + w.join(u' '));
    const QString& c = w[0];
    int v[9] = {};
    auto fail = [&](const QString& why) {
        *error = why;
        return CommandResult::Error;
    };
    if (c == u"quit") {
        return CommandResult::Quit;
    } else if (c == u"silent") {
        if (w.size() != 2 || (w[1] != u"on" && w[1] != u"off"))
            return fail(QStringLiteral("silent needs on or off"));
        silent_ = w[1] == u"on";
    } else if (c == u"period") {
        if (!ints(w, 1, 1, 0, 3600000, v, error))
            return CommandResult::Error;
        periodMs_ = v[0];
        nextStatus_ = periodMs_ > 0 ? now + periodMs_ : -1;
    } else if (c == u"voltages") {
        if (w.size() != 2 && w.size() != 10)
            return fail(QStringLiteral("voltages needs one or nine numbers"));
        if (!ints(w, 1, int(w.size()) - 1, 0, 65535, v, error))
            return CommandResult::Error;
        if (w.size() == 2)
            live.voltages.fill(v[0]);
        else
            std::copy(v, v + 9, live.voltages.begin());
        // Explicit voltages replace both the measured and any panel-sent ones.
        external_ = false;
    } else if (c == u"faults") {
        if (!ints(w, 1, 3, 0, 255, v, error))
            return CommandResult::Error;
        std::copy(v, v + 3, live.faults.begin());
    } else if (c == u"awaria") {
        if (!ints(w, 1, 1, 0, 255, v, error))
            return CommandResult::Error;
        live.awaria = v[0];
    } else if (c == u"program") {
        if (!ints(w, 1, 1, 0, 15, v, error))
            return CommandResult::Error;
        live.program = v[0];
    } else if (c == u"active") {
        if (!ints(w, 1, 1, 0, 15, v, error))
            return CommandResult::Error;
        live.active = v[0];
    } else if (c == u"states") {
        if (!ints(w, 1, 3, 0, 3, v, error))
            return CommandResult::Error;
        std::copy(v, v + 3, live.states.begin());
    } else if (c == u"status") {
        sendStatus();
    } else if (c == u"add-event") {
        if (!ints(w, 1, 5, 0, 255, v, error))
            return CommandResult::Error;
        addEvent(v[0], v[1], v[2], v[3], v[4]);
    } else if (c == u"newest") {
        if (w.size() != 1)
            return fail(QStringLiteral("newest takes no arguments"));
        sendNewest();
    } else if (c == u"drop") {
        if (!ints(w, 1, 2, 0, 1000000, v, error))
            return CommandResult::Error;
        if (txPayloadLength(v[0]) < 0)
            return fail(QStringLiteral("drop: %1 is not a code the program sends").arg(v[0]));
        drops_[v[0]] = v[1];
    } else if (c == u"raw") {
        const QByteArray hex = w.mid(1).join(QString()).toLatin1();
        const QByteArray bytes = QByteArray::fromHex(hex);
        if (hex.isEmpty() || hex.size() % 2 != 0 || bytes.toHex() != hex.toLower())
            return fail(QStringLiteral("raw needs hexadecimal bytes, e.g. raw ff 07 f8"));
        if (!silent_ && write_(bytes))
            log_(QStringLiteral("tx-raw") + bytesText(bytes));
    } else {
        return fail(QStringLiteral("unknown command \"%1\"").arg(c));
    }
    return CommandResult::Done;
}

// ---------------------------------------------------------------------------
// Demonstration: voltages wander a little around 230 V; every few seconds one line of the
// program dips (or one phase rises), and the controller reacts as it would: fault bits,
// the line qualified as bad and then good again, switching to a spare line and back,
// each step written to the event log and announced with a newest-record frame.

std::vector<int> Simulator::programLines() const {
    switch (live.program) {
    case 3: return {0, 1};
    case 4:
    case 5: return {0, 2};
    case 10: return {0};
    case 11: return {1};
    case 12: return {2};
    default: return {0, 1, 2};
    }
}

void Simulator::demoStep() {
    if (!demo_ && !external_)
        return;
    if (!external_)
        demoVoltages();
    demoReact();
}

void Simulator::demoVoltages() {
    if (dipLine_ < 0 && --nextDip_ <= 0) {
        const auto lines = programLines();
        dipLine_ =
            pick(0, 1) == 0 ? lines.front() : lines[std::size_t(pick(0, int(lines.size()) - 1))];
        dipLeft_ = pick(4, 8);
        dipLevel_.fill(0);
        switch (pick(0, 3)) {
        case 0: // one phase lost
            dipLevel_[std::size_t(pick(0, 2))] = 1;
            break;
        case 1: // one phase too high
            dipLevel_[std::size_t(pick(0, 2))] = pick(262, 272);
            break;
        default: // the whole line sags
            dipLevel_.fill(pick(150, 185));
            break;
        }
    } else if (dipLine_ >= 0 && --dipLeft_ <= 0) {
        for (int ph = 0; ph < 3; ++ph)
            live.voltages[std::size_t(dipLine_ * 3 + ph)] = pick(228, 232);
        dipLine_ = -1;
        nextDip_ = pick(4, 10);
    }
    for (int k = 0; k < 9; ++k) {
        int& u = live.voltages[std::size_t(k)];
        const int level = dipLine_ == k / 3 ? dipLevel_[std::size_t(k % 3)] : 0;
        if (level == 1)
            u = pick(0, 3);
        else if (level > 0)
            u = level + pick(-2, 2);
        else
            u = std::clamp(u + pick(-1, 1), 226, 234);
    }
}

void Simulator::demoEvent(int event) {
    // The controller writes its log only with event recording switched on.
    if ((std::uint8_t(custom[0]) & 8) == 0)
        return;
    const auto byteOf = [this](int l) {
        return lineByte(live.states[std::size_t(l)], live.faults[std::size_t(l)]);
    };
    addEvent(event, byteOf(0), byteOf(1), byteOf(2), kod4Byte(live.active, live.program));
}

// Phase faults of line l (0..2) against the configured thresholds: bit ph under, bit 3+ph over.
int Simulator::thresholdFaults(int l) const {
    const int umin = get16(config, l * 6);
    const int umax = get16(config, l * 6 + 2);
    int faults = 0;
    for (int ph = 0; ph < 3; ++ph) {
        const int u = live.voltages[std::size_t(l * 3 + ph)];
        if (u < umin)
            faults |= 1 << ph;
        if (u > umax)
            faults |= 8 << ph;
    }
    return faults;
}

void Simulator::demoReact() {
    const auto lines = programLines();
    const int priority = (std::uint8_t(config[30]) & 7) - 1; // 0..2, or -1 for none
    const auto inProgram = [&](int l) {
        return std::find(lines.begin(), lines.end(), l) != lines.end();
    };
    for (int l = 0; l < 3; ++l) {
        const int faults = thresholdFaults(l);
        live.faults[std::size_t(l)] = faults;
        int& st = live.states[std::size_t(l)];
        if (faults != 0) {
            if (st == 3) {
                st = 2; // being qualified as bad
            } else if (st == 1) {
                st = 0; // was never qualified as good
            } else if (st == 2) {
                st = 0;
                if (inProgram(l))
                    demoEvent(12 + l);
            }
        } else {
            if (st == 0) {
                st = 1; // being qualified as good
            } else if (st == 2) {
                st = 3; // the fault went before the line was given up
            } else if (st == 1) {
                st = 3;
                if (inProgram(l))
                    demoEvent(9 + l);
            }
        }
    }
    // Switch to the priority line when it is good, else keep a good active line, else take
    // any good line of the program. A line being qualified as bad still counts as good: it
    // carries the load until it is given up.
    const auto good = [&](int l) { return live.states[std::size_t(l)] >= 2; };
    int want = live.active >= 1 && live.active <= 3 && good(live.active - 1) ? live.active - 1 : -1;
    if (priority >= 0 && inProgram(priority) && good(priority))
        want = priority;
    if (want < 0)
        for (int l : lines)
            if (good(l)) {
                want = l;
                break;
            }
    if (want + 1 != live.active) {
        if (live.active >= 1 && live.active <= 3)
            demoEvent(2 + live.active); // switched off
        live.active = want + 1;
        if (want >= 0)
            demoEvent(6 + want);
        else
            demoEvent(2); // no good line left
    }
    live.awaria = live.active == 0 ? 3 : 0;
}

} // namespace qta::sim
