// Field values of a dBase row: the field list and the reading of the stored
// bytes (texts, numbers, the 8-byte 'T' date and time).
#pragma once

#include "tables/codepage.h"

#include <QDate>
#include <QDateTime>
#include <QString>

#include <limits>

namespace qta::dbf {

struct Field {
    QString name;
    char type = 'C';
    int offset = 0;
    int width = 0;
    int decimals = 0;
};

quint32 le32(const char* p);
void putLe32(char* p, quint32 v);
bool allBytes(const char* p, int n, char c);
// Text without the padding (trailing blanks, or NULs some writers use).
int textLength(const char* p, int n);
// A number written as text: blanks around it, nothing else. Empty, '*'-filled
// (the usual NULL of numeric fields) or anything else: no number.
bool parseNumber(const char* p, int n, double& value);
inline bool isDateType(char t) { return t == 'T' || t == 'D'; }
inline bool isNumberType(char t) { return t == 'N' || t == 'F'; }
// The wall-clock date and time a field holds; false when it is empty or not
// a date.
bool fieldWallTime(const Field& f, const char* rec, QDate& date, int& ms);
bool fieldIsNull(const Field& f, const char* rec);
QString fieldString(const Field& f, const char* rec, CodePage cp);
inline QString typeName(char t) { return QString(QLatin1Char(t)); }

// The tables hold the PC's local wall time. A local-time QDateTime consults
// the system's time-zone rules each time it is made, which costs more than
// all the rest of reading a row, and the chart windows read every row every
// few seconds. So the UTC offset is looked up once per quarter of an hour of
// wall time, and the result carries it as a fixed offset: the same instant and
// the same wall time as the local-time value.
class LocalClock {
public:
    QDateTime at(const QDate& date, int ms) {
        constexpr int kQuarter = 15 * 60 * 1000;
        const qint64 key = date.toJulianDay() * 96 + ms / kQuarter;
        if (key != key_) {
            const QTime start = QTime::fromMSecsSinceStartOfDay(ms / kQuarter * kQuarter);
            offset_ = QDateTime(date, start, Qt::LocalTime).offsetFromUtc();
            key_ = key;
        }
        return QDateTime(date, QTime::fromMSecsSinceStartOfDay(ms), Qt::OffsetFromUTC, offset_);
    }

private:
    qint64 key_ = std::numeric_limits<qint64>::min();
    int offset_ = 0;
};

} // namespace qta::dbf
