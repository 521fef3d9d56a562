// The mimic windows: the controller's live state drawn as a fixed picture for
// the operating program it runs. Each window polls the state four times a
// second and only reads it.
#pragma once

#include "mimic/mimiclayouts.h"

#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <vector>

class QLabel;
class QCustomPlot;

namespace qta {

class TQTA504Core;

class TMimicWindow : public QWidget {
    Q_OBJECT
public:
    // `showMain` opens the mimic window of the active program; the windows
    // that switch themselves call it after closing.
    TMimicWindow(const TMimicLayout& layout, const TQTA504Core& state,
                 std::function<void()> showMain, QWidget* parent = nullptr);
    ~TMimicWindow() override;

    int program() const { return layout_.program; }
    const TMimicLayout& layout() const { return layout_; }
    // Whether the frame may be enlarged (the program 2 window).
    bool sizeable() const { return layout_.sizeable; }

    // One refresh from the controller state; the refresh timer's handler.
    void TimerTimer();

    // Text of a phase-voltage reading: "---" up to 80 V, "81V" .. "299V", "+++" from 300 V.
    static QString readingText(int volts);

    QTimer Timer; // the refresh, every 250 ms from creation
    int Czas = 0; // chart time in seconds: refreshes / 4
    int Tic = 0;  // refreshes within the current chart second
    int Licz = 0; // refreshes in a row without link (link-testing window only)

private:
    struct Lamp {
        QLabel* lit = nullptr;
        QLabel* unlit = nullptr;
    };
    struct Panel {
        const TPanelLayout* layout = nullptr;
        std::array<QLabel*, 3> readings{};
        std::array<Lamp, 3> max{}, ok{}, min{};
        std::array<QLabel*, 4> badges{}; // A, B, C, D
        int badge = -1;                  // shown badge, -1 none yet
        QCustomPlot* chart = nullptr;
    };

    void buildPanel(Panel& p, const TPanelLayout& layout);
    Lamp makeLamp(const QString& name, const QString& spoken, const char* kind, QPoint at);
    QLabel* makePicture(const QString& name, const QString& spoken, const QString& file,
                        const QRect& geometry);
    void buildChart(Panel& p);

    void refreshPanel(Panel& p);
    void refreshDiagram();
    void chartStep();
    void blank();
    void closeAndShowMain();

    const TMimicLayout& layout_;
    const TQTA504Core& state_;
    std::function<void()> showMain_;
    std::vector<Panel> panels_;
    QLabel* diagramOff_ = nullptr;
    std::vector<QLabel*> diagramActive_;
    int diagramShown_ = TMimicLayout::kOff; // index into diagramActive_ or kOff
};

// The eight windows by the names of their programs.
class TProg_1 : public TMimicWindow {
    Q_OBJECT
public:
    TProg_1(const TQTA504Core& state, std::function<void()> showMain, QWidget* parent = nullptr);
};
class TProg_2 : public TMimicWindow {
    Q_OBJECT
public:
    TProg_2(const TQTA504Core& state, std::function<void()> showMain, QWidget* parent = nullptr);
};
class TProg_3 : public TMimicWindow {
    Q_OBJECT
public:
    TProg_3(const TQTA504Core& state, std::function<void()> showMain, QWidget* parent = nullptr);
};
class TProg_4 : public TMimicWindow {
    Q_OBJECT
public:
    TProg_4(const TQTA504Core& state, std::function<void()> showMain, QWidget* parent = nullptr);
};
class TProg_5 : public TMimicWindow {
    Q_OBJECT
public:
    TProg_5(const TQTA504Core& state, std::function<void()> showMain, QWidget* parent = nullptr);
};
class TProg_10 : public TMimicWindow {
    Q_OBJECT
public:
    TProg_10(const TQTA504Core& state, std::function<void()> showMain, QWidget* parent = nullptr);
};
class TProg_11 : public TMimicWindow {
    Q_OBJECT
public:
    TProg_11(const TQTA504Core& state, std::function<void()> showMain, QWidget* parent = nullptr);
};
class TProg_12 : public TMimicWindow {
    Q_OBJECT
public:
    TProg_12(const TQTA504Core& state, std::function<void()> showMain, QWidget* parent = nullptr);
};

// The window of `program`, or nullptr for a program without one. The caller
// owns it (the main window puts it into a sub-window that deletes on close).
// Standing alone (no parent) it is a top-level window of its own.
QWidget* createMimicWindow(int program, const TQTA504Core& state, std::function<void()> showMain,
                           QWidget* parent = nullptr);

} // namespace qta
