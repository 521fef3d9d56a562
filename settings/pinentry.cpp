#include "settings/pinentry.h"

#include "link/frame.h"
#include "settings/entryrule.h"

namespace qta {

const QString TPinEntry::kPinPoprawny = QStringLiteral("PIN Poprawny");
const QString TPinEntry::kNowyPoprawny = QStringLiteral("Nowy PIN poprawny");
const QString TPinEntry::kNowyNiezgodny = QStringLiteral("Nowy PIN niezgodny");

namespace {
// The box's number, or -1 when it holds none (an empty box).
int number(const QString& text) {
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    return ok && v >= 0 ? v : -1;
}
} // namespace

bool isPinText(const QString& text) {
    if (text.size() > 4)
        return false;
    for (QChar c : text)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

TPinEntry::TPinEntry(bool pinOn, std::function<int()> presentPin)
    : PIN_On(pinOn), presentPin_(std::move(presentPin)) {}

void TPinEntry::setChange(bool on) {
    if (on) {
        ZmianaPIN = true;
        StaryPIN.setActive(true);
        requestFocus(Stary);
        return;
    }
    ZmianaPIN = false;
    // Emptying the boxes runs their handlers, as typing would.
    staryChanged(QString());
    nowyChanged(QString());
    powtorzChanged(QString());
    StaryPIN.setActive(false);
    NowyPIN.setActive(false);
    PowtorzPIN.setActive(false);
    StaryPIN_Label.visible = false;
    PowtorzPIN_Label.text = kNowyNiezgodny;
    OkEnabled = true;
}

void TPinEntry::requestFocus(Box b) {
    Focus = b;
    ++FocusRequests;
}

void TPinEntry::staryChanged(const QString& text) {
    StaryPIN.text = text;
    const int v = number(text);
    if (v < 0) {
        StaryPIN_Label.visible = false;
        return;
    }
    if (v == presentPin_()) {
        StaryPIN_Label.text = kPinPoprawny;
        StaryPIN_Label.visible = true;
        NowyPIN.setActive(true);
        requestFocus(Nowy);
        PowtorzPIN.enabled = true; // still beige until the new PIN is complete
        return;
    }
    StaryPIN_Label.visible = false;
    NowyPIN.setActive(false);
    PowtorzPIN.setActive(false);
    OkEnabled = false;
}

void TPinEntry::nowyChanged(const QString& text) {
    NowyPIN.text = text;
    if (text.size() == 4) {
        PowtorzPIN.setActive(true);
        requestFocus(Powtorz);
    } else {
        PowtorzPIN.setActive(false);
    }
    // A new PIN changed after its repeat was typed is confirmed again only
    // if the two agree; otherwise "OK" would send a PIN typed once.
    if (PowtorzPIN_Label.visible)
        checkRepeat();
}

void TPinEntry::powtorzChanged(const QString& text) {
    PowtorzPIN.text = text;
    if (!text.isEmpty())
        PowtorzPIN_Label.visible = true;
    checkRepeat();
}

void TPinEntry::checkRepeat() {
    if (confirmed()) {
        PowtorzPIN_Label.text = kNowyPoprawny;
        OkEnabled = true;
    } else {
        PowtorzPIN_Label.text = kNowyNiezgodny;
        OkEnabled = false;
    }
}

bool TPinEntry::confirmed() const {
    return PowtorzPIN.text.size() == 4 && PowtorzPIN.text == NowyPIN.text;
}

int TPinEntry::pinToSend(QString* error) const {
    if (!ZmianaPIN)
        return presentPin_();
    const int v = number(NowyPIN.text);
    if (v < 0) {
        if (error)
            *error = notAnIntegerMessage(NowyPIN.text);
        return -1;
    }
    if (!confirmed()) {
        if (error)
            *error = QStringLiteral("Nowy PIN nie został potwierdzony: wpisz te same cztery "
                                    "cyfry w polu „Powtórz nowy PIN”. Niczego nie wysłano");
        return -1;
    }
    return v;
}

QByteArray pinFrame(bool pinOn, int pin) {
    QByteArray p;
    p.append(char(pinOn ? 1 : 0));
    p.append(char((pin >> 8) & 0xFF));
    p.append(char(pin & 0xFF));
    return buildFrame(TxSetPin, p);
}

} // namespace qta
