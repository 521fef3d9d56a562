#include "alarms/alarmsound.h"

#include <QSoundEffect>
#include <cstdio>

namespace qta {

TAlarmSound::TAlarmSound(QObject* parent) : QObject(parent) {
    timer_.setInterval(5000);
    connect(&timer_, &QTimer::timeout, this, &TAlarmSound::play);
}

TAlarmSound::~TAlarmSound() = default;

void TAlarmSound::setEnabled(bool on) {
    enabled_ = on;
    if (!on)
        setRinging(false);
}

void TAlarmSound::setRinging(bool on) {
    on = on && enabled_;
    if (on == timer_.isActive())
        return;
    if (!on) {
        timer_.stop();
        if (effect_)
            effect_->stop();
        return;
    }
    timer_.start();
    play();
}

void TAlarmSound::play() {
    ++plays_;
    if (!effect_) {
        // Made on first use: a program that never rings never opens the audio system.
        effect_ = new QSoundEffect(this);
        effect_->setSource(QUrl(QStringLiteral("qrc:/artwork/alarm.wav")));
        connect(effect_, &QSoundEffect::statusChanged, this, [this] {
            if (effect_->status() == QSoundEffect::Error && !said_) {
                said_ = true;
                std::fprintf(stderr, "qta504: dźwięk alarmu niedostępny (brak urządzenia "
                                     "dźwiękowego lub pliku dźwięku)\n");
            }
        });
    }
    effect_->play();
}

} // namespace qta
