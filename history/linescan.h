// The hot loop of the chart index: from whole rows of linia.dbf read into
// memory, the time of each row and the lowest and highest of each voltage
// over a block of up to 64 rows.
//
// The voltages are right-aligned digits after blanks in N(5) fields. Such
// fields compare as text in the order of their numbers (a blank sorts before
// any digit), so a block's lowest and highest are found on the five bytes as
// they are, and only those two are turned into numbers. A row is checked for
// that form sixteen bytes at a time; a row that has anything else in a voltage
// field (a leading zero, decimals, text) is read field by field as
// TLineFile::volts() reads it.
#pragma once

#include "history/linefile.h"

#include <array>

namespace qta {

struct TBlockSummary {
    std::array<quint16, 9> lo, hi; // lo > hi: no value on any row of the block
    // Whether any field in the bit set (bit k: voltage k) has a value.
    bool holds(unsigned fields) const;
    static TBlockSummary none();
};

class TRowScanner {
public:
    explicit TRowScanner(const TLineFile& file);

    // `rows` holds `count` (1..64) whole rows, followed by at least
    // kSlack readable bytes; times[i] gets the time of row i.
    TBlockSummary scan(const char* rows, int count, TWallMs* times) const;

    static constexpr int kSlack = 64;

private:
    TBlockSummary scanPacked(const char* rows, int count, TWallMs* times) const;
    TBlockSummary scanFields(const char* rows, int count, TWallMs* times) const;

    int record_;
    int czas_;
    std::array<int, 9> volts_;
    std::array<int, 9> width_;
    bool packed_;
};

} // namespace qta
