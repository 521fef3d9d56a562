// The telnet codec of the RFC 2217 link, as a table: what a received stream
// gives as data and as answers, whole, byte by byte and split at every place;
// 255 doubled both ways; options refused; the line's subcommands.
#include "link/netstream.h"
#include "link/telnet.h"
#include "testbytes.h"

#include <QTest>

using namespace qta;

namespace {

using C = TTelnetCodec;

// 38400 8N1, no flow control: the subcommands the link sends.
const QByteArray kLine38400 = bytes({255, 250, 44, 1, 0, 0,   0x96, 0, 255, 240, //
                                     255, 250, 44, 2, 8, 255, 240,               //
                                     255, 250, 44, 3, 1, 255, 240,               //
                                     255, 250, 44, 4, 1, 255, 240,               //
                                     255, 250, 44, 5, 1, 255, 240});

const C::TLine k38400{38400, 8, 1, 1, 1};

struct Result {
    QByteArray data;
    QByteArray reply;
    C codec;
};

// A fresh RFC 2217 session that wants 38400 8N1, fed `in` in pieces cut at `cuts`.
Result feed(const QByteArray& in, const QList<qsizetype>& cuts) {
    Result r;
    r.codec.start(true);
    r.codec.setLine(k38400);
    qsizetype from = 0;
    QList<qsizetype> at = cuts;
    at.append(in.size());
    for (qsizetype to : at) {
        r.reply += r.codec.receive(in.mid(from, to - from), r.data);
        from = to;
    }
    return r;
}

} // namespace

class TestTelnet : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void offers() {
        C c;
        QCOMPARE(c.start(true), bytes({255, 251, 0, 255, 253, 0, 255, 251, 3, 255, 253, 3, //
                                       255, 251, 44}));
        QCOMPARE(c.start(false), bytes({255, 251, 0, 255, 253, 0, 255, 251, 3, 255, 253, 3}));
        QCOMPARE(c.comPort(), C::ComPort::Pending);
    }

    void escape_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("no 255") << bytes({0, 1, 254}) << bytes({0, 1, 254});
        QTest::newRow("one 255") << bytes({255}) << bytes({255, 255});
        QTest::newRow("frame") << bytes({255, 7, 248}) << bytes({255, 255, 7, 248});
        QTest::newRow("255 in a row")
            << bytes({1, 255, 255, 2}) << bytes({1, 255, 255, 255, 255, 2});
    }
    void escape() {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, wire);
        QCOMPARE(C::escape(data), wire);
        // And back: what is escaped is received as it was.
        Result r = feed(wire, {});
        QCOMPARE(r.data, data);
        QCOMPARE(r.reply, QByteArray());
    }

    // Every case is fed whole, byte by byte, and cut in two at every place:
    // the data and the answers are the same each time.
    void receive_data() {
        QTest::addColumn<QByteArray>("in");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("comPort"); // C::ComPort after it

        const int pending = int(C::ComPort::Pending);
        QTest::newRow("plain data")
            << bytes({1, 2, 3}) << bytes({1, 2, 3}) << QByteArray() << pending;
        QTest::newRow("doubled 255") << bytes({255, 255, 1, 254, 255, 255})
                                     << bytes({255, 1, 254, 255}) << QByteArray() << pending;
        QTest::newRow("status frame start, four 255 in a row")
            << bytes({255, 255, 255, 255, 1, 254}) << bytes({255, 255, 1, 254}) << QByteArray()
            << pending;
        // What ser2net 4 sends on a telnet(rfc2217) connection, then a frame.
        QTest::newRow("ser2net's opening")
            << bytes({255, 251, 3,   255, 253, 3,   255, 251, 1,   255, 254, 1,  255,
                      253, 0,   255, 251, 0,   255, 253, 44,  255, 255, 1,   254})
            << bytes({255, 1, 254}) << bytes({255, 254, 1}) + kLine38400 << int(C::ComPort::Agreed);
        QTest::newRow("unknown options refused")
            << bytes({255, 253, 24, 255, 251, 5, 255, 253, 1, 7}) << bytes({7})
            << bytes({255, 252, 24, 255, 254, 5, 255, 252, 1}) << pending;
        QTest::newRow("agreement not acknowledged twice")
            << bytes({255, 253, 0, 255, 253, 0, 255, 251, 3, 255, 251, 3}) << QByteArray()
            << QByteArray() << pending;
        QTest::newRow("an option turned off is acknowledged")
            << bytes({255, 251, 0, 255, 252, 0, 255, 253, 3, 255, 254, 3}) << QByteArray()
            << bytes({255, 254, 0, 255, 252, 3}) << pending;
        QTest::newRow("COM-PORT-OPTION refused")
            << bytes({255, 254, 44, 9}) << bytes({9}) << QByteArray() << int(C::ComPort::Refused);
        QTest::newRow("COM-PORT-OPTION asked for by the server first")
            << bytes({255, 253, 44}) << QByteArray() << kLine38400 << int(C::ComPort::Agreed);
        QTest::newRow("commands without options ignored")
            << bytes({1, 255, 241, 2, 255, 249, 3, 255, 240, 4}) << bytes({1, 2, 3, 4})
            << QByteArray() << pending;
        QTest::newRow("other subnegotiations skipped")
            << bytes({255, 250, 24, 1, 255, 240, 5}) << bytes({5}) << QByteArray() << pending;
        QByteArray longSb = bytes({255, 250, 44, 107});
        longSb += QByteArray(100, char(7));
        longSb += bytes({255, 240, 6});
        QTest::newRow("long subnegotiation skipped")
            << longSb << bytes({6}) << QByteArray() << pending;
        QTest::newRow("server's answers and notifications are no data")
            << bytes({255, 250, 44,  107, 0,   255, 240, 255, 250, 44,  101, 0, 0,
                      150, 0,   255, 240, 255, 250, 44,  102, 8,   255, 240, 1})
            << bytes({1}) << QByteArray() << pending;
    }
    void receive() {
        QFETCH(QByteArray, in);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, reply);
        QFETCH(int, comPort);
        QList<QList<qsizetype>> splits{{}};
        QList<qsizetype> everyByte;
        for (qsizetype i = 1; i < in.size(); ++i) {
            splits.append(QList<qsizetype>{i});
            everyByte.append(i);
        }
        splits.append(QList<QList<qsizetype>>{everyByte});
        for (const QList<qsizetype>& cuts : splits) {
            const Result r = feed(in, cuts);
            const QString where = QStringLiteral("cut at %1")
                                      .arg(cuts.size() == 1 ? QString::number(cuts[0])
                                           : cuts.isEmpty() ? QStringLiteral("none")
                                                            : QStringLiteral("every byte"));
            QVERIFY2(r.data == data, qPrintable(where + ": " + r.data.toHex(' ')));
            QVERIFY2(r.reply == reply, qPrintable(where + ": " + r.reply.toHex(' ')));
            QCOMPARE(int(r.codec.comPort()), comPort);
        }
    }

    // The server's answers to the line's subcommands are kept; a 255 in a
    // value comes doubled.
    void confirmedLine() {
        C c;
        c.start(true);
        QByteArray data;
        c.receive(bytes({255, 250, 44, 101, 0, 0,   255, 255, 255, 255, 255, 240, //
                         255, 250, 44, 102, 7, 255, 240, 255, 250, 44,  103, 3,   255, 240,
                         255, 250, 44, 104, 2, 255, 240, 255, 250, 44,  105, 3,   255, 240}),
                  data);
        QCOMPARE(data, QByteArray());
        QCOMPARE(c.confirmed(), (C::TLine{65535, 7, 3, 2, 3}));
        // A break or modem-line answer of the same subcommand is no flow control.
        c.receive(bytes({255, 250, 44, 105, 5, 255, 240}), data);
        QCOMPARE(int(c.confirmed().control), 3);
    }

    void lineRequest() {
        QCOMPARE(C::lineRequest(k38400), kLine38400);
        // A value holding 255 goes doubled.
        QCOMPARE(C::lineRequest(C::TLine{0x0001FF00, 0, 0, 0, 0}),
                 bytes({255, 250, 44, 1, 0, 1, 255, 255, 0, 255, 240}));
        QCOMPARE(C::lineRequest(C::TLine{}), QByteArray());

        // Before the server's agreement the settings wait for it.
        C c;
        c.start(true);
        QCOMPARE(c.setLine(k38400), QByteArray());
        QByteArray data;
        QCOMPARE(c.receive(bytes({255, 253, 44}), data), kLine38400);
        const C::TLine other{9600, 7, 3, 2, 3};
        QCOMPARE(c.setLine(other), C::lineRequest(other));
    }

    // The port service's settings in RFC 2217's values.
    void fromLineSettings() {
        QCOMPARE(TNetStream::rfc2217Line(TLineSettings{}), k38400);
        TLineSettings s;
        s.baudRate = 9600;
        s.dataBits = dbSeven;
        s.parity = prEven;
        s.stopBits = sbTwoStopBits;
        s.flow.setSummary(fcHardware);
        QCOMPARE(TNetStream::rfc2217Line(s), (C::TLine{9600, 7, 3, 2, 3}));
        s.parity = prSpace;
        s.stopBits = sbOne5StopBits;
        s.flow.setSummary(fcSoftware);
        QCOMPARE(TNetStream::rfc2217Line(s), (C::TLine{9600, 7, 5, 3, 2}));
    }

    void portNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("display");
        const int serial = int(TPortKind::Serial), tcp = int(TPortKind::Tcp),
                  rfc = int(TPortKind::Rfc2217);
        QTest::newRow("device path") << "/dev/ttyUSB0" << serial << false << "";
        QTest::newRow("COM3") << "COM3" << serial << false << "";
        QTest::newRow("tcp") << "tcp://10.0.0.5:4001" << tcp << true << "10.0.0.5:4001";
        QTest::newRow("tcp, host name, capitals")
            << "TCP://Serwer.example:4001" << tcp << true << "serwer.example:4001";
        QTest::newRow("rfc2217") << "rfc2217://localhost:2217" << rfc << true << "localhost:2217";
        QTest::newRow("IPv6") << "tcp://[::1]:4001" << tcp << true << "[::1]:4001";
        QTest::newRow("trailing slash") << "tcp://h:1/" << tcp << true << "h:1";
        QTest::newRow("no port") << "tcp://10.0.0.5" << tcp << false << "";
        QTest::newRow("port 0") << "tcp://10.0.0.5:0" << tcp << false << "";
        QTest::newRow("port too big") << "rfc2217://h:65536" << rfc << false << "";
        QTest::newRow("no host") << "tcp://:4001" << tcp << false << "";
        QTest::newRow("path") << "tcp://h:4001/x" << tcp << false << "";
    }
    void portNames() {
        QFETCH(QString, name);
        QFETCH(int, kind);
        QFETCH(bool, valid);
        QFETCH(QString, display);
        QCOMPARE(int(portKind(name)), kind);
        QCOMPARE(TComPort::isNetworkPort(name), kind != int(TPortKind::Serial));
        const TNetAddress a = netAddress(name);
        QCOMPARE(a.valid, valid);
        if (valid)
            QCOMPARE(a.display(), display);
    }
};

QTEST_GUILESS_MAIN(TestTelnet)
#include "tst_telnet.moc"
