#include "app/menuaccessible.h"

#include <QAccessible>
#include <QAccessibleInterface>
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QStyle>

namespace qta {

namespace {

// The caption without its access-letter marks ("W&yjście" -> "Wyjście", "&&" -> "&").
QString withoutAmpersands(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&') {
            if (i + 1 < text.size() && text[i + 1] == u'&')
                out += u'&';
            ++i;
            if (i < text.size() && text[i] != u'&')
                out += text[i];
            continue;
        }
        out += text[i];
    }
    return out;
}

// "Alt+Y" for "W&yjście"; empty without an access letter.
QString accessLetter(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != u'&')
            continue;
        if (text[i + 1] == u'&') {
            ++i;
            continue;
        }
        return QStringLiteral("Alt+") + text[i + 1].toUpper();
    }
    return {};
}

// One item of a menu or of the menu bar; behaves like Qt's own menu item
// apart from the description and help texts.
class TMenuItemAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    TMenuItemAccessible(QWidget* owner, QAction* action) : owner_(owner), action_(action) {}

    bool isValid() const override { return owner_ && action_; }
    QObject* object() const override { return action_; }
    QWindow* window() const override {
        const QWidget* w = owner_ ? owner_->window() : nullptr;
        return w ? w->windowHandle() : nullptr;
    }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(owner_.data());
    }
    int childCount() const override { return action_ && action_->menu() ? 1 : 0; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 && childCount() == 1
                   ? QAccessible::queryAccessibleInterface(action_->menu())
                   : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* c) const override {
        return c && childCount() == 1 && c->object() == action_->menu() ? 0 : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        QAccessibleInterface* c = child(0);
        return c && c->rect().contains(x, y) ? c : nullptr;
    }

    QString text(QAccessible::Text t) const override {
        if (!action_)
            return {};
        switch (t) {
        case QAccessible::Name: return withoutAmpersands(action_->text());
        case QAccessible::Description: return action_->property("accessibleDescription").toString();
        case QAccessible::Help: return action_->property("accessibleName").toString();
        case QAccessible::Accelerator:
            return action_->shortcut().isEmpty() ? accessLetter(action_->text())
                                                 : action_->shortcut().toString();
        default: return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        if (auto* bar = qobject_cast<QMenuBar*>(owner_.data()))
            return bar->actionGeometry(action_).translated(bar->mapToGlobal(QPoint(0, 0)));
        if (auto* menu = qobject_cast<QMenu*>(owner_.data()))
            return menu->actionGeometry(action_).translated(menu->mapToGlobal(QPoint(0, 0)));
        return {};
    }
    QAccessible::Role role() const override {
        return action_ && action_->isSeparator() ? QAccessible::Separator : QAccessible::MenuItem;
    }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!owner_ || !action_)
            return s;
        if (!owner_->testAttribute(Qt::WA_WState_Visible) || !action_->isVisible())
            s.invisible = true;
        if (auto* menu = qobject_cast<QMenu*>(owner_.data());
            menu && menu->activeAction() == action_)
            s.focused = true;
        if (auto* bar = qobject_cast<QMenuBar*>(owner_.data());
            bar && bar->activeAction() == action_)
            s.focused = true;
        if (owner_->style()->styleHint(QStyle::SH_Menu_MouseTracking))
            s.hotTracked = true;
        if (action_->isSeparator() || !action_->isEnabled())
            s.disabled = true;
        if (action_->isCheckable())
            s.checkable = true;
        if (action_->isChecked())
            s.checked = true;
        if (action_->menu())
            s.hasPopup = true;
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType t) override {
        return t == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                 : nullptr;
    }

    QStringList actionNames() const override {
        if (!action_ || action_->isSeparator())
            return {};
        return {action_->menu() ? showMenuAction() : pressAction()};
    }
    void doAction(const QString& name) override {
        if (!action_ || !action_->isEnabled())
            return;
        if (name == pressAction()) {
            action_->trigger();
        } else if (name == showMenuAction() && action_->menu()) {
            if (action_->menu()->isVisible())
                action_->menu()->hide();
            else if (auto* bar = qobject_cast<QMenuBar*>(owner_.data()))
                bar->setActiveAction(action_);
            else if (auto* menu = qobject_cast<QMenu*>(owner_.data()))
                menu->setActiveAction(action_);
        }
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<QWidget> owner_;
    QPointer<QAction> action_;
};

QAccessibleInterface* menuItemFactory(const QString& className, QObject* object) {
    if (className != QLatin1String("QAction"))
        return nullptr;
    auto* action = qobject_cast<QAction*>(object);
    if (!action || !action->property("accessibleDescription").isValid())
        return nullptr;
    // The menu or menu bar that shows the item.
    for (QObject* o : action->associatedObjects()) {
        auto* w = qobject_cast<QWidget*>(o);
        if ((qobject_cast<QMenu*>(w) || qobject_cast<QMenuBar*>(w)) &&
            w->actions().contains(action))
            return new TMenuItemAccessible(w, action);
    }
    return nullptr;
}

} // namespace

void installMenuItemAccessibility() {
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QAccessible::installFactory(menuItemFactory);
}

} // namespace qta
