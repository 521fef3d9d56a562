// Main-window stand-ins for the tests that run the core without the main window.
#pragma once

#include "core/controller.h"

#include <QStringList>
#include <array>

// Does nothing the core asks but keep whether a mimic window is open, so that
// the core's handling of a program change runs as it does in the program.
class NullView : public qta::TNullView {
public:
    bool mimicOpen = false;

    bool mimicWindowOpen() const override { return mimicOpen; }
    void closeMimicWindow() override { mimicOpen = false; }
    void showMain() override { mimicOpen = true; }
};

// Records what the core asks of the main window.
class RecordingView : public NullView {
public:
    std::array<QString, 3> panels;
    QString caption = QStringLiteral("Połącz");
    int mimicCloses = 0;
    int showMains = 0;
    int settingsEnabled = 0;
    int startWindows = 0;
    QStringList errors;

    void setStatusPanel(int panel, const QString& text) override { panels[size_t(panel)] = text; }
    QString statusPanel(int panel) const override { return panels[size_t(panel)]; }
    void setConnectCaption(const QString& c) override { caption = c; }
    void closeMimicWindow() override {
        ++mimicCloses;
        NullView::closeMimicWindow();
    }
    void showMain() override {
        ++showMains;
        NullView::showMain();
    }
    void enableSettingsItems() override { ++settingsEnabled; }
    void showStartWindow() override { ++startWindows; }
    void reportError(const QString& message) override { errors << message; }
};
