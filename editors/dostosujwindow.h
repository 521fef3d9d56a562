// The customisation editor "Dostosuj": output-voltage monitoring, display
// backlight, sound signal and event register, sent as one customisation write.
#pragma once

#include "editors/editorwindow.h"

namespace qta {

class TDostosuj : public TEditorWindow {
    Q_OBJECT
public:
    explicit TDostosuj(TQTA504Core& core, QWidget* parent = nullptr);

    QPushButton* Zastosuj = nullptr; // OK
    QPushButton* Anuluj = nullptr;

    static constexpr int kWidth = 280, kHeight = 290;

    QByteArray frameToSend() const override;
};

} // namespace qta
