// The port service over one byte stream (link/bytestream.h): a serial port
// (link/serialstream.*) or a connection to a serial device server
// (link/netstream.*), chosen by the port name. Everything runs on the
// user-interface thread: the streams are watched through the event loop.
#include "link/comport.h"

#include "link/bytestream.h"

#include <QScopeGuard>
#include <cerrno>

namespace qta {

EComPort::EComPort(int code, int winCode, const QString& message)
    : std::runtime_error(message.toStdString()), Code(code), WinCode(winCode) {}

TComPort::TComPort(QObject* parent) : QObject(parent) { makeStream(); }

TComPort::~TComPort() {
    stream_->disconnect(this);
    stream_->close();
}

void TComPort::makeStream() {
    if (stream_) {
        stream_->disconnect(this);
        stream_->close();
        stream_->deleteLater(); // a caller up the stack may be inside it
    }
    stream_ = makeByteStream(portKind(port_), this);
    connect(stream_, &TByteStream::readyRead, this, &TComPort::onReadyRead);
    connect(stream_, &TByteStream::failed, this, &TComPort::markLost);
}

bool TComPort::Connected() const { return stream_->isOpen() && !lossPending_; }

bool TComPort::Connecting() const { return Connected() && stream_->isConnecting(); }

QString TComPort::failureText() const { return stream_->failureText(); }

bool TComPort::isNetworkPort(const QString& name) { return portKind(name) != TPortKind::Serial; }

void TComPort::setConnected(bool value) {
    if (value == Connected())
        return;
    if (value) {
        // A device that failed but is not closed yet is closed now, quietly:
        // the caller is reconnecting anyway.
        closePort();
        openPort();
    } else {
        closePort();
    }
}

void TComPort::setPort(const QString& name) {
    if (name == port_)
        return;
    const bool wasOpen = Connected();
    if (wasOpen)
        closePort();
    const bool sameKind = portKind(name) == portKind(port_);
    port_ = name;
    if (!sameKind)
        makeStream();
    if (wasOpen)
        openPort();
}

TLineSettings TComPort::lineSettings() const {
    TLineSettings line;
    line.baudRate = baudRateValue(BaudRate, CustomBaudRate);
    line.dataBits = DataBits;
    line.parity = Parity.Bits;
    line.stopBits = StopBits;
    line.flow = FlowControl;
    return line;
}

void TComPort::openPort() {
    // Even in the middle of a settings load: the device must not start out with
    // whatever the system left on it.
    const int err = stream_->open(port_, lineSettings());
    if (err != 0)
        throw EComPort(CError_OpenFailed, err,
                       QStringLiteral("COM Port Error: Unable to open com port on ") + port_);
}

void TComPort::closePort() {
    lossPending_ = false;
    rxPending_ = false;
    deliveryQueued_ = false;
    stream_->close(); // drops whatever was received and not read
}

void TComPort::applySettings() {
    if (updating_ > 0)
        return;
    stream_->applySettings(lineSettings());
}

void TComPort::TransmitChar(std::uint8_t ch) { transmit(QByteArray(1, char(ch))); }

void TComPort::TransmitBytes(const QByteArray& bytes) {
    if (!bytes.isEmpty())
        transmit(bytes);
}

void TComPort::transmit(const QByteArray& bytes) {
    const auto fail = [this](int err) {
        return EComPort(CError_TransmitFailed, err,
                        QStringLiteral("COM Port Error: TransmitCommChar function failed on ") +
                            port_);
    };
    if (!Connected())
        throw fail(EBADF);
    int err = 0;
    switch (stream_->write(bytes, &err)) {
    case TByteStream::WriteResult::Written: return;
    case TByteStream::WriteResult::Gone: markLost(); throw fail(err > 0 ? err : EIO);
    case TByteStream::WriteResult::Refused: throw fail(err > 0 ? err : EIO);
    }
}

int TComPort::ReadStr(QByteArray& str, int count) {
    str.clear();
    if (count <= 0 || !Connected())
        return 0;
    // The stream has already taken the waiting bytes; the read only copies
    // them and never waits.
    str = stream_->read(count);
    return int(str.size());
}

void TComPort::onReadyRead() {
    rxPending_ = true;
    queueDelivery();
}

// OnRxChar is called from an event of our own rather than from inside the
// stream's read handler, so the receiver may close the port, send, or throw
// without disturbing the stream. One call at a time: bytes that come while it
// runs (it may run a nested event loop) get the next call.
void TComPort::queueDelivery() {
    if (!rxPending_ || deliveryQueued_ || delivering_)
        return;
    deliveryQueued_ = true;
    QMetaObject::invokeMethod(this, &TComPort::deliver, Qt::QueuedConnection);
}

void TComPort::deliver() {
    if (!deliveryQueued_)
        return; // the port was closed meanwhile
    deliveryQueued_ = false;
    rxPending_ = false;
    if (!Connected() || !OnRxChar)
        return;
    const qint64 waiting = stream_->bytesAvailable();
    if (waiting <= 0)
        return;
    delivering_ = true;
    const auto done = qScopeGuard([this] {
        delivering_ = false;
        queueDelivery();
    });
    OnRxChar(this, int(waiting));
}

// A stream that fails (device gone, connection refused or dropped) stays open
// and may keep reporting. Treat it as closed: close once, from the event loop
// rather than inside the report.
void TComPort::markLost() {
    if (!stream_->isOpen() || lossPending_)
        return;
    lossPending_ = true;
    QMetaObject::invokeMethod(this, &TComPort::handleLoss, Qt::QueuedConnection);
}

void TComPort::handleLoss() {
    if (!lossPending_)
        return; // closed or reopened by the program meanwhile
    closePort();
    Q_EMIT lost();
}

} // namespace qta
