// The serial port on QSerialPort. Everything runs on the user-interface
// thread: QSerialPort watches the device through the event loop, so received
// bytes arrive as ordinary events and no thread of our own is needed.
#include "link/serialstream.h"

#include <QFileInfo>
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
void pushSettings(QSerialPort* serial, const TLineSettings& line) {
    // QSerialPort would keep a rate of 0 while closed and then fail the open.
    if (line.baudRate > 0)
        serial->setBaudRate(line.baudRate);
    serial->setDataBits(toDataBits(line.dataBits));
    serial->setParity(toParity(line.parity));
    serial->setStopBits(toStopBits(line.stopBits));
    serial->setFlowControl(toFlowControl(line.flow));
}

} // namespace

TSerialStream::TSerialStream(QObject* parent)
    : TByteStream(parent), serial_(new QSerialPort(this)) {
    connect(serial_, &QSerialPort::readyRead, this, &TSerialStream::readyRead);
    connect(serial_, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError e) { onError(int(e)); });
}

TSerialStream::~TSerialStream() {
    serial_->disconnect(this);
    if (serial_->isOpen())
        serial_->close();
}

bool TSerialStream::isOpen() const { return serial_->isOpen(); }

int TSerialStream::open(const QString& port, const TLineSettings& line) {
    serial_->setPortName(deviceName(port));
    // Even in the middle of a settings load: the device must not start out with
    // whatever the system left on it.
    pushSettings(serial_, line);
    if (!serial_->open(QIODevice::ReadWrite)) {
        const int err = platformError(serial_->error());
        serial_->clearError();
        return err;
    }
    // The controller needs neither line; keep both inactive. A pseudo-terminal
    // has no modem lines and refuses this, which changes nothing.
    serial_->setDataTerminalReady(false);
    serial_->setRequestToSend(false);
    serial_->clearError();
    return 0;
}

void TSerialStream::close() {
    if (serial_->isOpen())
        serial_->close(); // drops whatever was received and not read
    serial_->clearError();
}

void TSerialStream::applySettings(const TLineSettings& line) { pushSettings(serial_, line); }

TByteStream::WriteResult TSerialStream::write(const QByteArray& bytes, int* error) {
    for (char c : bytes) {
        // flush() hands the byte to the system at once. waitForBytesWritten() would
        // also do, but it may read the port and emit readyRead in the middle of a send.
        sending_ = true;
        const bool sent =
            serial_->write(&c, 1) == 1 && serial_->flush() && serial_->bytesToWrite() == 0;
        sending_ = false;
        if (sent)
            continue;

        const QSerialPort::SerialPortError e = serial_->error();
        serial_->clearError();
        if (deviceGone(serial_)) {
            if (error)
                *error = EIO;
            return WriteResult::Gone;
        }
        // The device is there but takes nothing more: its output queue is full (a
        // handshake holds it, or the line is jammed). Drop the refused byte, and
        // with it what still waits, so that no piece of a broken frame goes out later.
        serial_->clear(QSerialPort::Output);
        if (error)
            *error = e == QSerialPort::ResourceError ? EAGAIN : platformError(e);
        return WriteResult::Refused;
    }
    return WriteResult::Written;
}

qint64 TSerialStream::bytesAvailable() const { return serial_->bytesAvailable(); }

QByteArray TSerialStream::read(qint64 maxSize) {
    // QSerialPort has already taken the waiting bytes from the device; the read
    // only copies them and never waits.
    return serial_->read(maxSize);
}

void TSerialStream::onError(int error) {
    // A device that goes away (adapter pulled, other end of a pseudo-terminal
    // closed) leaves QSerialPort open and reporting read errors at every turn of
    // the event loop. The port service closes it once, from the event loop.
    if (sending_)
        return; // QSerialPort also calls a full output queue a resource error
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    if (serial_->isOpen())
        Q_EMIT failed();
}

} // namespace qta
