// The [modbus] section of the collector's configuration: where the Modbus
// TCP server listens and which clients it lets in. Without the section no
// server runs. Each controller's unit identifier is its section's
// Jednostka= (collector/collectorconfig).
#pragma once

#include "link/listenaddress.h"

#include <QStringList>
#include <functional>

namespace qta::modbus {

struct TModbusSettings {
    bool enabled = false;
    TListenAddress listen; // default 127.0.0.1:1502
    QList<TSubnet> allow;  // default loopback only
    bool operator==(const TModbusSettings& o) const {
        return enabled == o.enabled && listen.address == o.listen.address &&
               listen.port == o.listen.port && allow == o.allow;
    }
};

constexpr quint16 kDefaultPort = 1502;

// The settings from the section's keys (`value` returns a key's trimmed
// text, empty when absent); `present` says whether the section exists.
// Every problem is one Polish line in `errors`; with any, no server runs.
TModbusSettings modbusSettings(bool present, const std::function<QString(const char*)>& value,
                               QStringList& errors);

} // namespace qta::modbus
