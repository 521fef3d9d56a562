// The demonstration panel: nine phase voltages that it changes by a random
// walk and sends to the controller, which then reports them as measured.
#pragma once

#include "settings/demostep.h"

#include <QTimer>
#include <QWidget>
#include <array>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;

namespace qta {

class TQTA504Core;

class TDemoForm : public QWidget {
    Q_OBJECT
public:
    // Opening starts with the mode off and, with the link up, sends the mode-0 frame.
    explicit TDemoForm(TQTA504Core& core, QWidget* parent = nullptr);
    ~TDemoForm() override;

    // The step's random draws (tests give their own; the default is seeded from the clock).
    void setRandom(TDemoRandom random) { random_ = std::move(random); }

    // Handlers.
    void DemoAktywneClick();
    void DemoOFFClick();
    void TimerTimer();
    void Button2Click(); // all three buttons: the nine fields to 230
    // Sends the frame of mode 1 built from the fields, with the link up.
    void Send_Data();

    std::array<QLineEdit*, 9> Edit{};
    std::array<QSlider*, 3> Szum{};
    std::array<QSlider*, 3> Trend{};
    std::array<QLabel*, 3> SzumLabel{};  // Label15..17
    std::array<QLabel*, 3> TrendLabel{}; // Label11..13
    QSlider* Czas = nullptr;
    QRadioButton* DemoOFF = nullptr;
    QRadioButton* DemoAktywne = nullptr;
    QCheckBox* Symetria = nullptr;
    QPushButton* Button1 = nullptr; // "OK", invisible
    QPushButton* Button2 = nullptr; // "Anuluj"
    QPushButton* Button3 = nullptr; // "230V"
    QTimer Timer;

    TDemoSettings settings() const;
    std::array<QString, 9> fieldTexts() const;

private:
    void build();
    void sendFrame(int mode);
    void describeField(int k);
    void describeSliders();

    TQTA504Core& core_;
    TDemoRandom random_;
    bool failureShown_ = false;
};

} // namespace qta
