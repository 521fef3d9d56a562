// A main-window stand-in that records what the core asks of it.
#pragma once

#include "link/controller.h"

#include <QStringList>
#include <array>

class RecordingView : public qta::TMainView {
public:
    std::array<QString, 3> panels;
    QString caption = QStringLiteral("Połącz");
    bool mimicOpen = false;
    int mimicCloses = 0;
    int showMains = 0;
    int settingsEnabled = 0;
    int startWindows = 0;
    QStringList errors;

    void setStatusPanel(int panel, const QString& text) override { panels[size_t(panel)] = text; }
    QString statusPanel(int panel) const override { return panels[size_t(panel)]; }
    void setConnectCaption(const QString& c) override { caption = c; }
    bool mimicWindowOpen() const override { return mimicOpen; }
    void closeMimicWindow() override {
        ++mimicCloses;
        mimicOpen = false;
    }
    void showMain() override {
        ++showMains;
        mimicOpen = true;
    }
    void enableSettingsItems() override { ++settingsEnabled; }
    void showStartWindow() override { ++startWindows; }
    void reportError(const QString& message) override { errors << message; }
};
