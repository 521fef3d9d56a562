#include "tables/csv.h"

namespace qta {

QString csvField(const QString& value) {
    bool quote = false;
    for (QChar c : value) {
        if (c == u';' || c == u'"' || c == u'\r' || c == u'\n') {
            quote = true;
            break;
        }
    }
    if (!quote)
        return value;
    QString out = value;
    out.replace(u'"', QStringLiteral("\"\""));
    return u'"' + out + u'"';
}

QByteArray csvLine(const QStringList& fields) {
    QString line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i)
            line += u';';
        line += csvField(fields[i]);
    }
    line += QStringLiteral("\r\n");
    return line.toUtf8();
}

bool TCsvWriter::writeRow(const QStringList& fields) {
    QByteArray bytes;
    if (!bomWritten_)
        bytes = QByteArray("\xEF\xBB\xBF");
    bytes += csvLine(fields);
    if (device_->write(bytes) != bytes.size())
        return false;
    bomWritten_ = true;
    ++rows_;
    return true;
}

} // namespace qta
