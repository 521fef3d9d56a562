// What an entry box of a settings editor accepts, and what leaving it does.
// Pure functions: the boxes (editors/entrybox.h) and the backup loader use
// the same rules, so a value read from a file is judged exactly as if typed.
#pragma once

#include <QLocale>
#include <QString>

namespace qta {

enum class EntryKind {
    // Whole number; text that is not one, or a number out of range, quietly
    // puts back the value held before.
    Integer,
    // Whole number; a number out of range quietly puts back the value held
    // before, but text that is not a whole number is refused with the
    // conversion error (the text stays in the box, the field keeps its value).
    IntegerStrict,
    // Seconds with one decimal, written with the regional decimal separator;
    // bad text or a value out of range puts back the value held before.
    Tenths,
};

struct TEntryRule {
    EntryKind kind = EntryKind::Integer;
    double min = 0;
    double max = 0;
};

struct TEntryResult {
    enum Outcome { Accepted, Reverted, NotANumber };
    Outcome outcome = Accepted;
    double value = 0; // what the field holds afterwards
    QString text;     // what the box shows afterwards
    QString error;    // the conversion error for NotANumber, else empty
};

// Leaving a box that holds `text` while its field holds `present`.
TEntryResult applyEntry(const TEntryRule& rule, const QString& text, double present,
                        const QLocale& locale = QLocale());

// How a box shows `value`: integers as plain decimal numbers; tenths in the
// shortest form at opening ("2,5", "3") and with exactly one decimal after
// an edit ("3,0").
QString entryText(const TEntryRule& rule, double value, bool afterEdit,
                  const QLocale& locale = QLocale());

// Seconds in whole tenths, computed on the value's shortest decimal form so
// that a one-decimal value comes out exact (0.3 -> 3, 2.5 -> 25) and further
// decimals are cut (0.35 -> 3). Negative values give 0; the result is capped
// at 65535, the largest value the controller's two bytes carry.
int tenthsOf(double seconds);

// "''abc'' is not a valid integer value" (the wording the error box shows).
QString notAnIntegerMessage(const QString& text);

} // namespace qta
