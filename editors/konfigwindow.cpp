#include "editors/konfigwindow.h"

#include "artwork/artwork.h"
#include "editors/entrybox.h"
#include "editors/markerpair.h"
#include "editors/settingsart.h"
#include "settings/settingsframes.h"

namespace qta {

namespace {
void tag(QWidget* w, const QString& name, const QString& spoken) {
    w->setObjectName(name);
    w->setAccessibleDescription(name);
    w->setAccessibleName(spoken);
}

const TFieldDesc& field(const char* component) {
    return *findField(configFields(), QLatin1String(component));
}
} // namespace

TKonfig_1::TKonfig_1(TQTA504Core& core, QWidget* parent) : TEditorWindow(core, 1, parent) {
    tag(this, QStringLiteral("Konfig_1"), QStringLiteral("Konfiguracja sterownika"));
    setWindowTitle(QStringLiteral("Konfiguracja"));
    setProperty("fixedFrame", true);
    setProperty("toolWindow", true);
    setFixedSize(kWidth, kHeight);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setBrush(QPalette::Window, QBrush(artworkPixmap(QStringLiteral("settings_bg.svg"))));
    setPalette(pal);

    PageControl1 = new QTabWidget(this);
    tag(PageControl1, QStringLiteral("PageControl1"), QStringLiteral("Zakładki konfiguracji"));
    PageControl1->setGeometry(4, 4, kWidth - 8, art::kPageHeight);
    buildVoltages(page(QStringLiteral("TabSheet1"), QStringLiteral("Napięcia"),
                       QStringLiteral("Zakładka Napięcia: progi napięć linii")));
    buildTimes(page(QStringLiteral("TabSheet2"), QStringLiteral("Czasy"),
                    QStringLiteral("Zakładka Czasy: czasy kwalifikacji i pracy linii")));
    buildApparatus(page(QStringLiteral("TabSheet3"), QStringLiteral("Aparaty"),
                        QStringLiteral("Zakładka Aparaty: typ i czasy przełączania aparatów")));
    buildMode(page(QStringLiteral("TabSheet4"), QStringLiteral("Tryb"),
                   QStringLiteral("Zakładka Tryb: program pracy, linia główna, zrzut obciążenia")));
    PageControl1->setCurrentIndex(3);

    const int y = 4 + art::kPageHeight + 8;
    Button3 = addOkButton(QStringLiteral("Button3"), this);
    Button3->setGeometry(8, y, 80, 26);
    Button2 = addCancelButton(QStringLiteral("Button2"), this);
    Button2->setGeometry(kWidth - 8 - 80, y, 80, 26);
    setBackup(QStringLiteral("Konfiguracja"), QStringLiteral("Konfiguracja sterownika QTA-504"),
              configFields());
    addSaveButton(this)->setGeometry(112, y, 88, 26);
    addLoadButton(this)->setGeometry(209, y, 88, 26);
    showCopy(true);
}

QWidget* TKonfig_1::page(const QString& name, const QString& title, const QString& spoken) {
    auto* p = new QWidget;
    tag(p, name, spoken);
    PageControl1->addTab(p, title);
    return p;
}

QLabel* TKonfig_1::picture(QWidget* parent, const QString& name, const QString& file, QRect at,
                           const QString& spoken) {
    auto* l = new QLabel(parent);
    tag(l, name, spoken);
    l->setGeometry(at);
    l->setPixmap(artworkPixmap(file, at.size()));
    l->lower();
    return l;
}

void TKonfig_1::buildVoltages(QWidget* p) {
    picture(p, QStringLiteral("Image_Napiecia"), QStringLiteral("konfig_napiecia.svg"),
            QRect(QPoint(0, 0), art::kPageArt),
            QStringLiteral("Wykres napięcia z progami U_Max, U_Max − U_Hist, U_Min + U_Hist, "
                           "U_Min i panele linii N1, N2, N3"));
    // Per line, top to bottom: U_Min, U_Hist, U_Max.
    for (int n = 0; n < 3; ++n)
        for (int row = 0; row < 3; ++row) {
            const QString c = QStringLiteral("Edit%1").arg(n * 3 + row + 1);
            TEntryBox* b = addEntry(*findField(configFields(), c), p);
            b->setBorderless(true);
            b->setGeometry(art::voltageBox(n, row));
        }
}

void TKonfig_1::buildTimes(QWidget* p) {
    picture(p, QStringLiteral("Image_Czasy"), QStringLiteral("konfig_czasy.svg"),
            QRect(QPoint(0, 0), art::kPageArt),
            QStringLiteral("Wykres czasów T Kwal ON, T Min i T Kwal OFF"));
    // Left to right: T Kwal ON, T Min, T Kwal OFF.
    const std::array<const char*, 3> order = {"Edit10", "Edit12", "Edit11"};
    for (int i = 0; i < 3; ++i) {
        TEntryBox* b = addEntry(field(order[size_t(i)]), p);
        b->setBorderless(true);
        b->setGeometry(art::timeBox(i));
    }
}

void TKonfig_1::buildApparatus(QWidget* p) {
    TypAparatu = new QComboBox(p);
    tag(TypAparatu, QStringLiteral("TypAparatu"), QStringLiteral("Typ aparatów łączeniowych"));
    TypAparatu->addItems(listItems(QStringLiteral("TypAparatu")));
    TypAparatu->setGeometry(art::kListRect);
    connect(TypAparatu, &QComboBox::activated, this, &TKonfig_1::TypAparatuChange);
    const QRect at(QPoint(0, art::kApparatusTop), art::kApparatusArt);
    Image_Stycznik =
        picture(p, QStringLiteral("Image_Stycznik"), QStringLiteral("konfig_aparaty_styczniki.svg"),
                at, QStringLiteral("Wykres przełączania styczników: T Off, T D, T On"));
    Image_Rozlacznik = picture(
        p, QStringLiteral("Image_Rozlacznik"), QStringLiteral("konfig_aparaty_rozlaczniki.svg"), at,
        QStringLiteral("Wykres przełączania rozłączników: T Off, T D, T On"));
    // Left to right: T Off, T D, T On.
    const std::array<const char*, 3> order = {"Edit13", "Edit14", "Edit15"};
    for (int i = 0; i < 3; ++i) {
        TEntryBox* b = addEntry(field(order[size_t(i)]), p);
        b->setBorderless(true);
        b->setGeometry(art::apparatusBox(i));
    }
}

void TKonfig_1::buildMode(QWidget* p) {
    WyborTrybu = new QComboBox(p);
    tag(WyborTrybu, QStringLiteral("WyborTrybu"), QStringLiteral("Program pracy sterownika"));
    const QStringList programs = listItems(QStringLiteral("WyborTrybu"));
    WyborTrybu->addItems(programs);
    WyborTrybu->setGeometry(art::kListRect);
    connect(WyborTrybu, &QComboBox::activated, this, &TKonfig_1::WyborTrybuChange);
    for (int i = 1; i < 9; ++i)
        Tryb[size_t(i)] =
            picture(p, QStringLiteral("Tryb_%1").arg(kProgramItems[i]),
                    QStringLiteral("tryb_%1.svg").arg(kProgramItems[i]), art::kProgramPicture,
                    QStringLiteral("Schemat programu ") + programs[i]);

    auto* caption = new QLabel(QStringLiteral("Linia główna:"), p);
    caption->setGeometry(art::kMainLineCaption);
    Linia_Glowna = new QComboBox(p);
    tag(Linia_Glowna, QStringLiteral("Linia_Glowna"),
        QStringLiteral("Linia główna (priorytetowa)"));
    Linia_Glowna->addItems(listItems(QStringLiteral("Linia_Glowna")));
    Linia_Glowna->setGeometry(art::kMainLineList);
    caption->setBuddy(Linia_Glowna);
    connect(Linia_Glowna, &QComboBox::activated, this, &TKonfig_1::Linia_GlownaChange);

    picture(p, QStringLiteral("Image_Zrzut"), QStringLiteral("konfig_zrzut.svg"),
            art::kSheddingPanel, QStringLiteral("Panel zrzutu obciążenia linii N1, N2, N3"));
    for (int n = 1; n <= 3; ++n) {
        TMarkerPair* m = addMarker(field(QStringLiteral("Znaczek_N%1").arg(n).toLatin1()),
                                   QStringLiteral("Znaczek_N%1_On").arg(n),
                                   QStringLiteral("Znaczek_N%1_Off").arg(n), p);
        m->move(art::sheddingMarker(n));
    }
}

void TKonfig_1::showCopy(bool opening) {
    TEditorWindow::showCopy(opening);
    TypAparatu->setCurrentIndex(Konfig_Kopia.Aparat ? 1 : 0);
    Image_Stycznik->setVisible(!Konfig_Kopia.Aparat);
    Image_Rozlacznik->setVisible(Konfig_Kopia.Aparat);
    // A program the list does not offer leaves it without a selection and is
    // kept as read.
    const int item = programItem(Konfig_Kopia.Progr);
    WyborTrybu->setCurrentIndex(item);
    WyborTrybuChange(item);
    // Likewise a main line outside the list.
    const int line = Konfig_Kopia.Linia_Glowna;
    Linia_Glowna->setCurrentIndex(line >= 0 && line <= 3 ? line : -1);
}

void TKonfig_1::markDifferences() {
    TEditorWindow::markDifferences();
    const auto mark = [this](QComboBox* list, const char* component) {
        const bool d = differs(*findField(configFields(), QLatin1String(component)));
        list->setStyleSheet(d ? QStringLiteral("QComboBox { background: #ffd24a; }") : QString());
        list->setToolTip(d ? QStringLiteral("Wartość różni się od odczytanej ze sterownika")
                           : QString());
    };
    mark(TypAparatu, "TypAparatu");
    mark(WyborTrybu, "WyborTrybu");
    mark(Linia_Glowna, "Linia_Glowna");
}

void TKonfig_1::TypAparatuChange(int item) {
    Konfig_Kopia.Aparat = item == 1;
    Image_Stycznik->setVisible(item != 1);
    Image_Rozlacznik->setVisible(item == 1);
    if (marksShown())
        markDifferences();
}

void TKonfig_1::WyborTrybuChange(int item) {
    for (int i = 1; i < 9; ++i)
        Tryb[size_t(i)]->setVisible(i == item);
    if (item >= 0 && item < 9)
        Konfig_Kopia.Progr = kProgramItems[item];
    if (marksShown())
        markDifferences();
}

void TKonfig_1::Linia_GlownaChange(int item) {
    if (item >= 0)
        Konfig_Kopia.Linia_Glowna = item;
    if (marksShown())
        markDifferences();
}

QByteArray TKonfig_1::frameToSend() const { return configFrame(Konfig_Kopia); }

QString TKonfig_1::confirmQuestion() const {
    const QStringList w = thresholdWarnings(Konfig_Kopia);
    if (w.isEmpty())
        return {};
    return w.join(u'\n') +
           QStringLiteral("\n\nPrzy takich progach linia nie ma pasma, w którym uchodzi za "
                          "dobrą. Wysłać konfigurację mimo to?");
}

} // namespace qta
