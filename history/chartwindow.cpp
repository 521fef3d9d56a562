#include "history/chartwindow.h"

#include "artwork/artwork.h"
#include "history/lineexport.h"
#include "history/linehistory.h"

#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QSaveFile>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <qcustomplot.h>

namespace qta {

TWykres::TWykres(const TChartLine& line, TLineHistory& history, ErrorBox errorBox, Clock clock,
                 QWidget* parent)
    : QWidget(parent), line_(line), history_(history), errorBox_(std::move(errorBox)),
      clock_(std::move(clock)) {
    const QString instance = QLatin1String(line.instance);
    setObjectName(instance);
    setAccessibleDescription(instance);
    setWindowTitle(QLatin1String(line.caption));
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    setMinimumHeight(200);
    resize(754, 418);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setAccessibleName(QStringLiteral("Pasek przycisków wykresu"));
    bar->setAccessibleDescription(QStringLiteral("ToolBar1"));
    bar->setFixedHeight(36);
    bar->setContentsMargins(2, 2, 2, 2);
    bar->setIconSize(QSize(56, 28));
    bar->setMovable(false);
    ZmniejszSkale =
        addButton(bar, "ZmniejszSkale", QStringLiteral("Zmniejsz skalę: węższy przedział czasu"),
                  "chart_scale_down.svg", &TWykres::ZmniejszSkaleClick);
    ZwiekszSkale =
        addButton(bar, "ZwiekszSkale", QStringLiteral("Zwiększ skalę: szerszy przedział czasu"),
                  "chart_scale_up.svg", &TWykres::ZwiekszSkaleClick);
    LewoButton = addButton(bar, "LewoButton", QStringLiteral("Przesuń wykres wstecz"),
                           "chart_left.svg", &TWykres::LewoButtonClick);
    TerazButton = addButton(bar, "TerazButton", QStringLiteral("Pokaż chwilę obecną"),
                            "chart_now.svg", &TWykres::TerazButtonClick);
    PrawoButton = addButton(bar, "PrawoButton", QStringLiteral("Przesuń wykres naprzód"),
                            "chart_right.svg", &TWykres::PrawoButtonClick);
    layout->addWidget(bar);

    Chart = new QCustomPlot(this);
    Chart->setObjectName(QStringLiteral("Chart1"));
    Chart->setAccessibleDescription(QStringLiteral("Chart1"));
    setupChartPlot(Chart, line_);
    Chart->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Chart, &QWidget::customContextMenuRequested, this, &TWykres::showContextMenu);
    Chart->setMouseTracking(true);
    Chart->installEventFilter(this);
    layout->addWidget(Chart, 1);

    auto* status = new QStatusBar(this);
    status->setObjectName(QStringLiteral("StatusBar1"));
    status->setSizeGripEnabled(false);
    StatusText = new QLabel(status);
    StatusText->setObjectName(QStringLiteral("StatusBar1_Panel0"));
    StatusText->setAccessibleDescription(QStringLiteral("StatusBar1.Panels[0]"));
    status->addWidget(StatusText, 1);
    Progress = new QLabel(status);
    Progress->setObjectName(QStringLiteral("IndexProgress"));
    Progress->setAccessibleDescription(QStringLiteral("IndexProgress"));
    Progress->hide();
    status->addPermanentWidget(Progress);
    layout->addWidget(status);

    Timer.setObjectName(QStringLiteral("Timer1"));
    connect(&Timer, &QTimer::timeout, this, &TWykres::TimerTimer);
    RefreshTimer.setObjectName(QStringLiteral("RefreshTimer"));
    RefreshTimer.setInterval(5000);
    connect(&RefreshTimer, &QTimer::timeout, this, &TWykres::RefreshTimerTimer);
    connect(&history_, &TLineHistory::progress, this, &TWykres::showProgress);
    connect(&history_, &TLineHistory::ready, this, [this] {
        Progress->hide();
        reload(false);
    });
    connect(&history_, &TLineHistory::noted, this, &TWykres::showNote);
    connect(&history_, &TLineHistory::failed, this, [this](const QString& m) {
        Progress->hide();
        if (errorBox_)
            errorBox_(m);
    });

    // Opening: scale 2 at the present.
    state.create(clock_());
    Timer.start(int(state.periodMs()));
    RefreshTimer.start();
    Skaluj();
    reload(true);
}

QToolButton* TWykres::addButton(QToolBar* bar, const char* name, const QString& spoken,
                                const char* picture, void (TWykres::*click)()) {
    auto* b = new QToolButton(bar);
    b->setObjectName(QLatin1String(name));
    b->setAccessibleDescription(QLatin1String(name));
    b->setAccessibleName(spoken);
    b->setToolTip(spoken);
    b->setToolButtonStyle(Qt::ToolButtonIconOnly);
    b->setFixedSize(60, 32);
    b->setIconSize(QSize(56, 28));
    b->setIcon(QIcon(artworkPixmap(QLatin1String(picture), QSize(56, 28))));
    connect(b, &QToolButton::clicked, this, click);
    bar->addWidget(b);
    return b;
}

void TWykres::ZmniejszSkaleClick() {
    if (state.ZmniejszSkale()) {
        Timer.setInterval(int(state.periodMs()));
        Skaluj();
    }
    reload(true);
}

void TWykres::ZwiekszSkaleClick() {
    if (state.ZwiekszSkale()) {
        Timer.setInterval(int(state.periodMs()));
        Skaluj();
    }
    reload(true);
}

void TWykres::LewoButtonClick() {
    state.Lewo();
    Skaluj();
    reload(true);
}

void TWykres::TerazButtonClick() {
    state.Teraz(clock_());
    Skaluj();
    reload(true);
}

void TWykres::PrawoButtonClick() {
    state.Prawo(clock_());
    Skaluj();
    reload(true);
}

void TWykres::TimerTimer() {
    state.Tick();
    Skaluj();
    reload(false);
}

void TWykres::RefreshTimerTimer() { reload(false); }

void TWykres::Skaluj() {
    state.Skaluj();
    setChartRange(Chart, state.from(), state.Max);
    StatusText->setText(state.statusText());
    StatusText->setAccessibleName(QStringLiteral("Skala wykresu: ") + state.statusText());
    updateAccessibleName();
}

void TWykres::updateAccessibleName() {
    Chart->setAccessibleName(
        QStringLiteral("Wykres napięć faz L1, L2, L3 linii N%1; %2; okres od "
                       "%3 do %4")
            .arg(line_.line)
            .arg(state.statusText().trimmed(), wallText(state.from()), wallText(state.Max)));
    setAccessibleName(QLatin1String(line_.caption) + QStringLiteral(": ") +
                      Chart->accessibleName());
}

void TWykres::reload(bool byUser) {
    ++reloads_;
    reloadQueued_ = false;
    try {
        history_.refresh();
        failureShown_ = false;
    } catch (const std::exception& e) {
        // The timers would repeat the same box every few seconds: the first
        // failure and every one the user causes are shown.
        if ((byUser || !failureShown_) && errorBox_)
            errorBox_(QString::fromUtf8(e.what()));
        failureShown_ = true;
        setChartSeries(Chart, {});
        Chart->replot();
        return;
    }
    const TLineIndex* index = history_.index();
    if (index)
        setChartSeries(Chart, index->query(line_.line, plotColumns(Chart)));
    else
        setChartSeries(Chart, {});
    if (history_.building())
        showProgress(history_.progressPercent());
    Chart->replot();
}

void TWykres::showProgress(int percent) {
    QString text = QStringLiteral("Indeksowanie historii napięć: %1 %").arg(percent);
    if (!history_.keptNote().isEmpty())
        text += QStringLiteral(" (%1)").arg(history_.keptNote());
    Progress->setText(text);
    Progress->setAccessibleName(text);
    Progress->show();
}

void TWykres::showNote(const QString& message) {
    if (history_.building()) {
        showProgress(history_.progressPercent());
        return;
    }
    // After the build (the index file could not be written): for a while.
    Progress->setText(message);
    Progress->setAccessibleName(message);
    Progress->show();
    QTimer::singleShot(10000, Progress, [this, message] {
        if (!history_.building() && Progress->text() == message)
            Progress->hide();
    });
}

bool TWykres::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Chart) {
        if (event->type() == QEvent::Resize && !reloadQueued_) {
            // The points depend on the width: one reload once the resizing settles.
            reloadQueued_ = true;
            QTimer::singleShot(0, this, [this] {
                if (reloadQueued_)
                    reload(false);
            });
        } else if (event->type() == QEvent::MouseMove) {
            const auto* m = static_cast<QMouseEvent*>(event);
            const QPointF p = m->position();
            const QString text =
                Chart->axisRect()->rect().contains(p.toPoint())
                    ? rowText(TWallMs(std::llround(Chart->xAxis->pixelToCoord(p.x()) * 1000)))
                    : QString();
            if (text.isEmpty())
                QToolTip::hideText();
            else
                QToolTip::showText(m->globalPosition().toPoint(), text, Chart);
        }
    }
    return QWidget::eventFilter(watched, event);
}

QString TWykres::rowText(TWallMs t) const {
    const TLineIndex* index = history_.index();
    const qint64 r = index ? index->nearest(t, line_.line) : -1;
    if (r < 0)
        return {};
    const TLineFile& f = index->file();
    const int k = 3 * (line_.line - 1);
    const auto volts = [&](int i) {
        const int v = f.volts(r, k + i);
        return v == kNoVolts ? QStringLiteral("brak") : QStringLiteral("%1 V").arg(v);
    };
    return QStringLiteral("%1\nL1: %2\nL2: %3\nL3: %4")
        .arg(wallText(f.time(r)), volts(0), volts(1), volts(2));
}

void TWykres::showContextMenu(const QPoint& at) {
    QMenu menu(this);
    QAction* png = menu.addAction(QStringLiteral("Zapisz obraz…"));
    png->setObjectName(QStringLiteral("SaveImage"));
    QAction* csv = menu.addAction(QStringLiteral("Eksportuj widoczny okres do CSV…"));
    csv->setObjectName(QStringLiteral("ExportCsv"));
    csv->setEnabled(!export_);
    QAction* chosen = menu.exec(Chart->mapToGlobal(at));
    if (!chosen)
        return;
    const bool image = chosen == png;
    const QString file = QFileDialog::getSaveFileName(
        this, chosen->text(),
        QStringLiteral("%1.%2").arg(QLatin1String(line_.instance), image ? "png" : "csv"),
        image ? QStringLiteral("Obraz PNG (*.png)") : QStringLiteral("Plik CSV (*.csv)"));
    if (file.isEmpty())
        return;
    QString error;
    if (!(image ? savePicture(file, &error) : exportVisible(file, &error)) && errorBox_)
        errorBox_(error);
}

bool TWykres::savePicture(const QString& file, QString* error) {
    // Written whole or not at all: a full disk leaves no broken picture.
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || !Chart->toPixmap().save(&out, "PNG") || !out.commit()) {
        *error = QStringLiteral("Nie można zapisać obrazu wykresu do pliku %1: %2")
                     .arg(file, out.errorString());
        return false;
    }
    return true;
}

bool TWykres::exportVisible(const QString& file, QString* error) {
    if (export_) {
        *error = QStringLiteral("Eksport do pliku %1 jeszcze trwa").arg(export_->fileName());
        return false;
    }
    const TLineIndex* index = history_.index();
    if (!index) {
        *error = QStringLiteral("Historia napięć jest jeszcze indeksowana; spróbuj za chwilę");
        return false;
    }
    export_ =
        new TLineExportJob(TLineExport(*index, line_.line, state.from(), state.Max), file, this);
    // A long export shows its progress and can be cancelled; the window
    // keeps drawing meanwhile.
    auto* dialog = new QProgressDialog(
        QStringLiteral("Eksport %1 wierszy do pliku %2…").arg(export_->rowCount()).arg(file),
        QStringLiteral("Anuluj"), 0, 1000, this);
    dialog->setObjectName(QStringLiteral("ExportProgress"));
    dialog->setAccessibleDescription(QStringLiteral("ExportProgress"));
    dialog->setAccessibleName(QStringLiteral("Postęp eksportu do pliku CSV"));
    dialog->setWindowTitle(QStringLiteral("Eksport do CSV"));
    dialog->setMinimumDuration(500);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setValue(0);
    connect(dialog, &QProgressDialog::canceled, export_, &TLineExportJob::stop);
    connect(export_, &TLineExportJob::progress, dialog, [dialog](qint64 done, qint64 total) {
        dialog->setValue(int(done * 1000 / std::max<qint64>(1, total)));
    });
    connect(export_, &TLineExportJob::finished, this,
            [this, dialog, file](bool written, const QString& failure) {
                const qint64 rows = export_->rowCount();
                dialog->deleteLater();
                export_->deleteLater();
                export_ = nullptr;
                if (!failure.isEmpty() && errorBox_)
                    errorBox_(failure);
                Q_EMIT exportFinished(file, written, failure);
                if (written)
                    findChild<QStatusBar*>()->showMessage(
                        QStringLiteral("Zapisano %1 wierszy do pliku %2").arg(rows).arg(file),
                        5000);
            });
    export_->start();
    return true;
}

QWidget* createChartWindow(int line, TLineHistory& history, TWykres::ErrorBox errorBox) {
    return new TWykres(chartLine(line), history, std::move(errorBox));
}

} // namespace qta
