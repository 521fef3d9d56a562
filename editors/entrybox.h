// One entry box of a settings editor, parameterised by its rule: leaving it
// judges the text (settings/entryrule.h), stores the value through its
// binding and writes the value back; a strict box reports text that is not a
// whole number through `onError` and keeps the text.
#pragma once

#include "link/model.h"
#include "settings/editorfields.h"
#include "settings/entryrule.h"

#include <QLineEdit>
#include <functional>

namespace qta {

class TEntryBox : public QLineEdit {
    Q_OBJECT
public:
    using Getter = std::function<double()>;
    using Setter = std::function<void(double)>;

    // A box for any value: `component` is its name (objectName and accessible
    // description), `spoken` its Polish accessible name.
    TEntryBox(const QString& component, const QString& spoken, const TEntryRule& rule, Getter get,
              Setter set, QWidget* parent = nullptr);
    // A box for a field of a TKonf (the editor's copy), from the editor's table.
    TEntryBox(const TFieldDesc& desc, TKonf& konf, QWidget* parent = nullptr);

    const TEntryRule& rule() const { return rule_; }
    double value() const { return get_(); }

    // Leaving the box. Returns false when the text was refused as not a
    // number (the error has gone to onError); true otherwise.
    bool Exit();
    // Whether the box's text is judged as not a number (strict boxes only).
    bool holdsBadText() const;

    // Writes the field into the box: the opening form, or the form after an edit.
    void showField(bool afterEdit = false);

    // Marks the box as holding a value that differs from the controller's.
    void setMarked(bool differs);
    bool marked() const { return marked_; }

    // Look of the box: borderless and bold over a picture, or bordered.
    void setBorderless(bool borderless);

    // Where the conversion error goes (the application's error box).
    std::function<void(const QString&)> onError;
    // While false, losing the focus judges nothing (the window is closing).
    bool judgeOnExit = true;

Q_SIGNALS:
    // The field was stored (also when it was put back to the value it had).
    void stored(double value);

protected:
    void focusOutEvent(QFocusEvent* event) override;

private:
    void updateLook();

    QString component_, spoken_;
    TEntryRule rule_;
    Getter get_;
    Setter set_;
    bool marked_ = false;
    bool borderless_ = false;
};

} // namespace qta
