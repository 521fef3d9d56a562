#include "app/windowitem.h"

#include <QCloseEvent>
#include <QLayout>
#include <QMdiArea>

namespace qta {

TChildWindow::TChildWindow(QWidget* parent) : QMdiSubWindow(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
}

void TChildWindow::closeEvent(QCloseEvent* event) {
    QMdiSubWindow::closeEvent(event);
    if (event->isAccepted())
        Q_EMIT closed(this);
}

TWindowItem::TWindowItem(QAction* action, QMdiArea* area, Factory create, QObject* parent)
    : QObject(parent), action_(action), area_(area), create_(std::move(create)) {
    action_->setCheckable(true);
    action_->setChecked(false);
    // The check mark follows the window, not the click.
    connect(action_, &QAction::triggered, this, [this] {
        action_->setChecked(isOpen());
        toggle();
    });
}

void TWindowItem::toggle() {
    if (isOpen())
        close();
    else
        open();
}

TChildWindow* TWindowItem::open() {
    QWidget* content = create_ ? create_() : nullptr;
    if (!content) {
        action_->setChecked(isOpen());
        return nullptr;
    }
    auto* sub = new TChildWindow;
    sub->setWidget(content);
    sub->setWindowTitle(content->windowTitle());
    sub->setWindowIcon(content->windowIcon());
    Qt::WindowFlags flags = Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
    if (!content->property("fixedFrame").toBool())
        flags |= Qt::WindowMaximizeButtonHint;
    if (content->property("toolWindow").toBool()) // a tool window has a close box only
        flags &= ~Qt::WindowMinimizeButtonHint;
    area_->addSubWindow(sub, flags);
    if (content->property("fixedFrame").toBool())
        sub->layout()->setSizeConstraint(QLayout::SetFixedSize);
    connect(sub, &TChildWindow::closed, this, [this](TChildWindow* w) {
        if (current_ == w) {
            current_ = nullptr;
            action_->setChecked(false);
        }
    });
    current_ = sub;
    action_->setChecked(true);
    sub->show();
    return sub;
}

void TWindowItem::close() {
    if (current_)
        current_->close();
}

} // namespace qta
