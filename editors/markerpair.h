// An on/off setting shown as a pair of pictures at one spot: a tick on a light
// square when on, an empty square when off; exactly one of the two is visible
// and a click on it (or Space while focused) turns the setting over.
#pragma once

#include <QLabel>
#include <QWidget>
#include <functional>

namespace qta {

class TMarkerPair : public QWidget {
    Q_OBJECT
public:
    // `onName`/`offName` name the two pictures ("Znaczek_N1_On"), `spoken` is
    // the Polish name of the setting ("Zrzut obciążenia N1"); the state is
    // read through `get` and written through `set`.
    TMarkerPair(const QString& onName, const QString& offName, const QString& spoken,
                std::function<bool()> get, std::function<void(bool)> set,
                QWidget* parent = nullptr);

    bool isOn() const { return get_(); }
    QLabel* onImage() const { return on_; }
    QLabel* offImage() const { return off_; }

    // The click on the visible picture.
    void click();
    // Shows the picture that matches the setting.
    void refresh();

    // Marks the setting as differing from the controller's.
    void setMarked(bool differs);
    bool marked() const { return marked_; }

    static constexpr int kSide = 16;

Q_SIGNALS:
    void toggled(bool on);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLabel* on_;
    QLabel* off_;
    QString spoken_;
    bool marked_ = false;
    std::function<bool()> get_;
    std::function<void(bool)> set_;
};

} // namespace qta
