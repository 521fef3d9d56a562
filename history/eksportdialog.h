// "Eksport rejestru do CSV": a period (from and to, each optional; without
// either the whole log) and a file name. Writing is the core's job
// (csvexport.h), on a worker thread with a progress dialog whose "Anuluj"
// stops it; the dialog gathers the choice, asks before replacing a file the
// chooser has not already asked about, and shows the outcome.
#pragma once

#include <QDialog>

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QProgressDialog;
class QPushButton;

namespace qta {

class TTable;
struct TExportPeriod;

class TEksportDialog : public QDialog {
    Q_OBJECT
public:
    TEksportDialog(TTable& table, const QString& fileName, QWidget* parent = nullptr);

    QCheckBox* fromCheck() const { return fromCheck_; }
    QDateEdit* fromDate() const { return fromDate_; }
    QCheckBox* toCheck() const { return toCheck_; }
    QDateEdit* toDate() const { return toDate_; }
    QLineEdit* fileEdit() const { return file_; }
    QLabel* errorLabel() const { return error_; }
    QPushButton* okButton() const { return ok_; }

    TExportPeriod period() const;
    // The export running on its worker, or nullptr.
    class TTableExportJob* job() const {
        return job_;
    }
    QProgressDialog* progressDialog() const { return progress_; }
    // Rows written by the last successful export.
    qint64 rowsWritten() const { return rows_; }

    void accept() override;
    void reject() override;

Q_SIGNALS:
    void exported(const QString& fileName, qint64 rows);

private:
    void chooseFile();

    TTable& table_;
    QCheckBox* fromCheck_;
    QDateEdit* fromDate_;
    QCheckBox* toCheck_;
    QDateEdit* toDate_;
    QLineEdit* file_;
    QLabel* error_;
    QPushButton* ok_;
    qint64 rows_ = 0;
    QString confirmed_; // the name the file chooser has already asked about
    class TTableExportJob* job_ = nullptr;
    QProgressDialog* progress_ = nullptr;
    void fail(const QString& text);
    void finished(bool written, const QString& error);
};

} // namespace qta
