#include "modbus/modbussettings.h"

namespace qta::modbus {

TModbusSettings modbusSettings(bool present, const std::function<QString(const char*)>& value,
                               QStringList& errors) {
    TModbusSettings s;
    if (!present)
        return s;
    const qsizetype before = errors.size();
    QString error;
    if (!parseListenAddress(value("Listen"), {QHostAddress(QHostAddress::LocalHost), kDefaultPort},
                            s.listen, error))
        errors << QStringLiteral("[modbus] Listen=: %1").arg(error);
    if (!parseAllowList(value("Allow"), s.allow, error))
        errors << QStringLiteral("[modbus] Allow=: %1").arg(error);
    s.enabled = errors.size() == before;
    return s;
}

} // namespace qta::modbus
