// The chart index kept next to its table (rejestr/linia.idx beside
// rejestr/linia.dbf), so that a program run does not read a year of rows to
// draw its first chart: it reads the index of the rows there were at the last
// save and only the rows appended since.
//
// The file is only a copy of what the table says, and is trusted only while
// it agrees with the table: before use, its own checksums, the table's header
// bytes, that the table holds at least the rows indexed, and a checksum of
// rows sampled across the table and of its last indexed rows are checked. A
// file that fails any of that is set aside (the table is read whole and the
// file written anew); the table itself is never written. The file is written
// whole or not at all (QSaveFile).
//
// Layout (little-endian): a 128-byte head (magic, version, fan-out, rows,
// runs, blocks, the table's header and record lengths, the length of its
// layout bytes, the checksum of the sampled rows, of the body and of the
// head), the table's layout bytes (TLineFile::layout()), then the body: the
// runs (4 x int64 and an int64 flag each), the sampled times (int64) and the
// lowest block summaries (18 x uint16); the levels above are made on loading.
#pragma once

#include "history/lineindex.h"

namespace qta {

class TLineIndexFile {
public:
    // linia.dbf -> linia.idx in the same folder.
    static QString pathFor(const QString& table);

    // The file's bytes for the index as it is now.
    static QByteArray image(const TLineIndex& index);
    // Writes the bytes to `path`; false with a Polish message naming the file.
    static bool write(const QByteArray& image, const QString& path, QString* error);
    static bool save(const TLineIndex& index, const QString& path, QString* error) {
        return write(image(index), path, error);
    }

    // Takes the index of the table `index` has open (with no rows indexed)
    // from `path`. False when the file is not there (`why` empty) or is not
    // a true index of the table's first rows (`why` says what is wrong, in
    // Polish, naming the file); `index` then holds no rows.
    static bool load(TLineIndex& index, const QString& path, QString* why);
};

} // namespace qta
