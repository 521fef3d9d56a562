// One controller as a Modbus unit: its answers, made from what the
// controller's session already holds (the status reply's state, the event
// log's last row, the alarm engine, rejestr/sterownik.ini) and published on
// the board the server reads. Made again when the session reports a change
// and every second (the age of the data), so a poll costs the session no
// work, and never a byte on the controller's line.
#pragma once

#include "modbus/imageboard.h"
#include "modbus/registermap.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace qta {
class TQTA504Core;
}

namespace qta::modbus {

class TModbusUnit : public QObject {
    Q_OBJECT
public:
    explicit TModbusUnit(TQTA504Core& core, QObject* parent = nullptr);
    ~TModbusUnit() override;

    // Publishes its answers under `unitId` on `board` from now on (0: not
    // served); the identifier it had is taken off the board.
    void serveAs(TImageBoard* board, int unitId);
    // The answers as they stand now.
    const TImage& image();

private:
    // The state the answers are made of.
    TUnitState state();
    void readLastEvent();
    void readSettingsFile();
    void changed();
    void publish();

    TQTA504Core& core_;
    TUnitState kept_; // the parts read from files, refreshed on their signals
    TImage image_;
    bool dirty_ = true;
    bool seenFrame_ = false;
    QElapsedTimer sinceFrame_;
    int shownAge_ = -2;
    TImageBoard* board_ = nullptr;
    int unitId_ = 0;
    bool publishQueued_ = false;
    QTimer everySecond_;
};

} // namespace qta::modbus
