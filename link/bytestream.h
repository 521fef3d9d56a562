// The one byte stream under the port service: what carries the controller's
// bytes, behind one interface. The port name decides the kind:
//   tcp://HOST:PORT      a serial device server that passes the raw bytes;
//   rfc2217://HOST:PORT  one that speaks telnet with RFC 2217 (the line is set
//                        to the port service's settings at every connect);
//   anything else        a serial port of this computer (QSerialPort).
// Everything runs on the thread of the port service (the user-interface
// thread); no call ever waits for the network.
#pragma once

#include "link/comport.h"

#include <QObject>
#include <QString>

namespace qta {

enum class TPortKind { Serial, Tcp, Rfc2217 };

// The kind a port name stands for (by its prefix alone, without case).
TPortKind portKind(const QString& name);

// HOST and PORT of a network port name; `valid` false when the name has a
// network prefix but no usable host and port (1 to 65535). An IPv6 address
// is written in brackets: tcp://[::1]:4001.
struct TNetAddress {
    TPortKind kind = TPortKind::Serial;
    QString host;
    quint16 port = 0;
    bool valid = false;
    QString display() const; // "host:port", "[::1]:4001"
};
TNetAddress netAddress(const QString& name);

// The line settings a stream is opened with.
struct TLineSettings {
    int baudRate = 38400;
    TDataBits dataBits = dbEight;
    TParityBits parity = prNone;
    TStopBits stopBits = sbOneStopBit;
    TComFlowControl flow;
};

class TByteStream : public QObject {
    Q_OBJECT
public:
    enum class WriteResult {
        Written, // taken whole (sent, or queued until the connection is up)
        Refused, // the stream is there but takes nothing more now; nothing of it goes out
        Gone,    // the device or the connection is gone
    };

    using QObject::QObject;
    ~TByteStream() override = default;

    virtual TPortKind kind() const = 0;
    // Opens `port` with `line`. Returns 0, or the system error number of a
    // failure known at once (the stream stays closed). A network stream
    // returns at once and connects in the background: it counts as open from
    // here on, and a failure to connect comes later as failed().
    virtual int open(const QString& port, const TLineSettings& line) = 0;
    // Closes; drops what was received and not read. Closing a closed stream does nothing.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Open but not usable yet: connecting (and, for RFC 2217, negotiating).
    virtual bool isConnecting() const { return false; }
    // New line settings for an open stream (kept for the next open when closed).
    virtual void applySettings(const TLineSettings& line) = 0;
    // Hands `bytes` on. `error` gets the system error number when the
    // result is not Written.
    virtual WriteResult write(const QByteArray& bytes, int* error) = 0;
    // Bytes received and not yet read; read() never waits.
    virtual qint64 bytesAvailable() const = 0;
    virtual QByteArray read(qint64 maxSize) = 0;
    // Why the stream failed last, in Polish, for the user; empty when it
    // never failed or has connected since. The serial stream has none.
    virtual QString failureText() const { return {}; }

Q_SIGNALS:
    void readyRead();
    // The stream failed by itself while open (device gone, connection
    // refused, dropped, timed out). It still counts as open until close().
    void failed();
};

// A new stream of `kind`, owned by `parent`.
TByteStream* makeByteStream(TPortKind kind, QObject* parent);

} // namespace qta
