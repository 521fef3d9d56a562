// The link through serial device servers: the port service's one byte stream
// against a serial port (the simulator's pseudo-terminal) and against ser2net
// in front of it, raw and with RFC 2217 (the line it sets arriving at the
// device); the start window on a saved network port; the faults: connection
// refused, a name that does not resolve, a server that never answers, a
// connection dropped, ser2net stopped and started again while linked.
#include "core/controller.h"
#include "core/startcycle.h"
#include "datarows.h"
#include "link/netstream.h"
#include "portstream.h"
#include "recordingview.h"
#include "ser2net.h"
#include "simprocess.h"
#include "tables/table.h"
#include "testbytes.h"
#include "testpaths.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

using namespace qta;
using namespace qta::test;

namespace {

const QString kConnected = QStringLiteral("Połączono z QTA504 - v. ");

// The device behind the simulator's published link ("/dev/pts/N").
QString deviceOf(const SimProcess& sim) { return QFileInfo(sim.link()).symLinkTarget(); }

// The start window without the window: its texts, and whether it closed.
class StartView : public TStartView {
public:
    QStringList texts; // every text shown, progress dots left out, repeats once
    QString text;
    bool closed = false;
    void setStatusText(const QString& t) override {
        text = t;
        QString bare = t;
        while (bare.endsWith(u'.'))
            bare.chop(1);
        if (texts.isEmpty() || texts.last() != bare)
            texts << bare;
    }
    QString statusText() const override { return text; }
    void closeWindow() override { closed = true; }
};

// The main window's status panels with every text panel 0 has shown.
class PanelView : public RecordingView {
public:
    QStringList panel0;
    void setStatusPanel(int panel, const QString& text) override {
        RecordingView::setStatusPanel(panel, text);
        if (panel == 0 && (panel0.isEmpty() || panel0.last() != text))
            panel0 << text;
    }
    bool shown(const QString& part) const {
        return std::any_of(panel0.begin(), panel0.end(),
                           [&](const QString& t) { return t.contains(part); });
    }
};

} // namespace

class TestNetLink : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString oldCwd_;

    // A working folder of the core: empty tables, the settings naming `port`.
    static void prepareWork(const QString& port) {
        QDir().mkpath(QStringLiteral("rejestr"));
        for (const char* f : {"rejestr/rejestr.dbf", "rejestr/linia.dbf", "rejestr/alarmy.dbf"})
            QFile::remove(QLatin1String(f));
        TTable::createRejestr(QStringLiteral("rejestr/rejestr.dbf"));
        TTable::createLinia(QStringLiteral("rejestr/linia.dbf"));
        QFile ini(QStringLiteral("rejestr/ustawienia.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write("[ComPort]\nPort=" + port.toUtf8() +
                  "\nBaudRate=38400\nStopBits=1\nDataBits=8\nParity=None\nFlowControl=None\n");
    }

    static QString savedPort() {
        return TComPort::savedPort(QStringLiteral("rejestr/ustawienia.ini"));
    }

    // The cases of a test run against a raw server and against RFC 2217.
    static void rawAndRfc2217() { dataRows<bool>("rfc2217", {{"raw", false}, {"RFC 2217", true}}); }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        QVERIFY2(QFile::exists(qta::test::binPath(QStringLiteral("qta504-sim"))),
                 "build qta504-sim first");
        QVERIFY2(!ser2netProgram().isEmpty(), "ser2net is missing; run scripts/bootstrap");
        oldCwd_ = QDir::currentPath();
        QDir::setCurrent(dir_.path());
        // The port list of the start window's scan: none (no real port is touched).
        TComPort::setPortListProvider([] { return QStringList(); });
    }
    void cleanupTestCase() {
        TComPort::setPortListProvider(nullptr);
        QDir::setCurrent(oldCwd_);
    }

    // One byte stream, three carriers: the same bytes, 255 among them, both
    // ways; bytes written before a connection is up go out once it is.
    void byteStream_data() {
        dataRows<QString>(
            "kind",
            {{"serial port", "serial"}, {"ser2net raw", "tcp"}, {"ser2net RFC 2217", "rfc2217"}});
    }
    void byteStream() {
        QFETCH(QString, kind);
        QTemporaryDir here;
        // No status frames: only what is asked for comes; newest record 255.
        SimProcess sim({"--period", "0", "--events", "256"});
        QVERIFY2(sim.ready(), qPrintable(sim.readyLine()));
        std::unique_ptr<Ser2net> server;
        QString name = sim.link();
        if (kind != QLatin1String("serial")) {
            server = std::make_unique<Ser2net>(here.path(), deviceOf(sim), kind == "rfc2217",
                                               QStringLiteral("38400n81"));
            QVERIFY2(server->start(), qPrintable(server->output()));
            name = server->url();
        }

        WatchedPort port;
        Received got(port);
        port.setPort(name);
        port.Open();
        QVERIFY(port.Connected());
        if (kind == QLatin1String("serial"))
            QVERIFY(!port.Connecting());
        // Sent at once, or queued until the connection is up.
        port.TransmitBytes(buildFrame(TxAskIdentifier));
        QTRY_VERIFY_WITH_TIMEOUT(!port.Connecting(), 3000);
        QVERIFY(port.failureText().isEmpty());

        // The identifier's reply carries the newest index 255.
        QTRY_COMPARE_WITH_TIMEOUT(got.data.size(), 3 + 8 + 2, 3000);
        TReceiver rx;
        QVERIFY(rx.feed(got.data));
        QCOMPARE(rx.code(), int(RxIdentifier));
        QCOMPARE(rx.word(6), 255);
        QCOMPARE(rx.payloadBytes().left(6), QByteArray("QTA1v2"));

        // A request with three bytes 255 (start, index, checksum) arrives whole.
        got.data.clear();
        port.TransmitBytes(recordRequest(255));
        QVERIFY2(sim.waitLog(QStringLiteral("rx 8 0 255")), qPrintable(sim.logLines().join(u'\n')));
        QTRY_COMPARE_WITH_TIMEOUT(got.data.size(), 3 + 12 + 2, 3000);
        TReceiver record;
        QVERIFY(record.feed(got.data));
        QCOMPARE(record.code(), int(RxRecord));

        // 255 in a row, as the controller sends them, and nothing else.
        got.data.clear();
        sim.command("raw ff ff ff 00 ff 07");
        QTRY_COMPARE_WITH_TIMEOUT(got.data, bytes({255, 255, 255, 0, 255, 7}), 3000);
        QTest::qWait(100);
        QCOMPARE(got.data, bytes({255, 255, 255, 0, 255, 7}));
        QVERIFY2(sim.logLines().filter(QStringLiteral("rx-")).isEmpty(),
                 qPrintable(sim.logLines().join(u'\n')));
        QCOMPARE(port.losses.count(), 0);

        // Closed and opened again: the same.
        port.Close();
        QVERIFY(!port.Connected());
        port.Open();
        port.TransmitBytes(buildFrame(TxAskIdentifier));
        QVERIFY(sim.waitLog(QStringLiteral("rx 7"), 2));
        QCOMPARE(port.losses.count(), 0);
    }

    // The line: a raw server keeps its own settings (9600, two stop bits);
    // RFC 2217 sets 38400 8N1 without handshake at every connect, and the
    // server confirms each value.
    void rfc2217SetsTheLine_data() { rawAndRfc2217(); }
    void rfc2217SetsTheLine() {
        QFETCH(bool, rfc2217);
        QTemporaryDir here;
        SimProcess sim({"--period", "0"});
        QVERIFY2(sim.ready(), qPrintable(sim.readyLine()));
        const QString device = deviceOf(sim);
        Ser2net server(here.path(), device, rfc2217, QStringLiteral("9600n82"));
        QVERIFY2(server.start(), qPrintable(server.output()));

        WatchedPort port(server.url());
        QTRY_VERIFY_WITH_TIMEOUT(!port.Connecting(), 3000);
        QVERIFY(port.Connected());
        auto* stream = port.findChild<TNetStream*>();
        QVERIFY(stream);
        if (rfc2217) {
            QCOMPARE(stream->telnet().comPort(), TTelnetCodec::ComPort::Agreed);
            QVERIFY(stream->telnet().localEnabled(TTelnetCodec::OptBinary));
            QVERIFY(stream->telnet().remoteEnabled(TTelnetCodec::OptBinary));
            QTRY_COMPARE_WITH_TIMEOUT(stream->telnet().confirmed(),
                                      (TTelnetCodec::TLine{38400, 8, 1, 1, 1}), 3000);
        } else {
            // A byte makes sure the server has opened the device.
            port.TransmitBytes(buildFrame(TxAskIdentifier));
            QVERIFY(sim.waitLog(QStringLiteral("rx 7")));
        }

        // What the device holds now (read through a descriptor of our own).
        const int fd = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            QSKIP(qPrintable(QStringLiteral("cannot open %1 to read its settings: %2")
                                 .arg(device, QString::fromLocal8Bit(strerror(errno)))));
        termios tio{};
        const int got = ::tcgetattr(fd, &tio);
        ::close(fd);
        QCOMPARE(got, 0);
        QCOMPARE(cfgetospeed(&tio), speed_t(rfc2217 ? B38400 : B9600));
        QCOMPARE(bool(tio.c_cflag & CSTOPB), !rfc2217);
        QCOMPARE(bool(tio.c_cflag & CRTSCTS), false);
        QCOMPARE(bool(tio.c_iflag & (IXON | IXOFF)), false);
    }

    // Failures of the port service itself, each with its own Polish text.
    void refused() {
        const quint16 p = freePort();
        WatchedPort port;
        port.setPort(QStringLiteral("tcp://127.0.0.1:%1").arg(p));
        // The system may refuse at once (then Open raises) or a moment later.
        const EComPort e = raised([&] { port.Open(); });
        if (e.Code != 0) {
            QCOMPARE(e.Code, int(CError_OpenFailed));
            QCOMPARE(e.WinCode, ECONNREFUSED);
        } else {
            QVERIFY(port.losses.wait(3000));
        }
        QVERIFY(!port.Connected());
        QCOMPARE(port.failureText(),
                 QStringLiteral("Połączenie z 127.0.0.1:%1 odrzucone (nikt nie nasłuchuje na tym "
                                "porcie)")
                     .arg(p));
        // Nothing goes out on a port that is not open.
        QCOMPARE(raised([&] { port.TransmitChar(1); }).Code, int(CError_TransmitFailed));
    }

    void unknownHost() {
        // Open at once: the name is looked up in the background.
        WatchedPort port(QStringLiteral("rfc2217://qta-test.invalid:4001"));
        QVERIFY(port.Connected());
        port.TransmitBytes(buildFrame(TxAskIdentifier)); // queued, then dropped
        QVERIFY(port.losses.wait(5000));
        QVERIFY(!port.Connected());
        QCOMPARE(port.losses.count(), 1);
        // "Nieznany host ..." or, with a name server that does not answer,
        // "Nie można ustalić adresu hosta ...".
        QVERIFY2(port.failureText().contains(QStringLiteral("qta-test.invalid")) &&
                     port.failureText().contains(QStringLiteral("ustalić")),
                 qPrintable(port.failureText()));
    }

    void malformedName() {
        TComPort port;
        port.setPort(QStringLiteral("tcp://10.0.0.5"));
        const EComPort e = raised([&] { port.Open(); });
        QCOMPARE(e.Code, int(CError_OpenFailed));
        QCOMPARE(e.WinCode, EINVAL);
        QCOMPARE(e.message(),
                 QStringLiteral("COM Port Error: Unable to open com port on tcp://10.0.0.5"));
        QVERIFY(!port.Connected());
        QVERIFY(port.failureText().startsWith(
            QStringLiteral("Błędna nazwa portu sieciowego tcp://10.0.0.5")));
    }

    // A server that accepts and then never says a word: a raw link is up
    // (the bytes queued before it go out, in order; the silence is the
    // watchdog's business); RFC 2217 gives up after the connect time.
    void silentServer_data() { rawAndRfc2217(); }
    void silentServer() {
        QFETCH(bool, rfc2217);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const QString where = QStringLiteral("127.0.0.1:%1").arg(server.serverPort());
        WatchedPort port((rfc2217 ? QStringLiteral("rfc2217://") : QStringLiteral("tcp://")) +
                         where);
        port.TransmitBytes(bytes({255, 7, 248, 0, 0}));
        port.TransmitChar(255);
        QVERIFY(server.waitForNewConnection(3000));
        QTcpSocket* peer = server.nextPendingConnection();
        QByteArray arrived;
        connect(peer, &QTcpSocket::readyRead, [&] { arrived += peer->readAll(); });
        if (!rfc2217) {
            QTRY_COMPARE_WITH_TIMEOUT(arrived, bytes({255, 7, 248, 0, 0, 255}), 3000);
            QVERIFY(!port.losses.wait(3500));
            QVERIFY(port.Connected() && !port.Connecting());
            return;
        }
        // The offers, and nothing of the data: the line was never agreed.
        QVERIFY(port.losses.wait(5000));
        QTest::qWait(50);
        QCOMPARE(arrived,
                 bytes({255, 251, 0, 255, 253, 0, 255, 251, 3, 255, 253, 3, 255, 251, 44}));
        QCOMPARE(port.failureText(),
                 QStringLiteral("Serwer %1 nie odpowiada na negocjację RFC 2217 (dla surowego "
                                "strumienia bajtów podaj tcp://)")
                     .arg(where));
    }

    // The server takes the connection and closes it again.
    void droppedByServer() {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        WatchedPort port(QStringLiteral("tcp://127.0.0.1:%1").arg(server.serverPort()));
        QVERIFY(server.waitForNewConnection(3000));
        QTcpSocket* peer = server.nextPendingConnection();
        QTRY_VERIFY(!port.Connecting());
        peer->write("\x01\x02");
        peer->flush();
        peer->close();
        QVERIFY(port.losses.wait(3000));
        QVERIFY(!port.Connected());
        QCOMPARE(port.failureText(),
                 QStringLiteral("Serwer 127.0.0.1:%1 zerwał połączenie").arg(server.serverPort()));
    }

    // The server resets the connection (RST) halfway through a status frame;
    // the watchdog connects again and the next whole frame reads as sent:
    // the half frame of the old connection spoils nothing.
    void resetInTheMiddleOfAFrame() {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        PanelView view;
        TQTA504Core core(&view);
        QSignalSpy frames(&core, &TQTA504Core::frameHandled);
        core.Flaga_Kom.OK = true; // read before: the watchdog keeps the link
        core.ComPort.setPort(QStringLiteral("tcp://127.0.0.1:%1").arg(server.serverPort()));
        core.ComPort.Open();
        QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 3000);
        QTcpSocket* peer = server.nextPendingConnection();
        QTRY_VERIFY(!core.ComPort.Connecting());
        const auto frame = [](int u) {
            return buildFrame(
                RxStatus, statusBytes({u, u + 1, u + 2, 0, 0, 0, 0, 0, 0}, 0, 0, 0, 0x11, 0, 0));
        };
        const QByteArray first = frame(231);
        peer->write(first.left(first.size() / 2));
        peer->flush();
        QTest::qWait(300);
        const linger reset{1, 0}; // closing now sends RST, not FIN
        QVERIFY(::setsockopt(int(peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset,
                             sizeof reset) == 0);
        peer->close();
        QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 15000);
        QVERIFY(frames.isEmpty());
        peer = server.nextPendingConnection();
        QTRY_VERIFY(!core.ComPort.Connecting());
        peer->write(frame(240));
        peer->flush();
        QTRY_VERIFY_WITH_TIMEOUT(!frames.isEmpty(), 5000);
        QCOMPARE(frames.first().at(0).toInt(), int(RxStatus));
        QCOMPARE(core.Linia_1.U, (std::array<int, 4>{0, 240, 241, 242}));
    }

    // A host that takes no connection (its queue of connections is full, so
    // the kernel drops the requests): "nie odpowiada" after the connect time.
    void hostNotAnswering() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        const auto closeFd = qScopeGuard([fd] { ::close(fd); });
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0);
        socklen_t len = sizeof a;
        QVERIFY(::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0);
        QVERIFY(::listen(fd, 0) == 0);
        const quint16 p = ntohs(a.sin_port);
        // Fill the queue (never accepted).
        std::vector<std::unique_ptr<QTcpSocket>> fillers;
        for (int i = 0; i < 2; ++i) {
            fillers.push_back(std::make_unique<QTcpSocket>());
            fillers.back()->connectToHost(QHostAddress::LocalHost, p);
            fillers.back()->waitForConnected(500);
        }
        WatchedPort port(QStringLiteral("tcp://127.0.0.1:%1").arg(p));
        QVERIFY(port.Connecting());
        QVERIFY(port.losses.wait(6000));
        QCOMPARE(
            port.failureText(),
            QStringLiteral("Host 127.0.0.1:%1 nie odpowiada (brak połączenia w ciągu 3 s)").arg(p));
    }

    // The start window on a saved network port names why it cannot connect
    // and keeps trying; when the server comes, the controller is read.
    void startWindowNamesTheFailure_data() {
        dataRows<QString>("fault", {{"refused, then the server comes", "refused"},
                                    {"name that does not resolve", "unknown"},
                                    {"server silent to RFC 2217", "silent"}});
    }
    void startWindowNamesTheFailure() {
        QFETCH(QString, fault);
        QTemporaryDir work;
        QDir::setCurrent(work.path());
        const auto back = qScopeGuard([this] { QDir::setCurrent(dir_.path()); });
        QTcpServer silent;
        QString port;
        QString expected;
        const quint16 free = freePort();
        if (fault == QLatin1String("refused")) {
            port = QStringLiteral("tcp://127.0.0.1:%1").arg(free);
            expected = QStringLiteral("Połączenie z 127.0.0.1:%1 odrzucone (nikt nie nasłuchuje "
                                      "na tym porcie)")
                           .arg(free);
        } else if (fault == QLatin1String("unknown")) {
            port = QStringLiteral("tcp://qta-test.invalid:4001");
            expected = QStringLiteral("qta-test.invalid");
        } else {
            QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
            port = QStringLiteral("rfc2217://127.0.0.1:%1").arg(silent.serverPort());
            expected = QStringLiteral("nie odpowiada na negocjację RFC 2217");
        }
        prepareWork(port);
        PanelView view;
        TQTA504Core core(&view);
        core.openTables();
        StartView start;
        TStartCycle cycle(core, &start);
        cycle.FormCreate();
        QCOMPARE(start.texts.value(0), QStringLiteral("Łączenie z ") + port);
        QTRY_VERIFY_WITH_TIMEOUT(start.text.contains(expected), 8000);
        // It goes on trying, the text stays (no flicker back to "Łączenie").
        QTest::qWait(2500);
        QVERIFY2(start.text.contains(expected), qPrintable(start.texts.join(u'|')));
        QVERIFY(cycle.Timer.isActive());
        QVERIFY(!start.closed);
        QVERIFY(!core.Flaga_Kom.OK);

        if (fault == QLatin1String("refused")) {
            SimProcess sim({"--period", "250"});
            QVERIFY2(sim.ready(), qPrintable(sim.readyLine()));
            QTemporaryDir here;
            // On the port the settings name, in front of the simulator.
            Ser2net server(here.path(), deviceOf(sim), false, QStringLiteral("38400n81"), free);
            QVERIFY2(server.start(), qPrintable(server.output()));
            QTRY_VERIFY_WITH_TIMEOUT(start.closed, 15000);
            qInfo("%s", qPrintable(start.texts.join(u'|')));
            QCOMPARE(
                start.texts.mid(start.texts.size() - 2),
                (QStringList{"Odbiór parametrów konfiguracyjnych", "Odbiór ustawień urządzenia"}));
            QVERIFY(core.Flaga_Kom.OK);
            QCOMPARE(savedPort(), port);
        }
        core.closeAll();
    }

    // Linked through ser2net from the start window on: the event log is
    // copied; ser2net stops (the status bar says the server dropped the
    // connection, then that it refuses); it starts again: the watchdog
    // reconnects, the controller is read again (7, 1, 4), rows resume and the
    // event that came meanwhile is copied.
    void ser2netRestartedWhileLinked_data() { rawAndRfc2217(); }
    void ser2netRestartedWhileLinked() {
        QFETCH(bool, rfc2217);
        QTemporaryDir work;
        QDir::setCurrent(work.path());
        const auto back = qScopeGuard([this] { QDir::setCurrent(dir_.path()); });
        SimProcess sim({"--period", "250", "--events", "3"});
        QVERIFY2(sim.ready(), qPrintable(sim.readyLine()));
        Ser2net server(work.path(), deviceOf(sim), rfc2217, QStringLiteral("38400n81"));
        QVERIFY2(server.start(), qPrintable(server.output()));
        prepareWork(server.url());

        PanelView view;
        TQTA504Core core(&view);
        core.openTables();
        QSignalSpy rows(&core, &TQTA504Core::statusRowAppended);
        StartView start;
        TStartCycle cycle(core, &start);
        cycle.FormCreate();
        QTRY_VERIFY_WITH_TIMEOUT(start.closed, 10000);
        QCOMPARE(start.texts.value(0), QStringLiteral("Łączenie z ") + server.url());
        QCOMPARE(start.texts.last(), QStringLiteral("Odbiór ustawień urządzenia"));
        QCOMPARE(savedPort(), server.url());
        QTRY_COMPARE_WITH_TIMEOUT(core.Rejestr()->RecordCount(), 3, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(rows.count() >= 4, 5000);
        QCOMPARE(view.panels[0], kConnected + QStringLiteral("QTA1v2"));

        server.stop();
        QTRY_VERIFY_WITH_TIMEOUT(view.shown(QStringLiteral("Brak połączenia... Serwer ") +
                                            server.where() + QStringLiteral(" zerwał połączenie")),
                                 3000);
        QTRY_VERIFY_WITH_TIMEOUT(view.shown(QStringLiteral("Połączenie z ") + server.where() +
                                            QStringLiteral(" odrzucone")),
                                 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!core.UART_Connect, 3000);
        const int rowsDown = int(rows.count());
        QVERIFY(sim.commandTaken("add-event 1 0 0 0 0"));
        QTest::qWait(1500);
        QCOMPARE(int(rows.count()), rowsDown);

        const qsizetype backFrom = sim.logLines().size();
        QVERIFY2(server.start(), qPrintable(server.output()));
        QTRY_COMPARE_WITH_TIMEOUT(view.panels[0], kConnected + QStringLiteral("QTA1v2"), 10000);
        const auto reads = [&] {
            QStringList out;
            for (const QString& l : sim.logLines().mid(backFrom))
                if (l.startsWith(QStringLiteral("rx")) && !l.startsWith(QStringLiteral("rx 8 ")))
                    out << l;
            return out;
        };
        QTRY_VERIFY_WITH_TIMEOUT(reads().size() >= 3, 10000);
        QCOMPARE(reads().mid(0, 3), (QStringList{"rx 7", "rx 1", "rx 4"}));
        QTRY_VERIFY_WITH_TIMEOUT(rows.count() >= rowsDown + 4, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(core.Rejestr()->RecordCount(), 4, 10000);
        QVERIFY(core.Flaga_Kom.OK);
        QVERIFY(view.errors.isEmpty());
        core.closeAll();
    }
};

QTEST_GUILESS_MAIN(TestNetLink)
#include "tst_netlink.moc"
