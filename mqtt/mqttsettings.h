// The [mqtt] section of the collector's configuration: where the broker is,
// who the collector is to it, and the files of its secrets. Without the
// section or without Host= nothing is published.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace qta::mqtt {

struct TMqttSettings {
    QString host; // empty: no publishing
    int port = 1883;
    QString clientId; // each controller's connection adds "-NAME"
    QString user;
    QString password; // read from PasswordFile=; never logged
    QString passwordFile;
    QString caFile, certFile, keyFile; // TLS when CaFile= is given
    int keepAlive = 30;
    QString prefix = QStringLiteral("qta504");
    // Potwierdzanie=tak: alarms may be acknowledged through PREFIX/NAME/alarm/ack.
    bool acknowledge = false;

    bool enabled() const { return !host.isEmpty(); }
    bool tls() const { return !caFile.isEmpty(); }
    bool operator==(const TMqttSettings&) const = default;
};

// The settings from the section's keys (`value` returns a key's trimmed text,
// empty when absent); relative file names are taken from `baseDir`. Every
// problem is one Polish line in `errors`; with any, publishing stays off.
TMqttSettings mqttSettings(const std::function<QString(const char*)>& value, const QString& baseDir,
                           QStringList& errors);

// Section [mqtt] of an INI file: the desktop program's settings file
// (rejestr/ustawienia.ini), with the keys above, files relative to the INI
// file's folder, `defaultClientId` when ClientId= is absent, Nazwa=, the
// name its controller has in the topics (`name`; the computer's name when
// absent), and Id=, its identity on MQTT in place of the name (`id`; empty
// when absent). A missing file or section leaves publishing off without an
// error.
TMqttSettings loadMqttSettings(const QString& iniPath, const QString& defaultClientId,
                               QString& name, QString& id, QStringList& errors);

// A file holding a secret: it must be a regular file that neither the group
// nor others may read. Its first line, or an empty string and `error` set.
QString readSecretFile(const QString& path, QString& error);

} // namespace qta::mqtt
