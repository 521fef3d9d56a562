// The start window: "QTA504 - Łączenie", the cancel button and a status line
// over the start cycle that finds the controller.
#pragma once

#include "core/startcycle.h"

#include <QLabel>
#include <QPushButton>
#include <QWidget>

namespace qta {

class TQTA504Core;

class TStart : public QWidget, public TStartView {
    Q_OBJECT
public:
    explicit TStart(TQTA504Core& main, QWidget* parent = nullptr);

    TStartCycle cycle;
    QLabel* Label1 = nullptr;
    QPushButton* Button1 = nullptr; // "Anuluj"
    QLabel* StatusBar = nullptr;

    void FormCreate() { cycle.FormCreate(); }

    // TStartView
    void setStatusText(const QString& text) override;
    QString statusText() const override { return statusText_; }
    void closeWindow() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool finished_ = false;
    QString statusText_; // whole; the label may show it shortened
};

} // namespace qta
