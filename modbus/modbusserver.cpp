#include "modbus/modbusserver.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qta::modbus {

namespace {
constexpr int kError = 3, kWarning = 4, kNotice = 5, kInfo = 6; // LogLevel

QString bindError(int err, const TListenAddress& at) {
    switch (err) {
    case EADDRINUSE:
        return QStringLiteral("adres %1 jest zajęty przez inny program").arg(at.text());
    case EACCES:
        return at.port < 1024
                   ? QStringLiteral("brak uprawnień do portu %1 (port poniżej 1024 wymaga "
                                    "CAP_NET_BIND_SERVICE, zob. README)")
                         .arg(at.port)
                   : QStringLiteral("brak uprawnień do adresu %1").arg(at.text());
    case EADDRNOTAVAIL:
        return QStringLiteral("adres %1 nie należy do tego komputera").arg(at.address.toString());
    default:
        return QStringLiteral("nie można nasłuchiwać na %1: %2")
            .arg(at.text(), QString::fromLocal8Bit(std::strerror(err)));
    }
}

QHostAddress peerAddress(const sockaddr_storage& ss) {
    return QHostAddress(reinterpret_cast<const sockaddr*>(&ss));
}
} // namespace

TModbusServer::TModbusServer(const TImageBoard& board, Log log, QObject* parent)
    : QObject(parent), log_(std::move(log)), board_(board),
      handler_([this](int id) { return board_.get(id); }) {}

TModbusServer::~TModbusServer() { stop(); }

bool TModbusServer::start(const TModbusSettings& settings, QString& error) {
    stop();
    settings_ = settings;
    const TListenAddress& at = settings.listen;
    const bool v6 = at.address.protocol() == QAbstractSocket::IPv6Protocol;
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = bindError(errno, at);
        return false;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_storage ss{};
    socklen_t len = 0;
    if (v6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(at.port);
        const Q_IPV6ADDR ip = at.address.toIPv6Address();
        std::memcpy(&a->sin6_addr, &ip, sizeof ip);
        len = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&ss);
        a->sin_family = AF_INET;
        a->sin_port = htons(at.port);
        a->sin_addr.s_addr = htonl(at.address.toIPv4Address());
        len = sizeof *a;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0 || ::listen(fd, 64) != 0) {
        error = bindError(errno, at);
        ::close(fd);
        return false;
    }
    listenFd_ = fd;
    listenNotifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(listenNotifier_.get(), &QSocketNotifier::activated, this, [this] { onAccept(); });
    refusedSaid_.clear();
    log_(kInfo, QStringLiteral("Modbus TCP: nasłuchuję na %1").arg(at.text()));
    return true;
}

void TModbusServer::stop() {
    while (!clients_.empty())
        drop(clients_.begin()->first, {});
    listenNotifier_.reset();
    if (listenFd_ >= 0)
        ::close(listenFd_);
    listenFd_ = -1;
}

void TModbusServer::onAccept() {
    // Every waiting connection; the notifier comes again for later ones.
    for (;;) {
        sockaddr_storage ss{};
        socklen_t len = sizeof ss;
        const int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&ss), &len,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return; // EAGAIN, or a connection reset before it was taken
        const QHostAddress address = peerAddress(ss);
        QString peer = address.toString();
        bool mapped = false;
        if (const quint32 v4 = address.toIPv4Address(&mapped); mapped)
            peer = QHostAddress(v4).toString();
        QString refusal;
        if (!addressAllowed(address, settings_.allow)) {
            refusal = QStringLiteral("Modbus TCP: odrzucono połączenie z %1 (adres spoza Allow=)")
                          .arg(peer);
        } else if (int(clients_.size()) >= kMaxClients) {
            refusal = QStringLiteral("Modbus TCP: odrzucono połączenie z %1 (już %2 połączeń)")
                          .arg(peer)
                          .arg(kMaxClients);
        } else {
            int fromPeer = 0;
            for (const auto& [cfd, c] : clients_)
                fromPeer += c->peer == peer ? 1 : 0;
            if (fromPeer >= kMaxClientsPerAddress)
                refusal = QStringLiteral("Modbus TCP: odrzucono połączenie z %1 (już %2 połączeń "
                                         "z tego adresu)")
                              .arg(peer)
                              .arg(kMaxClientsPerAddress);
        }
        if (!refusal.isEmpty()) {
            ::close(fd);
            if (!refusedSaid_.contains(refusal)) {
                refusedSaid_.insert(refusal);
                log_(kWarning, refusal);
            }
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
        const int sendBuffer = kSendBufferBytes;
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
        auto client = std::make_unique<Client>();
        client->fd = fd;
        client->peer = peer;
        client->address = address;
        client->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(client->notifier.get(), &QSocketNotifier::activated, this,
                [this, fd] { onReadable(fd); });
        clients_.emplace(fd, std::move(client));
    }
}

void TModbusServer::onReadable(int fd) {
    const auto it = clients_.find(fd);
    if (it == clients_.end())
        return;
    Client& c = *it->second;
    // One read per notification, so that a busy client cannot hold the
    // others; the notifier comes again while bytes wait.
    const ssize_t n = ::recv(fd, c.buffer + c.used, sizeof c.buffer - c.used, 0);
    if (n == 0) {
        drop(fd, {});
        return;
    }
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            drop(fd, {});
        return;
    }
    c.used += std::size_t(n);
    const QString why = handler_.serve(c.buffer, c.used, fd);
    if (!why.isEmpty())
        drop(fd, why);
}

void TModbusServer::drop(int fd, const QString& why) {
    const auto it = clients_.find(fd);
    if (it == clients_.end())
        return;
    if (!why.isEmpty())
        log_(kNotice, QStringLiteral("Modbus TCP: rozłączono %1: %2").arg(it->second->peer, why));
    // Dropped from within the notifier's own signal: it goes when that returns.
    it->second->notifier->setEnabled(false);
    it->second->notifier.release()->deleteLater();
    ::close(fd);
    clients_.erase(it);
}

} // namespace qta::modbus
