// "O Programie...": product name, device category, version, a picture of the
// controller's front panel, and "OK".
#pragma once

#include <QDialog>

namespace qta {

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace qta
