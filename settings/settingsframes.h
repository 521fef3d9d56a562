// The frames the settings editors send, built from a TKonf without any window,
// and the byte-by-byte transmit they share.
#pragma once

#include "link/model.h"

#include <QByteArray>
#include <QStringList>

namespace qta {

class TComPort;

// Configuration write (code 2): 32 payload bytes. Thresholds, hysteresis and
// the three line times as 16-bit values, high byte first; the apparatus times
// in whole tenths; the mode byte (bit 7 apparatus type, bits 6..3 program,
// bits 2..0 main line); the shedding byte (16 N1, 4 N2, 1 N3).
QByteArray configPayload(const TKonf& k);
// The whole frame of 37 bytes: 255, 2, 253, payload, sum high, sum low.
QByteArray configFrame(const TKonf& k);

// Mode and shedding bytes of the configuration write.
int configModeByte(const TKonf& k);
int configSheddingByte(const TKonf& k);

// Customisation write (code 5): 8 payload bytes. The settings byte carries
// 128 monitoring, 64 sound, 32 backlight, 16 event register (not the layout
// of the customisation reply); then alarm delay, alarm duration and backlight
// time as 16-bit values and the brightness as one byte.
QByteArray customPayload(const TKonf& k);
// The whole frame of 13 bytes.
QByteArray customFrame(const TKonf& k);
int customSettingsByte(const TKonf& k);

// Sends `frame` one byte per TransmitChar call. A failing byte raises the
// port's EComPort; the bytes after it are not sent.
void transmitFrame(TComPort& port, const QByteArray& frame);

// What a careful technician would want to hear before sending thresholds that
// leave a line no band to work in: per line, a lower threshold not below the
// upper one, or a hysteresis with U_Min + U_Hist >= U_Max - U_Hist. One Polish
// sentence per line concerned; empty when all is well.
QStringList thresholdWarnings(const TKonf& k);

} // namespace qta
