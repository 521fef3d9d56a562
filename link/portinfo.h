// What the system tells about a serial port, for the user and for the
// settings file: a USB adapter's description and serial number, its stable
// name under /dev/serial/by-id/, and why a port that exists cannot be opened.
#pragma once

#include <QString>

namespace qta {

// Where udev publishes one stable link per USB serial adapter, named after
// its maker, model and serial number.
inline constexpr const char* kSerialById = "/dev/serial/by-id";

struct TPortInfo {
    QString name;         // as the port list gives it ("ttyUSB0") or as saved
    QString description;  // "FT232R USB UART"; empty when the system has none
    QString serialNumber; // the adapter's serial number; empty when none
    QString stableName;   // its link under /dev/serial/by-id/; empty when none
};

// The port behind `name` (a listed name or a device path, links followed).
TPortInfo portInfo(const QString& name, const QString& byIdDir = QLatin1String(kSerialById));

// "ttyUSB0 (FT232R USB UART, nr seryjny A50285BI)"; the bare name when the
// system describes nothing.
QString portLabel(const TPortInfo& info);

// The link in `byIdDir` that leads to the same device as `port`; empty when
// none does. A replugged adapter may come back as another ttyUSB, but under
// the same link.
QString stablePortName(const QString& port, const QString& byIdDir = QLatin1String(kSerialById));

// Why this user may not open an existing port, in Polish, with what to do
// about it (which group to join); empty when the device is missing or its
// permissions let this process read and write it.
QString portPermissionProblem(const QString& port);

} // namespace qta
