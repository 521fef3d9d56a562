#include "alarms/alarmsettingsdialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace qta {

TAlarmSettingsDialog::TAlarmSettingsDialog(const TAlarmSettings& current, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Alarmy – ustawienia"));
    setObjectName(QStringLiteral("AlarmyUstawienia"));
    setAccessibleName(QStringLiteral("Alarmy – ustawienia"));
    setAccessibleDescription(QStringLiteral("AlarmyUstawienia"));

    auto* which = new QGroupBox(QStringLiteral("Włączone alarmy"), this);
    which->setAccessibleName(QStringLiteral("Włączone alarmy"));
    auto* whichLayout = new QVBoxLayout(which);
    for (const TAlarmKindInfo& k : alarmKinds()) {
        auto* box = new QCheckBox(QString::fromUtf8(k.label), which);
        box->setObjectName(QStringLiteral("Alarm_") + QLatin1String(k.settingsKey));
        box->setAccessibleDescription(box->objectName());
        box->setAccessibleName(QStringLiteral("Alarm: ") + QString::fromUtf8(k.label) +
                               (k.priority == AlarmPriority::High
                                    ? QStringLiteral(" (priorytet wysoki)")
                                    : QStringLiteral(" (priorytet średni)")));
        box->setChecked(current.isEnabled(k.kind));
        whichLayout->addWidget(box);
        boxes_[k.kind] = box;
    }

    sound_ = new QCheckBox(QStringLiteral("&Dźwięk przy niepotwierdzonym alarmie o wysokim "
                                          "priorytecie"),
                           this);
    sound_->setObjectName(QStringLiteral("AlarmyDzwiek"));
    sound_->setAccessibleDescription(sound_->objectName());
    sound_->setAccessibleName(QStringLiteral("Dźwięk alarmu"));
    sound_->setChecked(current.sound);

    flicker_ = new QSpinBox(this);
    flicker_->setObjectName(QStringLiteral("AlarmyOpoznienie"));
    flicker_->setAccessibleDescription(flicker_->objectName());
    flicker_->setAccessibleName(
        QStringLiteral("Opóźnienie ustąpienia alarmu w sekundach (tłumi migotanie)"));
    flicker_->setRange(0, TAlarmSettings::kMaxFlickerSeconds);
    flicker_->setSuffix(QStringLiteral(" s"));
    flicker_->setValue(current.flickerSeconds);
    auto* flickerLabel = new QLabel(QStringLiteral("&Opóźnienie ustąpienia:"), this);
    flickerLabel->setBuddy(flicker_);
    flickerLabel->setToolTip(QStringLiteral(
        "Alarm, którego przyczyna znika i wraca w tym czasie, pozostaje jednym alarmem."));

    auto* form = new QFormLayout;
    form->addRow(flickerLabel, flicker_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Ok)->setAccessibleDescription(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Ok)
        ->setAccessibleName(QStringLiteral("Zapisz ustawienia alarmów"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Anuluj"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("Anuluj"));
    buttons->button(QDialogButtonBox::Cancel)->setAccessibleDescription(QStringLiteral("Anuluj"));
    buttons->button(QDialogButtonBox::Cancel)
        ->setAccessibleName(QStringLiteral("Zamknij bez zapisywania"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(which);
    layout->addWidget(sound_);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

TAlarmSettings TAlarmSettingsDialog::settings() const {
    TAlarmSettings s;
    for (const auto& [kind, box] : boxes_)
        s.enabled[kind] = box->isChecked();
    s.sound = sound_->isChecked();
    s.flickerSeconds = flicker_->value();
    return s;
}

} // namespace qta
