// The alarm sound: a short sound file of the project's, played at once and
// then every few seconds while ringing. No audio device, or a sound that does
// not load, is not an error: the program stays silent and says so once on
// standard error.
#pragma once

#include <QObject>
#include <QTimer>

class QSoundEffect;

namespace qta {

class TAlarmSound : public QObject {
    Q_OBJECT
public:
    explicit TAlarmSound(QObject* parent = nullptr);
    ~TAlarmSound() override;

    void setEnabled(bool on); // the user's setting; off stops the ringing
    bool enabled() const { return enabled_; }
    void setRinging(bool on);
    bool ringing() const { return timer_.isActive(); }
    void setIntervalMs(int ms) { timer_.setInterval(ms); }
    int intervalMs() const { return timer_.interval(); }
    // How many times the sound was started (for tests; counted also when
    // there is no device to hear it).
    int playCount() const { return plays_; }

private:
    void play();

    QSoundEffect* effect_ = nullptr;
    QTimer timer_;
    bool enabled_ = true;
    int plays_ = 0;
    bool said_ = false;
};

} // namespace qta
