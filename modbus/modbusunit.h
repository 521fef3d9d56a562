// One controller as a Modbus unit: its answers, kept from what the
// controller's session already holds (the status reply's state, the event
// log's last row, the alarm engine, rejestr/sterownik.ini). Made again only
// when the session reports a change or a second has passed, so a poll costs
// no work on the session, and never a byte on the controller's line.
#pragma once

#include "modbus/registermap.h"

#include <QElapsedTimer>
#include <QObject>

namespace qta {
class TQTA504Core;
}

namespace qta::modbus {

class TModbusUnit : public QObject {
    Q_OBJECT
public:
    explicit TModbusUnit(TQTA504Core& core, QObject* parent = nullptr);

    // The answers as they stand now.
    const TImage& image();
    // The state the answers are made of (tests, the benchmark).
    TUnitState state();

private:
    void readLastEvent();
    void readSettingsFile();

    TQTA504Core& core_;
    TUnitState kept_; // the parts read from files, refreshed on their signals
    TImage image_;
    bool dirty_ = true;
    bool seenFrame_ = false;
    QElapsedTimer sinceFrame_;
    int shownAge_ = -2;
};

} // namespace qta::modbus
