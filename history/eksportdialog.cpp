#include "history/eksportdialog.h"

#include "history/csvexport.h"
#include "tables/table.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QVBoxLayout>

namespace qta {

namespace {

// The day of a row of the event log (DATA "2007-03-07 "), invalid when unreadable.
QDate rowDay(TTable& t, int row) {
    const int f = t.fieldIndex(QStringLiteral("DATA"));
    if (f < 0 || row < 0 || row >= t.RecordCount())
        return {};
    try {
        return QDate::fromString(t.stringValue(row, f).left(10), QStringLiteral("yyyy-MM-dd"));
    } catch (const ETable&) {
        return {};
    }
}

void describe(QWidget* w, const char* component, const QString& name) {
    w->setObjectName(QLatin1String(component));
    w->setAccessibleDescription(QLatin1String(component));
    w->setAccessibleName(name);
}

} // namespace

TEksportDialog::TEksportDialog(TTable& table, const QString& fileName, QWidget* parent)
    : QDialog(parent), table_(table) {
    describe(this, "EksportDialog", QStringLiteral("Eksport rejestru do pliku CSV"));
    setWindowTitle(QStringLiteral("Eksport rejestru do CSV"));

    // Without a tick the period is open on that side; the dates start at the
    // first and the last row of the log.
    const QDate today = QDate::currentDate();
    QDate first = rowDay(table, 0);
    QDate last = rowDay(table, table.RecordCount() - 1);
    if (!first.isValid())
        first = today;
    if (!last.isValid())
        last = today;
    const auto dateEdit = [this](const QDate& d) {
        auto* e = new QDateEdit(d, this);
        e->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        e->setCalendarPopup(true);
        e->setEnabled(false);
        return e;
    };
    fromCheck_ = new QCheckBox(QStringLiteral("Od dnia"), this);
    describe(fromCheck_, "OdCheck", QStringLiteral("Ogranicz okres od dnia"));
    fromDate_ = dateEdit(first);
    describe(fromDate_, "OdData", QStringLiteral("Pierwszy dzień okresu"));
    toCheck_ = new QCheckBox(QStringLiteral("Do dnia"), this);
    describe(toCheck_, "DoCheck", QStringLiteral("Ogranicz okres do dnia"));
    toDate_ = dateEdit(last);
    describe(toDate_, "DoData", QStringLiteral("Ostatni dzień okresu"));
    connect(fromCheck_, &QCheckBox::toggled, fromDate_, &QWidget::setEnabled);
    connect(toCheck_, &QCheckBox::toggled, toDate_, &QWidget::setEnabled);

    file_ = new QLineEdit(fileName, this);
    describe(file_, "PlikEdit", QStringLiteral("Nazwa pliku CSV"));
    auto* browse = new QPushButton(QStringLiteral("Wybierz…"), this);
    describe(browse, "PlikButton", QStringLiteral("Wybierz plik CSV"));
    connect(browse, &QPushButton::clicked, this, &TEksportDialog::chooseFile);

    error_ = new QLabel(this);
    describe(error_, "Blad", QStringLiteral("Błąd eksportu"));
    error_->setWordWrap(true);
    error_->setStyleSheet(QStringLiteral("color: #b00000"));
    error_->hide();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    ok_->setText(QStringLiteral("Eksportuj"));
    describe(ok_, "OK", QStringLiteral("Zapisz plik CSV"));
    QPushButton* cancel = buttons->button(QDialogButtonBox::Cancel);
    cancel->setText(QStringLiteral("Anuluj"));
    describe(cancel, "Anuluj", QStringLiteral("Zamknij bez zapisu"));
    connect(buttons, &QDialogButtonBox::accepted, this, &TEksportDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TEksportDialog::reject);

    auto* form = new QFormLayout;
    form->addRow(fromCheck_, fromDate_);
    form->addRow(toCheck_, toDate_);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(file_, 1);
    fileRow->addWidget(browse);
    form->addRow(QStringLiteral("Plik:"), fileRow);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Wiersze rejestru z wybranego okresu (bez "
                                                "zaznaczenia: cały rejestr)"),
                                 this));
    layout->addLayout(form);
    layout->addWidget(error_);
    layout->addWidget(buttons);
    resize(420, sizeHint().height());
}

TExportPeriod TEksportDialog::period() const {
    TExportPeriod p;
    if (fromCheck_->isChecked())
        p.from = fromDate_->date();
    if (toCheck_->isChecked())
        p.to = toDate_->date();
    return p;
}

void TEksportDialog::chooseFile() {
    const QString name =
        QFileDialog::getSaveFileName(this, QStringLiteral("Eksport rejestru do CSV"), file_->text(),
                                     QStringLiteral("Pliki CSV (*.csv);;Wszystkie pliki (*)"));
    if (!name.isEmpty()) {
        file_->setText(name);
        confirmed_ = name; // the chooser has asked about replacing it
    }
}

void TEksportDialog::fail(const QString& text) {
    error_->setText(text);
    error_->setAccessibleName(QStringLiteral("Błąd eksportu: ") + text);
    error_->show();
}

void TEksportDialog::accept() {
    if (job_)
        return; // one export at a time
    const QString name = file_->text().trimmed();
    if (name.isEmpty())
        return fail(QStringLiteral("Podaj nazwę pliku CSV."));
    const TExportPeriod p = period();
    if (const QString problem = p.problem(); !problem.isEmpty())
        return fail(problem + QStringLiteral("; popraw daty."));
    if (QFileInfo::exists(name) && QFileInfo(name) != QFileInfo(confirmed_)) {
        QMessageBox ask(QMessageBox::Question, windowTitle(),
                        QStringLiteral("Plik %1 już istnieje. Czy zastąpić go?").arg(name),
                        QMessageBox::Yes | QMessageBox::No, this);
        ask.setObjectName(QStringLiteral("ZastapPlik"));
        ask.button(QMessageBox::Yes)->setText(QStringLiteral("Zastąp"));
        ask.button(QMessageBox::No)->setText(QStringLiteral("Nie zastępuj"));
        ask.setDefaultButton(QMessageBox::No);
        if (ask.exec() != QMessageBox::Yes)
            return;
    }
    error_->hide();
    ok_->setEnabled(false);
    job_ = new TTableExportJob(table_.fileName(), name, p, this);
    progress_ = new QProgressDialog(QStringLiteral("Eksport rejestru do pliku %1…").arg(name),
                                    QStringLiteral("Anuluj"), 0, 100, this);
    describe(progress_, "EksportPostep", QStringLiteral("Postęp eksportu rejestru"));
    progress_->setWindowModality(Qt::WindowModal);
    progress_->setMinimumDuration(300);
    progress_->setAutoClose(false);
    progress_->setAutoReset(false);
    connect(progress_, &QProgressDialog::canceled, job_, &TTableExportJob::stop);
    connect(job_, &TTableExportJob::progress, progress_, [this](qint64 done, qint64 total) {
        if (progress_ && total > 0)
            progress_->setValue(int(done * 100 / total));
    });
    connect(job_, &TTableExportJob::finished, this, &TEksportDialog::finished);
    job_->start();
}

void TEksportDialog::reject() {
    if (job_)
        job_->stop(); // the worker ends at its next report and leaves no file
    QDialog::reject();
}

void TEksportDialog::finished(bool written, const QString& error) {
    const qint64 rows = job_->rows();
    job_->deleteLater();
    job_ = nullptr;
    progress_->deleteLater();
    progress_ = nullptr;
    ok_->setEnabled(true);
    if (!written) {
        fail(error.isEmpty() ? QStringLiteral("Eksport przerwano; pliku nie zapisano.") : error);
        return;
    }
    rows_ = rows;
    Q_EMIT exported(file_->text().trimmed(), rows_);
    QDialog::accept();
}

} // namespace qta
