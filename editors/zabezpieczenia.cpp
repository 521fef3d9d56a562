#include "editors/zabezpieczenia.h"

#include "artwork/artwork.h"
#include "editors/markerpair.h"
#include "settings/pinentry.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>

#include <algorithm>

namespace qta {

namespace {

constexpr QSize kClient(280, 245);
// Inactive boxes take the panel's beige.
const QString kBoxStyle = QStringLiteral("QLineEdit { lineedit-password-character: 42; }");
const QString kBeigeStyle = QStringLiteral(
    "QLineEdit { lineedit-password-character: 42; background: rgb(231, 218, 185); }");

const QString kStaryName = QStringLiteral("Stary PIN");
const QString kNowyName = QStringLiteral("Nowy PIN");
const QString kPowtorzName = QStringLiteral("Powtórz nowy PIN");

} // namespace

TZabezpieczenia::TZabezpieczenia(TQTA504Core& core, QWidget* parent)
    : TEditorWindow(core, 2, parent),
      entry_(core.Konfig.PIN_On, [&core] { return core.Konfig.PIN_Numer; }) {
    setObjectName(QStringLiteral("Zabezpieczenia"));
    setAccessibleDescription(QStringLiteral("Zabezpieczenia"));
    setAccessibleName(QStringLiteral("Zabezpieczenia: ochrona sterownika kodem PIN"));
    setWindowTitle(QStringLiteral("Zabezpieczenia"));
    setProperty("fixedFrame", true);
    setProperty("toolWindow", true);
    setFixedSize(kClient);
    QFont font = this->font();
    font.setPixelSize(11);
    setFont(font);

    auto* background = new QLabel(this);
    background->setObjectName(QStringLiteral("Image1"));
    background->setPixmap(artworkPixmap(QStringLiteral("pin_sections.svg"), kClient));
    background->setGeometry(QRect(QPoint(0, 0), kClient));

    makeText(QStringLiteral("Zabezpieczenie PIN"), QStringLiteral("Label1"), {18, 12, 200, 18},
             true);
    makeText(QStringLiteral("Aktywne"), QStringLiteral("Label2"), {30, 36, 90, 18});
    Zabezpieczenie = new TMarkerPair(
        QStringLiteral("Zabezpieczenie_Image_On"), QStringLiteral("Zabezpieczenie_Image_Off"),
        QStringLiteral("Zabezpieczenie PIN aktywne"), [this] { return Konfig_Kopia.PIN_On; },
        [this](bool on) { Konfig_Kopia.PIN_On = entry_.PIN_On = on; }, this);
    Zabezpieczenie->move(128, 37);

    makeText(QStringLiteral("Zmiana numeru PIN"), QStringLiteral("Label3"), {18, 76, 150, 18},
             true);
    ZmianaPIN = new TMarkerPair(
        QStringLiteral("ZmianaPIN_Image_On"), QStringLiteral("ZmianaPIN_Image_Off"),
        QStringLiteral("Zmiana numeru PIN"), [this] { return entry_.ZmianaPIN; },
        [this](bool on) {
            entry_.setChange(on);
            sync();
        },
        this);
    ZmianaPIN->move(170, 77);

    // The three rows: label, box, verdict. The columns follow the texts in
    // the font the window has, so that no label runs into its box and no
    // verdict past the window's edge, whatever font the desktop gives.
    QLabel* labels[3] = {makeText(kStaryName + u':', QStringLiteral("Label4"), {}),
                         makeText(kNowyName + u':', QStringLiteral("Label5"), {}),
                         makeText(kPowtorzName + u':', QStringLiteral("Label6"), {})};
    StaryPIN_Edit = makeBox(QStringLiteral("StaryPIN_Edit"), kStaryName, 104);
    NowyPIN_Edit = makeBox(QStringLiteral("NowyPIN_Edit"), kNowyName, 136);
    PowtorzPIN_Edit = makeBox(QStringLiteral("PowtorzPIN_Edit"), kPowtorzName, 168);
    StaryPIN_Label = makeText(QString(), QStringLiteral("StaryPIN_Label"), {});
    PowtorzPIN_Label = makeText(QString(), QStringLiteral("PowtorzPIN_Label"), {});
    const QFontMetrics fm(labels[0]->font());
    int labelWidth = 0;
    for (QLabel* l : labels)
        labelWidth = std::max(labelWidth, fm.horizontalAdvance(l->text()));
    int verdictWidth = 0;
    for (const QString& t :
         {TPinEntry::kPinPoprawny, TPinEntry::kNowyPoprawny, TPinEntry::kNowyNiezgodny})
        verdictWidth = std::max(verdictWidth, fm.horizontalAdvance(t));
    const int boxX = std::max(119, 18 + labelWidth + 8);
    const int verdictX = boxX + 40 + 6;
    const int width = std::max(kClient.width(), verdictX + verdictWidth + 10);
    const int rows[3] = {104, 136, 168};
    for (int i = 0; i < 3; ++i) {
        labels[i]->setGeometry(18, rows[i] + 2, boxX - 18 - 4, 18);
        (i == 0 ? StaryPIN_Edit : i == 1 ? NowyPIN_Edit : PowtorzPIN_Edit)->move(boxX, rows[i]);
    }
    StaryPIN_Label->setGeometry(verdictX, rows[0] + 2, width - verdictX - 4, 18);
    PowtorzPIN_Label->setGeometry(verdictX, rows[2] + 2, width - verdictX - 4, 18);
    if (width != kClient.width()) {
        const QSize client(width, kClient.height());
        setFixedSize(client);
        background->setPixmap(artworkPixmap(QStringLiteral("pin_sections.svg"), client));
        background->setGeometry(QRect(QPoint(0, 0), client));
    }
    connect(StaryPIN_Edit, &QLineEdit::textChanged, this, [this](const QString& t) {
        entry_.staryChanged(t);
        sync();
    });
    connect(NowyPIN_Edit, &QLineEdit::textChanged, this, [this](const QString& t) {
        entry_.nowyChanged(t);
        sync();
    });
    connect(PowtorzPIN_Edit, &QLineEdit::textChanged, this, [this](const QString& t) {
        entry_.powtorzChanged(t);
        sync();
    });

    Button1 = addOkButton(QStringLiteral("Button1"), this);
    Button1->setAccessibleName(QStringLiteral("OK: wyślij ustawienia PIN do sterownika"));
    disconnect(Button1, &QPushButton::clicked, this, nullptr);
    connect(Button1, &QPushButton::clicked, this, &TZabezpieczenia::Button1Click);
    const int buttonsX = (width - 280) / 2;
    Button1->setGeometry(buttonsX + 56, 208, 78, 28);
    Button2 = addCancelButton(QStringLiteral("Button2"), this);
    Button2->setGeometry(buttonsX + 146, 208, 78, 28);
    sync();
}

QLabel* TZabezpieczenia::makeText(const QString& text, const QString& name, QRect r, bool bold) {
    auto* l = new QLabel(text, this);
    l->setObjectName(name);
    l->setAccessibleDescription(name);
    l->setAccessibleName(text);
    l->setGeometry(r);
    if (bold) {
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
    }
    return l;
}

QLineEdit* TZabezpieczenia::makeBox(const QString& name, const QString& spoken, int y) {
    auto* e = new QLineEdit(this);
    e->setObjectName(name);
    e->setAccessibleDescription(name);
    e->setAccessibleName(spoken);
    e->setEchoMode(QLineEdit::Password);
    e->setMaxLength(4);
    e->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,4}")), e));
    e->setGeometry(119, y, 40, 21);
    return e;
}

void TZabezpieczenia::sync() {
    const auto show = [](QLineEdit* e, const TPinBox& b, const QString& spoken) {
        const QSignalBlocker block(e);
        if (e->text() != b.text)
            e->setText(b.text);
        e->setEnabled(b.enabled);
        e->setStyleSheet(b.beige ? kBeigeStyle : kBoxStyle);
        const QString state = b.active()  ? QStringLiteral("aktywne")
                              : b.enabled ? QStringLiteral("dostępne")
                                          : QStringLiteral("nieaktywne");
        e->setAccessibleName(
            QStringLiteral("%1 (%2), wpisano cyfr: %3").arg(spoken, state).arg(b.text.size()));
    };
    show(StaryPIN_Edit, entry_.StaryPIN, kStaryName);
    show(NowyPIN_Edit, entry_.NowyPIN, kNowyName);
    show(PowtorzPIN_Edit, entry_.PowtorzPIN, kPowtorzName);
    const auto label = [](QLabel* l, const TPinLabel& s, const QString& what) {
        l->setText(s.text);
        l->setVisible(s.visible);
        l->setAccessibleName(what + QStringLiteral(": ") + s.text);
    };
    label(StaryPIN_Label, entry_.StaryPIN_Label, kStaryName);
    label(PowtorzPIN_Label, entry_.PowtorzPIN_Label, kPowtorzName);
    Button1->setEnabled(entry_.OkEnabled);
    ZmianaPIN->refresh();
    if (entry_.FocusRequests != focusSeen_) {
        focusSeen_ = entry_.FocusRequests;
        QLineEdit* target = entry_.Focus == TPinEntry::Stary  ? StaryPIN_Edit
                            : entry_.Focus == TPinEntry::Nowy ? NowyPIN_Edit
                                                              : PowtorzPIN_Edit;
        target->setFocus();
    }
}

void TZabezpieczenia::Button1Click() {
    QString why;
    const int pin = entry_.pinToSend(&why);
    if (pin < 0) {
        core().reportError(why);
        return;
    }
    if (!sendFrame(pinFrame(Konfig_Kopia.PIN_On, pin)))
        return;
    closeWindow();
}

} // namespace qta
