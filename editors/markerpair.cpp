#include "editors/markerpair.h"

#include "artwork/artwork.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>

namespace qta {

namespace {
// What an assistive tool sees of a pair: a check box, checked while the
// setting is on, whose toggle (and press) action turns it over like a click.
class TMarkerPairAccessible : public QAccessibleWidget {
public:
    explicit TMarkerPairAccessible(TMarkerPair* pair)
        : QAccessibleWidget(pair, QAccessible::CheckBox) {}
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = pair()->isOn();
        return s;
    }
    QStringList actionNames() const override { return {toggleAction(), pressAction()}; }
    void doAction(const QString& name) override {
        if (name == toggleAction() || name == pressAction())
            pair()->click();
    }

private:
    TMarkerPair* pair() const { return static_cast<TMarkerPair*>(widget()); }
};

QAccessibleInterface* markerPairFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("qta::TMarkerPair") && object && object->isWidgetType())
        return new TMarkerPairAccessible(static_cast<TMarkerPair*>(object));
    return nullptr;
}
} // namespace

TMarkerPair::TMarkerPair(const QString& onName, const QString& offName, const QString& spoken,
                         std::function<bool()> get, std::function<void(bool)> set, QWidget* parent)
    : QWidget(parent), spoken_(spoken), get_(std::move(get)), set_(std::move(set)) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(markerPairFactory);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setFixedSize(kSide, kSide);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    // The pair itself is called after its setting: "Znaczek_N1", "Kontrola".
    QString base = onName;
    base.remove(QStringLiteral("_On_Image"));
    if (base.endsWith(QLatin1String("_On")))
        base.chop(3);
    setObjectName(base);
    setAccessibleDescription(onName + QStringLiteral(" / ") + offName);
    auto picture = [this](const QString& name, const char* file) {
        auto* l = new QLabel(this);
        l->setObjectName(name);
        l->setAccessibleDescription(name);
        l->setPixmap(artworkPixmap(QLatin1String(file), QSize(kSide, kSide)));
        l->setGeometry(0, 0, kSide, kSide);
        // The pair takes the clicks: whichever picture shows, one click turns it over.
        l->setAttribute(Qt::WA_TransparentForMouseEvents);
        return l;
    };
    on_ = picture(onName, "marker_on.svg");
    off_ = picture(offName, "marker_off.svg");
    refresh();
}

void TMarkerPair::refresh() {
    const bool on = get_();
    on_->setVisible(on);
    off_->setVisible(!on);
    const QString state = on ? QStringLiteral("włączony") : QStringLiteral("wyłączony");
    const QString mark =
        marked_ ? QStringLiteral(" (różni się od wartości ze sterownika)") : QString();
    setAccessibleName(spoken_ + QStringLiteral(": ") + state + mark);
    const QString frame =
        marked_ ? QStringLiteral("QLabel { border: 2px solid #e09a00; }") : QString();
    on_->setStyleSheet(frame);
    off_->setStyleSheet(frame);
    on_->setAccessibleName(spoken_ + QStringLiteral(": włączony"));
    off_->setAccessibleName(spoken_ + QStringLiteral(": wyłączony"));
    setToolTip(spoken_ + QStringLiteral(": ") + state);
}

void TMarkerPair::setMarked(bool differs) {
    if (marked_ == differs)
        return;
    marked_ = differs;
    refresh();
}

void TMarkerPair::click() {
    set_(!get_());
    refresh();
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
    Q_EMIT toggled(get_());
}

void TMarkerPair::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        click();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void TMarkerPair::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space) {
        click();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace qta
