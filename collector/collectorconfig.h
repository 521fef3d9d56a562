// The collector's configuration file: one section per controller, [NAME]
// with Port= (the line: a serial device or a network name), Folder= (its
// data folder) and, optionally, Id= (its identity on MQTT in place of the
// name: kept when the section is renamed). [collector] holds settings of the whole collector
// (DataRoot=, the folder relative Folder= names and sections without Folder= go under); [mqtt] says
// where to publish states, events and alarms (mqtt/mqttsettings.h); [email]
// where alarm messages go (email/emailsettings.h).
#pragma once

#include "email/emailsettings.h"
#include "modbus/modbussettings.h"
#include "mqtt/mqttpayload.h"
#include "mqtt/mqttsettings.h"
#include "web/websettings.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace qta {

struct TControllerEntry {
    QString name;   // the section name, first word of every log line about it
    QString port;   // passed to TComPort::setPort as written
    QString folder; // absolute and clean
    QString id;     // Id=, empty when absent (the name is the identity on MQTT)
    int unit = 0;   // Jednostka=, its Modbus unit identifier; 0: not served
    bool operator==(const TControllerEntry&) const = default;
    // The identity mqtt::controllerId() is made of, beside the prefix.
    QString key() const { return mqtt::identityKey(name, id); }
};

struct TCollectorConfig {
    // False when the file itself could not be used (missing, unreadable, not INI).
    bool readable = false;
    QList<TControllerEntry> controllers; // the usable sections, in file order
    QStringList errors;                  // Polish, one per problem, naming the section
    mqtt::TMqttSettings mqtt;            // not enabled without [mqtt] Host= or with an error
    modbus::TModbusSettings modbus;      // not enabled without [modbus] or with an error
    web::TWebSettings web;               // the site console: not enabled without [web]
    email::TEmailSettings email;         // likewise, [email] Host=
    // Where relative Folder= go: DataRoot=, or else the file's own folder
    // (the e-mail queue is kept there too).
    QString dataRoot;
};

// Reads `path`. A section without Port=, without Folder= (and no DataRoot=),
// sharing its folder with another section, or whose identity (Id=, or else
// the name) is another section's is named in `errors` and left out of
// `controllers`; the others are kept. A Jednostka= that is not 1..247, or
// that another section has too (given, or its position), is named in
// `errors` and that controller runs without being served over Modbus.
TCollectorConfig readCollectorConfig(const QString& path);

} // namespace qta
