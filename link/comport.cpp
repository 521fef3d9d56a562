// The serial port service on QSerialPort. Everything runs on the user-interface
// thread: QSerialPort watches the device through the event loop, so received
// bytes arrive as ordinary events and no thread of our own is needed.
#include "link/comport.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QSerialPort>
#include <cerrno>
#ifdef Q_OS_UNIX
#include <poll.h>
#endif

namespace qta {

namespace {

// QSerialPort reports its own error kinds, not the system's numbers; give
// callers the system number that each kind stands for.
int platformError(QSerialPort::SerialPortError e) {
    switch (e) {
    case QSerialPort::DeviceNotFoundError: return ENOENT;
    case QSerialPort::PermissionError: // access refused or held by another program
        return EACCES;
    case QSerialPort::OpenError: return EBUSY;
    case QSerialPort::NotOpenError: return EBADF;
    case QSerialPort::UnsupportedOperationError: return ENOTTY;
    case QSerialPort::TimeoutError: return ETIMEDOUT;
    default: return EIO;
    }
}

// A full path is resolved to the device behind it, so that two names of one
// device (a link and its target) share QSerialPort's lock file and the second
// open is refused. A plain name ("ttyUSB0", "COM3") is left to QSerialPort.
QString deviceName(const QString& port) {
    if (!port.contains(QLatin1Char('/')))
        return port;
    const QString real = QFileInfo(port).canonicalFilePath();
    return real.isEmpty() ? port : real;
}

QSerialPort::DataBits toDataBits(TDataBits d) {
    switch (d) {
    case dbFive: return QSerialPort::Data5;
    case dbSix: return QSerialPort::Data6;
    case dbSeven: return QSerialPort::Data7;
    default: return QSerialPort::Data8;
    }
}

QSerialPort::Parity toParity(TParityBits p) {
    switch (p) {
    case prOdd: return QSerialPort::OddParity;
    case prEven: return QSerialPort::EvenParity;
    case prMark: return QSerialPort::MarkParity;
    case prSpace: return QSerialPort::SpaceParity;
    default: return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits toStopBits(TStopBits s) {
    switch (s) {
    case sbOne5StopBits: return QSerialPort::OneAndHalfStop;
    case sbTwoStopBits: return QSerialPort::TwoStop;
    default: return QSerialPort::OneStop;
    }
}

// QSerialPort knows only the three usual handshakes; the fields choose one.
QSerialPort::FlowControl toFlowControl(const TComFlowControl& f) {
    if (f.ControlRTS == rtsHandshake && f.OutCTSFlow)
        return QSerialPort::HardwareControl;
    if (f.XonXoffIn || f.XonXoffOut)
        return QSerialPort::SoftwareControl;
    return QSerialPort::NoFlowControl;
}

// Whether the device behind an open port has gone away (adapter pulled, other
// end of a pseudo-terminal closed), as opposed to merely refusing a byte.
bool deviceGone(QSerialPort* serial) {
#ifdef Q_OS_UNIX
    pollfd p{int(serial->handle()), 0, 0};
    return ::poll(&p, 1, 0) < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    Q_UNUSED(serial);
    return true;
#endif
}

// Failures are not reported: the port stays usable with what the device took.
void pushSettings(QSerialPort* serial, const TComPort& p) {
    // QSerialPort would keep a rate of 0 while closed and then fail the open.
    const int rate = baudRateValue(p.BaudRate, p.CustomBaudRate);
    if (rate > 0)
        serial->setBaudRate(rate);
    serial->setDataBits(toDataBits(p.DataBits));
    serial->setParity(toParity(p.Parity.Bits));
    serial->setStopBits(toStopBits(p.StopBits));
    serial->setFlowControl(toFlowControl(p.FlowControl));
}

} // namespace

EComPort::EComPort(int code, int winCode, const QString& message)
    : std::runtime_error(message.toStdString()), Code(code), WinCode(winCode) {}

TComPort::TComPort(QObject* parent) : QObject(parent), serial_(new QSerialPort(this)) {
    connect(serial_, &QSerialPort::readyRead, this, &TComPort::onReadyRead);
    connect(serial_, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError e) { onError(int(e)); });
}

TComPort::~TComPort() {
    serial_->disconnect(this);
    if (serial_->isOpen())
        serial_->close();
}

bool TComPort::Connected() const { return serial_->isOpen() && !lossPending_; }

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
    port_ = name;
    if (wasOpen)
        openPort();
}

void TComPort::openPort() {
    serial_->setPortName(deviceName(port_));
    // Even in the middle of a settings load: the device must not start out with
    // whatever the system left on it.
    pushSettings(serial_, *this);
    if (!serial_->open(QIODevice::ReadWrite)) {
        const int err = platformError(serial_->error());
        serial_->clearError();
        throw EComPort(CError_OpenFailed, err,
                       QStringLiteral("COM Port Error: Unable to open com port on ") + port_);
    }
    // The controller needs neither line; keep both inactive. A pseudo-terminal
    // has no modem lines and refuses this, which changes nothing.
    serial_->setDataTerminalReady(false);
    serial_->setRequestToSend(false);
    serial_->clearError();
}

void TComPort::closePort() {
    lossPending_ = false;
    rxPending_ = false;
    deliveryQueued_ = false;
    if (serial_->isOpen())
        serial_->close(); // drops whatever was received and not read
}

void TComPort::applySettings() {
    if (updating_ > 0)
        return;
    pushSettings(serial_, *this);
}

void TComPort::TransmitChar(std::uint8_t ch) {
    const auto fail = [this](int err) {
        return EComPort(CError_TransmitFailed, err,
                        QStringLiteral("COM Port Error: TransmitCommChar function failed on ") +
                            port_);
    };
    if (!Connected())
        throw fail(EBADF);
    const char c = char(ch);
    // flush() hands the byte to the system at once. waitForBytesWritten() would
    // also do, but it may read the port and emit readyRead in the middle of a send.
    sending_ = true;
    const bool sent =
        serial_->write(&c, 1) == 1 && serial_->flush() && serial_->bytesToWrite() == 0;
    sending_ = false;
    if (sent)
        return;

    const QSerialPort::SerialPortError error = serial_->error();
    serial_->clearError();
    if (deviceGone(serial_)) {
        markLost();
        throw fail(EIO);
    }
    // The device is there but takes nothing more: its output queue is full (a
    // handshake holds it, or the line is jammed). Drop the refused byte, and
    // with it what still waits, so that no piece of a broken frame goes out later.
    serial_->clear(QSerialPort::Output);
    throw fail(error == QSerialPort::ResourceError ? EAGAIN : platformError(error));
}

void TComPort::TransmitBytes(const QByteArray& bytes) {
    for (char c : bytes)
        TransmitChar(std::uint8_t(c));
}

int TComPort::ReadStr(QByteArray& str, int count) {
    str.clear();
    if (count <= 0 || !Connected())
        return 0;
    // QSerialPort has already taken the waiting bytes from the device; the read
    // only copies them and never waits.
    str = serial_->read(count);
    return int(str.size());
}

void TComPort::onReadyRead() {
    rxPending_ = true;
    queueDelivery();
}

// OnRxChar is called from an event of our own rather than from inside
// QSerialPort's read handler, so the receiver may close the port, send, or
// throw without disturbing QSerialPort. One call at a time: bytes that come
// while it runs (it may run a nested event loop) get the next call.
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
    const qint64 waiting = serial_->bytesAvailable();
    if (waiting <= 0)
        return;
    delivering_ = true;
    const auto done = qScopeGuard([this] {
        delivering_ = false;
        queueDelivery();
    });
    OnRxChar(this, int(waiting));
}

void TComPort::onError(int error) {
    // A device that goes away (adapter pulled, other end of a pseudo-terminal
    // closed) leaves QSerialPort open and reporting read errors at every turn of
    // the event loop. Treat it as closed: close once, from the event loop rather
    // than inside the report, while QSerialPort is still in its read handler.
    if (sending_)
        return; // QSerialPort also calls a full output queue a resource error
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    markLost();
}

void TComPort::markLost() {
    if (!serial_->isOpen() || lossPending_)
        return;
    lossPending_ = true;
    QMetaObject::invokeMethod(this, &TComPort::handleLoss, Qt::QueuedConnection);
}

void TComPort::handleLoss() {
    if (!lossPending_)
        return; // closed or reopened by the program meanwhile
    closePort();
    serial_->clearError();
    Q_EMIT lost();
}

} // namespace qta
