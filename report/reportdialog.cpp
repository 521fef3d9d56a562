#include "report/reportdialog.h"

#include "report/reportcontent.h"
#include "report/reportpdf.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
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

// A wait cursor for as long as the report is being made.
struct TBusy {
    TBusy() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TBusy() { QApplication::restoreOverrideCursor(); }
};

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
    showState(QStringLiteral("Tworzenie raportu…"));
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    try {
        TBusy busy;
        const TReportFile r = makeReportPdf(request(), file);
        showState(QStringLiteral("Zapisano raport %1: %2, %3 z okresu %4.")
                      .arg(QDir::toNativeSeparators(file),
                           polishCount(r.pages, "strona", "strony", "stron"),
                           polishCount(r.events, "zdarzenie", "zdarzenia", "zdarzeń"),
                           periodText(r.from, r.to)));
        return true;
    } catch (const EReport& e) {
        showState(e.message());
        if (errorBox_)
            errorBox_(e.message());
        return false;
    }
}

bool TRaportDialog::printTo(QPrinter& printer) {
    try {
        TBusy busy;
        const TReportData d = gatherReport(request());
        printer.setFullPage(true);
        setupReportDevice(printer);
        printer.setDocName(QStringLiteral("Raport SZR %1").arg(periodText(d.from, d.to)));
        const int pages = paintReport(reportDocument(d), d.index.get(), printer);
        showState(QStringLiteral("Wysłano do drukarki: %1.")
                      .arg(polishCount(pages, "strona", "strony", "stron")));
        return true;
    } catch (const EReport& e) {
        showState(e.message());
        if (errorBox_)
            errorBox_(e.message());
        return false;
    }
}

void TRaportDialog::print() {
    if (const QString p = periodProblem(); !p.isEmpty()) {
        showState(p);
        if (errorBox_)
            errorBox_(p);
        return;
    }
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, this);
    dialog.setWindowTitle(QStringLiteral("Drukuj raport"));
    if (dialog.exec() == QDialog::Accepted)
        printTo(printer);
}

} // namespace qta
