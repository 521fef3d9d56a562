#include "collector/collector.h"

#include "collector/collectorlog.h"

#include <QDir>
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
    setEmail(config);
    apply(config.controllers);
    applyModbus(config.modbus);
    applyWeb(config.web);
    return runningCount();
}

void TCollector::reload(const TCollectorConfig& config) {
    if (!config.errors.isEmpty()) {
        for (const QString& e : config.errors)
            collectorLog(LogLevel::Error, {}, e);
        collectorLog(LogLevel::Error, {},
                     QStringLiteral("konfiguracja odrzucona, sterowniki pracują bez zmian"));
        if (web_)
            web_->reloadUsers(); // the users file is not the configuration
        return;
    }
    collectorLog(LogLevel::Notice, {}, QStringLiteral("wczytano konfigurację ponownie"));
    mqtt_ = config.mqtt;
    setEmail(config);
    apply(config.controllers);
    applyModbus(config.modbus);
    applyWeb(config.web);
}

void TCollector::applyWeb(const web::TWebSettings& settings) {
    if (!settings.enabled && !web_)
        return;
    if (!web_)
        web_ = std::make_unique<web::TWebConsole>(
            static_cast<const web::TSite&>(*this),
            [](int level, const QString& text) { collectorLog(LogLevel(level), {}, text); });
    web_->apply(settings);
    web_->unitsChanged();
}

QList<web::TSiteUnit> TCollector::units() const {
    QList<web::TSiteUnit> out;
    for (const QString& name : order_)
        if (const auto it = units_.find(name); it != units_.end())
            out.append({name, it->second->entry().port, &it->second->core()});
    return out;
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

void TCollector::setEmail(const TCollectorConfig& config) {
    const QString dir = QDir(config.dataRoot).filePath(QStringLiteral(".poczta"));
    if (config.email == email_ && dir == mailDir_ && (mailer_ || !email_.enabled()))
        return;
    mailer_.reset(); // stopped: its state saved, the message under way stays queued
    email_ = config.email;
    mailDir_ = dir;
    if (!email_.enabled())
        return;
    mailer_ = std::make_unique<email::TMailer>(
        email_, mailDir_,
        [](int level, const QString& text) { collectorLog(LogLevel(level), {}, text); },
        email::TMailer::timesFromEnvironment());
    mailer_->start();
}

void TCollector::mailTransition(TControllerUnit& unit, const TAlarm& a, AlarmTransition t) {
    if (!mailer_)
        return;
    const QString name = unit.entry().name, id = unit.core().Konfig.Id.trimmed();
    mailer_->transition(email::mailEvent(name, id, a, t, QDateTime::currentDateTime()),
                        email::waitingAlarms(name, id, unit.core().Alarmy.listed()));
}

void TCollector::apply(const QList<TControllerEntry>& wanted) {
    order_.clear();
    for (const TControllerEntry& e : wanted)
        order_ << e.name;
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
        connect(&unit->core().Alarmy, &TAlarmEngine::transition, this,
                [this, u = unit.get()](const TAlarm& a, AlarmTransition t) {
                    mailTransition(*u, a, t);
                });
        unit->setMqtt(mqtt_, e.id);
        if (unit->start())
            units_.emplace(e.name, std::move(unit));
    }
}

void TCollector::stopAll() {
    if (web_)
        web_->stop(); // its pages hold no controller
    modbus_.stop();
    for (auto& [name, unit] : units_)
        unit->stop();
    units_.clear();
    if (mailer_)
        mailer_->stop();
}

int TCollector::runningCount() const { return int(units_.size()); }

TControllerUnit* TCollector::unit(const QString& name) const {
    const auto it = units_.find(name);
    return it == units_.end() ? nullptr : it->second.get();
}

} // namespace qta
