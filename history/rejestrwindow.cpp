#include "history/rejestrwindow.h"

#include "core/controller.h"
#include "history/eksportdialog.h"
#include "history/rejestrmodel.h"
#include "tables/table.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

namespace qta {

namespace {

// Tahoma where the system has it; DejaVu Sans otherwise, which is as wide.
QFont gridFont(int pixels, bool bold) {
    QFont f;
    f.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")});
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

} // namespace

void TRejestrGrid::commitEditing() {
    if (!editing())
        return;
    if (QWidget* editor = indexWidget(currentIndex()))
        commitData(editor);
}

TRejestrForm::TRejestrForm(TQTA504Core& core, QWidget* parent)
    : QWidget(parent), core_(core), table_(core.Rejestr()) {
    setObjectName(QStringLiteral("RejestrForm"));
    setAccessibleDescription(QStringLiteral("RejestrForm"));
    setAccessibleName(QStringLiteral("Okno rejestru zdarzeń"));
    setWindowTitle(QStringLiteral("Rejestr zdarzeń"));

    model_ = new TRejestrModel(table_, this);
    grid_ = new TRejestrGrid(this);
    grid_->setObjectName(QStringLiteral("DBGrid1"));
    grid_->setAccessibleDescription(QStringLiteral("DBGrid1"));
    grid_->setAccessibleName(QStringLiteral("Rejestr zdarzeń"));
    grid_->setModel(model_);
    grid_->setFont(gridFont(12, false));
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
    grid_->setWordWrap(false);
    grid_->setTabKeyNavigation(false);

    // Cells in the window text colour on the tool-tip background.
    QPalette pal = grid_->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::ToolTipBase));
    pal.setColor(QPalette::AlternateBase, pal.color(QPalette::ToolTipBase));
    pal.setColor(QPalette::Text, pal.color(QPalette::WindowText));
    grid_->setPalette(pal);

    // Titles: bold, centred, on the light 3-D face colour.
    QHeaderView* titles = grid_->horizontalHeader();
    titles->setFont(gridFont(13, true));
    titles->setDefaultAlignment(Qt::AlignCenter);
    titles->setHighlightSections(false);
    QPalette tp = titles->palette();
    tp.setColor(QPalette::Button, tp.color(QPalette::Midlight));
    tp.setColor(QPalette::Window, tp.color(QPalette::Midlight));
    titles->setPalette(tp);
    titles->setStretchLastSection(false);

    // Every row the same height, so that a log of any length costs nothing to lay out.
    QHeaderView* rows = grid_->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(QFontMetrics(grid_->font()).height() + 6);
    rows->hide();

    // DATA is 11 characters wide; the other widths are the window's own.
    const QFontMetrics fm(grid_->font());
    grid_->setColumnWidth(TRejestrModel::ColData,
                          fm.horizontalAdvance(QStringLiteral("0000-00-00 ")) + 8);
    grid_->setColumnWidth(TRejestrModel::ColCzas, 48);
    grid_->setColumnWidth(TRejestrModel::ColZdarzenie, 345);
    grid_->setColumnWidth(TRejestrModel::ColUwagi, 455);

    message_ = new QLabel(this);
    message_->setObjectName(QStringLiteral("Komunikat"));
    message_->setAccessibleDescription(QStringLiteral("Komunikat"));
    message_->setWordWrap(true);
    message_->hide();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(grid_, 1);
    layout->addWidget(message_);
    resize(474, 279);

    export_ = new QAction(QStringLiteral("Eksportuj do CSV…"), this);
    export_->setObjectName(QStringLiteral("EksportCSV"));
    export_->setProperty("accessibleDescription", QStringLiteral("EksportCSV"));
    export_->setProperty("accessibleName", QStringLiteral("Eksportuj rejestr do pliku CSV"));
    connect(export_, &QAction::triggered, this, [this] { openExportDialog(); });
    grid_->setContextMenuPolicy(Qt::ActionsContextMenu);
    grid_->addAction(export_);

    connect(model_, &TRejestrModel::remarkRefused, this, &TRejestrForm::onRefused);
    connect(model_, &TRejestrModel::remarkStored, this, [this] {
        if (model_->unsavedRows().isEmpty())
            showMessage({});
    });
    // The remark being typed reaches its row before the download appends the next one.
    connect(
        &core_, &TQTA504Core::eventRowAboutToAppend, this, [this] { grid_->commitEditing(); },
        Qt::DirectConnection);
    connect(&core_, &TQTA504Core::eventRowAppended, this, &TRejestrForm::follow);

    // The table's current row (the last one after start-up and after every
    // append) is the grid's current row.
    const int current = std::min(table_->RecNo(), model_->rowCount() - 1);
    if (current >= 0) {
        grid_->setCurrentIndex(model_->index(current, TRejestrModel::ColData));
        // Scrolled once the grid has its size.
        QTimer::singleShot(0, grid_, [this] {
            if (grid_->currentIndex().isValid())
                grid_->scrollTo(grid_->currentIndex(), QAbstractItemView::PositionAtBottom);
        });
    }
}

void TRejestrForm::follow() {
    // The new row becomes current and comes into view as long as the user
    // is at the end of the log. Someone typing a remark or reading further
    // up keeps their place: the row is added below without moving anything.
    const QScrollBar* bar = grid_->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    const int before = model_->rowCount();
    model_->syncRowCount();
    const int last = model_->rowCount() - 1;
    if (grid_->editing() || !atEnd || last < before)
        return;
    const int column = grid_->currentIndex().isValid() ? grid_->currentIndex().column()
                                                       : int(TRejestrModel::ColData);
    grid_->setCurrentIndex(model_->index(last, column));
    grid_->scrollTo(grid_->currentIndex());
}

void TRejestrForm::showMessage(const QString& text, bool error) {
    message_->setStyleSheet(error ? QStringLiteral("color: #b00000; padding: 2px")
                                  : QStringLiteral("padding: 2px"));
    message_->setText(text);
    message_->setAccessibleName(QStringLiteral("Komunikat rejestru: ") +
                                (text.isEmpty() ? QStringLiteral("brak") : text));
    message_->setVisible(!text.isEmpty());
}

void TRejestrForm::onRefused(int row, const QString& text) {
    showMessage(text);
    // Back to the refused remark, its text in the editor for correction
    // (once the view has finished with the editor it is closing).
    QTimer::singleShot(0, grid_, [this, row] {
        const QModelIndex cell = model_->index(row, TRejestrModel::ColUwagi);
        if (!cell.isValid() || (grid_->editing() && grid_->currentIndex() == cell))
            return;
        if (grid_->editing())
            return; // typing elsewhere already: the cell keeps the text, marked unsaved
        grid_->setCurrentIndex(cell);
        grid_->scrollTo(cell);
        grid_->edit(cell);
    });
}

TEksportDialog* TRejestrForm::openExportDialog() {
    // A remark being typed belongs in the export.
    grid_->commitEditing();
    QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (dir.isEmpty())
        dir = QDir::homePath();
    auto* dialog =
        new TEksportDialog(*table_, QDir(dir).filePath(QStringLiteral("rejestr.csv")), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &TEksportDialog::exported, this, [this](const QString& file, qint64 rows) {
        showMessage(
            QStringLiteral("Zapisano wiersze rejestru (%1) do pliku %2").arg(rows).arg(file),
            false);
    });
    dialog->open();
    return dialog;
}

void TRejestrForm::closeEvent(QCloseEvent* event) {
    grid_->commitEditing();
    if (!model_->storeUnsaved()) {
        // The refusal has said why; the window stays so that the text is not lost.
        event->ignore();
        return;
    }
    event->accept();
}

} // namespace qta
