// The byte stream over a serial port of this computer (QSerialPort).
#pragma once

#include "link/bytestream.h"

class QSerialPort;

namespace qta {

class TSerialStream : public TByteStream {
    Q_OBJECT
public:
    explicit TSerialStream(QObject* parent = nullptr);
    ~TSerialStream() override;

    TPortKind kind() const override { return TPortKind::Serial; }
    int open(const QString& port, const TLineSettings& line) override;
    void close() override;
    bool isOpen() const override;
    void applySettings(const TLineSettings& line) override;
    // Byte by byte, each handed to the system before the next; stops at the
    // first byte refused.
    WriteResult write(const QByteArray& bytes, int* error) override;
    qint64 bytesAvailable() const override;
    QByteArray read(qint64 maxSize) override;

private:
    void onError(int error);

    QSerialPort* serial_ = nullptr;
    bool sending_ = false; // write() judges its own failures
};

} // namespace qta
