#include "alarms/alarmlistmodel.h"

#include "alarms/alarmengine.h"

#include <QBrush>
#include <QColor>
#include <QFont>

namespace qta {

TAlarmListModel::TAlarmListModel(TAlarmEngine& engine, QObject* parent)
    : QAbstractTableModel(parent), engine_(engine) {
    connect(&engine_, &TAlarmEngine::changed, this, &TAlarmListModel::reload);
    rows_ = engine_.listed();
}

void TAlarmListModel::reload() {
    beginResetModel();
    rows_ = engine_.listed();
    endResetModel();
}

int TAlarmListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int TAlarmListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

const TAlarm* TAlarmListModel::alarmAt(int row) const {
    return row >= 0 && row < int(rows_.size()) ? &rows_[size_t(row)] : nullptr;
}

int TAlarmListModel::rowOf(const QString& key) const {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].key == key)
            return int(i);
    return -1;
}

QString TAlarmListModel::timeText(const QDateTime& t) {
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

QString TAlarmListModel::spoken(const TAlarm& a) {
    QString s = QStringLiteral("priorytet %1, %2, %3")
                    .arg(priorityText(a.priority), a.text, stateText(a.state, a.notification()));
    if (a.shelved())
        s += QStringLiteral(", wyciszony do %1")
                 .arg(a.shelvedUntil.toString(QStringLiteral("HH:mm")));
    s += QStringLiteral(", wystąpił %1").arg(timeText(a.raised));
    if (a.cleared.isValid())
        s += QStringLiteral(", ustąpił %1").arg(timeText(a.cleared));
    return s;
}

QVariant TAlarmListModel::data(const QModelIndex& index, int role) const {
    const TAlarm* a = alarmAt(index.row());
    if (!a)
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
        case ColPriorytet: return priorityText(a->priority);
        case ColAlarm: return a->text;
        case ColStan:
            return a->shelved() ? stateText(a->state, a->notification()) +
                                      QStringLiteral(" (wyciszony do %1)")
                                          .arg(a->shelvedUntil.toString(QStringLiteral("HH:mm")))
                                : stateText(a->state, a->notification());
        case ColWystapil: return timeText(a->raised);
        case ColUstapil: return timeText(a->cleared);
        default: return {};
        }
    }
    if (role == Qt::AccessibleTextRole)
        return spoken(*a);
    if (role == Qt::ForegroundRole && a->shelved())
        return QBrush(QColor(0x70, 0x70, 0x70));
    if (role == Qt::BackgroundRole && !a->shelved() && a->unacknowledged())
        return QBrush(a->priority == AlarmPriority::High ? QColor(0xff, 0xd0, 0xd0)
                                                         : QColor(0xff, 0xf0, 0xc0));
    if (role == Qt::FontRole && a->unacknowledged() && !a->shelved()) {
        QFont f;
        f.setBold(true);
        return f;
    }
    return {};
}

QVariant TAlarmListModel::headerData(int section, Qt::Orientation o, int role) const {
    if (o != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case ColPriorytet: return QStringLiteral("Priorytet");
    case ColAlarm: return QStringLiteral("Alarm");
    case ColStan: return QStringLiteral("Stan");
    case ColWystapil: return QStringLiteral("Wystąpił");
    case ColUstapil: return QStringLiteral("Ustąpił");
    default: return {};
    }
}

QString unacknowledgedText(int n) {
    const int tens = n % 100, ones = n % 10;
    if (n == 1)
        return QStringLiteral("1 niepotwierdzony alarm");
    if (ones >= 2 && ones <= 4 && (tens < 12 || tens > 14))
        return QStringLiteral("%1 niepotwierdzone alarmy").arg(n);
    return QStringLiteral("%1 niepotwierdzonych alarmów").arg(n);
}

} // namespace qta
