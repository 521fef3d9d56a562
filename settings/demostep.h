// The demonstration panel without its widgets: the random walk of one step
// and the frame of code 100 built from the nine voltage fields.
#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <functional>

namespace qta {

// Settings of the panel that a step reads; index 0..2 is line N1..N3.
struct TDemoSettings {
    std::array<int, 3> Szum{10, 10, 10};  // spread, tenths of a volt per step, 0..100
    std::array<int, 3> Trend{50, 50, 50}; // chance in percent that a step goes up, 0..100
    bool Symetria = false;                // keep the phases of a line close together
};

// Working values of a step: tenths of a volt, N1 L1..L3, N2 L1..L3, N3 L1..L3.
using TNapiecie = std::array<int, 9>;

// Draws an integer 0..n-1 (0 when n <= 0, still counting as a draw).
using TDemoRandom = std::function<int(int n)>;

// The integer a voltage field holds, or nothing (ok false) for any other text.
long long demoFieldInteger(const QString& text, bool* ok);

// What a step reads from a field: the integer x 10, 0 for text that is no integer.
int demoFieldTenths(const QString& text);

// What a frame carries for a field: its integer limited to 0..255, 0 for text
// that is no integer (the value the step reads for it).
int demoFieldByte(const QString& text);

// The 17-byte frame: 255, 100, 155, mode, nine voltages, 0, 0, checksum.
QByteArray demoFrame(int mode, const std::array<QString, 9>& fields);

// Round to the nearest integer, halves to the even one.
long long roundHalfEven(double v);

// One step of the random walk over `u` (in place), drawing in this order per
// phase p = 1..3: line N1 the amount then the direction, lines N2 and N3 the
// direction then the amount. Each value is limited to 0..2550; with Symetria
// each line's values are then pulled to within 5 % of their mean.
void demoStep(TNapiecie& u, const TDemoSettings& s, const TDemoRandom& random);

// The text a field shows for a working value: volts rounded halves to even.
QString demoFieldText(int tenths);

} // namespace qta
