// The Modbus register map of one controller: what each input register,
// discrete input and holding register holds, as one table. The server's
// answers, the CSV integrators import and the README's table are all made
// from it, so they cannot disagree. Pure data and functions: no socket, no
// session; the tests check them as a table.
#pragma once

#include "link/model.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace qta::modbus {

// What a unit serves, gathered from the controller's session. A controller
// not yet found has everything at zero and `link` false; after a lost link
// the last values are held, `link` is false and `frameAgeS` grows.
struct TUnitState {
    std::array<int, 9> voltages{}; // N1 L1..L3, N2 L1..L3, N3 L1..L3 [V]
    std::array<int, 3> lineStates{};
    int activeLine = 0;
    int program = 0;
    int faults = 0; // the status reply's fault byte
    bool link = false;
    int frameAgeS = -1; // seconds since the last frame; -1: none yet
    QString identifier;
    qint64 eventsCopied = 0;  // rows of rejestr.dbf
    int lastIndeks = -1;      // record number of the last row; -1: none
    int lastEventCode = -1;   // -1: not known (copied by an earlier run)
    qint64 lastEventTime = 0; // Unix seconds, 0: none
    int unacknowledged = 0;
    int activeKinds = 0;        // bit n: an alarm of AlarmKind n is active
    int unackedKinds = 0;       // bit n: one is unacknowledged
    int highestUnacked = 0;     // 0 none, 1 medium, 2 high
    bool settingsKnown = false; // a complete read of the settings is known
    qint64 settingsTime = 0;    // when it was read, Unix seconds
    TKonf konf;
};

// Function 2 reads discrete inputs, 3 holding registers, 4 input registers.
enum class Space { DiscreteInput = 2, HoldingRegister = 3, InputRegister = 4 };

struct TPoint {
    Space space;
    int address; // 0-based, as on the wire
    int words;   // registers it spans (two: high word first); 1 for a bit
    QString name;
    QString unit;
    double scale = 1; // the value is the raw number times this
    QString description;
    std::function<qint64(const TUnitState&)> value;
};

// Every point, by space and then address.
const std::vector<TPoint>& registerMap();
// How many addresses each space has (the highest address + words).
int spaceSize(Space space);

// The answers of one unit: what the server hands the protocol library.
struct TImage {
    std::vector<std::uint16_t> input, holding;
    std::vector<std::uint8_t> discrete;
};
void fillImage(const TUnitState& state, TImage& image);

// The map as CSV (UTF-8 with BOM, ';', a header row): address, function,
// registers (or bits) it spans, name, unit, scale, description.
QByteArray registerMapCsv();

// Line state codes and what the controller means by them (the CSV and the
// README list them).
QString lineStateCodes();

} // namespace qta::modbus
