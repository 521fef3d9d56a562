// The voltage chart windows Wykres_N1, Wykres_N2 and Wykres_N3: one class, a
// line table entry each. The window asks the shared history for the points to
// draw at its width; it never reads the rows itself.
#pragma once

#include "history/chartplot.h"
#include "history/chartstate.h"

#include <QTimer>
#include <QWidget>
#include <functional>

class QCustomPlot;
class QLabel;
class QToolBar;
class QToolButton;

namespace qta {

class TLineExportJob;
class TLineHistory;

class TWykres : public QWidget {
    Q_OBJECT
public:
    using Clock = std::function<TWallMs()>;
    using ErrorBox = std::function<void(const QString&)>;

    TWykres(const TChartLine& line, TLineHistory& history, ErrorBox errorBox, Clock clock = wallNow,
            QWidget* parent = nullptr);

    const TChartLine& line() const { return line_; }
    TChartState state;

    // The buttons, the timer and the automatic refresh.
    void ZmniejszSkaleClick();
    void ZwiekszSkaleClick();
    void LewoButtonClick();
    void TerazButtonClick();
    void PrawoButtonClick();
    void TimerTimer();
    void RefreshTimerTimer();

    // Set the time axis and status text from the state.
    void Skaluj();
    // Asks the history for the points at the current range and width and draws them.
    void reload(bool byUser);
    int reloadCount() const { return reloads_; }

    // Context menu actions; false with a Polish message when they cannot be done.
    // The picture is written at once; the export of the visible period runs
    // on a worker with a progress dialog and ends with exportFinished (a
    // failure also goes to the error box).
    bool savePicture(const QString& file, QString* error);
    bool exportVisible(const QString& file, QString* error);
    bool exporting() const { return export_ != nullptr; }
    // The tooltip text for the row nearest to time t that holds a voltage of
    // the line (empty when none); a missing phase reads "brak".
    QString rowText(TWallMs t) const;

    QTimer Timer;        // period from the scale table
    QTimer RefreshTimer; // every 5 seconds
    QCustomPlot* Chart = nullptr;
    QLabel* StatusText = nullptr;
    QLabel* Progress = nullptr;
    QToolButton* ZmniejszSkale = nullptr;
    QToolButton* ZwiekszSkale = nullptr;
    QToolButton* LewoButton = nullptr;
    QToolButton* TerazButton = nullptr;
    QToolButton* PrawoButton = nullptr;

Q_SIGNALS:
    // `error` is empty when written or cancelled.
    void exportFinished(const QString& file, bool written, const QString& error);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QToolButton* addButton(QToolBar* bar, const char* name, const QString& spoken,
                           const char* picture, void (TWykres::*click)());
    void showContextMenu(const QPoint& at);
    void showProgress(int percent);
    // The kept index file was set aside, or could not be written.
    void showNote(const QString& message);
    void updateAccessibleName();

    const TChartLine& line_;
    TLineHistory& history_;
    ErrorBox errorBox_;
    Clock clock_;
    int reloads_ = 0;
    bool failureShown_ = false;
    bool reloadQueued_ = false;
    TLineExportJob* export_ = nullptr;
};

// The window for line 1..3.
QWidget* createChartWindow(int line, TLineHistory& history, TWykres::ErrorBox errorBox);

} // namespace qta
