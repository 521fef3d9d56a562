// Publishing over MQTT from the desktop program: switched on by Host= in
// section [mqtt] of its settings file (rejestr/ustawienia.ini), with the keys
// the collector's [mqtt] takes, Nazwa=, the controller's name in the
// topics, and Id=, its identity on MQTT in place of the name. The controller this program talks to
// is published exactly as the collector publishes one of its own; a folder the collector writes is
// published by the collector, never from here.
//
// The status bar shows whether the broker takes the messages (the reason of
// a failure in its tooltip); what the
// connection says goes to standard error, a problem in the settings to the
// program's error box.
#pragma once

#include "mqtt/mqttpublisher.h"

#include <QLabel>
#include <QObject>
#include <functional>
#include <memory>

class QStatusBar;

namespace qta {

class TQTA504Core;

class TDesktopPublishing : public QObject {
    Q_OBJECT
public:
    TDesktopPublishing(TQTA504Core& core, QStatusBar* bar,
                       std::function<void(const QString&)> reportError, QObject* parent = nullptr);
    ~TDesktopPublishing() override;

    // Reads the settings and, when they switch publishing on, starts it (the
    // tables must be open). False when publishing stays off.
    bool start();
    // `offline`, the replay position saved, the connection closed.
    void stop();

    // The status bar's indicator (null while publishing is off).
    QLabel* label() const { return label_; }
    mqtt::TControllerPublisher* publisher() const { return publisher_.get(); }

private:
    void show(const QString& text, const QString& detail);

    TQTA504Core& core_;
    QStatusBar* bar_;
    std::function<void(const QString&)> reportError_;
    std::unique_ptr<mqtt::TControllerPublisher> publisher_;
    QLabel* label_ = nullptr;
    QString where_;
};

} // namespace qta
