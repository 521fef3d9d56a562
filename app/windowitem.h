// One menu item that toggles one kind of child window: checked exactly while
// its window exists; choosing a checked item closes the window; closing the
// window by any path clears the mark.
#pragma once

#include <QAction>
#include <QMdiSubWindow>
#include <QPointer>
#include <functional>

class QMdiArea;

namespace qta {

// A child window of the frame that says when it closes.
class TChildWindow : public QMdiSubWindow {
    Q_OBJECT
public:
    explicit TChildWindow(QWidget* parent = nullptr);

Q_SIGNALS:
    void closed(TChildWindow* self);

protected:
    void closeEvent(QCloseEvent* event) override;
};

class TWindowItem : public QObject {
    Q_OBJECT
public:
    // `create` makes the window's content, or returns nullptr when there is
    // nothing to open (the item then stays unchecked).
    using Factory = std::function<QWidget*()>;

    TWindowItem(QAction* action, QMdiArea* area, Factory create, QObject* parent = nullptr);

    QAction* action() const { return action_; }
    TChildWindow* window() const { return current_; }
    bool isOpen() const { return current_ != nullptr; }

    // The item's click: close when checked, open otherwise.
    void toggle();
    // Opens a new window (even when one is open: the new one becomes current).
    TChildWindow* open();
    void close();

    void setFactory(Factory f) { create_ = std::move(f); }

private:
    QAction* action_;
    QMdiArea* area_;
    Factory create_;
    QPointer<TChildWindow> current_;
};

} // namespace qta
