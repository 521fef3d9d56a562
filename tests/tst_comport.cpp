// The serial port service against real pseudo-terminals: the test holds the
// master end and plays the controller; the service opens the slave end.
#include "datarows.h"
#include "link/comport.h"
#include "portstream.h"
#include "testbytes.h"

#include <QFile>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace qta;
using namespace qta::test;

namespace {

// One pseudo-terminal pair. The slave is put into raw mode at once so that the
// line discipline neither echoes nor translates what passes through.
class Pty {
public:
    Pty() {
        // Another process may still hold the lock file of a number just freed
        // (QSerialPort closes the device before it drops the lock): skip such
        // numbers, holding them meanwhile so that they are not handed out again.
        std::vector<int> skipped;
        for (int attempt = 0; attempt < 16 && slave_.isEmpty(); ++attempt) {
            master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
            if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
                break;
            const QString name = QString::fromLocal8Bit(ptsname(master_));
            if (lockedBySomeone(name)) {
                skipped.push_back(master_);
                master_ = -1;
                continue;
            }
            slave_ = name;
        }
        for (int fd : skipped)
            ::close(fd);
        if (slave_.isEmpty())
            return;
        const int fd = ::open(ptsname(master_), O_RDWR | O_NOCTTY);
        if (fd < 0)
            return;
        termios tio{};
        tcgetattr(fd, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
        ::close(fd);
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return master_ >= 0 && !slave_.isEmpty(); }
    QString slave() const { return slave_; }
    void closeMaster() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }
    bool write(const QByteArray& b) {
        return ::write(master_, b.constData(), b.size()) == b.size();
    }
    // What the service sent, waiting at most `ms` for `want` bytes. This blocks
    // without running the event loop, so it only sees bytes that the service
    // handed to the system before returning.
    QByteArray read(int want, int ms = 1000) {
        QByteArray got;
        QDeadlineTimer deadline(ms);
        while (got.size() < want) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, int(deadline.remainingTime())) <= 0)
                break;
            char buf[512];
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0)
                break;
            got.append(buf, n);
        }
        return got;
    }
    // Whatever is waiting now, without waiting for more.
    QByteArray drain() { return read(1 << 20, 50); }
    // All that reaches this end when `port` sends `b` (as TransmitBytes, or one
    // byte as TransmitChar): exactly `b` when nothing else is on the way.
    QByteArray sentBy(TComPort& port, const QByteArray& b) {
        port.TransmitBytes(b);
        QByteArray got = read(int(b.size()));
        return got + drain();
    }
    QByteArray sentBy(TComPort& port, std::uint8_t b) {
        port.TransmitChar(b);
        QByteArray got = read(1);
        return got + drain();
    }

private:
    static bool lockedBySomeone(const QString& device) {
        const QString lock = QStringLiteral("/LCK..") + device.mid(5).replace('/', '_');
        for (const char* dir : {"/var/lock", "/run/lock", "/var/spool/locks", "/tmp", "/var/tmp"})
            if (QFile::exists(QLatin1String(dir) + lock))
                return true;
        return false;
    }

    int master_ = -1;
    QString slave_;
};

// A pseudo-terminal reached through a link of its own: a device that can go
// away (closeMaster) and come back, a new one, under the same name.
class LinkedPty {
public:
    // A new pseudo-terminal, the link pointed at it.
    bool plugIn() {
        pty = std::make_unique<Pty>();
        if (linked_ && !QFile::remove(name))
            return false;
        linked_ = QFile::link(pty->slave(), name);
        return linked_;
    }
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("ttyQTA"));
    std::unique_ptr<Pty> pty;

private:
    bool linked_ = false;
};

QSerialPort* device(TComPort& port) { return port.findChild<QSerialPort*>(); }

qint64 cpuMicroseconds() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000LL + r.ru_utime.tv_usec +
           r.ru_stime.tv_usec;
}

const QString kOpenFailed = QStringLiteral("COM Port Error: Unable to open com port on ");
const QString kTransmitFailed =
    QStringLiteral("COM Port Error: TransmitCommChar function failed on ");

} // namespace

Q_DECLARE_METATYPE(TBaudRate)
Q_DECLARE_METATYPE(TDataBits)
Q_DECLARE_METATYPE(TParityBits)
Q_DECLARE_METATYPE(TStopBits)

class TestComPort : public QObject {
    Q_OBJECT

    static void byteCases() {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("one byte") << bytes({0x41});
        QTest::newRow("frame") << bytes({255, 1, 254, 0, 0});
        QTest::newRow("zeros and 255") << bytes({0, 255, 0, 0, 255, 255, 0});
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(char(i));
        QTest::newRow("every byte value") << all;
    }

private Q_SLOTS:
    void initTestCase() {
        Pty probe;
        if (!probe.ok())
            QSKIP("no pseudo-terminals on this system");
    }

    void defaultsAndLineSettings_data() {
        QTest::addColumn<bool>("defaults");
        QTest::addColumn<TBaudRate>("baud");
        QTest::addColumn<TDataBits>("dataBits");
        QTest::addColumn<TParityBits>("parity");
        QTest::addColumn<TStopBits>("stopBits");
        QTest::addColumn<QString>("flow"); // "", "hardware", "software"
        QTest::addColumn<speed_t>("speed");
        QTest::addColumn<int>("qtDataBits");
        QTest::addColumn<int>("qtParity");
        QTest::addColumn<QSerialPort::FlowControl>("qtFlow");

        QTest::newRow("system defaults 38400 8N1")
            << true << br38400 << dbEight << prNone << sbOneStopBit << "" << speed_t(B38400) << 8
            << int(QSerialPort::NoParity) << QSerialPort::NoFlowControl;
        QTest::newRow("9600 7E2 hardware")
            << false << br9600 << dbSeven << prEven << sbTwoStopBits << "hardware" << speed_t(B9600)
            << 7 << int(QSerialPort::EvenParity) << QSerialPort::HardwareControl;
        QTest::newRow("115200 5O1 software")
            << false << br115200 << dbFive << prOdd << sbOneStopBit << "software"
            << speed_t(B115200) << 5 << int(QSerialPort::OddParity) << QSerialPort::SoftwareControl;
    }
    void defaultsAndLineSettings() {
        QFETCH(bool, defaults);
        QFETCH(TBaudRate, baud);
        QFETCH(TDataBits, dataBits);
        QFETCH(TParityBits, parity);
        QFETCH(TStopBits, stopBits);
        QFETCH(QString, flow);
        QFETCH(speed_t, speed);
        QFETCH(int, qtDataBits);
        QFETCH(int, qtParity);
        QFETCH(QSerialPort::FlowControl, qtFlow);

        Pty pty;
        TComPort port;
        QCOMPARE(port.Connected(), false);
        QCOMPARE(port.Port(), QStringLiteral("COM1"));
        if (!defaults) {
            port.BaudRate = baud;
            port.DataBits = dataBits;
            port.Parity.Bits = parity;
            port.StopBits = stopBits;
            port.FlowControl.ControlRTS = flow == "hardware" ? rtsHandshake : rtsDisable;
            port.FlowControl.OutCTSFlow = flow == "hardware";
            port.FlowControl.XonXoffIn = port.FlowControl.XonXoffOut = flow == "software";
        }
        port.setPort(pty.slave());
        port.Open(); // the modem lines a pseudo-terminal lacks must not fail the open
        QVERIFY(port.Connected());

        // What the device itself holds. A pseudo-terminal forces 8 bits without
        // parity whatever it is told, so those two are checked at QSerialPort.
        QSerialPort* dev = device(port);
        termios tio{};
        QCOMPARE(tcgetattr(int(dev->handle()), &tio), 0);
        QCOMPARE(cfgetospeed(&tio), speed);
        QCOMPARE(cfgetispeed(&tio), speed);
        QCOMPARE(bool(tio.c_cflag & CSTOPB), stopBits == sbTwoStopBits);
        QCOMPARE(bool(tio.c_cflag & CRTSCTS), flow == "hardware");
        QCOMPARE(bool(tio.c_iflag & IXON), flow == "software");
        QCOMPARE(bool(tio.c_iflag & IXOFF), flow == "software");
        QCOMPARE(bool(tio.c_lflag & (ICANON | ECHO)), false);
        QCOMPARE(int(dev->dataBits()), qtDataBits);
        QCOMPARE(int(dev->parity()), qtParity);
        QCOMPARE(dev->flowControl(), qtFlow);
    }

    // A port held by someone else, or absent, is refused with code 1 and stays closed.
    void openRefused_data() {
        dataRows<QString>("kind", {{"held by another service", "held"},
                                   {"held, opened through a link to it", "held via link"},
                                   {"missing system name", "missing name"},
                                   {"missing full path", "missing path"}});
    }
    void openRefused() {
        QFETCH(QString, kind);
        Pty pty;
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("port"));
        QVERIFY(QFile::link(pty.slave(), link));

        WatchedPort holder(pty.slave());

        QString name = pty.slave();
        if (kind == "held via link")
            name = link;
        else if (kind == "missing name")
            name = QStringLiteral("ttyQTA_not_here");
        else if (kind == "missing path")
            name = dir.filePath(QStringLiteral("nothing"));

        TComPort second;
        second.setPort(name);
        const EComPort e = raised([&] { second.Open(); });
        QCOMPARE(e.Code, int(CError_OpenFailed));
        QCOMPARE(e.message(), kOpenFailed + name);
        QVERIFY(e.WinCode > 0);
        QCOMPARE(second.Connected(), false);
        second.Close(); // closing what never opened does nothing

        // The holder is undisturbed.
        QVERIFY(holder.Connected());
        QCOMPARE(pty.sentBy(holder, 0x5A), bytes({0x5A}));
    }

    // Destruction closes the port, so the next service may take it.
    void destructionReleasesThePort() {
        Pty pty;
        auto first = std::make_unique<WatchedPort>(pty.slave());
        first.reset();
        const WatchedPort second(pty.slave());
        QVERIFY(second.Connected());
    }

    void transmit_data() { byteCases(); }
    void transmit() {
        QFETCH(QByteArray, data);
        Pty pty;
        WatchedPort port(pty.slave());
        QCOMPARE(pty.sentBy(port, std::uint8_t(data[0])), data.left(1));
        QCOMPARE(pty.sentBy(port, data.mid(1)), data.mid(1));
    }

    void receive_data() { byteCases(); }
    void receive() {
        QFETCH(QByteArray, data);
        Pty pty;
        WatchedPort port(pty.slave());
        Received got(port);
        QVERIFY(pty.write(data));
        QTRY_COMPARE_WITH_TIMEOUT(got.data, data, 2000);
        QVERIFY(got.calls >= 1);

        // Nothing more arrives: no further call.
        const int before = got.calls;
        QTest::qWait(20);
        QCOMPARE(got.calls, before);
    }

    // The count is what waits; a read never waits for more than is there.
    void readStrNeverWaits() {
        Pty pty;
        WatchedPort port(pty.slave());
        int lastCount = 0;
        port.OnRxChar = [&](QObject*, int count) { lastCount = count; }; // reads nothing
        QVERIFY(pty.write(bytes({1, 0, 2, 0, 3})));
        QTRY_COMPARE(lastCount, 5);

        QByteArray s;
        QElapsedTimer t;
        t.start();
        QCOMPARE(port.ReadStr(s, 2), 2);
        QCOMPARE(s, bytes({1, 0}));
        QCOMPARE(port.ReadStr(s, 100), 3);
        QCOMPARE(s, bytes({2, 0, 3}));
        QCOMPARE(port.ReadStr(s, 100), 0);
        QVERIFY(s.isEmpty());
        QVERIFY(t.elapsed() < 50);

        // Unread bytes are dropped by a close; a closed port reads nothing.
        QVERIFY(pty.write(bytes({9, 9})));
        QTRY_COMPARE(lastCount, 2);
        port.Close();
        s = "junk";
        QCOMPARE(port.ReadStr(s, 10), 0);
        QVERIFY(s.isEmpty());
    }

    // Opening again, or naming the port it already has, leaves it as it is:
    // bytes received and not yet read are still there.
    void sameStateIsNoOp_data() {
        dataRows<bool>("byName", {{"Open while open", false}, {"same Port", true}});
    }
    void sameStateIsNoOp() {
        QFETCH(bool, byName);
        Pty pty;
        WatchedPort port(pty.slave());
        int lastCount = 0;
        port.OnRxChar = [&](QObject*, int count) { lastCount = count; };
        QVERIFY(pty.write(bytes({7, 8, 9})));
        QTRY_COMPARE(lastCount, 3);

        if (byName)
            port.setPort(pty.slave());
        else
            port.Open();
        QVERIFY(port.Connected());
        QByteArray s;
        QCOMPARE(port.ReadStr(s, 10), 3);
        QCOMPARE(s, bytes({7, 8, 9}));
    }

    // A new name reopens an open port under it; a name that cannot be opened
    // leaves the port closed and the writer gets code 1.
    void setPortReopens_data() {
        dataRows<bool>("targetExists",
                       {{"another pseudo-terminal", true}, {"missing device", false}});
    }
    void setPortReopens() {
        QFETCH(bool, targetExists);
        Pty first;
        Pty second;
        WatchedPort port(first.slave());

        const QString target =
            targetExists ? second.slave() : QStringLiteral("/dev/ttyQTA_not_here");
        const EComPort e = raised([&] { port.setPort(target); });
        QCOMPARE(port.Port(), target);
        if (targetExists) {
            QCOMPARE(e.Code, 0);
            QVERIFY(port.Connected());
            QCOMPARE(second.sentBy(port, 0x33), bytes({0x33}));
            QCOMPARE(first.drain(), QByteArray());
        } else {
            QCOMPARE(e.Code, int(CError_OpenFailed));
            QCOMPARE(e.message(), kOpenFailed + target);
            QCOMPARE(port.Connected(), false);
        }
        // The old port was let go either way.
        const WatchedPort other(first.slave());
        QVERIFY(other.Connected());
    }

    // A byte that cannot be sent raises code 13 and nothing goes out later.
    void transmitOnClosedPort_data() {
        dataRows<bool>("everOpened", {{"never opened", false}, {"after Close", true}});
    }
    void transmitOnClosedPort() {
        QFETCH(bool, everOpened);
        Pty pty;
        TComPort port;
        if (everOpened) {
            port.setPort(pty.slave());
            port.Open();
            port.Close();
            QCOMPARE(port.Connected(), false);
            port.Close(); // a second close does nothing
        }
        const EComPort e = raised([&] { port.TransmitBytes(bytes({1, 2, 3})); });
        QCOMPARE(e.Code, int(CError_TransmitFailed));
        QCOMPARE(e.message(), kTransmitFailed + port.Port());
        QVERIFY(e.WinCode > 0);

        port.setPort(pty.slave());
        port.Open();
        QCOMPARE(pty.sentBy(port, 4), bytes({4})); // and nothing of the failed frame before it
    }

    // A device that is there but takes nothing more (nobody reads the other
    // end) refuses the byte with code 13; the port is not given up for it.
    void fullOutputQueueIsNotALoss() {
        Pty pty;
        WatchedPort port(pty.slave());
        EComPort e(0, -1, QString());
        for (int i = 0; i < 1000000 && e.Code == 0; ++i)
            e = raised([&] { port.TransmitChar(0x55); });
        QCOMPARE(e.Code, int(CError_TransmitFailed));
        QCOMPARE(e.message(), kTransmitFailed + pty.slave());
        QCOMPARE(e.WinCode, EAGAIN);

        QTest::qWait(20);
        QCOMPARE(port.losses.count(), 0);
        QVERIFY(port.Connected());
        pty.drain();
        QCOMPARE(pty.sentBy(port, 0x42), bytes({0x42})); // the refused byte did not follow later
    }

    // The device goes away while open (here: the master end is closed). The
    // service closes the port once, says so once, keeps the event loop calm,
    // and opens again when the device is back.
    void deviceVanishes() {
        LinkedPty dev;
        QVERIFY(dev.plugIn());
        WatchedPort port(dev.name);
        QSignalSpy errors(device(port), &QSerialPort::errorOccurred);
        int rxCalls = 0;
        port.OnRxChar = [&](QObject*, int) { ++rxCalls; };

        dev.pty->closeMaster();
        QVERIFY(port.losses.wait(2000));
        QCOMPARE(port.Connected(), false);
        QVERIFY2(errors.count() < 50, qPrintable(QString::number(errors.count())));

        // No storm afterwards: the loop idles and nothing more is reported.
        const int errorsAfter = int(errors.count());
        const qint64 cpu0 = cpuMicroseconds();
        QTest::qWait(100);
        const qint64 cpu = cpuMicroseconds() - cpu0;
        QCOMPARE(errors.count(), errorsAfter);
        QCOMPARE(port.losses.count(), 1);
        QVERIFY2(cpu < 50000, qPrintable(QStringLiteral("%1 us").arg(cpu)));
        QCOMPARE(rxCalls, 0);

        const EComPort e = raised([&] { port.TransmitChar(1); });
        QCOMPARE(e.Code, int(CError_TransmitFailed));
        port.Close(); // the program's own close after a loss does nothing more

        // The device comes back under the same name.
        QVERIFY(dev.plugIn());
        port.Open();
        QVERIFY(port.Connected());
        QCOMPARE(dev.pty->sentBy(port, 0x77), bytes({0x77}));
        QCOMPARE(port.losses.count(), 1);
    }

    // Lost while a send is under way: the send raises, the loss follows once.
    void deviceVanishesDuringSend() {
        Pty pty;
        WatchedPort port(pty.slave());
        pty.closeMaster();
        const EComPort e = raised([&] { port.TransmitBytes(bytes({1, 2})); });
        QCOMPARE(e.Code, int(CError_TransmitFailed));
        QCOMPARE(e.message(), kTransmitFailed + pty.slave());
        QVERIFY(port.losses.wait(2000));
        QTest::qWait(20);
        QCOMPARE(port.losses.count(), 1);
        QCOMPARE(port.Connected(), false);
    }

    // A reopen by the program before the queued loss runs wins: no lost() for
    // a port that is open and well.
    void reopenBeforeLossIsHandled() {
        LinkedPty dev;
        QVERIFY(dev.plugIn());
        WatchedPort port(dev.name);
        dev.pty->closeMaster();
        // A failed send makes the loss known without a turn of the event loop.
        raised([&] { port.TransmitChar(1); });
        QCOMPARE(port.Connected(), false);

        QVERIFY(dev.plugIn());
        port.Open();
        QTest::qWait(20);
        QCOMPARE(port.losses.count(), 0);
        QVERIFY(port.Connected());
        QCOMPARE(dev.pty->sentBy(port, 2), bytes({2}));
    }

    // A handler that runs a nested event loop (a message box, say) is not
    // entered again; what came meanwhile is delivered once it has returned.
    void oneDeliveryAtATime() {
        Pty pty;
        WatchedPort port(pty.slave());
        int depth = 0;
        int maxDepth = 0;
        QByteArray got;
        port.OnRxChar = [&](QObject*, int count) {
            maxDepth = std::max(maxDepth, ++depth);
            QByteArray s;
            port.ReadStr(s, count);
            got += s;
            if (got == bytes({1})) {
                QVERIFY(pty.write(bytes({2, 3})));
                QTest::qWait(50);
            }
            --depth;
        };
        QVERIFY(pty.write(bytes({1})));
        QTRY_COMPARE(got, bytes({1, 2, 3}));
        QCOMPARE(maxDepth, 1);
    }

    // The receiver may close the port from its handler; the delivery must cope.
    void closeFromReceiveHandler() {
        Pty pty;
        WatchedPort port(pty.slave());
        int calls = 0;
        port.OnRxChar = [&](QObject*, int) {
            ++calls;
            port.Close();
        };
        QVERIFY(pty.write(bytes({1, 2, 3})));
        QTRY_COMPARE(calls, 1);
        QCOMPARE(port.Connected(), false);
        port.Open();
        QVERIFY(pty.write(bytes({4})));
        QTRY_COMPARE(calls, 2);
    }
};

QTEST_GUILESS_MAIN(TestComPort)
#include "tst_comport.moc"
