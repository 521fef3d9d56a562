// The clock window: the PC's date and time, and "Synchronizacja" that sets the
// controller's clock from them. It reads nothing from the controller.
#pragma once

#include "editors/editorwindow.h"

#include <QDateTime>
#include <QTimer>
#include <functional>

class QLabel;
class QPushButton;

namespace qta {

// Closing schedules no re-read: the controller's clock is not read back.
class TZegar : public TEditorWindow {
    Q_OBJECT
public:
    explicit TZegar(TQTA504Core& core, QWidget* parent = nullptr);

    // The PC's clock (tests put their own time here).
    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTime(); };

    void TimerTimer();
    // Sends the clock frame with the link up; the window stays open.
    void Button1Click();
    void Anuluj_ButtonClick();

    // The system's long time format without a time-zone name (the controller has none).
    static QString timeFormat();

    QLabel* Label1 = nullptr;
    QLabel* Data_Label = nullptr;
    QLabel* Godz_Label = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Anuluj_Button = nullptr;
    QTimer Timer;
};

} // namespace qta
