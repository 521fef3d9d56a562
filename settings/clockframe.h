// The frame that sets the controller's clock: code 3, year - 2000, month, day,
// hour, minute, second, each one plain binary byte.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace qta {

// The years the controller's one-byte year can hold.
constexpr int kClockFirstYear = 2000;
constexpr int kClockLastYear = 2255;

// The 11-byte frame for `t` (whole seconds; fractions and weekday are not sent),
// or an empty array when its year lies outside 2000..2255.
QByteArray clockFrame(const QDateTime& t);

// What the user is told when the PC's clock cannot be sent.
QString clockOutOfRangeText(int year);

} // namespace qta
