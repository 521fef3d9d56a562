#include "app/aboutbox.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSvgRenderer>
#include <QVBoxLayout>

namespace qta {

namespace {
QLabel* label(QWidget* parent, const QString& text, const char* name, bool bold) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setAccessibleName(text);
    l->setAccessibleDescription(QLatin1String(name));
    if (bold) {
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
    }
    return l;
}

QPixmap frontPanel() {
    const QString path = QStringLiteral(":/artwork/front_panel.svg");
    if (!QFile::exists(path))
        return {};
    QSvgRenderer r(path);
    QPixmap pm(r.defaultSize());
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    r.render(&p);
    return pm;
}
} // namespace

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("O Programie..."));
    setAccessibleName(QStringLiteral("O programie"));
    setAccessibleDescription(QStringLiteral("AboutBox"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("ProgramIcon"));
    picture->setPixmap(frontPanel());
    picture->setAccessibleName(QStringLiteral("Panel czołowy sterownika QTA-504"));
    picture->setAccessibleDescription(QStringLiteral("ProgramIcon"));

    auto* texts = new QVBoxLayout;
    texts->addWidget(label(this, QStringLiteral("QTA-504"), "ProductName", true));
    texts->addWidget(label(this, QStringLiteral("Samoczynny Załącznik Rezerwy"), "Comments", true));
    texts->addWidget(label(this, QStringLiteral("Wersja: 1.2"), "Version", false));
    texts->addStretch();

    auto* top = new QHBoxLayout;
    top->addWidget(picture);
    top->addLayout(texts);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setDefault(true);
    ok->setAccessibleName(QStringLiteral("Zamknij okno informacji"));
    ok->setAccessibleDescription(QStringLiteral("OKButton"));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addWidget(ok, 0, Qt::AlignHCenter);
    all->setSizeConstraint(QLayout::SetFixedSize);
}

void TAboutBox::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());
}

} // namespace qta
