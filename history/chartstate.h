// What a voltage chart window shows, without its widgets: the scale, the
// scroll step, the right edge of the time window and how each button and the
// timer move them. Times are wall-clock milliseconds, as CZAS holds them.
#pragma once

#include "history/linefile.h"

#include <QString>
#include <array>

namespace qta {

struct TScaleStep {
    TWallMs window; // width of the time window
    TWallMs move;   // scroll step of the left and right buttons
    TWallMs period; // timer period, and the advance of Max per tick
    const char* text;
};
// Scales 1 to 6 at [0] to [5].
const std::array<TScaleStep, 6>& scaleTable();

// The PC's current wall time.
TWallMs wallNow();

class TChartState {
public:
    int Skala = 2;
    TWallMs Move = 0;
    TWallMs Max = 0;
    TWallMs Przesun = 0; // the time window shown: [Max - Przesun, Max]

    // A new window: scale 2 at the present.
    void create(TWallMs now);
    // Each returns true when the time window changed (the caller reloads in any case).
    bool ZmniejszSkale();
    bool ZwiekszSkale();
    void Lewo() {
        Max -= Move;
        Skaluj();
    }
    void Prawo(TWallMs now);
    void Teraz(TWallMs now) {
        Max = now;
        Skaluj();
    }
    // The timer: the right edge moves on by one period, whatever the user scrolled to.
    void Tick() {
        Max += periodMs();
        Skaluj();
    }
    void Skaluj() { Przesun = step().window; }

    TWallMs from() const { return Max - Przesun; }
    TWallMs periodMs() const { return step().period; }
    QString statusText() const { return QString::fromUtf8(step().text); }
    const TScaleStep& step() const { return scaleTable()[size_t(Skala - 1)]; }

private:
    void setScale(int s);
};

} // namespace qta
