// Makes an alarm impossible to miss on the desktop, whatever the person is
// doing: a desktop notification per alarm (replaced, not stacked, as the
// alarm changes state; critical for high priority), a sound repeated while a
// high-priority alarm waits for acknowledgement, the taskbar asking for
// attention, a tray icon with the count, and the alarm window opened by
// itself when a high-priority alarm is raised. Shelved alarms stay quiet.
#pragma once

#include "alarms/alarm.h"

#include <QObject>
#include <QPointer>
#include <functional>

class QSystemTrayIcon;
class QWidget;

namespace qta {

class TAlarmEngine;
class TAlarmSound;
class TDesktopNotifier;

class TAnnunciator : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        QWidget* window = nullptr;             // asks for attention on a new alarm
        std::function<void()> openAlarmWindow; // opens or raises "Alarmy"
        std::function<QString()> controllerId; // the identifier, for the notification body
    };
    TAnnunciator(TAlarmEngine& engine, Hooks hooks, TDesktopNotifier* notifier, TAlarmSound* sound,
                 QObject* parent = nullptr);

    QSystemTrayIcon* trayIcon() const { return tray_; }

private:
    void onTransition(const TAlarm& alarm, AlarmTransition t);
    // Shows (or replaces) the desktop notification of `alarm`; `what` heads its body.
    void notify(const TAlarm& alarm, const QString& what);
    void update();
    void onRestored();

    TAlarmEngine& engine_;
    Hooks hooks_;
    TDesktopNotifier* notifier_;
    TAlarmSound* sound_;
    QSystemTrayIcon* tray_ = nullptr;
};

} // namespace qta
