#include "tables/tablevalues.h"

#include <charconv>
#include <cstring>

namespace qta::dbf {

quint32 le32(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return quint32(u[0]) | quint32(u[1]) << 8 | quint32(u[2]) << 16 | quint32(u[3]) << 24;
}

void putLe32(char* p, quint32 v) {
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xFF);
}

bool allBytes(const char* p, int n, char c) {
    for (int i = 0; i < n; ++i)
        if (p[i] != c)
            return false;
    return true;
}

int textLength(const char* p, int n) {
    while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == '\0'))
        --n;
    return n;
}

bool parseNumber(const char* p, int n, double& value) {
    int b = 0;
    while (b < n && p[b] == ' ')
        ++b;
    int e = n;
    while (e > b && (p[e - 1] == ' ' || p[e - 1] == '\0'))
        --e;
    if (b == e)
        return false;
    if (p[b] == '+')
        ++b;
    const auto r = std::from_chars(p + b, p + e, value);
    return r.ec == std::errc() && r.ptr == p + e;
}

bool fieldWallTime(const Field& f, const char* rec, QDate& date, int& ms) {
    const char* p = rec + f.offset;
    if (f.type == 'T' && f.width == 8) {
        if (allBytes(p, 8, '\0') || allBytes(p, 8, ' '))
            return false;
        date = QDate::fromJulianDay(le32(p));
        const quint32 t = le32(p + 4);
        ms = int(t);
        return date.isValid() && t < 86400000u;
    }
    if (f.type == 'D' && f.width == 8) {
        date = QDate::fromString(QString::fromLatin1(p, 8), QStringLiteral("yyyyMMdd"));
        ms = 0;
        return date.isValid();
    }
    if (f.type == 'C') {
        const QString s = QString::fromLatin1(p, textLength(p, f.width)).trimmed();
        QDateTime dt = QDateTime::fromString(s, Qt::ISODate);
        if (!dt.isValid())
            dt = QDateTime::fromString(s, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        date = dt.date();
        ms = dt.time().msecsSinceStartOfDay();
        return dt.isValid();
    }
    return false;
}

bool fieldIsNull(const Field& f, const char* rec) {
    const char* p = rec + f.offset;
    if (f.type == 'T') {
        QDate date;
        int ms = 0;
        return !fieldWallTime(f, rec, date, ms);
    }
    if (isNumberType(f.type)) {
        double v;
        return !parseNumber(p, f.width, v);
    }
    if (f.type == 'D')
        return textLength(p, f.width) == 0 || allBytes(p, f.width, '0');
    return textLength(p, f.width) == 0;
}

QString fieldString(const Field& f, const char* rec, CodePage cp) {
    const char* p = rec + f.offset;
    if (isDateType(f.type)) {
        QDate date;
        int ms = 0;
        if (!fieldWallTime(f, rec, date, ms))
            return {};
        QString s = date.toString(QStringLiteral("yyyy-MM-dd"));
        if (f.type == 'T')
            s += QLatin1Char(' ') +
                 QTime::fromMSecsSinceStartOfDay(ms).toString(QStringLiteral("HH:mm:ss"));
        return s;
    }
    if (f.type == 'C')
        return decodeText(cp, p, textLength(p, f.width));
    // Numbers and whatever else: the characters as stored, without padding.
    return QString::fromLatin1(p, f.width).trimmed();
}

} // namespace qta::dbf
