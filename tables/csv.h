// CSV as a Polish spreadsheet opens it without questions: UTF-8 with a byte
// order mark, ';' between fields (',' is the decimal separator), CRLF line
// ends, and RFC 4180 quoting of any field that holds ';', '"', CR or LF.
#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>

namespace qta {

// One field, quoted when needed ("a;b" -> "\"a;b\"", "x\"y" -> "\"x\"\"y\"").
QString csvField(const QString& value);
// One whole line with its CRLF.
QByteArray csvLine(const QStringList& fields);

// Writes rows to a device; the byte order mark goes out before the first row
// (the header row). writeRow returns false when the device refuses the bytes,
// so that the caller can name the file and the reason in its message.
class TCsvWriter {
public:
    explicit TCsvWriter(QIODevice* device) : device_(device) {}
    bool writeRow(const QStringList& fields);
    qint64 rowsWritten() const { return rows_; }

private:
    QIODevice* device_;
    bool bomWritten_ = false;
    qint64 rows_ = 0;
};

} // namespace qta
