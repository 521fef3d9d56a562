// "Połączenie" → "Raport…": the period, the parts to include and a file name;
// "Zapisz PDF" writes the report, "Drukuj…" sends it to a printer through
// the system's print dialog. The report itself is made by the core and
// report/reportpdf.*; the dialog only asks, and keeps the window live while
// it is made: the data folder is read on a worker (report/reportjob.*), the
// pages are drawn on this thread in short pieces between its events, with a
// progress dialog whose "Anuluj" stops it (no file is left behind then).
#pragma once

#include "report/reportdata.h"

#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPrinter;
class QProgressDialog;
class QPushButton;

namespace qta {

class TReportJob;
class TReportPainter;
class TReportPdfFile;
struct TReportMade;

class TRaportDialog : public QDialog {
    Q_OBJECT
public:
    using ErrorBox = std::function<void(const QString&)>;
    // `dataDir` holds rejestr/; `today` is the last day offered.
    TRaportDialog(QString dataDir, ErrorBox errorBox, const QDate& today = QDate::currentDate(),
                  QWidget* parent = nullptr);
    ~TRaportDialog() override;

    QDateEdit* DataOd = nullptr;
    QDateEdit* DataDo = nullptr;
    QCheckBox* SekcjaKonfiguracja = nullptr;
    QCheckBox* SekcjaRejestr = nullptr;
    QCheckBox* SekcjaAlarmy = nullptr;
    QCheckBox* SekcjaWykresy = nullptr;
    QCheckBox* SekcjaPodsumowanie = nullptr;
    QLineEdit* PlikRaportu = nullptr;
    QPushButton* WybierzPlik = nullptr;
    QPushButton* ZapiszPDF = nullptr;
    QPushButton* Drukuj = nullptr;
    QPushButton* Zamknij = nullptr;
    QLabel* Stan = nullptr;

    // What the controls ask for.
    TReportRequest request() const;
    // Starts writing the PDF to the file named; false (and the reason shown)
    // when it cannot start. `made` tells how it ended.
    bool savePdf();
    // Starts drawing the report on a printer the print dialog has set up.
    bool printTo(std::unique_ptr<QPrinter> printer);
    // A report is being made.
    bool busy() const { return job_ || pdf_ || painter_; }
    // "Anuluj" of the progress dialog: stops, leaves no file.
    void cancel();
    QProgressDialog* progressDialog() const { return progress_; }

    void done(int result) override;

Q_SIGNALS:
    // The report was written or printed (`ok`), or not: stopped or failed,
    // the reason in the status line.
    void made(bool ok);

private:
    void chooseFile();
    void print();
    void showState(const QString& text);
    // Why the period cannot be used, or empty.
    QString periodProblem() const;
    // The worker's part, then the pages drawn into `target` (the file or the
    // printer) slice by slice.
    void start(const QString& what);
    void gathered(bool done, const QString& error);
    void drawSlice();
    enum class End { Made, Stopped, Failed };
    void finish(End end, const QString& state);

    QString dataDir_;
    ErrorBox errorBox_;
    QString file_;                      // the PDF being written; empty when printing
    std::unique_ptr<QPrinter> printer_; // the printer being drawn on
    TReportJob* job_ = nullptr;
    std::shared_ptr<const TReportMade> made_;
    std::unique_ptr<TReportPdfFile> pdf_;
    std::unique_ptr<TReportPainter> painter_; // the printer's; the file's is pdf_'s
    QProgressDialog* progress_ = nullptr;
    QTimer slice_;
};

} // namespace qta
