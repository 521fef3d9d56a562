#include "history/lineindexfile.h"

#include "tables/table.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>
#include <algorithm>
#include <cstring>

namespace qta {

namespace {

constexpr char kMagic[8] = {'Q', 'T', 'A', 'L', 'I', 'D', 'X', '\x1A'};
constexpr quint32 kVersion = 1;
constexpr int kHead = 128;
constexpr int kRunBytes = 5 * 8;
constexpr int kSummaryBytes = 18 * 2;
// Rows spread evenly over the table, and the last ones, whose bytes the
// file's checksum of the table covers.
constexpr qint64 kSpread = 256;
constexpr qint64 kTail = 64;
static_assert(sizeof(TBlockSummary) == kSummaryBytes);

// Offsets in the head.
enum : int {
    kVersionAt = 8,
    kFanoutAt = 12,
    kRowsAt = 16,
    kRunsAt = 24,
    kBlocksAt = 32,
    kHeaderLengthAt = 40,
    kRecordAt = 44,
    kLayoutAt = 48,
    kRowsHashAt = 56,
    kBodyHashAt = 64,
    kHeadHashAt = 72,
};

// A 64-bit checksum in four lanes: each step is one-to-one in its lane's
// state, so bytes that differ in one 8-byte word always give another sum.
quint64 checksum(const char* p, qint64 n, quint64 seed) {
    constexpr quint64 K = 0x9E3779B97F4A7C15ull;
    const auto step = [](quint64& h, quint64 w) {
        h = (h ^ w) * K;
        h ^= h >> 29;
    };
    quint64 lane[4] = {seed, seed + K, seed + 2 * K, seed + 3 * K};
    for (; n >= 32; p += 32, n -= 32)
        for (int i = 0; i < 4; ++i)
            step(lane[i], qFromLittleEndian<quint64>(p + 8 * i));
    for (; n >= 8; p += 8, n -= 8)
        step(lane[0], qFromLittleEndian<quint64>(p));
    quint64 tail = 0;
    if (n > 0)
        std::memcpy(&tail, p, size_t(n)); // n < 8
    step(lane[1], qFromLittleEndian(tail) ^ quint64(n) << 56);
    quint64 h = lane[0];
    for (int i = 1; i < 4; ++i)
        step(h, lane[i]);
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    return h ^ (h >> 27);
}
// The body's parts, each summed with a seed of its own.
constexpr quint64 kRunsSeed = 0x243F6A8885A308D3ull, kSamplesSeed = 0x13198A2E03707344ull,
                  kBlocksSeed = 0xA4093822299F31D0ull, kHeadSeed = 0x082EFA98EC4E6C89ull,
                  kRowsSeed = 0x452821E638D01377ull;

template <class T> void put(QByteArray& b, int at, T v) { qToLittleEndian<T>(v, b.data() + at); }
template <class T> T get(const QByteArray& b, int at) {
    return qFromLittleEndian<T>(b.constData() + at);
}
// Of the head up to its own sum, and the layout bytes.
quint64 headSum(const QByteArray& head, const QByteArray& layout) {
    return checksum(head.constData(), kHeadHashAt, kHeadSeed) ^
           checksum(layout.constData(), layout.size(), ~kHeadSeed);
}

// The rows the checksum covers: kSpread spread over [0, rows) and the last kTail.
std::vector<qint64> sampledRows(qint64 rows) {
    std::vector<qint64> out;
    for (qint64 i = 0; i < kSpread && rows > 0; ++i)
        out.push_back((rows - 1) * i / (kSpread - 1));
    for (qint64 r = std::max<qint64>(0, rows - kTail); r < rows; ++r)
        out.push_back(r);
    return out;
}

// The checksum of the sampled rows of the table, read from its file (not
// through a mapping: a few hundred rows spread over a large file cost one
// small read each). False when they cannot be read.
bool rowsHash(const TLineFile& table, qint64 rows, quint64* hash) {
    QFile in(table.path());
    if (!in.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    const qint64 record = table.recordLength();
    QByteArray row(int(record), Qt::Uninitialized);
    quint64 h = kRowsSeed ^ quint64(rows);
    for (qint64 r : sampledRows(rows)) {
        if (!in.seek(table.headerLength() + r * record) || in.read(row.data(), record) != record)
            return false;
        // Past its mark, which the table layer changes when it commits the row.
        h = checksum(row.constData() + 1, record - 1, h ^ quint64(r));
    }
    *hash = h;
    return true;
}

} // namespace

QString TLineIndexFile::pathFor(const QString& table) {
    const QFileInfo f(table);
    return f.dir().filePath(f.completeBaseName() + QStringLiteral(".idx"));
}

QByteArray TLineIndexFile::image(const TLineIndex& index) {
    const TLineFile& table = index.file_;
    const QByteArray layout = table.layout();
    const auto& runs = index.runs_;
    const auto& samples = index.samples_;
    const auto& blocks = index.levels_[0];
    const qint64 bodyBytes = qint64(runs.size()) * kRunBytes + qint64(samples.size()) * 8 +
                             qint64(blocks.size()) * kSummaryBytes;
    QByteArray b(int(kHead + layout.size() + bodyBytes), '\0');
    std::memcpy(b.data(), kMagic, 8);
    put<quint32>(b, kVersionAt, kVersion);
    put<quint32>(b, kFanoutAt, quint32(TLineIndex::kFanout));
    put<qint64>(b, kRowsAt, index.rows_);
    put<qint64>(b, kRunsAt, qint64(runs.size()));
    put<qint64>(b, kBlocksAt, qint64(blocks.size()));
    put<quint32>(b, kHeaderLengthAt, quint32(table.headerLength()));
    put<quint32>(b, kRecordAt, quint32(table.recordLength()));
    put<quint32>(b, kLayoutAt, quint32(layout.size()));
    quint64 rowsSum = 0;
    if (!rowsHash(table, index.rows_, &rowsSum))
        return {};
    put<quint64>(b, kRowsHashAt, rowsSum);
    std::memcpy(b.data() + kHead, layout.constData(), size_t(layout.size()));

    char* p = b.data() + kHead + layout.size();
    char* const runBytes = p;
    for (const auto& r : runs) {
        for (qint64 v : {r.begin, r.end, r.tmin, r.tmax, qint64(r.valid)}) {
            qToLittleEndian<qint64>(v, p);
            p += 8;
        }
    }
    char* const sampleBytes = p;
    if (!blocks.empty()) {
        qToLittleEndian<qint64>(samples.data(), qsizetype(samples.size()), p);
        p += samples.size() * 8;
        qToLittleEndian<quint16>(blocks.data(), qsizetype(blocks.size() * 18), p);
    }
    put<quint64>(b, kBodyHashAt,
                 checksum(runBytes, sampleBytes - runBytes, kRunsSeed) ^
                     checksum(sampleBytes, p - sampleBytes, kSamplesSeed) ^
                     checksum(p, qint64(blocks.size()) * kSummaryBytes, kBlocksSeed));
    put<quint64>(b, kHeadHashAt, headSum(b, layout));
    return b;
}

bool TLineIndexFile::write(const QByteArray& image, const QString& path, QString* error) {
    QSaveFile out(path);
    if (image.isEmpty()) {
        *error =
            QStringLiteral("Nie zapisano indeksu wykresów %1: nie można odczytać tabeli").arg(path);
        return false;
    }
    if (!out.open(QIODevice::WriteOnly) || out.write(image) != image.size() || !out.commit()) {
        *error =
            QStringLiteral("Nie zapisano indeksu wykresów %1: %2").arg(path, out.errorString());
        return false;
    }
    return true;
}

bool TLineIndexFile::load(TLineIndex& index, const QString& path, QString* why) {
    why->clear();
    QFile in(path);
    if (!in.exists())
        return false;
    const auto refuse = [&](const QString& reason) {
        *why = QStringLiteral("plik indeksu %1 pominięty: %2").arg(path, reason);
        index.clear();
        return false;
    };
    if (!in.open(QIODevice::ReadOnly))
        return refuse(in.errorString());
    const TLineFile& table = index.file_;
    const qint64 size = in.size();
    const QByteArray head = in.read(kHead);
    if (head.size() < kHead)
        return refuse(QStringLiteral("jest za krótki (%1 B), uszkodzony").arg(size));
    if (std::memcmp(head.constData(), kMagic, 8) != 0)
        return refuse(QStringLiteral("to nie jest plik indeksu wykresów"));
    if (get<quint32>(head, kVersionAt) != kVersion ||
        get<quint32>(head, kFanoutAt) != quint32(TLineIndex::kFanout))
        return refuse(QStringLiteral("inna wersja pliku indeksu"));
    const qint64 rows = get<qint64>(head, kRowsAt);
    const qint64 runCount = get<qint64>(head, kRunsAt);
    const qint64 blockCount = get<qint64>(head, kBlocksAt);
    const quint32 layoutLength = get<quint32>(head, kLayoutAt);
    const QByteArray layout = in.read(std::min<qint64>(layoutLength, 1 << 16));
    if (layout.size() != qint64(layoutLength) ||
        get<quint64>(head, kHeadHashAt) != headSum(head, layout))
        return refuse(QStringLiteral("nagłówek jest uszkodzony (suma kontrolna)"));
    if (rows < 0 || blockCount != (rows + TLineIndex::kFanout - 1) / TLineIndex::kFanout ||
        runCount < (rows > 0) || runCount > rows ||
        size != kHead + layoutLength + runCount * kRunBytes + blockCount * (8 + kSummaryBytes))
        return refuse(QStringLiteral("długość pliku (%1 B) nie zgadza się z nagłówkiem, plik "
                                     "jest ucięty albo uszkodzony")
                          .arg(size));

    // The table it was made of?
    if (get<quint32>(head, kHeaderLengthAt) != quint32(table.headerLength()) ||
        get<quint32>(head, kRecordAt) != quint32(table.recordLength()) || layout != table.layout())
        return refuse(QStringLiteral("tabela %1 ma inny nagłówek niż ta, z której zrobiono indeks")
                          .arg(table.path()));
    if (rows > table.completeRows())
        return refuse(QStringLiteral("tabela %1 ma %2 wierszy, mniej niż %3 w indeksie")
                          .arg(table.path())
                          .arg(table.completeRows())
                          .arg(rows));
    quint64 rowsSum = 0;
    if (!rowsHash(table, rows, &rowsSum))
        return refuse(QStringLiteral("nie można odczytać tabeli %1").arg(table.path()));
    if (rowsSum != get<quint64>(head, kRowsHashAt))
        return refuse(QStringLiteral("wiersze tabeli %1 różnią się od tych, z których zrobiono "
                                     "indeks (tabela zmieniona albo zastąpiona)")
                          .arg(table.path()));

    // The body straight into the index's own memory (with room for the rows
    // to come): for a year of rows, a copy would cost more than the reading.
    const QByteArray runBytes = in.read(runCount * kRunBytes);
    auto& samples = index.samples_;
    auto& blocks = index.levels_[0];
    TLineIndex::reserveFor(samples, size_t(blockCount));
    TLineIndex::reserveFor(blocks, size_t(blockCount));
    samples.resize(size_t(blockCount));
    blocks.resize(size_t(blockCount));
    char* sampleBytes = reinterpret_cast<char*>(samples.data());
    char* blockBytes = reinterpret_cast<char*>(blocks.data());
    if (runBytes.size() != runCount * kRunBytes ||
        in.read(sampleBytes, blockCount * 8) != blockCount * 8 ||
        in.read(blockBytes, blockCount * kSummaryBytes) != blockCount * kSummaryBytes)
        return refuse(in.errorString());
    if ((checksum(runBytes.constData(), runBytes.size(), kRunsSeed) ^
         checksum(sampleBytes, blockCount * 8, kSamplesSeed) ^
         checksum(blockBytes, blockCount * kSummaryBytes, kBlocksSeed)) !=
        get<quint64>(head, kBodyHashAt))
        return refuse(QStringLiteral("zawartość jest uszkodzona (suma kontrolna)"));
    if (blockCount > 0) {
        qFromLittleEndian<qint64>(sampleBytes, blockCount, sampleBytes);
        qFromLittleEndian<quint16>(blockBytes, blockCount * 18, blockBytes);
    }
    const char* p = runBytes.constData();
    auto& runs = index.runs_;
    runs.resize(size_t(runCount));
    qint64 at = 0;
    for (auto& r : runs) {
        qint64 v[5];
        qFromLittleEndian<qint64>(p, 5, v);
        p += kRunBytes;
        r = {v[0], v[1], v[2], v[3], v[4] != 0};
        const bool times = r.valid ? r.tmin <= r.tmax : r.tmin == kNoTime && r.tmax == kNoTime;
        if (r.begin != at || r.end <= r.begin || (v[4] != 0 && v[4] != 1) || !times)
            return refuse(QStringLiteral("zawartość jest niespójna"));
        at = r.end;
    }
    if (at != rows)
        return refuse(QStringLiteral("zawartość jest niespójna"));
    index.rows_ = rows;
    index.rebuildUpperLevels(0);
    index.collectZeroRows(0);
    if (rows > 0)
        index.lastRow_ = QByteArray(table.row(rows - 1) + 1, table.recordLength() - 1);
    return true;
}

TLineIndex::TKept TLineIndex::openKept(const QString& path, const QString& kept, qint64 rows,
                                       const std::function<bool(qint64)>& progress) {
    file_.open(path);
    clear();
    TKept report;
    if (TLineIndexFile::load(*this, kept, &report.refused))
        report.loaded = rows_;
    extendTo(rows, progress);
    return report;
}

} // namespace qta
