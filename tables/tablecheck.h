// What `qta504-tables check` tells about a table file: whether the header's
// record count agrees with the file length (a table torn by a crash or a
// power loss does not, and still opens with its complete rows).
#pragma once

#include <QString>

namespace qta::dbf {

struct TableCheck {
    bool agree = false; // the count equals the complete rows, nothing but the end mark follows
    qint64 headerCount = 0;
    qint64 fileSize = 0;
    qint64 headerLength = 0;
    qint64 recordLength = 0;
    qint64 completeRows = 0;
    bool endMark = false;
    QString report; // two lines for the tool to print
};

// Raises ETable when the file is not a table the program opens at all.
TableCheck checkTable(const QString& path);

} // namespace qta::dbf
