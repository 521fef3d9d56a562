// The simulated controller: what it measures and reports, the settings it keeps,
// the frames it answers, its event log, and the runtime commands that steer it.
// No input/output of its own: bytes from the line come in through receive(),
// frames go out through the writer, and log lines through the logger, so the
// program around it decides where the line and the log are.
#pragma once

#include "tools/sim/eventring.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <random>

namespace qta::sim {

// What the status frame reports.
struct LiveState {
    std::array<int, 9> voltages{230, 230, 230, 230, 230, 230, 230, 230, 230}; // N1 L1..N3 L3
    std::array<int, 3> faults{};        // phase-fault byte of N1, N2, N3
    int awaria = 0;                     // fault byte
    int program = 1;                    // 0..15
    int active = 1;                     // active-line code 0..15
    std::array<int, 3> states{3, 3, 3}; // two-bit state of N1, N2, N3
};

class Simulator {
public:
    // Writes one whole frame to the line; false when it could not be written.
    using Writer = std::function<bool(const QByteArray&)>;
    using Logger = std::function<void(const QString&)>;

    Simulator(Writer writer, Logger logger);

    // Starting values; set them before start().
    LiveState live;
    EventRing ring;
    QByteArray identifier = "QTA1v2"; // six bytes
    QByteArray config;                // the 32 bytes of the configuration write layout
    int czasZrzutu = 30;              // two more bytes of the configuration reply
    QByteArray custom;                // the 10 bytes of the customisation reply layout

    // Starts the status timer (period 0: no status frames) and, with demo, the
    // demonstration that moves the voltages and reacts to them like a controller.
    void start(qint64 now, int periodMs, bool demo, std::uint32_t seed);

    // Bytes that the program wrote to the line.
    void receive(const QByteArray& bytes, qint64 now);
    // Runs whatever timer is due.
    void tick(qint64 now);
    // Milliseconds until tick() has work to do, or -1 when no timer runs.
    qint64 msUntilNextTick(qint64 now) const;

    enum class CommandResult { Done, Quit, Error };
    // One line of the runtime control language (see the usage text).
    CommandResult command(const QString& line, qint64 now, QString* error);

    // The controller's own clock (the computer's clock until a clock frame sets it).
    QDateTime clock() const;

private:
    void parse(bool final);
    void flushJunk();
    void handleFrame(int code, const QByteArray& payload);
    bool send(std::uint8_t code, const QByteArray& payload);
    bool answer(int request, std::uint8_t code, const QByteArray& payload);
    void sendStatus();
    void sendNewest();
    QByteArray statusPayload() const;
    void applyCustomWrite(const QByteArray& p);
    void applyClock(const QByteArray& p);
    void applyDemoVoltages(const QByteArray& p);
    void addEvent(int event, int kod1, int kod2, int kod3, int kod4);

    // Demonstration.
    void demoStep();
    void demoVoltages();
    void demoReact();
    int thresholdFaults(int line) const;
    int pick(int lo, int hi) { return lo + int(rng_() % std::uint32_t(hi - lo + 1)); }
    std::vector<int> programLines() const;
    void demoEvent(int event);

    Writer write_;
    Logger log_;

    // Receiving.
    QByteArray rxBuf_;
    qint64 lastRx_ = 0;
    QByteArray junk_;
    bool skippingBadFrame_ = false;

    // Output control.
    bool silent_ = false;
    std::map<int, int> drops_; // request code -> frames still to be lost

    // Timers (milliseconds on the caller's monotonic clock).
    int periodMs_ = 1000;
    qint64 nextStatus_ = -1;
    qint64 nextDemo_ = -1;

    qint64 clockOffsetMs_ = 0;

    // Voltages sent by the program's demonstration panel override the measured ones.
    bool external_ = false;
    std::array<int, 9> measured_{};
    LiveState beforePanel_; // what the status frames reported before the panel took over

    // Demonstration state.
    bool demo_ = false;
    std::mt19937 rng_{504};
    int dipLine_ = -1; // 0..2 while a dip lasts
    int dipLeft_ = 0;
    int nextDip_ = 0;
    std::array<int, 3> dipLevel_{}; // per phase of the dipping line; 0 = not dipped
};

} // namespace qta::sim
