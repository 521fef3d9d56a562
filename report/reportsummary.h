// The report's summary of a period: how many events of each kind the log
// holds, the longest time the controller had no good supply line, and the
// lowest and highest voltage of every phase.
#pragma once

#include "history/lineindex.h"

#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

namespace qta {

struct TReportEvent;

struct TEventCount {
    QString kind;
    int count = 0;
};

// A time without a good line: from "Brak dobrych linii zasilających" to the
// first line qualified as good after it. One still going at the end of the
// period ends there (`open`).
struct TNoGoodLine {
    QDateTime from, to;
    bool open = false;
    qint64 minutes() const { return from.secsTo(to) / 60; }
};

struct TReportSummary {
    int events = 0;
    std::vector<TEventCount> kinds; // most frequent first, equal counts by name
    int noGoodLineTimes = 0;        // how many times without a good line began
    std::optional<TNoGoodLine> longest;
    TVoltExtremes volts; // rows of nine zeros left out
};

// An event's kind: its text up to the first full stop, without the values
// that follow ("Zmiana napięcia Umin dla linii N1"); "(zdarzenie nieznane)"
// for an empty text.
QString eventKind(const QString& text);

std::vector<TEventCount> countEventKinds(const std::vector<TReportEvent>& events);

// Over events in log order; `periodEnd` ends a time still going at the end.
// `count` gets how many began.
std::optional<TNoGoodLine> longestWithoutGoodLine(const std::vector<TReportEvent>& events,
                                                  const QDateTime& periodEnd, int* count);

// "2 dni 3 h 15 min", "45 min", "0 min".
QString durationText(qint64 minutes);

} // namespace qta
