// The program's one port to the controller: open/close with fixed line
// settings, delivery of received bytes on the user-interface thread, transmit,
// the settings file and the list of ports present. The port name decides what
// carries the bytes: a serial port of this computer, or a serial device server
// on the network (tcp://HOST:PORT raw, rfc2217://HOST:PORT telnet with RFC 2217;
// see link/bytestream.h).
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <stdexcept>

namespace qta {

class TByteStream;
struct TLineSettings;

// Error of the serial port service. Message: "COM Port Error: " + text
// [+ " on " + port name, for codes that carry a platform error number].
class EComPort : public std::runtime_error {
public:
    EComPort(int code, int winCode, const QString& message);
    int Code;
    int WinCode; // platform error number, -1 when none
    QString message() const { return QString::fromUtf8(what()); }
};

enum ComErrorCode {
    CError_OpenFailed = 1,
    CError_TransmitFailed = 13,
    CError_StoreFailed = 16,
};

enum TBaudRate {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };
enum TStoreType { stIniFile };

struct TComParity {
    TParityBits Bits = prNone;
    bool Check = false;
    bool Replace = false;
    std::uint8_t ReplaceChar = 0;
};

struct TComFlowControl {
    bool OutCTSFlow = false;
    bool OutDSRFlow = false;
    TDTRFlowControl ControlDTR = dtrDisable;
    TRTSFlowControl ControlRTS = rtsDisable;
    bool XonXoffOut = false;
    bool XonXoffIn = false;
    bool DSRSensitivity = false;
    bool TxContinueOnXoff = false;
    std::uint8_t XonChar = 17;
    std::uint8_t XoffChar = 19;

    // "Hardware" / "Software" / "None" / "Custom" summary of the fields above.
    TFlowControl summary() const;
    void setSummary(TFlowControl fc);
};

// Text forms used by the settings file (compared without case when loading).
QString baudRateText(TBaudRate b);
QString stopBitsText(TStopBits s);
QString dataBitsText(TDataBits d);
QString parityText(TParityBits p);
QString flowControlText(TFlowControl f);
TBaudRate baudRateFromText(const QString& s);       // unknown: br9600
TStopBits stopBitsFromText(const QString& s);       // unknown: sbOneStopBit
TDataBits dataBitsFromText(const QString& s);       // unknown: dbEight
TParityBits parityFromText(const QString& s);       // unknown: prNone
TFlowControl flowControlFromText(const QString& s); // unknown: fcCustom
int baudRateValue(TBaudRate b, int custom);         // bits per second

class TComPort : public QObject {
    Q_OBJECT
public:
    explicit TComPort(QObject* parent = nullptr);
    ~TComPort() override; // closes the port

    // Line settings. Defaults are this system's: 38400 8N1, no handshake.
    TBaudRate BaudRate = br38400;
    int CustomBaudRate = 9600;
    TComParity Parity;
    TStopBits StopBits = sbOneStopBit;
    TDataBits DataBits = dbEight;
    TComFlowControl FlowControl;

    // Open. A network port counts as open from Open() on, while it connects
    // in the background, until the connection fails or is closed.
    bool Connected() const;
    // Open, but the connection to the network port is not up yet (at most a
    // few seconds; then it is up or has failed with lost()).
    bool Connecting() const;
    // true opens (raises EComPort code 1 on failure, stays closed), false closes;
    // writing the current value does nothing. A network port never waits: it
    // raises only for what is known at once (a malformed name, a refusal the
    // system gives at once); a failure to connect comes as lost().
    void setConnected(bool value);
    void Open() { setConnected(true); }
    void Close() { setConnected(false); }

    QString Port() const { return port_; }
    // A new name is stored; an open port is closed and reopened under it
    // (an open failure is raised, the port left closed). The same name: nothing.
    // Accepts the names the system lists (ttyUSB0, ttyS0), full device paths,
    // and tcp://HOST:PORT or rfc2217://HOST:PORT for a serial device server.
    void setPort(const QString& name);
    // Whether `name` is a network port (tcp:// or rfc2217://).
    static bool isNetworkPort(const QString& name);
    // Why the network port failed last, in Polish, for the user ("Połączenie
    // z 10.0.0.5:4001 odrzucone ..."): connection refused, host not answering,
    // a name that does not resolve, the connection dropped by the server, a
    // malformed name. Empty for a serial port, and once a connection is up.
    QString failureText() const;

    // Sends one byte before returning. Raises code 13 on a closed port or a failed write.
    // A network port takes bytes while it connects and sends them, in order,
    // once the connection is up (up to 4 KiB; more is refused with code 13).
    void TransmitChar(std::uint8_t ch);
    // Every byte of `bytes` in order, as TransmitChar would (a network port
    // sends them together).
    void TransmitBytes(const QByteArray& bytes);

    // Reads up to `count` waiting bytes without waiting; returns how many.
    int ReadStr(QByteArray& str, int count);

    // Called on the user-interface thread with the number of waiting bytes.
    std::function<void(QObject* sender, int count)> OnRxChar;

    // Settings file: section "ComPort", keys Port, BaudRate, [CustomBaudRate],
    // StopBits, DataBits, Parity, FlowControl. Load swallows every error;
    // store raises code 16.
    void LoadSettings(TStoreType type, const QString& path);
    void StoreSettings(TStoreType type, const QString& path);

    // Names of the serial ports present, sorted as text ignoring case.
    static void EnumComPorts(QStringList& ports);
    // The port the settings file names (section ComPort, key Port), empty
    // when it names none or cannot be read.
    static QString savedPort(const QString& path);
    // Replaces the system's port list (tests, start window); the names it gives
    // are sorted like the system's. nullptr restores the system's list.
    static void setPortListProvider(std::function<QStringList()> provider);

Q_SIGNALS:
    // The port was closed by the service itself: device vanished, or the
    // network connection refused, not made in time, or dropped
    // (failureText() says which).
    void lost();

private:
    // Pushes the line settings to the device (kept for the next open when
    // closed); does nothing while a settings load is under way.
    void applySettings();
    TLineSettings lineSettings() const;
    // A stream of the kind the port name asks for, replacing the present one.
    void makeStream();
    void onReadyRead();
    void openPort();
    void closePort();
    void transmit(const QByteArray& bytes);
    void queueDelivery();
    void deliver();
    void handleLoss();
    void markLost();

    TByteStream* stream_ = nullptr; // a child of the port service
    QString port_ = QStringLiteral("COM1");
    int updating_ = 0;            // settings update depth (LoadSettings)
    bool lossPending_ = false;    // the device failed; the close is queued
    bool rxPending_ = false;      // bytes came since the last OnRxChar call began
    bool deliveryQueued_ = false; // an OnRxChar call is queued
    bool delivering_ = false;     // OnRxChar is running
};

// Where every settings-file path of the program points: rejestr/ under the
// working directory, whatever the case the caller wrote.
QString rejestrPath(const QString& fileName);

} // namespace qta
