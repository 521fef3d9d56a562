// The collector's Modbus TCP server: one listening socket and its clients,
// driven by socket notifiers on an event loop of its own (TModbusService
// runs it in a thread; no blocking call), each request answered at once from
// the units' images on the board. Clients
// outside Allow= are refused at accept; a client may hold a limited number
// of connections; one that does not read its answers, or sends a stream
// that cannot be framed, is dropped. Nothing a client sends reaches a
// controller.
#pragma once

#include "modbus/imageboard.h"
#include "modbus/modbusframe.h"
#include "modbus/modbussettings.h"
#include "modbus/requesthandler.h"

#include <QObject>
#include <QSet>
#include <QSocketNotifier>
#include <functional>
#include <map>
#include <memory>

namespace qta::modbus {

class TModbusServer : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(int level, const QString& text)>; // level as LogLevel
    TModbusServer(const TImageBoard& board, Log log, QObject* parent = nullptr);
    ~TModbusServer() override;

    // Listens as `settings` say; false with `error` (Polish) when the
    // address cannot be bound. A running server is stopped first.
    bool start(const TModbusSettings& settings, QString& error);
    void stop();
    bool listening() const { return listenFd_ >= 0; }
    const TModbusSettings& settings() const { return settings_; }

    static constexpr int kMaxClients = 128;
    static constexpr int kMaxClientsPerAddress = 8;
    // Answers a client has not read yet that the kernel may hold for it;
    // past that the client is dropped.
    static constexpr int kSendBufferBytes = 64 * 1024;

private:
    struct Client {
        int fd = -1;
        QString peer;
        QHostAddress address;
        std::unique_ptr<QSocketNotifier> notifier;
        std::uint8_t buffer[4096 + kMaxFrame];
        std::size_t used = 0;
    };

    void onAccept();
    void onReadable(int fd);
    void drop(int fd, const QString& why);

    Log log_;
    TModbusSettings settings_;
    int listenFd_ = -1;
    std::unique_ptr<QSocketNotifier> listenNotifier_;
    std::map<int, std::unique_ptr<Client>> clients_;
    const TImageBoard& board_;
    TRequestHandler handler_;
    QSet<QString> refusedSaid_; // each refused address is logged once
};

} // namespace qta::modbus
