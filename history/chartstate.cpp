#include "history/chartstate.h"

#include <QDateTime>

namespace qta {

namespace {
constexpr TWallMs kSecond = 1000, kMinute = 60 * kSecond, kHour = 60 * kMinute, kDay = 24 * kHour;
} // namespace

const std::array<TScaleStep, 6>& scaleTable() {
    static const std::array<TScaleStep, 6> t{{
        {kMinute, 10 * kSecond, 5 * kSecond, "Charakterystyka z 1 minuty, skok - 10 sekund"},
        {kHour, 10 * kMinute, 60 * kSecond, "Charakterystyka z 1 godziny, skok - 10 minut"},
        {kDay, 3 * kHour, 15 * kMinute, "Charakterystyka z 1 doby, skok - 3 godziny"},
        {7 * kDay, kDay, kHour, "Charakterystyka z tygodnia, skok - 1 dzień "},
        {30 * kDay, 7 * kDay, kHour, "Charakterystyka z miesiąca, skok - tydzień"},
        {365 * kDay, 30 * kDay, kHour, "Charakterystyka z roku, skok - miesiąc"},
    }};
    return t;
}

TWallMs wallNow() {
    const QDateTime now = QDateTime::currentDateTime();
    return QDateTime(now.date(), now.time(), Qt::UTC).toMSecsSinceEpoch();
}

void TChartState::create(TWallMs now) {
    setScale(2);
    Max = now;
    Skaluj();
}

void TChartState::setScale(int s) {
    Skala = s;
    Move = step().move;
}

bool TChartState::ZmniejszSkale() {
    if (Skala <= 1)
        return false;
    setScale(Skala - 1);
    Skaluj();
    return true;
}

bool TChartState::ZwiekszSkale() {
    if (Skala >= 6)
        return false;
    setScale(Skala + 1);
    Skaluj();
    return true;
}

void TChartState::Prawo(TWallMs now) {
    Max += Move;
    if (Max > now)
        Max = now;
    Skaluj();
}

} // namespace qta
