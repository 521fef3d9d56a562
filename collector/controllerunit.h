// One controller of the collector: its data folder (prepared and locked), its
// core with the link, tables, watchdog, re-read and alarms exactly as the
// desktop program runs them, and the start cycle that finds and reads the
// controller on its configured port. What the windows would show goes to the
// log instead.
#pragma once

#include "collector/collectorconfig.h"
#include "collector/collectorlog.h"
#include "core/controller.h"
#include "core/startcycle.h"
#include "modbus/modbusunit.h"
#include "mqtt/mqttpublisher.h"

#include <QLockFile>
#include <QObject>
#include <memory>

namespace qta {

class TControllerUnit : public QObject, private TNullView, private TStartView {
    Q_OBJECT
public:
    explicit TControllerUnit(const TControllerEntry& entry, QObject* parent = nullptr);
    ~TControllerUnit() override;

    const TControllerEntry& entry() const { return entry_; }
    TQTA504Core& core() { return core_; }

    // Prepares the folder (created with empty tables when missing), takes its
    // lock, opens the tables and starts looking for the controller. False,
    // with the reason logged, when the folder cannot be used.
    bool start();
    // Ends the run: the end row of every table, the port closed, the folder
    // unlocked. Also done by the destructor.
    void stop();
    bool running() const { return running_; }

    // Publishing over MQTT: started with the unit (or now, when it runs),
    // replaced when the settings or the Id= change; settings not enabled stop it.
    void setMqtt(const mqtt::TMqttSettings& settings, const QString& id);
    const mqtt::TMqttSettings& mqttSettings() const { return mqtt_; }
    mqtt::TControllerPublisher* publisher() const { return publisher_.get(); }

    // Its answers over Modbus while it runs (nullptr when stopped); served
    // under entry().unit when that is not 0.
    modbus::TModbusUnit* modbusUnit() const { return modbus_.get(); }
    void setModbusUnitId(int unit) { entry_.unit = unit; }

    // The name the collector gives its lock files (QLockFile's application name).
    static QString lockAppName() { return QStringLiteral("qta504d"); }

private:
    void log(LogLevel level, const QString& text);

    // Of the main window's part, panels and errors become log lines; there
    // are no windows to open or close.
    void setStatusPanel(int panel, const QString& text) override;
    QString statusPanel(int panel) const override;
    void reportError(const QString& message) override;

    // TStartView: the start cycle's texts, each said once per search.
    void setStatusText(const QString& text) override;
    QString statusText() const override { return startText_; }
    void closeWindow() override;

    TControllerEntry entry_;
    TQTA504Core core_;
    TStartCycle start_;
    std::unique_ptr<QLockFile> lock_;
    mqtt::TMqttSettings mqtt_;
    std::unique_ptr<mqtt::TControllerPublisher> publisher_;
    std::unique_ptr<modbus::TModbusUnit> modbus_;
    void startPublisher();
    bool running_ = false;
    bool connected_ = false;
    QString faults_;
    QString lastError_;
    QString startText_;
    QStringList startSaid_;
};

} // namespace qta
