#include "history/rejestrmodel.h"

#include "tables/table.h"

#include <QSet>
#include <algorithm>

namespace qta {

namespace {

const char* const kFieldNames[TRejestrModel::ColumnCount] = {"DATA", "CZAS", "ZDARZENIE", "UWAGI"};

// Rows whose texts are kept: a few screens of a tall grid.
constexpr int kCachedRows = 2048;

// Characters of the upper half of Windows-1250 (the lower half is ASCII).
const QSet<char16_t>& cp1250UpperHalf() {
    static const QSet<char16_t> set = [] {
        QByteArray bytes;
        for (int b = 0x80; b < 0x100; ++b)
            bytes.append(char(b));
        QSet<char16_t> s;
        for (QChar c : fromWindows1250(bytes))
            s.insert(c.unicode());
        return s;
    }();
    return set;
}

// "1 znak", "3 znaki", "5 znaków", "22 znaki".
QString characters(qsizetype n) {
    const qsizetype tens = n % 100, ones = n % 10;
    const char* word = n == 1                                                 ? "znak"
                       : (ones >= 2 && ones <= 4 && (tens < 12 || tens > 14)) ? "znaki"
                                                                              : "znaków";
    return QStringLiteral("%1 %2").arg(n).arg(QString::fromUtf8(word));
}

} // namespace

TRejestrModel::TRejestrModel(TTable* table, QObject* parent)
    : QAbstractTableModel(parent), table_(table), cache_(kCachedRows) {
    for (int c = 0; c < ColumnCount; ++c) {
        fields_[c] = table_->fieldIndex(QLatin1String(kFieldNames[c]));
        if (fields_[c] < 0)
            throw ETable(QStringLiteral("Tabela %1 nie ma pola %2")
                             .arg(table_->fileName(), QLatin1String(kFieldNames[c])));
    }
    rows_ = table_->RecordCount();
}

int TRejestrModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int TRejestrModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString TRejestrModel::title(int column) {
    static const QString titles[ColumnCount] = {QStringLiteral("Data"), QStringLiteral("Czas"),
                                                QStringLiteral("Zdarzenie"),
                                                QStringLiteral("Uwagi")};
    return column >= 0 && column < ColumnCount ? titles[column] : QString();
}

const TRejestrModel::Row& TRejestrModel::rowAt(int row) const {
    if (const Row* r = cache_.object(row))
        return *r;
    auto* r = new Row;
    for (int c = 0; c < ColumnCount; ++c)
        r->texts[c] = table_->stringValue(row, fields_[c]);
    cache_.insert(row, r);
    return *r;
}

QVariant TRejestrModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_ || index.column() >= ColumnCount)
        return {};
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::AccessibleTextRole: {
        QString text;
        if (column == ColUwagi && unsaved_.contains(index.row())) {
            text = unsaved_.value(index.row());
        } else {
            try {
                text = rowAt(index.row()).texts[column];
            } catch (const ETable& e) {
                // A row that cannot be read shows why instead of its text.
                return column == ColZdarzenie ? QVariant(e.message()) : QVariant();
            }
        }
        if (role != Qt::AccessibleTextRole)
            return text;
        // A screen reader says which column it is in, and that a cell is empty.
        return title(column) + QStringLiteral(": ") +
               (text.isEmpty() ? QStringLiteral("puste") : text);
    }
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(column == ColData || column == ColCzas
                                       ? Qt::Alignment(Qt::AlignCenter)
                                       : Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::ToolTipRole:
        if (column == ColUwagi && unsaved_.contains(index.row()))
            return QStringLiteral("Uwaga niezapisana – popraw ją i zatwierdź klawiszem Enter");
        return {};
    default: return {};
    }
}

QVariant TRejestrModel::headerData(int section, Qt::Orientation o, int role) const {
    if (o == Qt::Horizontal) {
        if (role == Qt::DisplayRole)
            return title(section);
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
        return {};
    }
    if (role == Qt::DisplayRole)
        return section + 1;
    return {};
}

Qt::ItemFlags TRejestrModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    // Remarks go into the table: not into one this program only reads.
    if (index.column() == ColUwagi && !(table_ && table_->ReadOnly()))
        f |= Qt::ItemIsEditable;
    return f;
}

QString TRejestrModel::remarkProblem(const QString& text, const QString& codePage) {
    QStringList problems;
    if (codePage == u"CP1250") {
        const QSet<char16_t>& upper = cp1250UpperHalf();
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t c = text.at(i).unicode();
            if (c < 0x80 || upper.contains(c))
                continue;
            const bool pair = text.at(i).isHighSurrogate() && i + 1 < text.size();
            problems << QStringLiteral("znaku „%1” (na pozycji %2) nie da się zapisać w rejestrze, "
                                       "który przechowuje tekst w stronie kodowej Windows-1250; "
                                       "usuń go lub zastąp innym")
                            .arg(text.mid(i, pair ? 2 : 1))
                            .arg(i + 1);
            break;
        }
        if (text.size() > kRemarkLength)
            problems << QStringLiteral("uwaga ma %1, a pole mieści najwyżej %2; skróć ją o %3")
                            .arg(characters(text.size()))
                            .arg(kRemarkLength)
                            .arg(characters(text.size() - kRemarkLength));
    } else if (text.toUtf8().size() > kRemarkLength) {
        problems << QStringLiteral("uwaga zajmuje %1 bajtów, a pole mieści najwyżej %2; skróć ją")
                        .arg(text.toUtf8().size())
                        .arg(kRemarkLength);
    }
    if (problems.isEmpty())
        return {};
    return QStringLiteral("Uwagi nie zapisano: ") + problems.join(QStringLiteral("; ponadto ")) +
           QStringLiteral(". Wpisany tekst pozostaje w komórce do poprawienia.");
}

bool TRejestrModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !index.isValid() || index.column() != ColUwagi ||
        index.row() >= rows_)
        return false;
    store(index.row(), value.toString());
    return true;
}

bool TRejestrModel::store(int row, const QString& text) {
    const bool wasUnsaved = unsaved_.contains(row);
    // Nothing to write when the text is what the file holds already.
    if (!wasUnsaved) {
        try {
            if (rowAt(row).texts[ColUwagi] == text)
                return true;
        } catch (const ETable&) {
        }
    }
    QString problem = remarkProblem(text, table_->codePage());
    if (problem.isEmpty()) {
        try {
            table_->rewriteString(row, fields_[ColUwagi], text);
        } catch (const ETable& e) {
            problem = QStringLiteral("Uwagi nie zapisano: %1. Wpisany tekst pozostaje w komórce.")
                          .arg(e.message());
        }
    }
    const QModelIndex cell = index(row, ColUwagi);
    if (!problem.isEmpty()) {
        unsaved_.insert(row, text);
        Q_EMIT dataChanged(cell, cell);
        Q_EMIT remarkRefused(row, problem);
        return false;
    }
    cache_.remove(row);
    unsaved_.remove(row);
    Q_EMIT dataChanged(cell, cell);
    Q_EMIT remarkStored(row);
    return true;
}

QList<int> TRejestrModel::unsavedRows() const {
    QList<int> rows = unsaved_.keys();
    std::sort(rows.begin(), rows.end());
    return rows;
}

bool TRejestrModel::storeUnsaved() {
    bool all = true;
    for (int row : unsavedRows())
        all &= store(row, unsaved_.value(row));
    return all;
}

void TRejestrModel::syncRowCount() {
    const int now = table_->Active() ? table_->RecordCount() : 0;
    if (now == rows_)
        return;
    if (now > rows_) {
        beginInsertRows({}, rows_, now - 1);
        rows_ = now;
        endInsertRows();
        return;
    }
    // Rows never go away while the program runs; should the file say
    // otherwise, show what it holds.
    beginResetModel();
    rows_ = now;
    cache_.clear();
    for (int row : unsavedRows())
        if (row >= rows_)
            unsaved_.remove(row);
    endResetModel();
}

} // namespace qta
