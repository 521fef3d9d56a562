#include "link/netstream.h"

#include "link/serialstream.h"

#include <QTcpSocket>
#include <QUrl>
#include <cerrno>

namespace qta {

namespace {

QString refused(const QString& where) {
    return QStringLiteral("Połączenie z %1 odrzucone (nikt nie nasłuchuje na tym porcie)")
        .arg(where);
}
QString notAnswering(const QString& where) {
    return QStringLiteral("Host %1 nie odpowiada (brak połączenia w ciągu %2 s)")
        .arg(where)
        .arg(TNetStream::kConnectTimeoutMs / 1000);
}
QString unknownHost(const QString& host) {
    return QStringLiteral("Nieznany host %1 (nie można ustalić jego adresu)").arg(host);
}
QString lookupTimeout(const QString& host) {
    return QStringLiteral("Nie można ustalić adresu hosta %1 (serwer nazw nie odpowiada)")
        .arg(host);
}
QString unreachable(const QString& where) {
    return QStringLiteral("Host %1 nieosiągalny (brak drogi w sieci)").arg(where);
}
QString dropped(const QString& where) {
    return QStringLiteral("Serwer %1 zerwał połączenie").arg(where);
}
QString noRfc2217(const QString& where) {
    return QStringLiteral("Serwer %1 nie odpowiada na negocjację RFC 2217 (dla surowego "
                          "strumienia bajtów podaj tcp://)")
        .arg(where);
}
QString badAddress(const QString& name) {
    return QStringLiteral("Błędna nazwa portu sieciowego %1 (oczekiwano tcp://HOST:PORT "
                          "lub rfc2217://HOST:PORT)")
        .arg(name);
}

} // namespace

// ---------------------------------------------------------------- port names

TPortKind portKind(const QString& name) {
    const QString n = name.trimmed();
    if (n.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive))
        return TPortKind::Tcp;
    if (n.startsWith(QLatin1String("rfc2217://"), Qt::CaseInsensitive))
        return TPortKind::Rfc2217;
    return TPortKind::Serial;
}

TNetAddress netAddress(const QString& name) {
    TNetAddress a;
    a.kind = portKind(name);
    if (a.kind == TPortKind::Serial)
        return a;
    const QUrl url(name.trimmed(), QUrl::StrictMode);
    const int port = url.port(-1);
    if (!url.isValid() || url.host().isEmpty() || port < 1 || port > 65535 ||
        !(url.path().isEmpty() || url.path() == QLatin1String("/")) || url.hasQuery() ||
        url.hasFragment() || !url.userInfo().isEmpty())
        return a;
    a.host = url.host();
    a.port = quint16(port);
    a.valid = true;
    return a;
}

QString TNetAddress::display() const {
    const QString h = host.contains(QLatin1Char(':')) ? u'[' + host + u']' : host;
    return h + u':' + QString::number(port);
}

// ---------------------------------------------------------------- stream

TNetStream::TNetStream(TPortKind kind, QObject* parent) : TByteStream(parent), kind_(kind) {
    connectTimer_.setSingleShot(true);
    connect(&connectTimer_, &QTimer::timeout, this, &TNetStream::onTimeout);
}

TNetStream::~TNetStream() {
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
    }
}

TTelnetCodec::TLine TNetStream::rfc2217Line(const TLineSettings& line) {
    TTelnetCodec::TLine t;
    t.baudRate = line.baudRate > 0 ? std::uint32_t(line.baudRate) : 0;
    switch (line.dataBits) {
    case dbFive: t.dataSize = 5; break;
    case dbSix: t.dataSize = 6; break;
    case dbSeven: t.dataSize = 7; break;
    default: t.dataSize = 8; break;
    }
    switch (line.parity) {
    case prOdd: t.parity = 2; break;
    case prEven: t.parity = 3; break;
    case prMark: t.parity = 4; break;
    case prSpace: t.parity = 5; break;
    default: t.parity = 1; break;
    }
    switch (line.stopBits) {
    case sbTwoStopBits: t.stopSize = 2; break;
    case sbOne5StopBits: t.stopSize = 3; break;
    default: t.stopSize = 1; break;
    }
    // The same choice as the serial port makes from the fields.
    if (line.flow.ControlRTS == rtsHandshake && line.flow.OutCTSFlow)
        t.control = 3;
    else if (line.flow.XonXoffIn || line.flow.XonXoffOut)
        t.control = 2;
    else
        t.control = 1;
    return t;
}

int TNetStream::open(const QString& port, const TLineSettings& line) {
    close();
    const TNetAddress a = netAddress(port);
    if (!a.valid || a.kind != kind_) {
        failure_ = badAddress(port);
        return EINVAL;
    }
    // Another server: what went wrong with the last one does not apply to it.
    if (a.host != address_.host || a.port != address_.port)
        failure_.clear();
    address_ = a;
    line_ = line;

    socket_ = new QTcpSocket(this);
    connect(socket_, &QTcpSocket::connected, this, &TNetStream::onConnected);
    connect(socket_, &QTcpSocket::readyRead, this, &TNetStream::onReadyRead);
    connect(socket_, &QTcpSocket::errorOccurred, this, &TNetStream::onError);
    connect(socket_, &QTcpSocket::disconnected, this, [this] {
        if (state_ == State::Negotiating || state_ == State::Up)
            fail(dropped(address_.display()), ECONNRESET);
    });
    state_ = State::Connecting;
    connectTimer_.start(kConnectTimeoutMs);
    opening_ = true;
    socket_->connectToHost(a.host, a.port);
    opening_ = false;
    if (state_ == State::Failed) {
        const int error = failureError_;
        close();
        return error;
    }
    return 0;
}

void TNetStream::close() {
    connectTimer_.stop();
    if (socket_)
        dropSocket(true);
    queued_.clear();
    rx_.clear();
    state_ = State::Closed;
}

void TNetStream::dropSocket(bool abort) {
    socket_->disconnect(this);
    if (abort)
        socket_->abort();
    // Possibly inside one of its own signals: deleted (and so closed) from
    // the event loop.
    socket_->deleteLater();
    socket_ = nullptr;
}

void TNetStream::fail(const QString& text, int error) {
    if (state_ == State::Closed || state_ == State::Failed)
        return;
    state_ = State::Failed;
    failure_ = text;
    failureError_ = error;
    connectTimer_.stop();
    queued_.clear();
    dropSocket(false);
    if (!opening_)
        Q_EMIT failed();
}

void TNetStream::onConnected() {
    if (state_ != State::Connecting)
        return;
    // A frame goes out the moment it is written, not after the previous
    // one's acknowledgement.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (kind_ == TPortKind::Tcp) {
        goUp();
        return;
    }
    state_ = State::Negotiating;
    QByteArray offers = telnet_.start(true);
    telnet_.setLine(rfc2217Line(line_)); // sent with the server's agreement
    send(offers);
}

void TNetStream::onReadyRead() {
    if (!socket_ || (state_ != State::Negotiating && state_ != State::Up))
        return;
    const QByteArray in = socket_->readAll();
    const qsizetype before = rx_.size();
    if (kind_ == TPortKind::Tcp) {
        rx_ += in;
    } else {
        const QByteArray reply = telnet_.receive(in, rx_);
        if (!reply.isEmpty())
            send(reply);
        if (state_ == State::Negotiating && telnet_.comPort() != TTelnetCodec::ComPort::Pending)
            goUp();
    }
    if (rx_.size() > before)
        Q_EMIT readyRead();
}

void TNetStream::onError(QAbstractSocket::SocketError error) {
    const QString where = address_.display();
    if (state_ == State::Connecting) {
        switch (error) {
        case QAbstractSocket::ConnectionRefusedError: fail(refused(where), ECONNREFUSED); break;
        case QAbstractSocket::HostNotFoundError:
            fail(unknownHost(address_.host), EHOSTUNREACH);
            break;
        case QAbstractSocket::SocketTimeoutError: fail(notAnswering(where), ETIMEDOUT); break;
        default: fail(unreachable(where), EHOSTUNREACH); break;
        }
        return;
    }
    if (state_ != State::Negotiating && state_ != State::Up)
        return;
    // Some errors leave the connection standing; the closing of the other
    // side, and whatever ends the connection, do not.
    if (error == QAbstractSocket::RemoteHostClosedError || !socket_ ||
        socket_->state() != QAbstractSocket::ConnectedState)
        fail(dropped(where), ECONNRESET);
}

void TNetStream::onTimeout() {
    if (state_ == State::Connecting) {
        if (socket_ && socket_->state() == QAbstractSocket::HostLookupState)
            fail(lookupTimeout(address_.host), ETIMEDOUT);
        else
            fail(notAnswering(address_.display()), ETIMEDOUT);
    } else if (state_ == State::Negotiating) {
        fail(noRfc2217(address_.display()), EPROTO);
    }
}

void TNetStream::goUp() {
    state_ = State::Up;
    connectTimer_.stop();
    failure_.clear();
    failureError_ = 0;
    if (!queued_.isEmpty()) {
        const QByteArray data = queued_;
        queued_.clear();
        send(kind_ == TPortKind::Rfc2217 ? TTelnetCodec::escape(data) : data);
    }
}

void TNetStream::send(const QByteArray& wire) {
    if (!socket_ || wire.isEmpty())
        return;
    socket_->write(wire);
    // To the system now; what it cannot take yet the socket writes from the event loop.
    socket_->flush();
}

void TNetStream::applySettings(const TLineSettings& line) {
    line_ = line;
    if (kind_ != TPortKind::Rfc2217 || (state_ != State::Negotiating && state_ != State::Up))
        return;
    send(telnet_.setLine(rfc2217Line(line)));
}

TByteStream::WriteResult TNetStream::write(const QByteArray& bytes, int* error) {
    switch (state_) {
    case State::Up:
        send(kind_ == TPortKind::Rfc2217 ? TTelnetCodec::escape(bytes) : bytes);
        return WriteResult::Written;
    case State::Connecting:
    case State::Negotiating:
        if (queued_.size() + bytes.size() > kMaxQueued) {
            if (error)
                *error = EAGAIN;
            return WriteResult::Refused;
        }
        queued_ += bytes;
        return WriteResult::Written;
    default:
        if (error)
            *error = state_ == State::Failed ? failureError_ : EBADF;
        return WriteResult::Gone;
    }
}

QByteArray TNetStream::read(qint64 maxSize) {
    const QByteArray out = rx_.left(maxSize);
    rx_.remove(0, out.size());
    return out;
}

TByteStream* makeByteStream(TPortKind kind, QObject* parent) {
    if (kind == TPortKind::Serial)
        return new TSerialStream(parent);
    return new TNetStream(kind, parent);
}

} // namespace qta
