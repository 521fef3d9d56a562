// The rules of the PIN editor without its widgets: which of the three boxes
// may be typed in, what the two labels say and whether "OK" may be pressed,
// after each change the user makes. The window mirrors this state.
//
// A new PIN is taken only after the present PIN (as the controller last
// reported it) has been typed and the new one typed twice alike.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

namespace qta {

// One of the three PIN boxes. Active: enabled and white; inactive: disabled
// and beige. Once the old PIN is right the repeat box is enabled but stays
// beige until the new PIN has four digits.
struct TPinBox {
    QString text;
    bool enabled = false;
    bool beige = true;

    bool active() const { return enabled && !beige; }
    void setActive(bool on) { enabled = on, beige = !on; }
};

struct TPinLabel {
    QString text;
    bool visible = false;
};

class TPinEntry {
public:
    enum Box { None, Stary, Nowy, Powtorz };

    // `presentPin` reads the PIN the controller last reported (it is read
    // anew at every keystroke).
    TPinEntry(bool pinOn, std::function<int()> presentPin);

    // Protection switch of the copy that is sent.
    bool PIN_On = false;
    // The change of PIN is switched on.
    bool ZmianaPIN = false;

    TPinBox StaryPIN, NowyPIN, PowtorzPIN;
    TPinLabel StaryPIN_Label, PowtorzPIN_Label;
    bool OkEnabled = true;
    // The box that last asked for the focus (None: none yet).
    Box Focus = None;
    int FocusRequests = 0; // grows with every request

    void setChange(bool on);

    // A change of a box's text (the text as the box now holds it).
    void staryChanged(const QString& text);
    void nowyChanged(const QString& text);
    void powtorzChanged(const QString& text);

    // The PIN "OK" would send, or -1 with `error` set when nothing may go out:
    // with the change on, the new PIN must be a number that the repeat box
    // has confirmed.
    int pinToSend(QString* error) const;

    // The new PIN and its repeat are four equal digits.
    bool confirmed() const;

    // Texts the labels show.
    static const QString kPinPoprawny;
    static const QString kNowyPoprawny;
    static const QString kNowyNiezgodny;

private:
    void checkRepeat();
    void requestFocus(Box b);

    std::function<int()> presentPin_;
};

// At most four digits: what the PIN boxes let through.
bool isPinText(const QString& text);

// The 8-byte frame of code 6: 1 or 0 for the protection, the PIN high byte first.
QByteArray pinFrame(bool pinOn, int pin);

} // namespace qta
