#include "editors/entrybox.h"

#include <QFocusEvent>
#include <QRegularExpressionValidator>

namespace qta {

TEntryBox::TEntryBox(const QString& component, const QString& spoken, const TEntryRule& rule,
                     Getter get, Setter set, QWidget* parent)
    : QLineEdit(parent), component_(component), spoken_(spoken), rule_(rule), get_(std::move(get)),
      set_(std::move(set)) {
    setObjectName(component);
    setAccessibleDescription(component);
    setAlignment(Qt::AlignCenter);
    // Typing is limited to what a number of the box is made of; text pasted
    // or set otherwise is still judged on leaving.
    const QString sep = QRegularExpression::escape(QLocale().decimalPoint());
    const QString pattern = rule.kind == EntryKind::Tenths
                                ? QStringLiteral("[0-9]*(%1[0-9]*)?").arg(sep)
                                : QStringLiteral("[0-9]*");
    setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), this));
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Base, p.color(QPalette::ToolTipBase));
    p.setColor(QPalette::Text, p.color(QPalette::ToolTipText));
    setPalette(p);
    showField(false);
    updateLook();
}

TEntryBox::TEntryBox(const TFieldDesc& desc, TKonf& konf, QWidget* parent)
    : TEntryBox(
          desc.component, desc.spoken, desc.rule, [&konf, g = desc.get] { return g(konf); },
          [&konf, s = desc.set](double v) { s(konf, v); }, parent) {}

bool TEntryBox::holdsBadText() const {
    return applyEntry(rule_, text(), get_()).outcome == TEntryResult::NotANumber;
}

bool TEntryBox::Exit() {
    const TEntryResult r = applyEntry(rule_, text(), get_());
    if (r.outcome == TEntryResult::NotANumber) {
        if (onError)
            onError(r.error);
        return false;
    }
    set_(r.value);
    if (text() != r.text)
        setText(r.text);
    updateLook();
    Q_EMIT stored(r.value);
    return true;
}

void TEntryBox::showField(bool afterEdit) {
    setText(entryText(rule_, get_(), afterEdit));
    updateLook();
}

void TEntryBox::setMarked(bool differs) {
    if (marked_ == differs)
        return;
    marked_ = differs;
    updateLook();
}

void TEntryBox::setBorderless(bool borderless) {
    borderless_ = borderless;
    setFrame(!borderless);
    QFont f = font();
    f.setBold(borderless);
    setFont(f);
    updateLook();
}

void TEntryBox::updateLook() {
    // A marked box stands out by colour and says so to a screen reader.
    setStyleSheet(marked_ ? QStringLiteral("QLineEdit { background: #ffd24a; color: #000; }")
                          : QString());
    setAccessibleName(marked_ ? spoken_ + QStringLiteral(" (różni się od wartości ze sterownika)")
                              : spoken_);
    setToolTip(marked_ ? QStringLiteral("Wartość różni się od odczytanej ze sterownika")
                       : QString());
}

void TEntryBox::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // Leaving the box means moving to another control; a list's popup, a menu
    // or another application taking the focus for a while is not leaving it.
    const Qt::FocusReason r = event->reason();
    if (judgeOnExit && r != Qt::PopupFocusReason && r != Qt::ActiveWindowFocusReason)
        Exit();
}

} // namespace qta
