// The configuration editor "Konfiguracja": line thresholds, line and apparatus
// times, apparatus type, operating program, main line and load shedding, sent
// as one configuration write.
#pragma once

#include "editors/editorwindow.h"

#include <QComboBox>
#include <QLabel>
#include <QTabWidget>
#include <array>

namespace qta {

class TKonfig_1 : public TEditorWindow {
    Q_OBJECT
public:
    explicit TKonfig_1(TQTA504Core& core, QWidget* parent = nullptr);

    QTabWidget* PageControl1 = nullptr;
    QComboBox* TypAparatu = nullptr;
    QComboBox* WyborTrybu = nullptr;
    QComboBox* Linia_Glowna = nullptr;
    QLabel* Image_Stycznik = nullptr;
    QLabel* Image_Rozlacznik = nullptr;
    std::array<QLabel*, 9> Tryb{};  // pictures of list items 1..8; [0] none ("Brak")
    QPushButton* Button3 = nullptr; // OK
    QPushButton* Button2 = nullptr; // Anuluj

    // Client area.
    static constexpr int kWidth = 409, kHeight = 392;

    QByteArray frameToSend() const override;
    QString confirmQuestion() const override;

    // The lists' handlers (the user's pick).
    void TypAparatuChange(int item);
    void WyborTrybuChange(int item);
    void Linia_GlownaChange(int item);

    // Writes every control from Konfig_Kopia (after opening or loading a file).
    void showCopy(bool opening) override;
    void markDifferences() override;

private:
    QWidget* page(const QString& name, const QString& title, const QString& spoken);
    void buildVoltages(QWidget* p);
    void buildTimes(QWidget* p);
    void buildApparatus(QWidget* p);
    void buildMode(QWidget* p);
    QLabel* picture(QWidget* parent, const QString& name, const QString& file, QRect at,
                    const QString& spoken);
};

} // namespace qta
