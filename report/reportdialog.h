// "Połączenie" → "Raport…": the period, the parts to include and a file name;
// "Zapisz PDF" writes the report, "Drukuj…" sends it to a printer through
// the system's print dialog. The report itself is made by the core and
// report/reportpdf.*; the dialog only asks.
#pragma once

#include "report/reportdata.h"

#include <QDialog>
#include <functional>

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPrinter;
class QPushButton;

namespace qta {

class TRaportDialog : public QDialog {
    Q_OBJECT
public:
    using ErrorBox = std::function<void(const QString&)>;
    // `dataDir` holds rejestr/; `today` is the last day offered.
    TRaportDialog(QString dataDir, ErrorBox errorBox, const QDate& today = QDate::currentDate(),
                  QWidget* parent = nullptr);

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
    // Writes the PDF to the file named; false (and the reason shown) when not.
    bool savePdf();
    // Draws the report on a printer the print dialog has set up.
    bool printTo(QPrinter& printer);

private:
    void chooseFile();
    void print();
    void showState(const QString& text);
    // Why the period cannot be used, or empty.
    QString periodProblem() const;

    QString dataDir_;
    ErrorBox errorBox_;
};

} // namespace qta
