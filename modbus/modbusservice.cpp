#include "modbus/modbusservice.h"

namespace qta::modbus {

TModbusService::TModbusService(TModbusServer::Log log)
    : server_(new TModbusServer(board_, std::move(log))) {
    thread_.setObjectName(QStringLiteral("modbus"));
    server_->moveToThread(&thread_);
    // Deleted on its thread as the thread ends, its notifiers with it.
    QObject::connect(&thread_, &QThread::finished, server_, &QObject::deleteLater);
    thread_.start();
}

TModbusService::~TModbusService() {
    stop();
    thread_.quit();
    thread_.wait();
}

bool TModbusService::start(const TModbusSettings& settings, QString& error) {
    bool ok = false;
    QMetaObject::invokeMethod(
        server_, [&] { ok = server_->start(settings, error); }, Qt::BlockingQueuedConnection);
    settings_ = settings;
    listening_ = ok;
    return ok;
}

void TModbusService::stop() {
    if (!listening_)
        return;
    QMetaObject::invokeMethod(
        server_, [this] { server_->stop(); }, Qt::BlockingQueuedConnection);
    listening_ = false;
}

} // namespace qta::modbus
