// The demonstration panel's step and frame, without the window.
#include "settings/demostep.h"
#include "testbytes.h"

#include <QTest>
#include <random>

using namespace qta;

namespace {
using Fields = std::array<QString, 9>;

Fields texts(std::initializer_list<const char*> v) {
    Fields f;
    size_t k = 0;
    for (const char* s : v)
        f[k++] = QString::fromUtf8(s);
    return f;
}

Fields all(const char* v) {
    Fields f;
    f.fill(QString::fromUtf8(v));
    return f;
}

TDemoRandom seeded(unsigned seed) {
    auto rng = std::make_shared<std::mt19937>(seed);
    return [rng](int n) {
        return n > 0 ? std::uniform_int_distribution<int>(0, n - 1)(*rng) : ((*rng)(), 0);
    };
}
} // namespace

class TestDemoStep : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void frames_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<Fields>("fields");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("opening, mode 0")
            << 0 << all("230")
            << bytes({255, 100, 155, 0, 230, 230, 230, 230, 230, 230, 230, 230, 230, 0, 0, 8, 22});
        QTest::newRow("first step, mode 1")
            << 1 << all("230")
            << bytes({255, 100, 155, 1, 230, 230, 230, 230, 230, 230, 230, 230, 230, 0, 0, 8, 23});
        // Values the user typed outside a byte go out limited, never wrapped
        // (260 would otherwise reach the controller as 4).
        QTest::newRow("outside 0..255 limited")
            << 1 << texts({"260", "-5", "255", "0", "1000000", "-99999999999", "12", "7", "8"})
            << bytes({255, 100, 155, 1, 255, 0, 255, 0, 255, 0, 12, 7, 8, 0, 0, 3, 25});
        // Text that is no integer goes out as 0, the value the step reads for it.
        QTest::newRow("no integer gives 0")
            << 0
            << texts(
                   {"", "abc", "23.5", "1e2", "0x10", "99999999999999999999", " 231 ", "+5", "230"})
            << bytes({255, 100, 155, 0, 0, 0, 0, 0, 0, 0, 231, 5, 230, 0, 0, 1, 210});
    }
    void frames() {
        QFETCH(int, mode);
        QFETCH(Fields, fields);
        QFETCH(QByteArray, frame);
        QCOMPARE(demoFrame(mode, fields), frame);
    }

    // The draws of one step in their order: per phase, N1 amount then direction,
    // N2 and N3 direction then amount; each draw serves its own value.
    void drawOrder() {
        QList<int> ranges;
        // Amount draws give the spread less one, direction draws 0 (up) for
        // N1 and N2, 99 (down) for N3.
        int k = 0;
        const TDemoRandom scripted = [&](int n) {
            ranges << n;
            const int slot = k++ % 6; // N1 a, N1 r, N2 r, N2 a, N3 r, N3 a
            if (slot == 1 || slot == 2)
                return 0;
            if (slot == 4)
                return 99;
            return n - 1;
        };
        TDemoSettings s;
        s.Szum = {5, 20, 0};
        TNapiecie u;
        u.fill(2300);
        demoStep(u, s, scripted);
        const QList<int> one{5, 100, 100, 20, 100, 0};
        QCOMPARE(ranges, one + one + one);
        QCOMPARE(u, (TNapiecie{2304, 2304, 2304, 2319, 2319, 2319, 2300, 2300, 2300}));
    }

    void spreadZeroKeepsValues() {
        TDemoSettings s;
        s.Szum = {0, 0, 0};
        TNapiecie u{2300, 2100, 0, 2550, 1, 1999, 2301, 2302, 2303};
        const TNapiecie before = u;
        const TDemoRandom r = seeded(7);
        for (int i = 0; i < 200; ++i)
            demoStep(u, s, r);
        QCOMPARE(u, before);
    }

    // Trend 100 never falls and stops at 255.0 V; trend 0 never rises and stops at 0.
    void trendBounds() {
        TDemoSettings s;
        s.Szum = {100, 100, 100};
        s.Trend = {100, 0, 100};
        TNapiecie u;
        u.fill(2300);
        const TDemoRandom r = seeded(11);
        for (int i = 0; i < 300; ++i) {
            const TNapiecie before = u;
            demoStep(u, s, r);
            for (int k = 0; k < 9; ++k) {
                if (k / 3 == 1)
                    QVERIFY(u[size_t(k)] <= before[size_t(k)]);
                else
                    QVERIFY(u[size_t(k)] >= before[size_t(k)]);
            }
        }
        QCOMPARE(u, (TNapiecie{2550, 2550, 2550, 0, 0, 0, 2550, 2550, 2550}));
    }

    void symmetry_data() {
        QTest::addColumn<TNapiecie>("start");
        QTest::addColumn<QStringList>("shown");
        // Mean 2300, half-width 115: the third is lowered to 2415, shown as 242.
        QTest::newRow("220 220 250")
            << TNapiecie{2200, 2200, 2500, 2300, 2300, 2300, 0, 0, 0}
            << QStringList{"220", "220", "242", "230", "230", "230", "0", "0", "0"};
        // Mean 2000, half-width 100: 1900 and 2100 are the limits themselves.
        QTest::newRow("raised and lowered")
            << TNapiecie{1000, 2500, 2500, 1900, 2000, 2100, 2550, 2550, 2550}
            << QStringList{"190", "210", "210", "190", "200", "210", "255", "255", "255"};
    }
    void symmetry() {
        QFETCH(TNapiecie, start);
        QFETCH(QStringList, shown);
        TDemoSettings s;
        s.Szum = {0, 0, 0};
        s.Symetria = true;
        demoStep(start, s, seeded(1));
        QStringList texts;
        for (int v : start)
            texts << demoFieldText(v);
        QCOMPARE(texts, shown);
    }

    // A field of 260 is read as 2600 tenths and limited by the step.
    void stepReadsFields() {
        TDemoSettings s;
        TNapiecie u;
        const auto f = texts({"260", "-5", "abc", "230", "230", "230", "230", "230", "230"});
        for (size_t k = 0; k < 9; ++k)
            u[k] = demoFieldTenths(f[k]);
        QCOMPARE(u[0], 2600);
        QCOMPARE(u[2], 0);
        demoStep(u, s, seeded(3));
        QCOMPARE(demoFieldText(u[0]), QStringLiteral("255"));
        QVERIFY(u[1] >= 0 && u[1] < 10);
    }

    void rounding_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<long long>("rounded");
        QTest::newRow("0.5") << 0.5 << 0LL;
        QTest::newRow("1.5") << 1.5 << 2LL;
        QTest::newRow("2.5") << 2.5 << 2LL;
        QTest::newRow("2184.9") << 2184.9 << 2185LL;
        QTest::newRow("2415.5") << 2415.5 << 2416LL;
        QTest::newRow("2416.5") << 2416.5 << 2416LL;
    }
    void rounding() {
        QFETCH(double, value);
        QFETCH(long long, rounded);
        QCOMPARE(roundHalfEven(value), rounded);
        if (value * 10 == std::floor(value * 10)) // the field texts round the same way
            QCOMPARE(demoFieldText(int(value * 10)), QString::number(rounded));
    }
};

QTEST_GUILESS_MAIN(TestDemoStep)
#include "tst_demostep.moc"
