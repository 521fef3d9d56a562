// The alarms a window lists (active, unacknowledged or shelved), newest
// first, as a table model over the engine: priority, text, state, when raised
// and when cleared. A screen reader hears a row as one sentence.
#pragma once

#include "alarms/alarm.h"

#include <QAbstractTableModel>
#include <vector>

namespace qta {

class TAlarmEngine;

class TAlarmListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColPriorytet, ColAlarm, ColStan, ColWystapil, ColUstapil, ColumnCount };

    explicit TAlarmListModel(TAlarmEngine& engine, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation o, int role = Qt::DisplayRole) const override;

    const TAlarm* alarmAt(int row) const;
    int rowOf(const QString& key) const;

    // "priorytet wysoki, Zadziałanie …, aktywny, niepotwierdzony, wystąpił …"
    static QString spoken(const TAlarm& a);
    static QString timeText(const QDateTime& t);

private:
    void reload();

    TAlarmEngine& engine_;
    std::vector<TAlarm> rows_;
};

// "1 niepotwierdzony alarm", "3 niepotwierdzone alarmy", "5 niepotwierdzonych alarmów".
QString unacknowledgedText(int n);

} // namespace qta
