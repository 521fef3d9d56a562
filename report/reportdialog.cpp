#include "report/reportdialog.h"

#include "report/reportchart.h"
#include "report/reportcontent.h"
#include "report/reportjob.h"
#include "report/reportpdf.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QVBoxLayout>

namespace qta {

namespace {

template <class W> W* tagged(W* w, const char* component, const QString& spoken) {
    w->setObjectName(QLatin1String(component));
    w->setAccessibleDescription(QLatin1String(component));
    w->setAccessibleName(spoken);
    return w;
}

// The longest piece of drawing before the window's events get their turn.
constexpr int kSliceMs = 15;

} // namespace

TRaportDialog::TRaportDialog(QString dataDir, ErrorBox errorBox, const QDate& today,
                             QWidget* parent)
    : QDialog(parent), dataDir_(std::move(dataDir)), errorBox_(std::move(errorBox)) {
    tagged(this, "RaportDialog", QStringLiteral("Raport z uruchomienia i serwisu"));
    setWindowTitle(QStringLiteral("Raport"));

    auto* period = tagged(new QGroupBox(QStringLiteral("Okres"), this), "Okres",
                          QStringLiteral("Okres raportu"));
    const auto dateBox = [&](const char* component, const QString& spoken, const QDate& d) {
        auto* e = tagged(new QDateEdit(d, period), component, spoken);
        e->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        e->setCalendarPopup(true);
        return e;
    };
    DataOd = dateBox("DataOd", QStringLiteral("Pierwszy dzień okresu"), today.addDays(-30));
    DataDo = dateBox("DataDo", QStringLiteral("Ostatni dzień okresu"), today);
    auto* periodForm = new QFormLayout(period);
    periodForm->addRow(QStringLiteral("&Od:"), DataOd);
    periodForm->addRow(QStringLiteral("D&o:"), DataDo);

    auto* parts = tagged(new QGroupBox(QStringLiteral("Części raportu"), this), "Czesci",
                         QStringLiteral("Części raportu"));
    auto* partsBox = new QVBoxLayout(parts);
    const auto part = [&](const char* component, const QString& caption, const QString& spoken) {
        auto* c = tagged(new QCheckBox(caption, parts), component, spoken);
        c->setChecked(true);
        partsBox->addWidget(c);
        return c;
    };
    SekcjaKonfiguracja = part("SekcjaKonfiguracja", QStringLiteral("&Konfiguracja i dostosowanie"),
                              QStringLiteral("Dołącz konfigurację i dostosowanie sterownika"));
    SekcjaRejestr = part("SekcjaRejestr", QStringLiteral("&Rejestr zdarzeń"),
                         QStringLiteral("Dołącz rejestr zdarzeń okresu"));
    SekcjaAlarmy = part("SekcjaAlarmy", QStringLiteral("&Dziennik alarmów"),
                        QStringLiteral("Dołącz dziennik alarmów okresu"));
    SekcjaWykresy = part("SekcjaWykresy", QStringLiteral("&Wykresy napięć"),
                         QStringLiteral("Dołącz wykresy napięć linii"));
    SekcjaPodsumowanie = part("SekcjaPodsumowanie", QStringLiteral("&Podsumowanie"),
                              QStringLiteral("Dołącz podsumowanie okresu"));

    PlikRaportu =
        tagged(new QLineEdit(this), "PlikRaportu", QStringLiteral("Nazwa pliku PDF raportu"));
    PlikRaportu->setText(
        QDir(dataDir_).filePath(QStringLiteral("raport_%1.pdf").arg(today.toString(Qt::ISODate))));
    WybierzPlik = tagged(new QPushButton(QStringLiteral("Wybierz…"), this), "WybierzPlik",
                         QStringLiteral("Wybierz plik PDF raportu"));
    auto* fileRow = new QHBoxLayout;
    auto* fileLabel = new QLabel(QStringLiteral("&Plik PDF:"), this);
    fileLabel->setBuddy(PlikRaportu);
    fileRow->addWidget(fileLabel);
    fileRow->addWidget(PlikRaportu, 1);
    fileRow->addWidget(WybierzPlik);

    Stan = tagged(new QLabel(this), "Stan", QStringLiteral("Stan raportu"));
    Stan->setWordWrap(true);

    ZapiszPDF = tagged(new QPushButton(QStringLiteral("&Zapisz PDF"), this), "ZapiszPDF",
                       QStringLiteral("Zapisz raport do pliku PDF"));
    Drukuj = tagged(new QPushButton(QStringLiteral("Drukuj…"), this), "Drukuj",
                    QStringLiteral("Drukuj raport"));
    Zamknij = tagged(new QPushButton(QStringLiteral("Zamknij"), this), "Zamknij",
                     QStringLiteral("Zamknij okno raportu"));
    ZapiszPDF->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ZapiszPDF);
    buttons->addWidget(Drukuj);
    buttons->addWidget(Zamknij);

    auto* top = new QHBoxLayout;
    top->addWidget(period, 1);
    top->addWidget(parts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(fileRow);
    layout->addWidget(Stan);
    layout->addLayout(buttons);
    resize(560, sizeHint().height());

    connect(WybierzPlik, &QPushButton::clicked, this, &TRaportDialog::chooseFile);
    connect(ZapiszPDF, &QPushButton::clicked, this, &TRaportDialog::savePdf);
    connect(Drukuj, &QPushButton::clicked, this, &TRaportDialog::print);
    connect(Zamknij, &QPushButton::clicked, this, &QDialog::accept);
    slice_.setSingleShot(true);
    slice_.setInterval(0);
    connect(&slice_, &QTimer::timeout, this, &TRaportDialog::drawSlice);
}

TRaportDialog::~TRaportDialog() {
    // The pages go before what they are drawn from; an unfinished file is
    // dropped.
    slice_.stop();
    painter_.reset();
    pdf_.reset();
}

TReportRequest TRaportDialog::request() const {
    TReportRequest r;
    r.dataDir = dataDir_;
    r.from = DataOd->date();
    r.to = DataDo->date();
    r.sections.configuration = SekcjaKonfiguracja->isChecked();
    r.sections.events = SekcjaRejestr->isChecked();
    r.sections.alarms = SekcjaAlarmy->isChecked();
    r.sections.charts = SekcjaWykresy->isChecked();
    r.sections.summary = SekcjaPodsumowanie->isChecked();
    return r;
}

QString TRaportDialog::periodProblem() const {
    if (DataOd->date() > DataDo->date())
        return QStringLiteral("Początek okresu (%1) przypada po jego końcu (%2)")
            .arg(DataOd->date().toString(Qt::ISODate), DataDo->date().toString(Qt::ISODate));
    return {};
}

void TRaportDialog::showState(const QString& text) {
    Stan->setText(text);
    Stan->setAccessibleName(QStringLiteral("Stan raportu: ") + text);
}

void TRaportDialog::chooseFile() {
    const QString f =
        QFileDialog::getSaveFileName(this, QStringLiteral("Plik raportu"), PlikRaportu->text(),
                                     QStringLiteral("Dokument PDF (*.pdf)"));
    if (!f.isEmpty())
        PlikRaportu->setText(f.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)
                                 ? f
                                 : f + QStringLiteral(".pdf"));
}

bool TRaportDialog::savePdf() {
    if (busy())
        return false; // one report at a time
    const QString file = PlikRaportu->text().trimmed();
    QString problem = periodProblem();
    if (problem.isEmpty() && file.isEmpty())
        problem = QStringLiteral("Nie podano nazwy pliku raportu");
    if (problem.isEmpty() && QFileInfo(file).isDir())
        problem = QStringLiteral("%1 jest folderem, nie plikiem").arg(file);
    if (!problem.isEmpty()) {
        showState(problem);
        if (errorBox_)
            errorBox_(problem);
        return false;
    }
    // A typed name of an existing file is replaced only when the user says so.
    if (QFileInfo::exists(file) && isVisible() &&
        QMessageBox::question(this, QStringLiteral("Raport"),
                              QStringLiteral("Plik %1 już istnieje. Zastąpić go?").arg(file)) !=
            QMessageBox::Yes)
        return false;
    file_ = file;
    start(QStringLiteral("Tworzenie raportu %1…").arg(QDir::toNativeSeparators(file)));
    return true;
}

bool TRaportDialog::printTo(std::unique_ptr<QPrinter> printer) {
    if (busy() || !printer)
        return false;
    if (const QString p = periodProblem(); !p.isEmpty()) {
        showState(p);
        if (errorBox_)
            errorBox_(p);
        return false;
    }
    file_.clear();
    printer_ = std::move(printer);
    start(QStringLiteral("Przygotowanie wydruku raportu…"));
    return true;
}

void TRaportDialog::start(const QString& what) {
    showState(what);
    ZapiszPDF->setEnabled(false);
    Drukuj->setEnabled(false);
    // The charts' columns need the plot (a widget, this thread); their
    // points are then asked for on the worker.
    const TReportRequest r = request();
    std::array<TColumns, 4> columns{};
    try {
        if (r.sections.charts && r.from && r.to)
            for (int line = 1; line <= 3; ++line)
                columns[size_t(line)] = TReportChart::columnsFor(line, wallMidnight(*r.from),
                                                                 wallMidnight(r.to->addDays(1)));
    } catch (const EReport&) {
        // No font for the pages: drawing them says so.
    }
    job_ = new TReportJob(r, columns, this);
    connect(job_, &TReportJob::finished, this, &TRaportDialog::gathered);
    // No steps to show while the folder is read: a busy bar, then the pages.
    progress_ = tagged(new QProgressDialog(what, QStringLiteral("Anuluj"), 0, 0, this),
                       "RaportPostep", QStringLiteral("Postęp tworzenia raportu"));
    progress_->setWindowTitle(QStringLiteral("Raport"));
    progress_->setWindowModality(Qt::WindowModal);
    progress_->setMinimumDuration(300);
    progress_->setAutoClose(false);
    progress_->setAutoReset(false);
    connect(progress_, &QProgressDialog::canceled, this, &TRaportDialog::cancel);
    job_->start();
}

void TRaportDialog::gathered(bool done, const QString& error) {
    made_ = job_->result();
    job_->deleteLater();
    job_ = nullptr;
    if (!done || !made_)
        return finish(error.isEmpty() ? End::Stopped : End::Failed, error);
    const TReportData& d = made_->data;
    try {
        if (printer_) {
            printer_->setFullPage(true);
            setupReportDevice(*printer_);
            printer_->setDocName(QStringLiteral("Raport SZR %1").arg(periodText(d.from, d.to)));
            painter_ = std::make_unique<TReportPainter>(made_->document, d.index.get(), *printer_);
        } else {
            pdf_ = std::make_unique<TReportPdfFile>(made_->document, d.index.get(), file_);
        }
    } catch (const EReport& e) {
        return finish(End::Failed, e.message());
    }
    progress_->setRange(0, 1000);
    slice_.start();
}

void TRaportDialog::drawSlice() {
    TReportPainter& pages = pdf_ ? pdf_->painter() : *painter_;
    QElapsedTimer clock;
    clock.start();
    try {
        bool more = true;
        while (more && clock.elapsed() < kSliceMs)
            more = pages.step();
        if (!more) {
            const TReportData& d = made_->data;
            if (pdf_) {
                const int count = pdf_->commit();
                pdf_.reset();
                return finish(End::Made, QStringLiteral("Zapisano raport %1: %2, %3 z okresu %4.")
                                             .arg(QDir::toNativeSeparators(file_),
                                                  polishCount(count, "strona", "strony", "stron"),
                                                  polishCount(qint64(d.events.size()), "zdarzenie",
                                                              "zdarzenia", "zdarzeń"),
                                                  periodText(d.from, d.to)));
            }
            const int count = pages.pageCount();
            painter_.reset();
            return finish(End::Made, QStringLiteral("Wysłano do drukarki: %1.")
                                         .arg(polishCount(count, "strona", "strony", "stron")));
        }
    } catch (const EReport& e) {
        pdf_.reset();
        painter_.reset();
        return finish(End::Failed, e.message());
    }
    // A window-modal progress dialog handles events in setValue(): "Anuluj"
    // may end the report right there, so the next slice is asked for after.
    progress_->setValue(int(pages.fraction() * 1000));
    if (pdf_ || painter_)
        slice_.start();
}

void TRaportDialog::cancel() {
    if (!busy())
        return;
    if (job_) {
        // The worker ends at its next step; nothing of it is wanted now.
        job_->stop();
        disconnect(job_, nullptr, this, nullptr);
        connect(job_, &TReportJob::finished, job_, &QObject::deleteLater);
        job_ = nullptr;
    }
    slice_.stop();
    pdf_.reset(); // the file is dropped
    if (painter_ && printer_)
        printer_->abort();
    painter_.reset();
    finish(End::Stopped, {});
}

void TRaportDialog::finish(End end, const QString& state) {
    const bool printing = bool(printer_);
    made_.reset();
    printer_.reset();
    if (progress_) {
        progress_->hide();
        progress_->deleteLater(); // this may run inside its setValue()
        progress_ = nullptr;
    }
    ZapiszPDF->setEnabled(true);
    Drukuj->setEnabled(true);
    if (end == End::Stopped)
        showState(printing ? QStringLiteral("Drukowanie raportu przerwano.")
                           : QStringLiteral("Raport przerwano; pliku nie zapisano."));
    else
        showState(state);
    if (end == End::Failed && errorBox_)
        errorBox_(state);
    Q_EMIT made(end == End::Made);
}

void TRaportDialog::done(int result) {
    cancel(); // closing the dialog stops a report being made
    QDialog::done(result);
}

void TRaportDialog::print() {
    if (const QString p = periodProblem(); !p.isEmpty()) {
        showState(p);
        if (errorBox_)
            errorBox_(p);
        return;
    }
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dialog(printer.get(), this);
    dialog.setWindowTitle(QStringLiteral("Drukuj raport"));
    if (dialog.exec() == QDialog::Accepted)
        printTo(std::move(printer));
}

} // namespace qta
