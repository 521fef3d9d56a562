#include "settings/demostep.h"

#include "link/frame.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qta {

namespace {
constexpr int kMaxTenths = 2550;
} // namespace

long long demoFieldInteger(const QString& text, bool* ok) {
    bool good = false;
    const long long v = text.trimmed().toLongLong(&good, 10);
    if (ok)
        *ok = good;
    return good ? v : 0;
}

int demoFieldTenths(const QString& text) {
    const long long v = demoFieldInteger(text, nullptr);
    // Anything past the byte range is limited by the step anyway; keep x 10 in range.
    return int(std::clamp<long long>(v, -1000000, 1000000) * 10);
}

int demoFieldByte(const QString& text) {
    return int(std::clamp<long long>(demoFieldInteger(text, nullptr), 0, 255));
}

QByteArray demoFrame(int mode, const std::array<QString, 9>& fields) {
    QByteArray p;
    p.append(char(mode));
    for (const QString& f : fields)
        p.append(char(demoFieldByte(f)));
    p.append(char(0));
    p.append(char(0));
    return buildFrame(TxDemo, p);
}

long long roundHalfEven(double v) {
    const double f = std::floor(v);
    const double diff = v - f;
    long long r = static_cast<long long>(f);
    if (diff > 0.5 || (diff == 0.5 && (r % 2 != 0)))
        ++r;
    return r;
}

void demoStep(TNapiecie& u, const TDemoSettings& s, const TDemoRandom& random) {
    // A slider at 0 still takes its draw, so the later draws serve the same values.
    const auto draw = [&random](int n) {
        const int v = random(n);
        return n > 0 ? std::clamp(v, 0, n - 1) : 0;
    };
    for (int p = 0; p < 3; ++p) {
        {
            const int a = draw(s.Szum[0]);
            const int r = draw(100);
            u[size_t(p)] += r < s.Trend[0] ? a : -a;
        }
        for (int line = 1; line < 3; ++line) {
            const int r = draw(100);
            const int a = draw(s.Szum[size_t(line)]);
            u[size_t(p + 3 * line)] += r < s.Trend[size_t(line)] ? a : -a;
        }
        for (int line = 0; line < 3; ++line) {
            int& v = u[size_t(p + 3 * line)];
            v = std::clamp(v, 0, kMaxTenths);
        }
    }
    if (!s.Symetria)
        return;
    for (int line = 0; line < 3; ++line) {
        int* v = &u[size_t(3 * line)];
        const double srednia = (double(v[0]) + v[1] + v[2]) / 3.0;
        const double delta = srednia * 0.05;
        const int low = int(roundHalfEven(srednia - delta));
        const int high = int(roundHalfEven(srednia + delta));
        for (int k = 0; k < 3; ++k)
            v[k] = std::clamp(std::clamp(v[k], low, high), 0, kMaxTenths);
    }
}

QString demoFieldText(int tenths) {
    int volts = tenths / 10;
    const int rest = tenths % 10; // the working values are never negative
    if (rest > 5 || (rest == 5 && volts % 2 != 0))
        ++volts;
    return QString::number(volts);
}

} // namespace qta
