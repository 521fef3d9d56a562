#include "tools/sim/eventring.h"

#include <QFile>
#include <QStringList>
#include <QTextStream>
#include <random>

namespace qta::sim {

namespace {

// Slots that were never written read back like erased memory: all ones, index kept.
constexpr std::uint8_t kErased = 255;

bool parseInt(const QString& text, int lo, int hi, int* out) {
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok || v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

// Builds the history episode by episode, keeping the controller's own state (program,
// active line, line states) so that every record's state bytes agree with its story.
class HistoryWriter {
public:
    explicit HistoryWriter(std::vector<RecordData>& out, int count) : out_(out), count_(count) {}

    void run() {
        startUp();
        while (!full()) {
            gap(pick(90, 3 * 24 * 60));
            const int r = pick(0, 99);
            if (r < 40)
                outage(pickLine());
            else if (r < 62)
                settingChange();
            else if (r < 70)
                programChange();
            else if (r < 80)
                generatorRun();
            else if (r < 88)
                loadShedding();
            else if (r < 94)
                priorityOrApparatus();
            else
                startUp();
        }
    }

private:
    int pick(int lo, int hi) { return lo + int(rng_() % std::uint32_t(hi - lo + 1)); }
    bool full() const { return int(out_.size()) >= count_; }
    void gap(int minutes) { when_ = when_.addSecs(qint64(minutes) * 60); }

    void put(int event, int kod1, int kod2) {
        if (full())
            return;
        out_.push_back(recordData(when_, event, kod1, kod2, lineByte(state_[3], faults_[3]),
                                  kod4Byte(active_, program_)));
    }
    void putState(int event) {
        put(event, lineByte(state_[1], faults_[1]), lineByte(state_[2], faults_[2]));
    }
    void putValue(int event, int v) { put(event, v >> 8, v & 0xFF); }

    // Lines that take part in the present program.
    std::vector<int> lines() const {
        switch (program_) {
        case 3: return {1, 2};
        case 4:
        case 5: return {1, 3};
        default: return {1, 2, 3};
        }
    }
    int pickLine() {
        const auto ls = lines();
        // The priority line fails most often in the story: it is the one that carries the load.
        return pick(0, 2) == 0 ? ls[std::size_t(pick(0, int(ls.size()) - 1))] : ls.front();
    }

    void startUp() {
        put(0, lineByte(0, 0), lineByte(0, 0));
        for (int l : lines()) {
            gap(pick(0, 1));
            state_[l] = 3;
            faults_[l] = 0;
            putState(8 + l); // 9, 10, 11: qualified as good
        }
        active_ = lines().front();
        putState(5 + active_); // 6, 7, 8: switched on
    }

    void outage(int line) {
        static constexpr int kFaultPatterns[] = {0x07, 0x01, 0x02, 0x04, 0x38, 0x08};
        faults_[line] = kFaultPatterns[pick(0, 5)];
        state_[line] = 2;
        putState(11 + line); // 12, 13, 14: qualified as bad
        gap(pick(0, 1));
        state_[line] = 0;
        if (active_ == line) {
            putState(2 + line); // 3, 4, 5: switched off
            int spare = 0;
            for (int l : lines())
                if (l != line && state_[l] == 3)
                    spare = l;
            active_ = spare;
            if (spare != 0) {
                putState(5 + spare);
            } else {
                put(2, lineByte(state_[1], faults_[1]), lineByte(state_[2], faults_[2]));
            }
        }
        gap(pick(3, 120));
        faults_[line] = 0;
        state_[line] = 1;
        gap(pick(0, 2));
        state_[line] = 3;
        putState(8 + line);
        if (line == lines().front() && active_ != line) {
            if (active_ != 0)
                putState(2 + active_);
            active_ = line;
            putState(5 + line);
        }
    }

    void settingChange() {
        const int event = pick(0, 2) == 0 ? pick(40, 46) : pick(22, 30);
        int v = 0;
        if (event <= 24)
            v = pick(180, 210); // Umin
        else if (event <= 27)
            v = pick(245, 265); // Umax
        else if (event <= 30)
            v = pick(3, 15); // hysteresis
        else if (event <= 41)
            v = pick(1, 60); // qualification times, s
        else if (event <= 44)
            v = pick(1, 50); // apparatus times, tenths
        else if (event == 45)
            v = pick(5, 120);
        else
            v = pick(10, 300);
        putValue(event, v);
        if (event <= 30 && pick(0, 1) == 0) {
            // The same threshold is usually set alike on the next line too.
            const int kind = (event - 22) / 3;
            const int line = (event - 22) % 3;
            gap(1);
            putValue(22 + kind * 3 + (line + 1) % 3, v);
        }
    }

    void programChange() {
        const int old = program_;
        int next = pick(1, 5);
        if (next == old)
            next = old % 5 + 1;
        program_ = next;
        put(21, old, next);
        active_ = lines().front();
    }

    void generatorRun() {
        putState(60);
        gap(pick(1, 30));
        if (pick(0, 4) == 0)
            putState(64);
        gap(pick(1, 10));
        putState(61);
    }

    void loadShedding() {
        putState(62);
        gap(pick(5, 240));
        putState(63);
    }

    void priorityOrApparatus() {
        const int event = pick(47, 51);
        const int kod2 = event == 48 ? pick(0, 3) : pick(0, 1);
        put(event, lineByte(state_[1], faults_[1]), kod2);
    }

    std::vector<RecordData>& out_;
    int count_;
    std::mt19937 rng_{504};
    QDateTime when_{QDate(2024, 1, 8), QTime(6, 12)};
    int program_ = 1;
    int active_ = 0;
    std::array<int, 4> state_{0, 0, 0, 0};
    std::array<int, 4> faults_{0, 0, 0, 0};
};

} // namespace

RecordData recordData(const QDateTime& when, int event, int kod1, int kod2, int kod3, int kod4) {
    const QDate d = when.date();
    const QTime t = when.time();
    return {std::uint8_t(d.year() - 2000),
            std::uint8_t(d.month()),
            std::uint8_t(d.day()),
            std::uint8_t(t.hour()),
            std::uint8_t(t.minute()),
            std::uint8_t(event),
            std::uint8_t(kod1),
            std::uint8_t(kod2),
            std::uint8_t(kod3),
            std::uint8_t(kod4)};
}

std::vector<RecordData> generateHistory(int count) {
    std::vector<RecordData> out;
    out.reserve(std::size_t(std::max(count, 0)));
    if (count > 0)
        HistoryWriter(out, count).run();
    return out;
}

EventRing::EventRing() {
    for (int i = 0; i < kRingSize; ++i)
        clear(i);
}

bool EventRing::isEmpty(int index) const { return record(index)[1] > 13; }

void EventRing::set(int index, const RecordData& data) {
    Record& r = slots_.at(std::size_t(index));
    std::copy(data.begin(), data.end(), r.begin());
    r[10] = std::uint8_t(index >> 8);
    r[11] = std::uint8_t(index & 0xFF);
}

void EventRing::clear(int index) {
    RecordData erased;
    erased.fill(kErased);
    set(index, erased);
}

int EventRing::append(const RecordData& data) {
    newest_ = (newest_ + 1) % kRingSize;
    set(newest_, data);
    return newest_;
}

void EventRing::seed(int count) {
    const auto history = generateHistory(count);
    for (int i = 0; i < kRingSize; ++i) {
        if (i < int(history.size()))
            set(i, history[std::size_t(i)]);
        else
            clear(i);
    }
    newest_ = count > 0 ? count - 1 : 0;
}

void EventRing::seedWrapped(int newest) {
    const auto history = generateHistory(kRingSize);
    for (int k = 0; k < kRingSize; ++k)
        set((newest + 1 + k) % kRingSize, history[std::size_t(k)]);
    newest_ = newest;
}

bool EventRing::load(const QString& path, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("%1: cannot open: %2").arg(path, f.errorString());
        return false;
    }
    for (int i = 0; i < kRingSize; ++i)
        clear(i);
    int newest = -1;
    QTextStream in(&f);
    int lineNo = 0;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        ++lineNo;
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const QStringList w = line.split(u' ', Qt::SkipEmptyParts);
        auto fail = [&](const QString& why) {
            *error = QStringLiteral("%1:%2: %3").arg(path).arg(lineNo).arg(why);
            return false;
        };
        int index = 0;
        if (w[0] == u"newest") {
            if (w.size() != 2 || !parseInt(w[1], 0, kRingSize - 1, &newest))
                return fail(QStringLiteral("expected \"newest INDEX\" with INDEX 0..499"));
            continue;
        }
        if (!parseInt(w[0], 0, kRingSize - 1, &index))
            return fail(QStringLiteral("record index \"%1\" is not a number 0..499").arg(w[0]));
        if (w.size() == 2 && w[1] == u"empty") {
            clear(index);
            continue;
        }
        if (w.size() != 11)
            return fail(QStringLiteral("expected INDEX YEAR MONTH DAY HOUR MINUTE EVENT KOD1 KOD2 "
                                       "KOD3 KOD4 or INDEX empty, found %1 fields")
                            .arg(w.size()));
        RecordData data;
        for (int k = 0; k < 10; ++k) {
            int v = 0;
            if (!parseInt(w[k + 1], 0, 255, &v))
                return fail(QStringLiteral("field %1 (\"%2\") is not a byte 0..255")
                                .arg(k + 2)
                                .arg(w[k + 1]));
            data[std::size_t(k)] = std::uint8_t(v);
        }
        set(index, data);
    }
    if (newest < 0) {
        newest = 0;
        for (int i = 0; i < kRingSize; ++i)
            if (!isEmpty(i))
                newest = i;
    }
    newest_ = newest;
    return true;
}

} // namespace qta::sim
