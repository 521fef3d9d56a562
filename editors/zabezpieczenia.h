// The PIN editor: switches the controller's PIN protection and changes its
// PIN once the present PIN has been typed and the new one typed twice.
#pragma once

#include "editors/editorwindow.h"
#include "settings/pinentry.h"

class QLabel;
class QLineEdit;

namespace qta {

class TMarkerPair;

class TZabezpieczenia : public TEditorWindow {
    Q_OBJECT
public:
    explicit TZabezpieczenia(TQTA504Core& core, QWidget* parent = nullptr);

    // "OK": sends the protection switch and the PIN, whatever the link flag
    // says, and closes; a PIN that may not go out or a transmit error keep
    // the window open.
    void Button1Click();

    const TPinEntry& entryState() const { return entry_; }

    TMarkerPair* Zabezpieczenie = nullptr; // Zabezpieczenie_Image_On / _Off
    TMarkerPair* ZmianaPIN = nullptr;      // ZmianaPIN_Image_On / _Off
    QLineEdit* StaryPIN_Edit = nullptr;
    QLineEdit* NowyPIN_Edit = nullptr;
    QLineEdit* PowtorzPIN_Edit = nullptr;
    QLabel* StaryPIN_Label = nullptr;
    QLabel* PowtorzPIN_Label = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;

private:
    QLineEdit* makeBox(const QString& name, const QString& spoken, int y);
    QLabel* makeText(const QString& text, const QString& name, QRect r, bool bold = false);
    // Shows the rules' state on the controls.
    void sync();

    TPinEntry entry_;
    int focusSeen_ = 0;
};

} // namespace qta
