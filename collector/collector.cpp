#include "collector/collector.h"

#include "collector/collectorlog.h"

#include <algorithm>

namespace qta {

TCollector::TCollector(QObject* parent)
    : QObject(parent),
      modbus_([](int level, const QString& text) { collectorLog(LogLevel(level), {}, text); }) {}

TCollector::~TCollector() { stopAll(); }

int TCollector::start(const TCollectorConfig& config) {
    for (const QString& e : config.errors)
        collectorLog(LogLevel::Error, {}, e);
    mqtt_ = config.mqtt;
    apply(config.controllers);
    applyModbus(config.modbus);
    return runningCount();
}

void TCollector::reload(const TCollectorConfig& config) {
    if (!config.errors.isEmpty()) {
        for (const QString& e : config.errors)
            collectorLog(LogLevel::Error, {}, e);
        collectorLog(LogLevel::Error, {},
                     QStringLiteral("konfiguracja odrzucona, sterowniki pracują bez zmian"));
        return;
    }
    collectorLog(LogLevel::Notice, {}, QStringLiteral("wczytano konfigurację ponownie"));
    mqtt_ = config.mqtt;
    apply(config.controllers);
    applyModbus(config.modbus);
}

void TCollector::applyModbus(const modbus::TModbusSettings& settings) {
    if (!settings.enabled) {
        if (modbus_.listening())
            collectorLog(LogLevel::Notice, {}, QStringLiteral("Modbus TCP: wyłączony"));
        modbus_.stop();
    } else if (!modbus_.listening() || !(settings == modbus_.settings())) {
        // A new address or list: clients connected under the old one start again.
        QString error;
        if (!modbus_.start(settings, error))
            collectorLog(LogLevel::Error, {},
                         QStringLiteral("Modbus TCP: %1; serwer nie działa").arg(error));
    }
    for (const auto& [name, unit] : units_)
        if (unit->modbusUnit())
            unit->modbusUnit()->serveAs(settings.enabled ? modbus_.board() : nullptr,
                                        unit->entry().unit);
}

void TCollector::apply(const QList<TControllerEntry>& wanted) {
    // Stopped first: a folder may pass from a removed section to a new one.
    for (auto it = units_.begin(); it != units_.end();) {
        const auto same = std::find_if(wanted.begin(), wanted.end(),
                                       [&](const auto& e) { return e.name == it->first; });
        // A changed Id= only reconnects the publisher (below).
        const auto sameLine = [&](const TControllerEntry& e) {
            const TControllerEntry& now = it->second->entry();
            return e.port == now.port && e.folder == now.folder;
        };
        if (same == wanted.end() || !sameLine(*same) || !it->second->running()) {
            it->second->stop();
            it = units_.erase(it);
        } else {
            ++it;
        }
    }
    for (const TControllerEntry& e : wanted) {
        // A changed [mqtt] or Id= reconnects; the controllers run on.
        if (const auto it = units_.find(e.name); it != units_.end()) {
            it->second->setMqtt(mqtt_, e.id);
            it->second->setModbusUnitId(e.unit);
        }
    }
    for (const TControllerEntry& e : wanted) {
        if (units_.count(e.name))
            continue;
        auto unit = std::make_unique<TControllerUnit>(e);
        unit->setMqtt(mqtt_, e.id);
        if (unit->start())
            units_.emplace(e.name, std::move(unit));
    }
}

void TCollector::stopAll() {
    modbus_.stop();
    for (auto& [name, unit] : units_)
        unit->stop();
    units_.clear();
}

int TCollector::runningCount() const { return int(units_.size()); }

TControllerUnit* TCollector::unit(const QString& name) const {
    const auto it = units_.find(name);
    return it == units_.end() ? nullptr : it->second.get();
}

} // namespace qta
