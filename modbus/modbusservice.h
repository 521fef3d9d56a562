// The Modbus TCP server as the collector holds it: the server on a thread of
// its own, so that its sockets are polled without the controllers' lines
// (each turn of the collector's loop polls every line: at thousands of
// requests a second that, not the answers, would cost most), and the board
// of images the units publish and the server reads. Called from the
// collector's thread only.
#pragma once

#include "modbus/imageboard.h"
#include "modbus/modbusserver.h"

#include <QThread>

namespace qta::modbus {

class TModbusService {
public:
    explicit TModbusService(TModbusServer::Log log);
    ~TModbusService();
    TModbusService(const TModbusService&) = delete;
    TModbusService& operator=(const TModbusService&) = delete;

    // As TModbusServer::start and stop, done on the server's thread.
    bool start(const TModbusSettings& settings, QString& error);
    void stop();
    bool listening() const { return listening_; }
    const TModbusSettings& settings() const { return settings_; }

    TImageBoard* board() { return &board_; }

private:
    TImageBoard board_;
    QThread thread_;
    TModbusServer* server_;
    TModbusSettings settings_;
    bool listening_ = false;
};

} // namespace qta::modbus
