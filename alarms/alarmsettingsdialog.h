// "Alarmy – ustawienia": which alarms are on, the sound, the flicker delay.
// "OK" writes section [Alarmy] of the settings file and applies it at once.
#pragma once

#include "alarms/alarmsettings.h"

#include <QDialog>
#include <map>

class QCheckBox;
class QLabel;
class QSpinBox;

namespace qta {

class TAlarmSettingsDialog : public QDialog {
    Q_OBJECT
public:
    TAlarmSettingsDialog(const TAlarmSettings& current, QWidget* parent = nullptr);

    // What the boxes say now.
    TAlarmSettings settings() const;

    QCheckBox* kindBox(AlarmKind k) const { return boxes_.at(k); }
    QCheckBox* soundBox() const { return sound_; }
    QSpinBox* flickerBox() const { return flicker_; }

private:
    std::map<AlarmKind, QCheckBox*> boxes_;
    QCheckBox* sound_;
    QSpinBox* flicker_;
};

} // namespace qta
