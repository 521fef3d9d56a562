#include "app/startwindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>

namespace qta {

namespace {
constexpr int kWidth = 316, kHeight = 135;
constexpr int kStatusHeight = 20; // one line
constexpr int kGap = 4;           // between the button and a taller status line
} // namespace

TStart::TStart(TQTA504Core& main, QWidget* parent)
    : QWidget(parent,
              Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      cycle(main, this) {
    setObjectName(QStringLiteral("Start"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Start"));
    setAccessibleName(QStringLiteral("Okno łączenia ze sterownikiem"));
    setAccessibleDescription(QStringLiteral("Start"));
    setFixedSize(kWidth, kHeight);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(231, 218, 185));
    setPalette(pal);

    Label1 = new QLabel(QStringLiteral("QTA504 - Łączenie"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont big(QStringLiteral("Tahoma"));
    big.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"),
                     QStringLiteral("Liberation Sans")});
    big.setPixelSize(32);
    Label1->setFont(big);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setGeometry(0, 8, 316, 44);
    Label1->setAccessibleName(QStringLiteral("QTA504 - Łączenie"));
    Label1->setAccessibleDescription(QStringLiteral("Label1"));

    Button1 = new QPushButton(QStringLiteral("Anuluj"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(118, 62, 80, 28);
    Button1->setAccessibleName(QStringLiteral("Anuluj łączenie"));
    Button1->setAccessibleDescription(QStringLiteral("Button1"));
    connect(Button1, &QPushButton::clicked, this, [this] { cycle.Button1Click(); });
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(esc, &QShortcut::activated, Button1, &QPushButton::click);

    StatusBar = new QLabel(this);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setGeometry(0, kHeight - kStatusHeight, kWidth, kStatusHeight);
    StatusBar->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StatusBar->setAccessibleDescription(QStringLiteral("StatusBar"));
    StatusBar->setAccessibleName(QStringLiteral("Postęp łączenia"));
}

void TStart::setStatusText(const QString& text) {
    statusText_ = text;
    // A port named with its adapter's description and serial number does not
    // fit one line: the description goes to a second line. Any other long
    // text (a network server's answer and the advice after it) wraps between
    // words onto as many lines as it needs. The status line grows upwards
    // into the free space under the button, and the window grows downwards
    // when that is not enough. Only a single word wider than a line (a long
    // device path) is shortened, in the middle, so that the progress dots at
    // its end stay visible. The whole text is also in the tooltip and the
    // accessible name.
    const QFontMetrics fm = StatusBar->fontMetrics();
    const int room = width() - 2 * StatusBar->frameWidth() - 6;
    QStringList lines;
    const auto wrap = [&](const QString& part) {
        QString line;
        for (const QString& word : part.split(u' ', Qt::SkipEmptyParts)) {
            const QString longer = line.isEmpty() ? word : line + u' ' + word;
            if (!line.isEmpty() && fm.horizontalAdvance(longer) > room) {
                lines << line;
                line = word;
            } else {
                line = longer;
            }
        }
        if (!line.isEmpty())
            lines << line;
    };
    const qsizetype split = text.indexOf(QStringLiteral(" ("));
    if (fm.horizontalAdvance(text) <= room) {
        lines << text;
    } else if (split > 0 && fm.horizontalAdvance(text.left(split)) <= room) {
        lines << text.left(split);
        wrap(text.mid(split + 1));
    } else {
        wrap(text);
    }
    for (QString& l : lines)
        l = fm.elidedText(l, Qt::ElideMiddle, room);
    const int h = lines.size() <= 1 ? kStatusHeight : fm.lineSpacing() * int(lines.size()) + 6;
    setFixedSize(kWidth, std::max(kHeight, Button1->geometry().bottom() + 1 + kGap + h));
    StatusBar->setGeometry(0, height() - h, width(), h);
    StatusBar->setText(lines.join(u'\n'));
    StatusBar->setToolTip(text);
    StatusBar->setAccessibleName(QStringLiteral("Postęp łączenia: ") + text);
}

void TStart::closeWindow() {
    finished_ = true;
    close();
}

void TStart::closeEvent(QCloseEvent* event) {
    // Closed from outside (window manager, main window closing): as "Anuluj".
    if (!finished_) {
        finished_ = true;
        cycle.Button1Click();
    }
    event->accept();
}

void TStart::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (const QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());
}

} // namespace qta
