// The event-log window "Rejestr zdarzeń": one grid over rejestr.dbf with the
// columns Data, Czas, Zdarzenie and Uwagi, of which only Uwagi is editable.
// The grid follows the download: an appended row becomes current and is
// scrolled into view, unless the user is typing a remark or has scrolled up
// to read. Its context menu exports the log to CSV.
#pragma once

#include <QTableView>
#include <QWidget>

class QLabel;

namespace qta {

class TQTA504Core;
class TRejestrModel;
class TTable;
class TEksportDialog;

// The grid, with a way to hand the open editor's text to the model without
// closing the editor.
class TRejestrGrid : public QTableView {
    Q_OBJECT
public:
    using QTableView::QTableView;
    bool editing() const { return state() == EditingState; }
    // Stores the text of the open editor (nothing when none is open).
    void commitEditing();
};

class TRejestrForm : public QWidget {
    Q_OBJECT
public:
    // `table` is the open event-log table of `core`.
    TRejestrForm(TQTA504Core& core, QWidget* parent = nullptr);

    TRejestrGrid* DBGrid1() const { return grid_; }
    TRejestrModel* model() const { return model_; }
    // The line under the grid that says why a remark was not stored (hidden
    // while there is nothing to say).
    QLabel* message() const { return message_; }
    QAction* exportAction() const { return export_; }

    // The context menu's "Eksportuj do CSV…": a window-modal dialog, open
    // when this returns.
    TEksportDialog* openExportDialog();

    // The window opens with a client area of 474 x 279.
    QSize sizeHint() const override { return {474, 279}; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // The download has appended a row.
    void follow();
    void showMessage(const QString& text, bool error = true);
    void onRefused(int row, const QString& text);

    TQTA504Core& core_;
    TTable* table_;
    TRejestrGrid* grid_;
    TRejestrModel* model_;
    QLabel* message_;
    QAction* export_;
};

} // namespace qta
