// After the watchdog has brought a lost link back, the controller on the line
// may not be the one read at start (an adapter replugged onto another
// controller, or its settings changed at the front panel meanwhile). So it is
// read again as the start window reads it, without the window: identifier,
// configuration, customisation, each asked again after four unanswered ticks,
// and then the event-log copy checks the newest record index again.
#pragma once

#include <QObject>
#include <QTimer>

namespace qta {

class TQTA504Core;

class TRelink : public QObject {
    Q_OBJECT
public:
    explicit TRelink(TQTA504Core& main, QObject* parent = nullptr);

    static constexpr int kTickMs = 250;
    int Etap = 0;    // 0 idle, 1 identifier, 2 configuration, 3 customisation
    int Licznik = 0; // ticks spent waiting in the current stage
    QTimer Timer;

    void start();
    void cancel();
    bool running() const { return Etap != 0; }

Q_SIGNALS:
    // The three replies have come; the controller is known again.
    void finished();

private:
    void TimerTimer();
    // Whether the stage's reply is in; otherwise counts the tick and asks
    // again every fourth one.
    bool awaited(bool arrived, void (TQTA504Core::*ask)());

    TQTA504Core& main_;
};

} // namespace qta
