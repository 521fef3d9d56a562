#include "settings/clockframe.h"

#include "link/frame.h"

namespace qta {

QByteArray clockFrame(const QDateTime& t) {
    const QDate d = t.date();
    const QTime tm = t.time();
    if (!d.isValid() || !tm.isValid() || d.year() < kClockFirstYear || d.year() > kClockLastYear)
        return {};
    QByteArray p;
    p.append(char(d.year() - kClockFirstYear));
    p.append(char(d.month()));
    p.append(char(d.day()));
    p.append(char(tm.hour()));
    p.append(char(tm.minute()));
    p.append(char(tm.second()));
    return buildFrame(TxSetClock, p);
}

QString clockOutOfRangeText(int year) {
    return QStringLiteral("Zegar komputera wskazuje rok %1. Sterownik przyjmuje tylko lata "
                          "od %2 do %3, więc czasu nie wysłano. Ustaw poprawną datę w komputerze "
                          "i spróbuj ponownie")
        .arg(year)
        .arg(kClockFirstYear)
        .arg(kClockLastYear);
}

} // namespace qta
