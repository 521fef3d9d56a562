// Field values of the row being appended or of the current row.
#include "tables/tableimpl.h"

#include <QDateTime>

#include <cmath>

namespace qta {

// ---------------------------------------------------------------------------

void TField::setAsString(const QString& v) {
    TTable::Impl& d = *table_->d;
    const Field& f = d.field(index_);
    if (!d.pending) {
        // Without a new row this is the user's remark on the current row;
        // rewrite() refuses every other field.
        if (d.cur >= 0) {
            d.rewrite(d.cur, index_, v);
            return;
        }
        d.requirePending(f);
    }
    if (f.type == 'C') {
        d.setPending(f, d.textBytes(f, v));
    } else if (isNumberType(f.type)) {
        const QString t = v.trimmed();
        double x = 0;
        const QByteArray a = t.toLatin1();
        if (t.isEmpty())
            d.setPending(f, QByteArray(f.width, ' '));
        else if (parseNumber(a.constData(), int(a.size()), x))
            d.setPending(f, d.numberBytes(f, x, f.decimals == 0 && x == std::floor(x)));
        else
            throw ETable(
                QStringLiteral("Tabela %1, pole %2: „%3” nie jest liczbą").arg(d.path, f.name, v));
    } else if (isDateType(f.type)) {
        const QString t = v.trimmed();
        QDateTime dt = QDateTime::fromString(t, Qt::ISODate);
        if (!dt.isValid())
            dt = QDateTime::fromString(t, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (!t.isEmpty() && !dt.isValid())
            throw ETable(
                QStringLiteral("Tabela %1, pole %2: „%3” nie jest datą").arg(d.path, f.name, v));
        d.setPending(f, d.dateTimeBytes(f, dt));
    } else {
        throw ETable(QStringLiteral("Tabela %1, pole %2: typ %3 nie jest obsługiwany")
                         .arg(d.path, f.name, typeName(f.type)));
    }
}

void TField::setAsInteger(qint64 v) {
    TTable::Impl& d = *table_->d;
    const Field& f = d.field(index_);
    d.requirePending(f);
    if (isNumberType(f.type))
        d.setPending(f, d.numberBytes(f, double(v), true));
    else if (f.type == 'C')
        d.setPending(f, d.textBytes(f, QString::number(v)));
    else
        throw ETable(QStringLiteral("Tabela %1, pole %2 (typ %3) nie przyjmuje liczby")
                         .arg(d.path, f.name, typeName(f.type)));
}

void TField::setAsDateTime(const QDateTime& v) {
    TTable::Impl& d = *table_->d;
    const Field& f = d.field(index_);
    d.requirePending(f);
    d.setPending(f, d.dateTimeBytes(f, v));
}

QString TField::asString() const {
    const TTable::Impl& d = *table_->d;
    const Field& f = d.field(index_);
    const char* rec = d.currentRecord();
    return rec ? fieldString(f, rec, d.cp) : QString();
}

qint64 TField::asInteger() const {
    const TTable::Impl& d = *table_->d;
    const Field& f = d.field(index_);
    const char* rec = d.currentRecord();
    if (!rec)
        throw ETable(QStringLiteral("Tabela %1: brak bieżącego wiersza, pole %2 nie ma wartości")
                         .arg(d.path, f.name));
    double v = 0;
    const bool number = (isNumberType(f.type) || f.type == 'C') &&
                        parseNumber(rec + f.offset, f.width, v) && std::isfinite(v) &&
                        std::fabs(v) < 9.0e18;
    if (!number)
        throw ETable(QStringLiteral("Tabela %1, wiersz %2: pole %3 nie zawiera liczby („%4”)")
                         .arg(d.path)
                         .arg(table_->RecNo())
                         .arg(f.name, fieldString(f, rec, d.cp)));
    return qint64(std::llround(v));
}

QDateTime TField::asDateTime() const {
    const TTable::Impl& d = *table_->d;
    const Field& f = d.field(index_);
    const char* rec = d.currentRecord();
    return rec ? d.dateTime(f, rec) : QDateTime();
}

} // namespace qta
