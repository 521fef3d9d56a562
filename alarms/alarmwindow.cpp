#include "alarms/alarmwindow.h"

#include "alarms/alarmengine.h"
#include "alarms/alarmlistmodel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace qta {

namespace {
void describe(QWidget* w, const char* component, const QString& name) {
    w->setObjectName(QLatin1String(component));
    w->setAccessibleDescription(QLatin1String(component));
    w->setAccessibleName(name);
}
} // namespace

TAlarmWindow::TAlarmWindow(TAlarmEngine& engine, QWidget* parent)
    : QWidget(parent), engine_(engine) {
    setWindowTitle(QStringLiteral("Alarmy"));
    describe(this, "AlarmyForm", QStringLiteral("Alarmy"));

    model_ = new TAlarmListModel(engine_, this);
    list_ = new QTableView(this);
    describe(list_, "AlarmyLista", QStringLiteral("Lista alarmów"));
    list_->setModel(model_);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->verticalHeader()->hide();
    list_->horizontalHeader()->setStretchLastSection(false);
    list_->horizontalHeader()->setSectionResizeMode(TAlarmListModel::ColAlarm,
                                                    QHeaderView::Stretch);
    list_->setWordWrap(false);
    list_->setColumnWidth(TAlarmListModel::ColPriorytet, 75);
    list_->setColumnWidth(TAlarmListModel::ColStan, 280);
    list_->setColumnWidth(TAlarmListModel::ColWystapil, 150);
    list_->setColumnWidth(TAlarmListModel::ColUstapil, 150);

    auto* remarkLabel = new QLabel(QStringLiteral("&Uwagi do potwierdzenia:"), this);
    remark_ = new QLineEdit(this);
    describe(remark_, "AlarmyUwagi", QStringLiteral("Uwagi do potwierdzenia alarmu"));
    remarkLabel->setBuddy(remark_);
    ack_ = new QPushButton(QStringLiteral("&Potwierdź"), this);
    describe(ack_, "AlarmyPotwierdz", QStringLiteral("Potwierdź wybrany alarm"));
    ackAll_ = new QPushButton(QStringLiteral("Potwierdź &wszystkie"), this);
    describe(ackAll_, "AlarmyPotwierdzWszystkie",
             QStringLiteral("Potwierdź wszystkie niepotwierdzone alarmy"));
    shelve_ = new QPushButton(QStringLiteral("Wy&cisz na 1 h"), this);
    describe(shelve_, "AlarmyWycisz", QStringLiteral("Wycisz wybrany alarm na godzinę"));
    message_ = new QLabel(this);
    describe(message_, "AlarmyKomunikat", QStringLiteral("Komunikat"));
    message_->setWordWrap(true);
    message_->setStyleSheet(QStringLiteral("color: #a00000"));
    message_->hide();

    auto* remarkRow = new QHBoxLayout;
    remarkRow->addWidget(remarkLabel);
    remarkRow->addWidget(remark_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ack_);
    buttons->addWidget(ackAll_);
    buttons->addStretch(1);
    buttons->addWidget(shelve_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(remarkRow);
    layout->addWidget(message_);
    layout->addLayout(buttons);

    connect(ack_, &QPushButton::clicked, this, &TAlarmWindow::acknowledgeSelected);
    connect(remark_, &QLineEdit::returnPressed, this, &TAlarmWindow::acknowledgeSelected);
    connect(ackAll_, &QPushButton::clicked, this, &TAlarmWindow::acknowledgeAll);
    connect(shelve_, &QPushButton::clicked, this, &TAlarmWindow::shelveSelected);
    // The selection follows its alarm across the model's resets.
    connect(model_, &QAbstractItemModel::modelAboutToBeReset, this,
            [this] { keep_ = selectedKey(); });
    connect(model_, &QAbstractItemModel::modelReset, this, [this] {
        if (model_->rowOf(keep_) >= 0)
            select(keep_);
        else if (model_->rowCount() > 0)
            list_->selectRow(0);
        updateButtons();
    });
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TAlarmWindow::updateButtons);
    if (model_->rowCount() > 0)
        list_->selectRow(0);
    updateButtons();
}

QString TAlarmWindow::selectedKey() const {
    const QModelIndexList rows = list_->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return {};
    const TAlarm* a = model_->alarmAt(rows.first().row());
    return a ? a->key : QString();
}

void TAlarmWindow::select(const QString& key) {
    const int row = model_->rowOf(key);
    if (row >= 0)
        list_->selectRow(row);
}

void TAlarmWindow::updateButtons() {
    const TAlarm* a = engine_.alarm(selectedKey());
    // Acknowledging is journaled: not where another program keeps the journal.
    const bool writable = !engine_.readOnly();
    ack_->setEnabled(writable && a && a->unacknowledged());
    shelve_->setEnabled(writable && a && !a->shelved());
    bool waiting = false; // shelved ones can be acknowledged too
    for (const TAlarm& x : engine_.listed())
        waiting = waiting || x.unacknowledged();
    ackAll_->setEnabled(writable && waiting);
    list_->setAccessibleName(model_->rowCount() == 0
                                 ? QStringLiteral("Lista alarmów: brak alarmów")
                                 : QStringLiteral("Lista alarmów: %1, w tym %2")
                                       .arg(model_->rowCount())
                                       .arg(unacknowledgedText(engine_.unacknowledgedCount())));
}

void TAlarmWindow::showMessage(const QString& text) {
    message_->setText(text);
    message_->setAccessibleName(QStringLiteral("Komunikat: ") + text);
    message_->setVisible(!text.isEmpty());
}

void TAlarmWindow::acknowledgeSelected() {
    const QString key = selectedKey();
    if (key.isEmpty()) {
        showMessage(QStringLiteral("Wybierz alarm na liście."));
        return;
    }
    const QString why = engine_.acknowledge(key, remark_->text());
    showMessage(why);
    if (why.isEmpty())
        remark_->clear(); // a refused remark stays for correction
    else
        remark_->setFocus();
}

void TAlarmWindow::acknowledgeAll() {
    showMessage(QString());
    engine_.acknowledgeAll();
}

void TAlarmWindow::shelveSelected() {
    const QString key = selectedKey();
    showMessage(key.isEmpty() ? QStringLiteral("Wybierz alarm na liście.") : engine_.shelve(key));
}

} // namespace qta
