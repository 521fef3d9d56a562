// What the console shows: the controllers of the site, in the
// configuration's order, each with its core (link, state, tables, alarms).
// The collector provides it; the console only reads the cores, and through
// their alarm engines acknowledges and shelves. Nothing from the network
// reaches a controller.
#pragma once

#include "core/controller.h"

#include <QList>
#include <QString>

namespace qta::web {

struct TSiteUnit {
    QString name; // the section's name
    QString port; // as configured
    TQTA504Core* core = nullptr;
};

class TSite {
public:
    virtual ~TSite() = default;
    virtual QList<TSiteUnit> units() const = 0;
};

} // namespace qta::web
