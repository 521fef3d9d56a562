#include "editors/zegar.h"

#include "artwork/artwork.h"
#include "settings/clockframe.h"

#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>

namespace qta {

namespace {

constexpr QSize kClient(262, 207);

void tag(QWidget* w, const QString& name, const QString& spoken) {
    w->setObjectName(name);
    w->setAccessibleDescription(name);
    w->setAccessibleName(spoken);
}

QLabel* heading(QWidget* parent, int pixelSize, QRect r) {
    auto* l = new QLabel(parent);
    QFont f = l->font();
    f.setBold(true);
    f.setItalic(true);
    f.setPixelSize(pixelSize);
    l->setFont(f);
    l->setAlignment(Qt::AlignCenter);
    l->setGeometry(r);
    return l;
}

} // namespace

TZegar::TZegar(TQTA504Core& core, QWidget* parent) : TEditorWindow(core, 0, parent) {
    tag(this, QStringLiteral("Zegar"), QStringLiteral("Zegar"));
    setWindowTitle(QStringLiteral("Zegar"));
    setProperty("fixedFrame", true);
    setFixedSize(kClient);

    auto* panel = new QLabel(this);
    tag(panel, QStringLiteral("Image1"), QString());
    panel->setPixmap(artworkPixmap(QStringLiteral("zegar_panel.svg"), kClient));
    panel->setGeometry(QRect(QPoint(0, 0), kClient));

    Label1 = heading(this, 14, QRect(16, 18, 230, 22));
    Label1->setText(QStringLiteral("Aktualny czas:"));
    tag(Label1, QStringLiteral("Label1"), QStringLiteral("Aktualny czas:"));
    Data_Label = heading(this, 24, QRect(12, 46, 238, 36));
    Data_Label->setObjectName(QStringLiteral("Data_Label"));
    Data_Label->setAccessibleDescription(QStringLiteral("Data_Label"));
    Godz_Label = heading(this, 24, QRect(12, 88, 238, 36));
    Godz_Label->setObjectName(QStringLiteral("Godz_Label"));
    Godz_Label->setAccessibleDescription(QStringLiteral("Godz_Label"));

    const auto button = [this](const QString& text, const char* name, const QString& spoken,
                               QRect r) {
        auto* b = new QPushButton(text, this);
        tag(b, QLatin1String(name), spoken);
        QFont f = b->font();
        f.setBold(true);
        b->setFont(f);
        b->setGeometry(r);
        return b;
    };
    Button1 = button(QStringLiteral("Synchronizacja"), "Button1",
                     QStringLiteral("Synchronizacja: ustaw zegar sterownika według komputera"),
                     QRect(18, 156, 118, 30));
    Anuluj_Button = button(QStringLiteral("Anuluj"), "Anuluj_Button",
                           QStringLiteral("Anuluj: zamknij okno zegara"), QRect(160, 156, 84, 30));
    connect(Button1, &QPushButton::clicked, this, &TZegar::Button1Click);
    connect(Anuluj_Button, &QPushButton::clicked, this, &TZegar::Anuluj_ButtonClick);

    Timer.setObjectName(QStringLiteral("Timer"));
    Timer.setInterval(250);
    connect(&Timer, &QTimer::timeout, this, &TZegar::TimerTimer);
    Timer.start();
    TimerTimer();
}

QString TZegar::timeFormat() {
    QString f = QLocale::system().timeFormat(QLocale::LongFormat);
    f.remove(QRegularExpression(QStringLiteral("\\s*t+\\s*")));
    return f.trimmed();
}

void TZegar::TimerTimer() {
    const QDateTime now = clock();
    const QString date = QLocale::system().toString(now.date(), QLocale::ShortFormat);
    const QString time = QLocale::system().toString(now.time(), timeFormat());
    if (Data_Label->text() != date) {
        Data_Label->setText(date);
        Data_Label->setAccessibleName(QStringLiteral("Data komputera: ") + date);
    }
    if (Godz_Label->text() != time) {
        Godz_Label->setText(time);
        Godz_Label->setAccessibleName(QStringLiteral("Godzina komputera: ") + time);
    }
}

void TZegar::Button1Click() {
    if (!core().Flaga_Kom.OK)
        return;
    const QDateTime now = clock(); // one reading for every field
    const QByteArray frame = clockFrame(now);
    if (frame.isEmpty()) {
        core().reportError(clockOutOfRangeText(now.date().year()));
        return;
    }
    sendFrame(frame); // a transmit error goes to the error box; the window stays open
}

void TZegar::Anuluj_ButtonClick() { CancelClick(); }

} // namespace qta
