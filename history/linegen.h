// Large line-voltage tables for tests and measurements: one row a second of
// three lines wandering around their nominal voltage, with everything a real
// table holds over months: the zero rows of each program start and end with
// the pause between them, dips to zero, one-row spikes, a clock set back an
// hour (autumn) and one set forward an hour (spring).
#pragma once

#include <QDateTime>
#include <QString>

namespace qta {

struct TLineGenOptions {
    qint64 rows = 0;
    QDateTime end;    // wall time of the last row
    quint64 seed = 1; // the same seed gives the same table
};

struct TLineGenReport {
    qint64 rows = 0;
    int stops = 0;     // program ends followed by a start (two zero rows, a pause)
    int backJumps = 0; // clock set back an hour
    int forwardJumps = 0;
    QDateTime first, last;
};

// Writes a new linia.dbf; refuses to overwrite a file. Raises ETable.
TLineGenReport generateLinia(const QString& path, const TLineGenOptions& options);

} // namespace qta
