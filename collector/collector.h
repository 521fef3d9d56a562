// The set of controllers one collector process runs, all on one event loop,
// and how a new configuration changes it: a controller whose section is gone
// is stopped (its end rows written), a new one started, one whose port or
// folder changed restarted; the others are not touched.
#pragma once

#include "collector/collectorconfig.h"
#include "collector/controllerunit.h"
#include "email/mailer.h"
#include "modbus/modbusservice.h"
#include "web/console.h"

#include <QObject>
#include <map>
#include <memory>

namespace qta {

class TCollector : public QObject, private web::TSite {
    Q_OBJECT
public:
    explicit TCollector(QObject* parent = nullptr);
    ~TCollector() override;

    // The first reading: the configuration's errors are logged, every usable
    // controller is started. Returns how many run.
    int start(const TCollectorConfig& config);
    // A reading on SIGHUP. With any error in the file nothing changes (the
    // errors are logged); otherwise the running set becomes the file's.
    void reload(const TCollectorConfig& config);
    // Stops every controller (SIGTERM, SIGINT).
    void stopAll();

    int runningCount() const;
    TControllerUnit* unit(const QString& name) const;
    // The site console; nullptr until a [web] section starts it.
    web::TWebConsole* webConsole() const { return web_.get(); }

private:
    void apply(const QList<TControllerEntry>& wanted);
    void applyModbus(const modbus::TModbusSettings& settings);
    void applyWeb(const web::TWebSettings& settings);
    // The console's view: the running controllers in the configuration's order.
    QList<web::TSiteUnit> units() const override;
    // One mailer for the site: made anew when [email] or the data root change.
    void setEmail(const TCollectorConfig& config);
    void mailTransition(TControllerUnit& unit, const TAlarm& a, AlarmTransition t);

    mqtt::TMqttSettings mqtt_;
    email::TEmailSettings email_;
    QString mailDir_;
    std::unique_ptr<email::TMailer> mailer_;
    modbus::TModbusService modbus_;
    std::map<QString, std::unique_ptr<TControllerUnit>> units_;
    QStringList order_; // the sections' order in the configuration
    std::unique_ptr<web::TWebConsole> web_;
};

} // namespace qta
