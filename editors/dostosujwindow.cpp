#include "editors/dostosujwindow.h"

#include "artwork/artwork.h"
#include "editors/entrybox.h"
#include "editors/markerpair.h"
#include "editors/settingsart.h"
#include "settings/settingsframes.h"

#include <QLabel>

namespace qta {

TDostosuj::TDostosuj(TQTA504Core& core, QWidget* parent) : TEditorWindow(core, 2, parent) {
    setObjectName(QStringLiteral("Dostosuj"));
    setAccessibleDescription(QStringLiteral("Dostosuj"));
    setAccessibleName(QStringLiteral("Dostosowanie sterownika"));
    setWindowTitle(QStringLiteral("Dostosuj"));
    setProperty("fixedFrame", true);
    setFixedSize(kWidth, kHeight);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setBrush(QPalette::Window, QBrush(artworkPixmap(QStringLiteral("settings_bg.svg"))));
    setPalette(pal);

    auto* sections = new QLabel(this);
    sections->setObjectName(QStringLiteral("Image_Sekcje"));
    sections->setAccessibleDescription(QStringLiteral("Image_Sekcje"));
    sections->setAccessibleName(
        QStringLiteral("Sekcje: kontrola napięcia wyjściowego, podświetlanie LCD, sygnalizacja "
                       "dźwiękowa, rejestr zdarzeń"));
    sections->setGeometry(art::kSectionsArt);
    sections->setPixmap(
        artworkPixmap(QStringLiteral("dostosuj_sekcje.svg"), art::kSectionsArt.size()));

    // Buttons first: they lead the tab order, then the boxes top to bottom.
    const int y = art::kSectionsArt.bottom() + 8;
    Zastosuj = addOkButton(QStringLiteral("Zastosuj"), this);
    Zastosuj->setGeometry(6, y, 52, 26);
    Anuluj = addCancelButton(QStringLiteral("Anuluj"), this);
    Anuluj->setGeometry(kWidth - 2 - 56, y, 56, 26);

    const QPoint o = art::kSectionsArt.topLeft();
    const char* markers[4] = {"Kontrola", "Podsw", "Buczek", "Rejestr"};
    for (int s = 0; s < 4; ++s) {
        const QString base = QLatin1String(markers[s]);
        TMarkerPair* m =
            addMarker(*findField(customFields(), base), base + QStringLiteral("_On_Image"),
                      base + QStringLiteral("_Off_Image"), this);
        m->move(o + QPoint(art::kMarkerX, art::kEnabledRowY[s] - TMarkerPair::kSide / 2));
        m->setFocusPolicy(Qt::ClickFocus); // the tab order is the buttons and the boxes
    }
    const char* boxes[4] = {"Kontrola_Edit", "Podsw_Czas_Edit", "Podsw_Jasn_Edit", "Buczek_Czas"};
    QWidget* previous = Anuluj;
    setTabOrder(Zastosuj, Anuluj);
    for (int i = 0; i < 4; ++i) {
        TEntryBox* b = addEntry(*findField(customFields(), QLatin1String(boxes[i])), this);
        b->setGeometry(o.x() + art::kBoxRight - art::kCustomBox.width(),
                       o.y() + art::kBoxRowY[i] - art::kCustomBox.height() / 2,
                       art::kCustomBox.width(), art::kCustomBox.height());
        setTabOrder(previous, b);
        previous = b;
    }
    setBackup(QStringLiteral("Dostosuj"), QStringLiteral("Dostosowanie sterownika QTA-504"),
              customFields());
    QPushButton* save = addSaveButton(this);
    save->setGeometry(62, y, 72, 26);
    QPushButton* load = addLoadButton(this);
    load->setGeometry(138, y, 80, 26);
    setTabOrder(previous, save);
    setTabOrder(save, load);
    TEditorWindow::showCopy(true);
}

QByteArray TDostosuj::frameToSend() const { return customFrame(Konfig_Kopia); }

} // namespace qta
