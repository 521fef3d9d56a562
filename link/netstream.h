// The byte stream over TCP to a serial device server: the raw bytes
// (tcp://HOST:PORT) or telnet with RFC 2217 (rfc2217://HOST:PORT). Opening
// returns at once; the connection is made in the background within
// kConnectTimeoutMs (for RFC 2217: the server's answer to COM-PORT-OPTION
// included). Bytes written meanwhile are queued, up to kMaxQueued, and go out
// once the connection is up, after the line settings; a failure to connect
// drops them. Failures come as failed() with a Polish failureText(); one
// known while open() runs (a refusal the system gives at once) is open()'s
// result instead.
#pragma once

#include "link/bytestream.h"
#include "link/telnet.h"

#include <QAbstractSocket>
#include <QTimer>

class QTcpSocket;

namespace qta {

class TNetStream : public TByteStream {
    Q_OBJECT
public:
    static constexpr int kConnectTimeoutMs = 3000;
    static constexpr qsizetype kMaxQueued = 4096;

    TNetStream(TPortKind kind, QObject* parent = nullptr);
    ~TNetStream() override;

    TPortKind kind() const override { return kind_; }
    int open(const QString& port, const TLineSettings& line) override;
    void close() override;
    bool isOpen() const override { return state_ != State::Closed; }
    bool isConnecting() const override {
        return state_ == State::Connecting || state_ == State::Negotiating;
    }
    void applySettings(const TLineSettings& line) override;
    WriteResult write(const QByteArray& bytes, int* error) override;
    qint64 bytesAvailable() const override { return rx_.size(); }
    QByteArray read(qint64 maxSize) override;
    QString failureText() const override { return failure_; }

    // The telnet session of an RFC 2217 stream (what the server confirmed).
    const TTelnetCodec& telnet() const { return telnet_; }

    // RFC 2217's values for the port service's line settings.
    static TTelnetCodec::TLine rfc2217Line(const TLineSettings& line);

private:
    enum class State { Closed, Connecting, Negotiating, Up, Failed };

    void onConnected();
    void onReadyRead();
    void onError(QAbstractSocket::SocketError error);
    void onTimeout();
    void goUp();
    void fail(const QString& text, int error);
    void dropSocket(bool abort);
    void send(const QByteArray& wire);

    TPortKind kind_;
    State state_ = State::Closed;
    QTcpSocket* socket_ = nullptr; // a new one for every open
    QTimer connectTimer_;
    TTelnetCodec telnet_;
    TNetAddress address_;
    TLineSettings line_;
    QByteArray queued_; // data written before the connection was up
    QByteArray rx_;     // data received and not read
    QString failure_;
    int failureError_ = 0; // the system error number that goes with failure_
    bool opening_ = false; // inside open(): a failure there is open()'s result, not failed()
};

} // namespace qta
