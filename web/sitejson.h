// The console's view of the site as JSON: one tile per controller (name,
// identifier, link, program, active line, line states as the mimic names
// them, unacknowledged alarms with the highest priority, the last event)
// and each controller's listed alarms. What the pages show, and what the
// WebSocket sends when it changes.
#pragma once

#include "web/site.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <map>

namespace qta::web {

// What a tile needs that the core does not keep: since when the link is
// lost, whether it was ever up, and the last event as last read.
class TTileMemory {
public:
    QJsonObject tile(const TSiteUnit& u);

private:
    struct Memory {
        bool everUp = false;
        bool up = false;
        QDateTime lostSince;
        int rows = -1;
        QString eventTime, eventText;
        int mimicProgram = -1;
        int diagram = -1; // the supply picture the mimic shows, as the window keeps it
    };
    std::map<QString, Memory> memory_;
};

QJsonArray alarmsJson(const TSiteUnit& u);
QString isoOrEmpty(const QDateTime& t);

} // namespace qta::web
