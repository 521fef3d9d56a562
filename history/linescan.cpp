#include "history/linescan.h"

#include <QtEndian>
#include <algorithm>
#include <utility>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QTA_SCAN_SSE2 1
#endif

namespace qta {

namespace {

constexpr quint64 kNoKey = ~quint64(0);

// The five bytes of an N(5) field as a number that orders like the field's text.
quint64 textKey(const char* p) { return qFromBigEndian<quint64>(p) >> 24; }

// The key of a value written as the program writes it: right-aligned digits.
quint64 valueKey(int v) {
    char text[8] = {' ', ' ', ' ', ' ', ' ', 0, 0, 0};
    for (int i = 4; i >= 0; --i) {
        text[i] = char('0' + v % 10);
        v /= 10;
        if (v == 0)
            break;
    }
    return textKey(text);
}

quint16 keyVolts(quint64 key) {
    char text[8];
    qToBigEndian<quint64>(key << 24, text);
    return quint16(TLineFile::decodeVolts(text, 5));
}

void finish(TBlockSummary& s, const std::array<quint64, 9>& lo, const std::array<quint64, 9>& hi) {
    for (size_t k = 0; k < 9; ++k) {
        if (lo[k] == kNoKey)
            continue;
        s.lo[k] = keyVolts(lo[k]);
        s.hi[k] = keyVolts(hi[k]);
    }
}

template <class F> void forEachField(F&& f) {
    [&]<size_t... K>(std::index_sequence<K...>) { (f(K), ...); }
    (std::make_index_sequence<9>{});
}

#ifdef QTA_SCAN_SSE2
// Bit i of each mask stands for byte i of the 45 voltage bytes.
constexpr quint64 kAll = (quint64(1) << 45) - 1;
constexpr quint64 fieldStarts() {
    quint64 m = 0;
    for (int k = 0; k < 9; ++k)
        m |= quint64(1) << (5 * k);
    return m;
}
constexpr quint64 kStart = fieldStarts();
constexpr quint64 kLast = kStart << 4;

struct Masks {
    quint64 digit = 0, blank = 0, zero = 0;
};

Masks masks(const char* p) {
    const __m128i shift = _mm_set1_epi8(char(0x80 - '0')); // '0'..'9' to the lowest signed bytes
    const __m128i limit = _mm_set1_epi8(char(0x80 + 10));
    const __m128i blank = _mm_set1_epi8(' ');
    const __m128i zero = _mm_set1_epi8('0');
    Masks m;
    for (int i = 0; i < 3; ++i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const auto bits = [&](__m128i x) {
            return quint64(unsigned(_mm_movemask_epi8(x))) << (16 * i);
        };
        m.digit |= bits(_mm_cmplt_epi8(_mm_add_epi8(v, shift), limit));
        m.blank |= bits(_mm_cmpeq_epi8(v, blank));
        m.zero |= bits(_mm_cmpeq_epi8(v, zero));
    }
    return m;
}
#endif

} // namespace

bool TBlockSummary::holds(unsigned fields) const {
    for (size_t k = 0; k < 9; ++k)
        if ((fields >> k & 1) && lo[k] <= hi[k])
            return true;
    return false;
}

TBlockSummary TBlockSummary::none() {
    TBlockSummary s;
    s.lo.fill(65535);
    s.hi.fill(0);
    return s;
}

TRowScanner::TRowScanner(const TLineFile& file)
    : record_(file.recordLength()), czas_(file.timeOffset()), packed_(file.packedVolts()) {
    for (int k = 0; k < 9; ++k) {
        volts_[size_t(k)] = file.voltsOffset(k);
        width_[size_t(k)] = file.voltsWidth(k);
    }
}

TBlockSummary TRowScanner::scan(const char* rows, int count, TWallMs* times) const {
#ifdef QTA_SCAN_SSE2
    if (packed_)
        return scanPacked(rows, count, times);
#endif
    return scanFields(rows, count, times);
}

TBlockSummary TRowScanner::scanFields(const char* rows, int count, TWallMs* times) const {
    TBlockSummary s = TBlockSummary::none();
    for (int i = 0; i < count; ++i) {
        const char* row = rows + qint64(i) * record_;
        times[i] = TLineFile::decodeTime(row + czas_);
        for (size_t k = 0; k < 9; ++k) {
            const int v = TLineFile::decodeVolts(row + volts_[k], width_[k]);
            if (v == kNoVolts)
                continue;
            s.lo[k] = std::min(s.lo[k], quint16(v));
            s.hi[k] = std::max(s.hi[k], quint16(v));
        }
    }
    return s;
}

TBlockSummary TRowScanner::scanPacked(const char* rows, int count, TWallMs* times) const {
#ifdef QTA_SCAN_SSE2
    std::array<quint64, 9> lo, hi;
    lo.fill(kNoKey);
    hi.fill(0);
    const auto take = [&](size_t k, quint64 key) {
        lo[k] = std::min(lo[k], key);
        hi[k] = std::max(hi[k], key);
    };
    for (int i = 0; i < count; ++i) {
        const char* row = rows + qint64(i) * record_;
        times[i] = TLineFile::decodeTime(row + czas_);
        const char* v = row + volts_[0];
        const Masks m = masks(v);
        const quint64 afterDigit = (m.digit << 1) & ~kStart; // the byte before is a digit
        const bool plain = ((m.digit | m.blank) & kAll) == kAll &&
                           (afterDigit & m.blank & kAll) == 0 &&
                           (m.zero & m.digit & ~afterDigit & ~kLast & kAll) == 0;
        if (!plain) {
            for (size_t k = 0; k < 9; ++k) {
                const int volts = TLineFile::decodeVolts(v + 5 * k, 5);
                if (volts != kNoVolts)
                    take(k, valueKey(volts));
            }
            continue;
        }
        const quint64 empty = m.blank & m.blank >> 1 & m.blank >> 2 & m.blank >> 3 & m.blank >> 4 &
                              kStart; // fields of five blanks
        if (empty == 0) {
            forEachField([&](size_t k) { take(k, textKey(v + 5 * k)); });
        } else {
            forEachField([&](size_t k) {
                if (!(empty >> (5 * k) & 1))
                    take(k, textKey(v + 5 * k));
            });
        }
    }
    TBlockSummary s = TBlockSummary::none();
    finish(s, lo, hi);
    return s;
#else
    return scanFields(rows, count, times);
#endif
}

} // namespace qta
