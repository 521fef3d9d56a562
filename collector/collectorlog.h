// The collector's log: one line per event on standard error, the controller's
// name first ("N1-szpital: połączono z /dev/ttyUSB0"). Under systemd (the
// JOURNAL_STREAM variable names the stream) each line starts with its
// priority as "<3>" ... "<6>", which the journal keeps as the level.
#pragma once

#include <QString>

namespace qta {

enum class LogLevel { Error = 3, Warning = 4, Notice = 5, Info = 6 };

// `name` empty: a line of the collector itself ("qta504d: ...").
void collectorLog(LogLevel level, const QString& name, const QString& text);

} // namespace qta
