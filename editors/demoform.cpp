#include "editors/demoform.h"

#include "core/controller.h"
#include "settings/settingsframes.h"

#include <QCheckBox>
#include <QDateTime>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <random>

namespace qta {

namespace {

constexpr QSize kClient(430, 285);
const QString kFieldTip = QStringLiteral("Napięcie w woltach, liczba całkowita od 0 do 255");

void tag(QWidget* w, const QString& name, const QString& spoken) {
    w->setObjectName(name);
    w->setAccessibleDescription(name);
    w->setAccessibleName(spoken);
}

QString spreadText(int szum) { return QLocale::system().toString(szum / 10.0, 'f', 1); }

} // namespace

TDemoForm::TDemoForm(TQTA504Core& core, QWidget* parent) : QWidget(parent), core_(core) {
    tag(this, QStringLiteral("DemoForm"), QStringLiteral("Panel demonstracyjny"));
    setWindowTitle(QStringLiteral("Panel demonstracyjny"));
    setProperty("fixedFrame", true);
    setFixedSize(kClient);
    QFont f(QStringLiteral("Tahoma"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(8);
    setFont(f);

    auto rng = std::make_shared<std::mt19937>(
        std::uint32_t(QDateTime::currentMSecsSinceEpoch() & 0xFFFFFFFF));
    random_ = [rng](int n) {
        const std::uint32_t v = (*rng)();
        return n > 0 ? int(v % std::uint32_t(n)) : 0;
    };

    build();
    Timer.setObjectName(QStringLiteral("Timer"));
    connect(&Timer, &QTimer::timeout, this, &TDemoForm::TimerTimer);
    DemoOFF->setChecked(true); // runs DemoOFFClick through the change of state
}

TDemoForm::~TDemoForm() = default;

void TDemoForm::build() {
    const auto header = [this](const QString& text, int x, int w) {
        auto* l = new QLabel(text, this);
        l->setGeometry(x, 8, w, 16);
        l->setAlignment(Qt::AlignCenter);
        QFont b = l->font();
        b.setBold(true);
        l->setFont(b);
        return l;
    };
    tag(header(QStringLiteral("Napięcie"), 64, 132), QStringLiteral("Label1"),
        QStringLiteral("Nagłówek kolumny: Napięcie [V]"));
    tag(header(QStringLiteral("Losowość"), 204, 116), QStringLiteral("Label2"),
        QStringLiteral("Nagłówek kolumny: Losowość [V]"));
    tag(header(QStringLiteral("Trend"), 328, 96), QStringLiteral("Label3"),
        QStringLiteral("Nagłówek kolumny: Trend"));

    for (int line = 0; line < 3; ++line) {
        const int y = 30 + line * 32;
        auto* name = new QLabel(QStringLiteral("Linia %1").arg(line + 1), this);
        tag(name, QStringLiteral("Label%1").arg(4 + line),
            QStringLiteral("Wiersz linii %1").arg(line + 1));
        name->setGeometry(8, y + 2, 52, 18);
        for (int ph = 0; ph < 3; ++ph) {
            const int k = line * 3 + ph;
            auto* e = new QLineEdit(QStringLiteral("230"), this);
            e->setObjectName(QStringLiteral("Edit%1").arg(k + 1));
            e->setAccessibleDescription(e->objectName());
            e->setGeometry(64 + ph * 45, y, 40, 21);
            e->setMaxLength(12);
            connect(e, &QLineEdit::textChanged, this, [this, k] { describeField(k); });
            Edit[size_t(k)] = e;
            describeField(k);
        }

        auto* szum = new QSlider(Qt::Horizontal, this);
        szum->setObjectName(QStringLiteral("Szum_%1").arg(line + 1));
        szum->setAccessibleDescription(szum->objectName());
        szum->setRange(0, 100);
        szum->setValue(10);
        szum->setPageStep(10);
        szum->setGeometry(204, y, 86, 22);
        Szum[size_t(line)] = szum;
        auto* sl = new QLabel(QStringLiteral("0"), this);
        tag(sl, QStringLiteral("Label%1").arg(15 + line),
            QStringLiteral("Losowość linii %1 w ostatnim kroku [V]: 0").arg(line + 1));
        sl->setGeometry(292, y + 2, 30, 18);
        SzumLabel[size_t(line)] = sl;

        auto* trend = new QSlider(Qt::Horizontal, this);
        trend->setObjectName(QStringLiteral("Trend_%1").arg(line + 1));
        trend->setAccessibleDescription(trend->objectName());
        trend->setRange(0, 100);
        trend->setValue(50);
        trend->setPageStep(10);
        trend->setGeometry(328, y, 66, 22);
        Trend[size_t(line)] = trend;
        auto* tl = new QLabel(QStringLiteral("0"), this);
        tag(tl, QStringLiteral("Label%1").arg(11 + line),
            QStringLiteral("Trend linii %1 w ostatnim kroku: 0").arg(line + 1));
        tl->setGeometry(396, y + 2, 30, 18);
        TrendLabel[size_t(line)] = tl;
        connect(szum, &QSlider::valueChanged, this, &TDemoForm::describeSliders);
        connect(trend, &QSlider::valueChanged, this, &TDemoForm::describeSliders);
    }

    auto* mode = new QGroupBox(QStringLiteral("Tryb demo"), this);
    tag(mode, QStringLiteral("GroupBox1"), QStringLiteral("Tryb demo"));
    mode->setGeometry(8, 134, 130, 76);
    DemoOFF = new QRadioButton(QStringLiteral("Wyłączony"), mode);
    tag(DemoOFF, QStringLiteral("DemoOFF"), QStringLiteral("Tryb demo wyłączony"));
    DemoOFF->setGeometry(12, 22, 110, 20);
    DemoAktywne = new QRadioButton(QStringLiteral("Włączone"), mode);
    tag(DemoAktywne, QStringLiteral("DemoAktywne"),
        QStringLiteral("Tryb demo włączony: napięcia zmieniają się i są wysyłane"));
    DemoAktywne->setGeometry(12, 46, 110, 20);
    // On the change of state, however it comes (a click, the keyboard, an
    // assistive tool's toggle), so that the mode shown is the mode acted on.
    // The window's own selection at opening runs the handler itself.
    connect(DemoOFF, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            DemoOFFClick();
    });
    connect(DemoAktywne, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            DemoAktywneClick();
    });

    Symetria = new QCheckBox(QStringLiteral("Symetria"), this);
    tag(Symetria, QStringLiteral("Symetria"),
        QStringLiteral("Symetria: fazy każdej linii trzymają się blisko siebie"));
    Symetria->setGeometry(156, 136, 100, 20);

    auto* czasLabel = new QLabel(QStringLiteral("Odświeżanie [s]:"), this);
    tag(czasLabel, QStringLiteral("Label14"), QStringLiteral("Odświeżanie w sekundach"));
    czasLabel->setGeometry(156, 162, 120, 16);
    Czas = new QSlider(Qt::Horizontal, this);
    Czas->setObjectName(QStringLiteral("Czas"));
    Czas->setAccessibleDescription(QStringLiteral("Czas"));
    Czas->setRange(1, 20);
    Czas->setValue(1);
    Czas->setTickPosition(QSlider::TicksBelow);
    Czas->setTickInterval(1);
    Czas->setGeometry(156, 180, 264, 24);
    connect(Czas, &QSlider::valueChanged, this, &TDemoForm::describeSliders);
    const auto mark = [this](const QString& text, int value, const char* name) {
        auto* l = new QLabel(text, this);
        tag(l, QLatin1String(name), QStringLiteral("Znacznik %1 s").arg(text));
        const int x = 156 + 6 + (value - 1) * (264 - 12) / 19;
        l->setGeometry(x - 10, 206, 20, 14);
        l->setAlignment(Qt::AlignCenter);
    };
    mark(QStringLiteral("1"), 1, "Label8");
    mark(QStringLiteral("10"), 10, "Label9");
    mark(QStringLiteral("20"), 20, "Label10");

    const auto button = [this](const QString& text, const char* name, const QString& spoken,
                               QRect r) {
        auto* b = new QPushButton(text, this);
        tag(b, QLatin1String(name), spoken);
        b->setGeometry(r);
        connect(b, &QPushButton::clicked, this, &TDemoForm::Button2Click);
        return b;
    };
    Button3 = button(QStringLiteral("230V"), "Button3",
                     QStringLiteral("230V: wszystkie napięcia na 230 V"), QRect(156, 244, 90, 28));
    Button2 =
        button(QStringLiteral("Anuluj"), "Button2",
               QStringLiteral("Anuluj: wszystkie napięcia na 230 V"), QRect(330, 244, 90, 28));
    Button1 = button(QStringLiteral("OK"), "Button1", QStringLiteral("OK"), QRect(20, 244, 90, 28));
    Button1->hide();
    describeSliders();
}

void TDemoForm::describeField(int k) {
    QLineEdit* e = Edit[size_t(k)];
    const QString where =
        QStringLiteral("Napięcie linii %1, faza L%2").arg(k / 3 + 1).arg(k % 3 + 1);
    bool isInteger = false;
    const long long v = demoFieldInteger(e->text(), &isInteger);
    QString problem;
    if (!isInteger)
        problem =
            QStringLiteral("„%1” nie jest liczbą całkowitą: sterownik dostanie 0 V").arg(e->text());
    else if (v < 0 || v > 255)
        problem = QStringLiteral("%1 V jest poza zakresem 0–255: sterownik dostanie %2 V")
                      .arg(v)
                      .arg(demoFieldByte(e->text()));
    e->setAccessibleName(where + QStringLiteral(": ") +
                         (problem.isEmpty() ? e->text() + QStringLiteral(" V") : problem));
    e->setToolTip(problem.isEmpty() ? kFieldTip : problem);
    e->setStyleSheet(problem.isEmpty() ? QString()
                                       : QStringLiteral("QLineEdit { background: #F6C8C0; }"));
}

void TDemoForm::describeSliders() {
    for (int line = 0; line < 3; ++line) {
        const int s = Szum[size_t(line)]->value();
        Szum[size_t(line)]->setAccessibleName(
            QStringLiteral("Losowość linii %1: %2 V").arg(line + 1).arg(spreadText(s)));
        const int t = Trend[size_t(line)]->value();
        Trend[size_t(line)]->setAccessibleName(
            QStringLiteral("Trend linii %1: %2 (%3 % kroków w górę)")
                .arg(line + 1)
                .arg(t * 2 - 100)
                .arg(t));
    }
    if (Czas)
        Czas->setAccessibleName(QStringLiteral("Odświeżanie: %1 s").arg(Czas->value()));
}

TDemoSettings TDemoForm::settings() const {
    TDemoSettings s;
    for (size_t l = 0; l < 3; ++l) {
        s.Szum[l] = Szum[l]->value();
        s.Trend[l] = Trend[l]->value();
    }
    s.Symetria = Symetria->isChecked();
    return s;
}

std::array<QString, 9> TDemoForm::fieldTexts() const {
    std::array<QString, 9> t;
    for (size_t k = 0; k < 9; ++k)
        t[k] = Edit[k]->text();
    return t;
}

void TDemoForm::DemoAktywneClick() {
    Timer.setInterval(Czas->value() * 1000);
    Timer.start();
}

void TDemoForm::DemoOFFClick() {
    Timer.stop();
    sendFrame(0);
}

void TDemoForm::Send_Data() { sendFrame(1); }

void TDemoForm::sendFrame(int mode) {
    if (!core_.Flaga_Kom.OK)
        return;
    try {
        transmitFrame(core_.ComPort, demoFrame(mode, fieldTexts()));
        failureShown_ = false;
    } catch (const EComPort& e) {
        // One box per run of failures: a step every second would stack them.
        if (!failureShown_)
            core_.reportError(e.message());
        failureShown_ = true;
    }
}

void TDemoForm::TimerTimer() {
    Timer.setInterval(Czas->value() * 1000);
    TNapiecie u{};
    for (size_t k = 0; k < 9; ++k)
        u[k] = demoFieldTenths(Edit[k]->text());
    const TDemoSettings s = settings();
    demoStep(u, s, random_);
    // The frame carries the fields as they still stand: the previous step's values.
    Send_Data();
    for (size_t k = 0; k < 9; ++k)
        Edit[k]->setText(demoFieldText(u[k]));
    for (int l = 0; l < 3; ++l) {
        const int t = s.Trend[size_t(l)] * 2 - 100;
        TrendLabel[size_t(l)]->setText(QString::number(t));
        TrendLabel[size_t(l)]->setAccessibleName(
            QStringLiteral("Trend linii %1 w ostatnim kroku: %2").arg(l + 1).arg(t));
        const QString spread = spreadText(s.Szum[size_t(l)]);
        SzumLabel[size_t(l)]->setText(spread);
        SzumLabel[size_t(l)]->setAccessibleName(
            QStringLiteral("Losowość linii %1 w ostatnim kroku [V]: %2").arg(l + 1).arg(spread));
    }
}

void TDemoForm::Button2Click() {
    for (QLineEdit* e : Edit)
        e->setText(QStringLiteral("230"));
}

} // namespace qta
