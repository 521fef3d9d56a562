#include "alarms/annunciator.h"

#include "alarms/alarmengine.h"
#include "alarms/alarmlistmodel.h"
#include "alarms/alarmsound.h"
#include "alarms/desktopnotifier.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QWidget>

namespace qta {

namespace {
// The program's icon with the count in a red disc.
QIcon countIcon(int n) {
    QPixmap pm = QApplication::windowIcon().pixmap(64, 64);
    if (pm.isNull()) {
        pm = QPixmap(64, 64);
        pm.fill(Qt::transparent);
    }
    if (n > 0) {
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(QColor(0xc0, 0, 0));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QRect(24, 24, 40, 40));
        p.setPen(Qt::white);
        QFont f = p.font();
        f.setBold(true);
        f.setPixelSize(26);
        p.setFont(f);
        p.drawText(QRect(24, 24, 40, 40), Qt::AlignCenter,
                   n > 99 ? QStringLiteral("99") : QString::number(n));
    }
    return QIcon(pm);
}
} // namespace

TAnnunciator::TAnnunciator(TAlarmEngine& engine, Hooks hooks, TDesktopNotifier* notifier,
                           TAlarmSound* sound, QObject* parent)
    : QObject(parent), engine_(engine), hooks_(std::move(hooks)), notifier_(notifier),
      sound_(sound) {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        tray_ = new QSystemTrayIcon(this);
        tray_->setObjectName(QStringLiteral("AlarmyTray"));
        connect(tray_, &QSystemTrayIcon::activated, this, [this] {
            if (hooks_.window) {
                hooks_.window->showNormal();
                hooks_.window->raise();
                hooks_.window->activateWindow();
            }
            if (hooks_.openAlarmWindow)
                hooks_.openAlarmWindow();
        });
    }
    connect(&engine_, &TAlarmEngine::transition, this, &TAnnunciator::onTransition);
    connect(&engine_, &TAlarmEngine::changed, this, &TAnnunciator::update);
    connect(&engine_, &TAlarmEngine::restored, this, &TAnnunciator::onRestored);
    update();
}

void TAnnunciator::notify(const TAlarm& a, const QString& what) {
    if (!notifier_)
        return;
    if (a.shelved()) {
        notifier_->close(a.key);
        return;
    }
    const QString id = hooks_.controllerId ? hooks_.controllerId() : QString();
    QString body = QStringLiteral("Sterownik %1\n%2: %3, priorytet %4")
                       .arg(id.trimmed().isEmpty() ? QStringLiteral("(nieodczytany)") : id, what,
                            stateText(a.state, a.notification()), priorityText(a.priority));
    body += QStringLiteral("\nWystąpił %1").arg(TAlarmListModel::timeText(a.raised));
    if (a.cleared.isValid())
        body += QStringLiteral(", ustąpił %1").arg(TAlarmListModel::timeText(a.cleared));
    notifier_->show(a.key, QStringLiteral("QTA-504: ") + a.text, body,
                    a.priority == AlarmPriority::High && a.unacknowledged());
}

void TAnnunciator::onTransition(const TAlarm& a, AlarmTransition t) {
    notify(a, transitionText(t));
    if (t == AlarmTransition::Raised && !a.shelved()) {
        if (hooks_.window)
            QApplication::alert(hooks_.window, 0);
        if (a.priority == AlarmPriority::High && hooks_.openAlarmWindow)
            hooks_.openAlarmWindow();
    }
}

void TAnnunciator::onRestored() {
    // What was waiting before the program stopped is announced again.
    bool high = false;
    for (const TAlarm& a : engine_.listed())
        if (a.unacknowledged() && !a.shelved()) {
            notify(a, QStringLiteral("Sprzed ponownego uruchomienia"));
            high = high || a.priority == AlarmPriority::High;
        }
    if (high && hooks_.openAlarmWindow)
        hooks_.openAlarmWindow();
}

void TAnnunciator::update() {
    const int n = engine_.unacknowledgedCount();
    if (sound_) {
        sound_->setEnabled(engine_.settings().sound);
        sound_->setRinging(engine_.settings().sound && engine_.highPriorityUnacknowledged());
    }
    if (tray_) {
        tray_->setIcon(countIcon(n));
        tray_->setToolTip(QStringLiteral("QTA-504: ") + unacknowledgedText(n));
        tray_->setVisible(n > 0);
    }
}

} // namespace qta
