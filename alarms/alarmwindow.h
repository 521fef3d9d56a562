// The alarm window "Alarmy": the alarms that are active, unacknowledged or
// shelved, newest first, with "Potwierdź" (the selected one, with the remark
// typed under the list), "Potwierdź wszystkie" and "Wycisz na 1 h".
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace qta {

class TAlarmEngine;
class TAlarmListModel;

class TAlarmWindow : public QWidget {
    Q_OBJECT
public:
    explicit TAlarmWindow(TAlarmEngine& engine, QWidget* parent = nullptr);

    QTableView* list() const { return list_; }
    TAlarmListModel* model() const { return model_; }
    QLineEdit* remark() const { return remark_; }
    QPushButton* acknowledgeButton() const { return ack_; }
    QPushButton* acknowledgeAllButton() const { return ackAll_; }
    QPushButton* shelveButton() const { return shelve_; }
    // Why the last action was refused (hidden while there is nothing to say).
    QLabel* message() const { return message_; }

    // Selects the row of alarm `key` (nothing when it is not listed).
    void select(const QString& key);

    QSize sizeHint() const override { return {1000, 300}; }

private:
    QString selectedKey() const;
    void acknowledgeSelected();
    void acknowledgeAll();
    void shelveSelected();
    void updateButtons();
    void showMessage(const QString& text);

    TAlarmEngine& engine_;
    TAlarmListModel* model_;
    QTableView* list_;
    QLineEdit* remark_;
    QPushButton* ack_;
    QPushButton* ackAll_;
    QPushButton* shelve_;
    QLabel* message_;
    QString keep_; // the key selected before the model was reset
};

} // namespace qta
