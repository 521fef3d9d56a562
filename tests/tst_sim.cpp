// The controller simulator, run as the real binary on its pseudo-terminal: status
// frames, answers, settings written and read back, the event log, runtime commands,
// and a line that survives the program closing and reopening it.
#include "link/frame.h"
#include "simprocess.h"
#include "testbytes.h"
#include "testpaths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace qta;

namespace {

struct Frame {
    int code = -1; // -1: no frame came
    QByteArray payload;
    explicit operator bool() const { return code >= 0; }
};

// The program's side of the line, opened the plain way.
class Line {
public:
    ~Line() { close(); }

    bool open(const QString& path) {
        close();
        fd_ =
            ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0)
            return false;
        termios tio{};
        ::tcgetattr(fd_, &tio);
        ::cfmakeraw(&tio);
        // TCSANOW, not TCSAFLUSH: whatever waits in the line must stay there to be seen.
        ::tcsetattr(fd_, TCSANOW, &tio);
        rx_ = TReceiver{};
        return true;
    }
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    void send(const QByteArray& b) {
        QCOMPARE_EQ(::write(fd_, b.constData(), std::size_t(b.size())), ssize_t(b.size()));
    }

    // The next whole frame within the time, whatever its code.
    Frame next(int timeoutMs) {
        QElapsedTimer t;
        t.start();
        for (;;) {
            if (rx_.complete()) {
                Frame f{rx_.code(), rx_.payloadBytes()};
                rx_.rearm();
                return f;
            }
            const qint64 left = timeoutMs - t.elapsed();
            if (left < 0)
                return {};
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, int(left)) > 0) {
                char buf[512];
                const ssize_t n = ::read(fd_, buf, sizeof buf);
                if (n > 0)
                    rx_.feed(buf, n);
            }
        }
    }
    // The next frame of `code`, passing over the others (mostly status frames).
    Frame waitFor(int code, int timeoutMs = 2000) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() <= timeoutMs) {
            auto f = next(int(timeoutMs - t.elapsed()));
            if (f && f.code == code)
                return f;
        }
        return {};
    }
    // The next frame that is not a status frame.
    Frame nextAnswer(int timeoutMs = 2000) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() <= timeoutMs) {
            auto f = next(int(timeoutMs - t.elapsed()));
            if (f && f.code != RxStatus)
                return f;
        }
        return {};
    }
    // Passes over what is already on the way, for at most half a second.
    void drain() {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 500 && next(40)) {
        }
    }

private:
    int fd_ = -1;
    TReceiver rx_;
};

QByteArray statusOf(const std::array<int, 9>& u, int f1, int f2, int f3, int prog, int active,
                    int states, int awaria) {
    return statusBytes(u, f1, f2, f3, (prog << 4) | active, states, awaria);
}

QString dateKey(const QByteArray& r) {
    return QString::asprintf("%03d%02d%02d%02d%02d", std::uint8_t(r[0]), std::uint8_t(r[1]),
                             std::uint8_t(r[2]), std::uint8_t(r[3]), std::uint8_t(r[4]));
}

} // namespace

class TestSim : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void statusFrameCarriesTheSetState() {
        SimProcess sim({"--period", "50", "--voltages", "231,232,233,241,242,243,251,252,260",
                        "--faults", "1,8,63", "--program", "10", "--active", "3", "--states",
                        "3,1,2", "--awaria", "6"});
        QVERIFY2(sim.ready(), qPrintable(sim.readyLine()));
        Line line;
        QVERIFY(line.open(sim.link()));
        auto f = line.waitFor(RxStatus);
        QVERIFY(f);
        // States 3, 1, 2 -> bits 5-4, 3-2, 1-0: 110110.
        QCOMPARE(f.payload, statusOf({231, 232, 233, 241, 242, 243, 251, 252, 260}, 1, 8, 63, 10, 3,
                                     0b110110, 6));

        // Runtime changes show in the following frames.
        sim.command("voltages 0 1 255 256 300 1000 65535 230 229");
        sim.command("faults 0 7 56");
        sim.command("program 1");
        sim.command("active 2");
        sim.command("states 0 3 1");
        sim.command("awaria 129");
        const QByteArray changed =
            statusOf({0, 1, 255, 256, 300, 1000, 65535, 230, 229}, 0, 7, 56, 1, 2, 0b001101, 129);
        QElapsedTimer t;
        t.start();
        while ((f = line.waitFor(RxStatus)) && f.payload != changed && t.elapsed() < 3000) {
        }
        QVERIFY(f);
        QCOMPARE(f.payload, changed);
    }

    void answers_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("eventsFile");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("payload");

        const QString file = QStringLiteral("# two records and an empty slot\n"
                                            "0 24 3 5 14 7 6 192 192 192 33\n"
                                            "\n"
                                            "  1 24 3 5 14 9 12 129 192 192 65\n"
                                            "2 empty\n"
                                            "newest 1\n");
        QTest::newRow("identifier, seeded log")
            << QStringList{"--id", "ABCDEF", "--events", "40"} << QString()
            << buildFrame(TxAskIdentifier) << int(RxIdentifier)
            << QByteArray("ABCDEF") + bytes({0, 39});
        QTest::newRow("identifier, full ring, default id")
            << QStringList{"--wrapped", "300"} << QString() << buildFrame(TxAskIdentifier)
            << int(RxIdentifier) << QByteArray("QTA1v2") + bytes({1, 44});
        QTest::newRow("identifier, newest from file")
            << QStringList{} << file << buildFrame(TxAskIdentifier) << int(RxIdentifier)
            << QByteArray("QTA1v2") + bytes({0, 1});
        QTest::newRow("short id padded") << QStringList{"--id", "Q1", "--newest", "7"} << QString()
                                         << buildFrame(TxAskIdentifier) << int(RxIdentifier)
                                         << QByteArray("Q1    ") + bytes({0, 7});
        QTest::newRow("record from file")
            << QStringList{} << file << recordRequest(1) << int(RxRecord)
            << bytes({24, 3, 5, 14, 9, 12, 129, 192, 192, 65, 0, 1});
        QTest::newRow("empty slot from file")
            << QStringList{} << file << recordRequest(2) << int(RxRecord)
            << bytes({255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 0, 2});
        QTest::newRow("never written slot 499")
            << QStringList{"--events", "3"} << QString() << recordRequest(499) << int(RxRecord)
            << bytes({255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 1, 243});
    }
    void answers() {
        QFETCH(QStringList, args);
        QFETCH(QString, eventsFile);
        QFETCH(QByteArray, request);
        QFETCH(int, code);
        QFETCH(QByteArray, payload);
        QTemporaryDir files;
        if (!eventsFile.isEmpty()) {
            QFile f(files.filePath(QStringLiteral("events.txt")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(eventsFile.toUtf8());
            args << QStringLiteral("--events-file") << f.fileName();
        }
        SimProcess sim(args << QStringLiteral("--period") << QStringLiteral("0"));
        QVERIFY2(sim.ready(), qPrintable(sim.readyLine()));
        Line line;
        QVERIFY(line.open(sim.link()));
        line.send(request);
        auto f = line.nextAnswer();
        QVERIFY(f);
        QCOMPARE(f.code, code);
        QCOMPARE(f.payload, payload);
    }

    // A seeded log reads back as a history: every record in place, time never going back,
    // the slots after the newest empty; a full ring runs from just after the newest.
    void seededLog() {
        SimProcess sim({"--events", "40", "--period", "0"});
        QVERIFY(sim.ready());
        Line line;
        QVERIFY(line.open(sim.link()));
        QString previous;
        QSet<int> events;
        for (int i = 0; i <= 40; ++i) {
            line.send(recordRequest(i));
            auto f = line.waitFor(RxRecord);
            QVERIFY2(f, qPrintable(QString::number(i)));
            QCOMPARE(f.payload.mid(10), bytes({0, i}));
            const int month = std::uint8_t(f.payload[1]);
            if (i == 40) {
                QCOMPARE(month, 255);
                break;
            }
            QVERIFY2(month >= 1 && month <= 12, qPrintable(QString::number(i)));
            QVERIFY(std::uint8_t(f.payload[5]) <= 64);
            QVERIFY2(dateKey(f.payload) >= previous, qPrintable(QString::number(i)));
            previous = dateKey(f.payload);
            events.insert(std::uint8_t(f.payload[5]));
        }
        QVERIFY2(events.size() >= 6, "a seeded log shows a mix of events");
        QVERIFY(events.contains(0));

        // No answer for an index beyond the ring: the next answer is that of the next request.
        line.send(recordRequest(500));
        line.send(buildFrame(TxAskIdentifier));
        auto f = line.nextAnswer();
        QVERIFY(f);
        QCOMPARE(f.code, int(RxIdentifier));
        QVERIFY(sim.waitLog(QStringLiteral("rx 8 1 244")));

        SimProcess wrapped({"--wrapped", "123", "--period", "0"});
        QVERIFY(wrapped.ready());
        QVERIFY(line.open(wrapped.link()));
        QStringList order;
        for (int i : {124, 499, 0, 123}) {
            line.send(recordRequest(i));
            f = line.waitFor(RxRecord);
            QVERIFY(f);
            QVERIFY(std::uint8_t(f.payload[1]) <= 12);
            order << dateKey(f.payload);
        }
        QVERIFY2(std::is_sorted(order.begin(), order.end()), qPrintable(order.join(u' ')));
        QVERIFY(order.front() < order.back());
    }

    void configurationWriteReadsBack() {
        SimProcess sim({"--period", "50"});
        QVERIFY(sim.ready());
        Line line;
        QVERIFY(line.open(sim.link()));
        QByteArray config;
        for (int k = 0; k < 32; ++k)
            config.append(char((k * 37 + 11) & 0xFF));
        config[5] = char(255); // a 255 inside the payload is data, not a frame start
        line.send(buildFrame(TxWriteConfig, config));
        line.send(buildFrame(TxAskConfig));
        auto f = line.waitFor(RxConfig);
        QVERIFY(f);
        QCOMPARE(f.payload.size(), 34);
        QCOMPARE(f.payload.left(32), config);
        QVERIFY(sim.waitLog(QStringLiteral("rx 2") + [&] {
            QString s;
            for (char c : config)
                s += u' ' + QString::number(std::uint8_t(c));
            return s;
        }()));
    }

    // The write carries monitoring, sound, backlight, register in bits 7..4; the reply has the
    // PIN switch at bit 6 and the other three one place lower. The PIN comes from its own frame.
    void customisationWriteReadsBack_data() {
        QTest::addColumn<int>("written");
        QTest::addColumn<int>("pinOn");
        QTest::addColumn<int>("replied");
        QTest::newRow("all on") << 240 << 1 << 248;
        QTest::newRow("all off") << 0 << 0 << 0;
        QTest::newRow("monitoring") << 128 << 0 << 128;
        QTest::newRow("sound") << 64 << 0 << 32;
        QTest::newRow("backlight") << 32 << 0 << 16;
        QTest::newRow("register") << 16 << 0 << 8;
        QTest::newRow("PIN only") << 0 << 1 << 64;
        QTest::newRow("low bits ignored") << 15 << 0 << 0;
    }
    void customisationWriteReadsBack() {
        QFETCH(int, written);
        QFETCH(int, pinOn);
        QFETCH(int, replied);
        SimProcess sim({"--period", "0"});
        QVERIFY(sim.ready());
        Line line;
        QVERIFY(line.open(sim.link()));
        line.send(buildFrame(TxWriteCustom, bytes({written, 1, 44, 0, 99, 0, 30, 40})));
        line.send(buildFrame(TxSetPin, bytes({pinOn, 0x12, 0x34})));
        line.send(buildFrame(TxAskCustom));
        auto f = line.waitFor(RxCustom);
        QVERIFY(f);
        QCOMPARE(f.payload, bytes({replied, 1, 44, 0, 99, 0, 30, 40, 0x12, 0x34}));
    }

    void silentStopsAllOutput() {
        SimProcess sim({"--period", "30"});
        QVERIFY(sim.ready());
        Line line;
        QVERIFY(line.open(sim.link()));
        QVERIFY(line.waitFor(RxStatus));
        sim.command("silent on");
        QVERIFY(sim.waitLog(QStringLiteral("cmd silent on")));
        line.drain(); // frames written before the command
        line.send(buildFrame(TxAskIdentifier));
        QVERIFY(sim.waitLog(QStringLiteral("no-answer 7 (silent)")));
        QVERIFY(!line.next(300)); // ten periods without a byte
        sim.command("silent off");
        QVERIFY(line.waitFor(RxStatus));
        line.send(buildFrame(TxAskIdentifier));
        QVERIFY(line.waitFor(RxIdentifier));
    }

    void dropLosesTheNextRequests() {
        SimProcess sim({"--period", "0"});
        QVERIFY(sim.ready());
        Line line;
        QVERIFY(line.open(sim.link()));
        sim.command("drop 7 2");
        QVERIFY(sim.waitLog(QStringLiteral("cmd drop 7 2")));
        line.send(buildFrame(TxAskIdentifier));
        line.send(buildFrame(TxAskIdentifier));
        line.send(buildFrame(TxAskCustom));
        auto f = line.nextAnswer();
        QVERIFY(f);
        QCOMPARE(f.code, int(RxCustom)); // the two identifier requests went unanswered
        line.send(buildFrame(TxAskIdentifier));
        f = line.nextAnswer();
        QVERIFY(f);
        QCOMPARE(f.code, int(RxIdentifier));
        QCOMPARE(sim.count(QStringLiteral("rx 7")), 3);
    }

    // Garbage and broken frames are logged and skipped; the good frame right after is answered.
    void badFramesAreLoggedAndSkipped() {
        SimProcess sim({"--period", "0"});
        QVERIFY(sim.ready());
        Line line;
        QVERIFY(line.open(sim.link()));
        line.send(bytes({1, 2, 3}));                 // junk
        line.send(bytes({255, 7, 247}));             // bad complement
        line.send(bytes({255, 8, 247, 0, 5, 0, 6})); // bad checksum
        line.send(bytes({255, 8, 247, 0}));          // cut short by ...
        line.send(bytes({255, 8, 247, 0, 3, 0, 3})); // ... this good request
        auto f = line.nextAnswer();
        QVERIFY(f);
        QCOMPARE(f.code, int(RxRecord));
        QCOMPARE(f.payload.mid(10), bytes({0, 3}));
        const QStringList log = sim.logLines();
        QVERIFY(log.contains(QStringLiteral("rx-junk 1 2 3")));
        QVERIFY(log.contains(QStringLiteral("rx-bad 7 247 (bad complement)")));
        QVERIFY(log.contains(QStringLiteral("rx-bad 8 0 5 (checksum 6, expected 5)")));
        QVERIFY(log.contains(QStringLiteral("rx 8 0 3")));
        QVERIFY(sim.waitLog(QStringLiteral("tx 3 255 255 255 255 255 255 255 255 255 255 0 3")));

        // Raw bytes go out untouched.
        sim.command("raw ff 08 f7 01 02 00 03");
        f = line.nextAnswer();
        QVERIFY(f);
        QCOMPARE(f.code, int(RxNewest));
        QCOMPARE(f.payload, bytes({1, 2}));
        // An unknown command is reported and the simulator carries on.
        sim.command("frobnicate 3");
        sim.command("newest");
        QVERIFY(line.waitFor(RxNewest));
        QString err;
        QTRY_VERIFY_WITH_TIMEOUT(
            (err += QString::fromLocal8Bit(sim.process().readAllStandardError()))
                .contains(u"frobnicate"),
            3000);
    }

    // A new record goes after the newest (wrapping at 500), stamped with the clock the program
    // set, and an unasked newest-index frame announces it.
    void addEventAnnouncesTheNewRecord() {
        SimProcess sim({"--wrapped", "499", "--period", "0"});
        QVERIFY(sim.ready());
        Line line;
        QVERIFY(line.open(sim.link()));
        line.send(buildFrame(TxSetClock, bytes({31, 5, 6, 7, 8, 0})));
        QVERIFY(sim.waitLog(QStringLiteral("clock 2031-05-06 07:08:00")));
        sim.command("add-event 12 129 192 192 33");
        auto f = line.nextAnswer();
        QVERIFY(f);
        QCOMPARE(f.code, int(RxNewest));
        QCOMPARE(f.payload, bytes({0, 0}));
        line.send(recordRequest(0));
        f = line.waitFor(RxRecord);
        QVERIFY(f);
        QCOMPARE(f.payload, bytes({31, 5, 6, 7, 8, 12, 129, 192, 192, 33, 0, 0}));
        line.send(buildFrame(TxAskIdentifier));
        f = line.waitFor(RxIdentifier);
        QVERIFY(f);
        QCOMPARE(f.payload.mid(6), bytes({0, 0}));
    }

    // Voltages sent by the program's demonstration panel replace the measured ones until it
    // switches off; the controller judges them against its thresholds (195 V and 253 V):
    // fault bits at once, the line given up after its qualification time.
    void demoVoltagesOverrideUntilSwitchedOff() {
        SimProcess sim({"--period", "30", "--voltages", "231"});
        QVERIFY(sim.ready());
        Line line;
        QVERIFY(line.open(sim.link()));
        const QByteArray volts = bytes({200, 201, 202, 210, 211, 212, 0, 255, 230});
        line.send(buildFrame(TxDemo, bytes({1}) + volts + bytes({0, 0})));
        QVERIFY(sim.waitLog(QStringLiteral("demo-voltages on")));
        auto f = line.waitFor(RxStatus);
        QVERIFY(f);
        while (f && f.payload.left(2) != bytes({0, 200}))
            f = line.waitFor(RxStatus);
        QVERIFY(f);
        // N3: L1 under (bit 0), L2 over (bit 4).
        QCOMPARE(
            f.payload.left(21),
            statusOf({200, 201, 202, 210, 211, 212, 0, 255, 230}, 0, 0, 17, 0, 0, 0, 0).left(21));
        // States N1, N2, N3 in bits 5-4, 3-2, 1-0: N3 goes 3 -> 2 -> 0, the others stay good.
        QElapsedTimer t;
        t.start();
        while ((f = line.waitFor(RxStatus)) && std::uint8_t(f.payload[22]) != 0b111100 &&
               t.elapsed() < 4000) {
        }
        QCOMPARE(std::uint8_t(f.payload[22]), std::uint8_t(0b111100));
        line.send(
            buildFrame(TxDemo, bytes({0, 230, 230, 230, 230, 230, 230, 230, 230, 230, 0, 0})));
        QVERIFY(sim.waitLog(QStringLiteral("demo-voltages off")));
        while ((f = line.waitFor(RxStatus)) && f.payload.left(2) != bytes({0, 231})) {
        }
        QVERIFY(f);
        QCOMPARE(f.payload.left(23),
                 statusOf({231, 231, 231, 231, 231, 231, 231, 231, 231}, 0, 0, 0, 1, 1, 0b111111, 0)
                     .left(23));
    }

    // The program may close and reopen the line any number of times, with the serial port
    // class (exclusive open) as well; after a pause it reads current frames, not a backlog.
    // On SIGTERM the simulator removes its link.
    void lineSurvivesReopening() {
        SimProcess sim({"--period", "50"});
        QVERIFY(sim.ready());
        Line line;
        for (int i = 0; i < 3; ++i) {
            QVERIFY(line.open(sim.link()));
            QVERIFY2(line.waitFor(RxStatus), qPrintable(QString::number(i)));
            line.close();
        }

        {
            QSerialPort port(sim.link());
            port.setBaudRate(38400);
            QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
            TReceiver rx;
            port.write(buildFrame(TxAskIdentifier));
            QElapsedTimer t;
            t.start();
            bool identifier = false;
            while (!identifier && t.elapsed() < 3000 && port.waitForReadyRead(500)) {
                const QByteArray in = port.readAll();
                bool done = rx.feed(in);
                while (done) {
                    identifier = identifier || rx.code() == RxIdentifier;
                    done = rx.rearm();
                }
            }
            QVERIFY(identifier);
            port.close();
        }

        // While nobody listens, frames with the old voltages pile up; the simulator must
        // discard them.
        const QString old = QStringLiteral(
            "tx 1 0 230 0 230 0 230 0 230 0 230 0 230 0 230 0 230 0 230 0 0 0 17 63 0");
        QVERIFY(sim.waitLog(old, sim.count(old) + 4));
        sim.command("voltages 201 201 201 201 201 201 201 201 201");
        QVERIFY(sim.waitLog(
            QStringLiteral(
                "tx 1 0 201 0 201 0 201 0 201 0 201 0 201 0 201 0 201 0 201 0 0 0 17 63 0"),
            14));
        QVERIFY(line.open(sim.link()));
        auto f = line.waitFor(RxStatus);
        QVERIFY(f);
        QCOMPARE(f.payload.left(2), bytes({0, 201}));

        QVERIFY(QFileInfo(sim.link()).isSymLink());
        sim.process().terminate();
        QVERIFY(sim.process().waitForFinished(3000));
        QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process().exitCode(), 0);
        QVERIFY(!QFileInfo::exists(sim.link()) && !QFileInfo(sim.link()).isSymLink());
    }

    // Timed steps from a script and the command line change the status
    // frames in order, each no earlier than its time.
    void timedSteps() {
        QTemporaryDir dir;
        QFile script(dir.filePath(QStringLiteral("noc.txt")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("# the breaker trips and recovers\n300 awaria 128\n+600 awaria 0\n");
        script.close();
        SimProcess sim({"--period", "50", "--script", script.fileName(), "--at", "600:active 2"});
        QVERIFY2(sim.ready(), qPrintable(sim.readyLine()));
        QElapsedTimer t;
        t.start();
        Line line;
        QVERIFY(line.open(sim.link()));
        qint64 tripped = -1, switched = -1, recovered = -1;
        while (recovered < 0 && t.elapsed() < 5000) {
            const Frame f = line.waitFor(RxStatus, 500);
            if (!f)
                continue;
            const int awaria = std::uint8_t(f.payload[23]);
            const int active = std::uint8_t(f.payload[21]) & 0x0F;
            if (tripped < 0 && awaria == 128)
                tripped = t.elapsed();
            if (switched < 0 && active == 2)
                switched = t.elapsed();
            if (tripped >= 0 && recovered < 0 && awaria == 0)
                recovered = t.elapsed();
        }
        QVERIFY2(tripped >= 250 && switched >= tripped && recovered >= 850 && recovered > switched,
                 qPrintable(QStringLiteral("%1 %2 %3").arg(tripped).arg(switched).arg(recovered)));
        QVERIFY(sim.waitLog(QStringLiteral("step 900 awaria 0")));
    }

    void badStartIsRefused_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("eventsFile");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("script");
        QTest::newRow("short record line")
            << QStringList{}
            << QStringLiteral("# ok\n0 24 3 5 14 7 6 192 192 192 33\n1 24 3 5 14 7 6 1 2\n")
            << QStringLiteral("events.txt:3: expected") << QString();
        QTest::newRow("byte out of range")
            << QStringList{} << QStringLiteral("0 24 3 5 14 7 6 192 192 256 33\n")
            << QStringLiteral("events.txt:1: field 10") << QString();
        QTest::newRow("index out of range")
            << QStringList{} << QStringLiteral("\n\n500 empty\n")
            << QStringLiteral("events.txt:3: record index") << QString();
        QTest::newRow("bad newest")
            << QStringList{} << QStringLiteral("newest x\n")
            << QStringLiteral("events.txt:1: expected \"newest INDEX\"") << QString();
        QTest::newRow("too many events") << QStringList{"--events", "501"} << QString()
                                         << QStringLiteral("--events") << QString();
        QTest::newRow("two seedings") << QStringList{"--events", "5", "--wrapped", "3"} << QString()
                                      << QStringLiteral("only one of") << QString();
        QTest::newRow("nine voltages") << QStringList{"--voltages", "1,2"} << QString()
                                       << QStringLiteral("--voltages needs 9") << QString();
        QTest::newRow("id too long")
            << QStringList{"--id", "ABCDEFG"} << QString() << QStringLiteral("--id") << QString();
        QTest::newRow("unknown option")
            << QStringList{"--bogus"} << QString() << QStringLiteral("--bogus") << QString();
        QTest::newRow("script: bad time")
            << QStringList{} << QString() << QStringLiteral("script.txt:2: \"3s\" is not a time")
            << QStringLiteral("# trip\n3s awaria 128\n");
        QTest::newRow("script: unknown command")
            << QStringList{} << QString() << QStringLiteral("script.txt:2: unknown command")
            << QStringLiteral("100 awaria 128\n+50 trip\n");
        QTest::newRow("script: time goes back")
            << QStringList{} << QString() << QStringLiteral("script.txt:3: time 100 ms is before")
            << QStringLiteral("100 awaria 128\n+500 awaria 0\n100 active 2\n");
        QTest::newRow("script: bad value")
            << QStringList{} << QString() << QStringLiteral("script.txt:1: awaria")
            << QStringLiteral("0 awaria 256\n");
        QTest::newRow("--at without a time") << QStringList{"--at", "awaria 128"} << QString()
                                             << QStringLiteral("--at") << QString();
    }

    void badStartIsRefused() {
        QFETCH(QStringList, args);
        QFETCH(QString, eventsFile);
        QFETCH(QString, message);
        QFETCH(QString, script);
        QTemporaryDir dir;
        if (!script.isEmpty()) {
            QFile f(dir.filePath(QStringLiteral("script.txt")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(script.toUtf8());
            args << QStringLiteral("--script") << f.fileName();
        }
        if (!eventsFile.isEmpty()) {
            QFile f(dir.filePath(QStringLiteral("events.txt")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(eventsFile.toUtf8());
            args << QStringLiteral("--events-file") << f.fileName();
        }
        const QString link = dir.filePath(QStringLiteral("qta"));
        QProcess p;
        p.start(qta::test::binPath(QStringLiteral("qta504-sim")),
                args << QStringLiteral("--link") << link);
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 2);
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        QVERIFY2(err.contains(message), qPrintable(err));
        QVERIFY(!QFileInfo(link).isSymLink());
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
