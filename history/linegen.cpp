#include "history/linegen.h"

#include "history/linefile.h"
#include "tables/table.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace qta {

namespace {

// splitmix64: the same numbers from the same seed on every platform.
class TRandom {
public:
    explicit TRandom(quint64 seed) : s_(seed) {}
    quint64 next() {
        quint64 z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, n).
    qint64 below(qint64 n) { return n <= 0 ? 0 : qint64(next() % quint64(n)); }
    double unit() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }

private:
    quint64 s_;
};

enum class Event { Stop, Back, Forward };
struct Planned {
    qint64 row; // the event happens between row-1 and row
    Event what;
    qint64 pauseMs;
};

constexpr int kRecord = 54;
constexpr qint64 kStep = 1000; // one status reply a second

// Where the program stopped, and where the clock was set: spread over the
// rows, at least one of each in any table of a few hundred rows.
std::vector<Planned> plan(qint64 rows, TRandom& rnd) {
    std::vector<Planned> out;
    if (rows < 40)
        return out;
    const qint64 stops = std::max<qint64>(2, rows / 300000);
    const qint64 jumps = std::max<qint64>(1, rows / 15000000);
    for (qint64 i = 0; i < stops; ++i) {
        // Pauses from ten seconds to two days, most of them short.
        const double pause = 10000.0 * std::pow(17280.0, rnd.unit());
        out.push_back({2 + rnd.below(rows - 4), Event::Stop, qint64(pause)});
    }
    for (qint64 i = 0; i < jumps; ++i) {
        out.push_back({1 + rnd.below(rows - 2), Event::Back, 0});
        out.push_back({1 + rnd.below(rows - 2), Event::Forward, 0});
    }
    std::sort(out.begin(), out.end(), [](const Planned& a, const Planned& b) {
        return a.row != b.row ? a.row < b.row : a.what < b.what;
    });
    // One event between two rows; a stop needs its end row before it.
    std::vector<Planned> kept;
    for (const Planned& p : out)
        if (kept.empty() || p.row > kept.back().row + 1)
            kept.push_back(p);
    return kept;
}

void putVolts(char* p, int v) {
    v = std::clamp(v, 0, 65535);
    for (int i = 4; i >= 0; --i) {
        p[i] = v || i == 4 ? char('0' + v % 10) : ' ';
        v /= 10;
    }
}

void putLe32(char* p, quint32 v) {
    for (int i = 0; i < 4; ++i)
        p[i] = char(v >> (8 * i));
}

} // namespace

TLineGenReport generateLinia(const QString& path, const TLineGenOptions& o) {
    if (o.rows < 0 || o.rows > std::numeric_limits<int>::max())
        throw ETable(QStringLiteral("Liczba wierszy poza zakresem: %1").arg(o.rows));
    if (!o.end.isValid())
        throw ETable(QStringLiteral("Nie podano czasu ostatniego wiersza"));
    TTable::createLinia(path);
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        throw ETable(QStringLiteral("Nie można otworzyć tabeli %1: %2").arg(path, f.errorString()));
    const QByteArray header = f.read(32);
    const int headerLength = uchar(header[8]) | uchar(header[9]) << 8;
    if ((uchar(header[10]) | uchar(header[11]) << 8) != kRecord)
        throw ETable(QStringLiteral("Nieoczekiwany układ tabeli %1").arg(path));

    TRandom rnd(o.seed);
    const std::vector<Planned> events = plan(o.rows, rnd);
    TLineGenReport rep;
    rep.rows = o.rows;
    // Wall time of row 0 such that the last row lands on `end`: one step per
    // row, plus the pauses and forward jumps, minus the backward jumps.
    qint64 span = std::max<qint64>(0, o.rows - 1) * kStep;
    for (const Planned& p : events) {
        if (p.what == Event::Stop)
            span += p.pauseMs, ++rep.stops;
        else if (p.what == Event::Back)
            span -= 3600000, ++rep.backJumps;
        else
            span += 3600000, ++rep.forwardJumps;
    }
    const QDateTime endWall(o.end.date(), o.end.time(), Qt::UTC);
    const qint64 endMs = endWall.toMSecsSinceEpoch();
    qint64 t = endMs - span;

    // Each line: nominal voltage, daily swing, slow drift, a dip now and then.
    const std::array<double, 3> nominal{231.0, 228.0, 233.0};
    std::array<double, 3> drift{0, 0, 0};
    std::array<qint64, 3> dipLeft{0, 0, 0};
    std::array<int, 3> dipPhases{0, 0, 0};

    f.seek(headerLength);
    f.resize(headerLength);
    std::vector<char> buf;
    buf.reserve(size_t(kRecord) * 65536);
    size_t next = 0;
    bool zeroRow = true; // the first row is a program start
    for (qint64 r = 0; r < o.rows; ++r) {
        if (next < events.size() && events[next].row == r) {
            const Planned& p = events[next++];
            if (p.what == Event::Stop) {
                t += p.pauseMs;
                zeroRow = true; // the start row after the pause
            } else {
                t += p.what == Event::Back ? -3600000 : 3600000;
            }
        }
        const bool endRow =
            next < events.size() && events[next].row == r + 1 && events[next].what == Event::Stop;
        char rec[kRecord];
        rec[0] = ' ';
        const qint64 day = t >= 0 ? t / kMsPerDay : (t - kMsPerDay + 1) / kMsPerDay;
        putLe32(rec + 1, quint32(day + kJulianUnixEpoch));
        putLe32(rec + 5, quint32(t - day * kMsPerDay));
        const double hourOfDay = double(t % kMsPerDay) / 3600000.0;
        for (int n = 0; n < 3; ++n) {
            drift[size_t(n)] = std::clamp(drift[size_t(n)] + (rnd.unit() - 0.5) * 0.3, -6.0, 6.0);
            if (dipLeft[size_t(n)] > 0) {
                --dipLeft[size_t(n)];
            } else if (rnd.below(40000) == 0) {
                dipLeft[size_t(n)] = 2 + rnd.below(120);
                dipPhases[size_t(n)] = 1 + int(rnd.below(7)); // which phases drop
            }
            for (int k = 0; k < 3; ++k) {
                double v = nominal[size_t(n)] + drift[size_t(n)] +
                           4.0 * std::sin((hourOfDay - 6.0 + k) * M_PI / 12.0) +
                           (rnd.unit() - 0.5) * 2.0;
                if (dipLeft[size_t(n)] > 0 && (dipPhases[size_t(n)] >> k & 1))
                    v = rnd.below(3) == 0 ? 20.0 + rnd.below(150) : 0.0;
                else if (rnd.below(20000) == 0)
                    v = 260.0 + double(rnd.below(60)); // a spike of one reply
                putVolts(rec + 9 + 15 * n + 5 * k, zeroRow || endRow ? 0 : int(std::lround(v)));
            }
        }
        zeroRow = false;
        buf.insert(buf.end(), rec, rec + kRecord);
        if (buf.size() >= size_t(kRecord) * 65536) {
            if (f.write(buf.data(), qint64(buf.size())) != qint64(buf.size()))
                throw ETable(QStringLiteral("Zapis tabeli %1: %2").arg(path, f.errorString()));
            buf.clear();
        }
        if (r == 0)
            rep.first = QDateTime::fromMSecsSinceEpoch(t, Qt::UTC);
        if (r + 1 == o.rows)
            rep.last = QDateTime::fromMSecsSinceEpoch(t, Qt::UTC);
        t += kStep;
    }
    buf.push_back(0x1A);
    if (f.write(buf.data(), qint64(buf.size())) != qint64(buf.size()))
        throw ETable(QStringLiteral("Zapis tabeli %1: %2").arg(path, f.errorString()));
    char count[4];
    putLe32(count, quint32(o.rows));
    if (!f.seek(4) || f.write(count, 4) != 4 || !f.flush())
        throw ETable(QStringLiteral("Zapis tabeli %1: %2").arg(path, f.errorString()));
    return rep;
}

} // namespace qta
