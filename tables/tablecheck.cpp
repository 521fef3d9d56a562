#include "tables/tablecheck.h"

#include "tables/table.h"

#include <QFile>

namespace qta::dbf {

namespace {

quint32 le(const QByteArray& b, int at, int n) {
    quint32 v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return v;
}

} // namespace

TableCheck checkTable(const QString& path) {
    {
        TTable t(path); // refuses what is not a dBase table at all
        t.Open();
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw ETable(QStringLiteral("%1: %2").arg(path, f.errorString()));
    TableCheck c;
    const QByteArray h = f.read(32);
    c.fileSize = f.size();
    c.headerCount = le(h, 4, 4) & 0x7FFFFFFF;
    c.headerLength = le(h, 8, 2);
    c.recordLength = le(h, 10, 2);
    c.completeRows = (c.fileSize - c.headerLength) / c.recordLength;
    const qint64 rest = c.fileSize - c.headerLength - c.completeRows * c.recordLength;
    // The end mark 0x1A may follow the last row.
    char last = 0;
    c.endMark = rest == 1 && f.seek(c.fileSize - 1) && f.read(&last, 1) == 1 && last == 0x1A;
    c.agree = c.headerCount == c.completeRows && (rest == 0 || c.endMark);
    c.report =
        QStringLiteral("%1: header count %2, file length %3 bytes = header %4 + %5 complete rows "
                       "of %6%7\n")
            .arg(path)
            .arg(c.headerCount)
            .arg(c.fileSize)
            .arg(c.headerLength)
            .arg(c.completeRows)
            .arg(c.recordLength)
            .arg(c.endMark  ? QStringLiteral(" + end mark")
                 : rest > 0 ? QStringLiteral(" + %1 bytes of a partial row").arg(rest)
                            : QString()) +
        (c.agree ? QStringLiteral("OK: header count and file length agree\n")
                 : QStringLiteral("TORN: header count and file length disagree\n"));
    return c;
}

} // namespace qta::dbf
