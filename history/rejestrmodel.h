// The event log as a four-column table model (Data, Czas, Zdarzenie, Uwagi)
// over the open rejestr.dbf. Rows are read from the table when a view asks
// for them; the decoded texts of the rows last asked for are kept, so a grid
// over hundreds of thousands of rows costs only what it shows.
//
// Only "Uwagi" is editable. An edited remark is written through to its row
// at once (the table layer's in-place rewrite); a remark the field cannot
// hold is refused with a Polish message and kept in the model, shown in its
// cell, until it is corrected or another text replaces it.
#pragma once

#include <QAbstractTableModel>
#include <QCache>
#include <QHash>
#include <QStringList>

namespace qta {

class TTable;

class TRejestrModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColData, ColCzas, ColZdarzenie, ColUwagi, ColumnCount };
    // Width of the UWAGI field of the event-log table.
    static constexpr int kRemarkLength = 254;

    // The table must stay open while the model lives.
    explicit TRejestrModel(TTable* table, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation o, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // "Uwagi" only: stores the remark, or keeps it unsaved and emits
    // remarkRefused. Returns false for other columns.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // Takes in rows the table has gained since (the download appends them).
    void syncRowCount();

    // Rows whose remark the model holds unsaved (refused), in table order.
    QList<int> unsavedRows() const;
    // Tries again to store the unsaved remarks; true when none is left.
    bool storeUnsaved();

    // Why a remark cannot be stored in a table of this code page, in Polish;
    // empty when it can.
    static QString remarkProblem(const QString& text, const QString& codePage);

    // Column titles as the grid shows them.
    static QString title(int column);

Q_SIGNALS:
    // A remark was not written; `message` says why and what to do.
    void remarkRefused(int row, const QString& message);
    // A remark reached the file.
    void remarkStored(int row);

private:
    struct Row {
        QString texts[ColumnCount];
    };
    const Row& rowAt(int row) const;
    bool store(int row, const QString& text);

    TTable* table_;
    int rows_ = 0;
    int fields_[ColumnCount];
    mutable QCache<int, Row> cache_;
    QHash<int, QString> unsaved_; // row -> remark not yet in the file
};

} // namespace qta
