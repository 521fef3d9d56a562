// The collector's Modbus TCP server: the register map against the installed
// CSV, the framing and the configuration as tables; then the real collector
// with simulated controllers, read by Debian's clients (pymodbus and mbpoll)
// and by raw sockets that send what a broken or hostile client sends.
#include "collector/collectorconfig.h"
#include "collectorproc.h"
#include "modbus/modbusframe.h"
#include "modbus/registermap.h"
#include "serverproc.h"
#include "simprocess.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace qta::modbus;
using qta::test::Collector;

namespace {

const TPoint& point(Space space, const QString& name) {
    for (const TPoint& p : registerMap())
        if (p.space == space && p.name == name)
            return p;
    qFatal("no point %s", qPrintable(name));
}
int ir(const QString& name) { return point(Space::InputRegister, name).address; }
int di(const QString& name) { return point(Space::DiscreteInput, name).address; }
int hr(const QString& name) { return point(Space::HoldingRegister, name).address; }

void writeFile(const QString& path, const QByteArray& text) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

QString mapCsvPath() {
    return qta::test::sourcePath(QStringLiteral("packaging/collector/modbus.csv"));
}

// pymodbus, as an integrator's script would use it (tests/modbus_client.py).
QJsonObject client(quint16 port, const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            QStringList{qta::test::sourcePath(QStringLiteral("tests/modbus_client.py")),
                        QString::number(port)} +
                args);
    if (!p.waitForFinished(20000))
        return {};
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}
QJsonObject dump(quint16 port, int unit) {
    return client(port, {QStringLiteral("dump"), QString::number(unit), mapCsvPath()});
}

// mbpoll as an integrator types it: one poll, 1-based references.
struct Mbpoll {
    int exitCode = -1;
    QString output;
    QList<int> values;
};
Mbpoll mbpoll(quint16 port, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("mbpoll"),
            QStringList{"-m", "tcp", "-p", QString::number(port), "-1"} + args);
    Mbpoll m;
    if (!p.waitForFinished(20000))
        return m;
    m.exitCode = p.exitCode();
    m.output = QString::fromUtf8(p.readAll());
    static const QRegularExpression value(QStringLiteral(R"(^\[\d+\]:\s+(\d+))"),
                                          QRegularExpression::MultilineOption);
    for (auto it = value.globalMatch(m.output); it.hasNext();)
        m.values << it.next().captured(1).toInt();
    return m;
}

// A raw client: what it sends and what comes back, byte for byte.
class RawClient {
public:
    explicit RawClient(quint16 port, int receiveBuffer = 0) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0)
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~RawClient() { ::close(fd_); }
    bool connected() const { return connected_; }
    bool send(const QByteArray& bytes) {
        return ::send(fd_, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    }
    // Sends without waiting; how many bytes the kernel took.
    qint64 sendSome(const QByteArray& bytes) {
        return ::send(fd_, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    // Reads until `count` bytes came, the peer closed, or the time is up.
    QByteArray read(int count, int timeoutMs = 3000) {
        QByteArray got;
        QDeadlineTimer deadline(timeoutMs);
        while (got.size() < count && !deadline.hasExpired()) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, int(std::max<qint64>(1, deadline.remainingTime()))) <= 0)
                break;
            char buf[4096];
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                closed_ = true;
                break;
            }
            got.append(buf, int(n));
        }
        return got;
    }
    // Whether the server has closed the connection (within the time).
    bool closedByPeer(int timeoutMs = 5000) {
        QDeadlineTimer deadline(timeoutMs);
        while (!closed_ && !deadline.hasExpired())
            read(1 << 20, 200);
        return closed_;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
    bool closed_ = false;
};

// An MBAP frame: transaction, protocol, length (unit and PDU), unit, PDU.
QByteArray frame(int transaction, int unit, const QByteArray& pdu, int protocol = 0,
                 int length = -1) {
    QByteArray f;
    const int len = length < 0 ? int(pdu.size()) + 1 : length;
    f.append(char(transaction >> 8)).append(char(transaction));
    f.append(char(protocol >> 8)).append(char(protocol));
    f.append(char(len >> 8)).append(char(len));
    f.append(char(unit));
    return f + pdu;
}
QByteArray readInputs(int address, int count) {
    return QByteArray::fromHex("04") + QByteArray(1, char(address >> 8)) +
           QByteArray(1, char(address)) + QByteArray(1, char(count >> 8)) +
           QByteArray(1, char(count));
}

} // namespace

class TestModbus : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    QString path(const QString& name) const { return dir_->filePath(name); }

private Q_SLOTS:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
    }
    void cleanup() { dir_.reset(); }

    // The installed CSV is the map the server answers from; no two points
    // share an address; values land where the map says, split and clamped.
    void map() {
        QFile f(mapCsvPath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), registerMapCsv());
        QVERIFY(registerMapCsv().startsWith("\xEF\xBB\xBF"
                                            "adres;funkcja;rejestry;nazwa;"));

        QMap<QPair<int, int>, QString> taken;
        for (const TPoint& p : registerMap())
            for (int w = 0; w < p.words; ++w) {
                const auto key = qMakePair(int(p.space), p.address + w);
                QVERIFY2(!taken.contains(key), qPrintable(p.name + " / " + taken.value(key)));
                taken.insert(key, p.name);
            }

        TUnitState s;
        s.voltages = {231, 232, 233, 0, 0, 0, 400, 0, 70000};
        s.identifier = QStringLiteral("QTA1v2");
        s.eventsCopied = 70000;       // past one register
        s.lastEventTime = 1765432100; // 2025-12-11
        s.faults = 0x81;
        s.frameAgeS = 3;
        s.link = true;
        s.activeKinds = 1 << int(qta::AlarmKind::SafetyBreaker);
        s.konf.Uzbrajanie = 2.5; // tenths on the wire
        TImage im;
        fillImage(s, im);
        QCOMPARE(im.input[size_t(ir("U_N1_L2"))], quint16(232));
        QCOMPARE(im.input[size_t(ir("U_N3_L3"))], quint16(65535)); // held at the limit
        QCOMPARE(im.input[size_t(ir("Identyfikator_1"))], quint16('Q' << 8 | 'T'));
        QCOMPARE(im.input[size_t(ir("Identyfikator_3"))], quint16('v' << 8 | '2'));
        QCOMPARE(im.input[size_t(ir("Zdarzenia"))], quint16(1));
        QCOMPARE(im.input[size_t(ir("Zdarzenia")) + 1], quint16(70000 - 65536));
        QCOMPARE(quint32(im.input[size_t(ir("Ostatnie_Zdarzenie_Czas"))]) << 16 |
                     im.input[size_t(ir("Ostatnie_Zdarzenie_Czas")) + 1],
                 quint32(1765432100));
        QCOMPARE(im.input[size_t(ir("Ostatnie_Zdarzenie_Nr"))], quint16(65535)); // none
        QCOMPARE(im.discrete[size_t(di("Awaria_bit_0"))], quint8(1));
        QCOMPARE(im.discrete[size_t(di("Awaria_bit_7"))], quint8(1));
        QCOMPARE(im.discrete[size_t(di("Wyjscie_Zasilone"))], quint8(0));
        QCOMPARE(im.discrete[size_t(di("Alarm_WylacznikBezpieczenstwa_Aktywny"))], quint8(1));
        QCOMPARE(im.holding[size_t(hr("T_On"))], quint16(25));
        QCOMPARE(point(Space::HoldingRegister, QStringLiteral("T_On")).scale, 0.1);
    }

    void framing_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("length");
        const QByteArray read = frame(1, 1, readInputs(0, 9));
        QTest::newRow("one request") << read << int(TFrame::Request) << 12;
        QTest::newRow("two in one read: the first") << read + read << int(TFrame::Request) << 12;
        QTest::newRow("header only") << read.left(6) << int(TFrame::Incomplete) << 0;
        QTest::newRow("cut in the PDU") << read.left(9) << int(TFrame::Incomplete) << 0;
        QTest::newRow("another protocol")
            << frame(1, 1, readInputs(0, 9), 7) << int(TFrame::Foreign) << 12;
        QTest::newRow("length 1") << frame(1, 1, {}, 0, 1) << int(TFrame::Broken) << 0;
        QTest::newRow("length 0") << frame(1, 1, {}, 0, 0) << int(TFrame::Broken) << 0;
        QTest::newRow("body of 254 bytes")
            << frame(1, 1, QByteArray(254, '\x04')) << int(TFrame::Broken) << 0;
        QTest::newRow("body of 253 bytes")
            << frame(1, 1, QByteArray(253, '\x04')) << int(TFrame::Request) << 260;
        QTest::newRow("length says 0xffff")
            << frame(1, 1, readInputs(0, 1), 0, 0xffff) << int(TFrame::Broken) << 0;
    }
    void framing() {
        QFETCH(QByteArray, bytes);
        const TFrame f = nextFrame(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                   size_t(bytes.size()));
        QFETCH(int, kind);
        QFETCH(int, length);
        QCOMPARE(int(f.kind), kind);
        if (f.kind == TFrame::Broken)
            QVERIFY(!f.reason.isEmpty());
        else
            QCOMPARE(f.length, length);
    }

    // Unit identifiers and the [modbus] section: what each configuration
    // gives and what it says.
    void configuration_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("units"); // "A=1 B=2", 0 for not served
        QTest::addColumn<QString>("error"); // a part of the one error, empty: none
        QTest::addColumn<bool>("server");
        const QByteArray ab = "[A]\nPort=/dev/a\nFolder=a\n[B]\nPort=/dev/b\nFolder=b\n";
        const auto row = [](const char* name, const QByteArray& ini, const char* units,
                            const char* error, bool server) {
            QTest::newRow(name) << ini << QString::fromUtf8(units) << QString::fromUtf8(error)
                                << server;
        };
        row("positions, no server", ab, "A=1 B=2", "", false);
        row("empty section: the default address", "[modbus]\n" + ab, "A=1 B=2", "", true);
        row("given", "[A]\nPort=/dev/a\nFolder=a\nJednostka=17\n[B]\nPort=/dev/b\nFolder=b\n",
            "A=17 B=2", "", false);
        row("given equals another's position",
            "[A]\nPort=/dev/a\nFolder=a\n[B]\nPort=/dev/b\nFolder=b\nJednostka=1\n", "A=0 B=0",
            "tę samą Jednostka=1", false);
        row("out of range", "[A]\nPort=/dev/a\nFolder=a\nJednostka=248\n", "A=0",
            "Jednostka=248 poza zakresem", false);
        row("not a number", "[A]\nPort=/dev/a\nFolder=a\nJednostka=pierwszy\n", "A=0",
            "Jednostka=pierwszy poza zakresem", false);
        row("a refused section keeps its place", "[A]\nFolder=a\n[B]\nPort=/dev/b\nFolder=b\n",
            "B=2", "[A]: brak Port=", false);
        row("Listen= a name", "[modbus]\nListen=localhost:1502\n" + ab, "A=1 B=2",
            "[modbus] Listen=: „localhost:1502” nie jest adresem", false);
        row("Listen= port 0", "[modbus]\nListen=127.0.0.1:0\n" + ab, "A=1 B=2",
            "nie jest adresem i portem", false);
        row("Allow= a name", "[modbus]\nAllow=10.0.0.0/8, bms.local\n" + ab, "A=1 B=2",
            "[modbus] Allow=: „bms.local”", false);
    }
    void configuration() {
        QFETCH(QByteArray, ini);
        QFETCH(QString, units);
        QFETCH(QString, error);
        QFETCH(bool, server);
        const QString file = path(QStringLiteral("c.ini"));
        writeFile(file, ini);
        const qta::TCollectorConfig c = qta::readCollectorConfig(file);
        QStringList got;
        for (const auto& e : c.controllers)
            got << QStringLiteral("%1=%2").arg(e.name).arg(e.unit);
        QCOMPARE(got.join(u' '), units);
        if (error.isEmpty())
            QVERIFY2(c.errors.isEmpty(), qPrintable(c.errors.join(u'\n')));
        else
            QVERIFY2(c.errors.size() == 1 && c.errors.constFirst().contains(error),
                     qPrintable(c.errors.join(u'\n')));
        QCOMPARE(c.modbus.enabled, server);
        if (server)
            QCOMPARE(c.modbus.listen.text(), QStringLiteral("127.0.0.1:1502"));
    }

    // Three simulated controllers read by pymodbus and mbpoll: each unit's
    // values are its simulator's, writes and strangers are refused, a fault
    // and a lost link show as they happen, every row of the CSV answers.
    void threeControllers() {
        struct Sim {
            QString name, id;
            QStringList args;
            std::array<int, 9> u;
            int unit;
        };
        const std::vector<Sim> sims = {
            {"A",
             "AAA111",
             {"--voltages", "231,232,233,220,221,222,0,0,0", "--states", "3,1,0"},
             {231, 232, 233, 220, 221, 222, 0, 0, 0},
             1},
            {"B",
             "BBB222",
             {"--voltages", "240", "--program", "3", "--active", "2"},
             {240, 240, 240, 240, 240, 240, 240, 240, 240},
             12},
            {"C",
             "CCC333",
             {"--voltages", "199,200,201,202,203,204,205,206,207", "--events", "5"},
             {199, 200, 201, 202, 203, 204, 205, 206, 207},
             3},
        };
        std::vector<std::unique_ptr<SimProcess>> procs;
        QByteArray sections;
        for (const Sim& s : sims) {
            procs.push_back(std::make_unique<SimProcess>(
                path(s.name), path(s.name + QStringLiteral(".log")),
                QStringList{"--period", "500", "--id", s.id} + s.args));
            QVERIFY(procs.back()->ready());
            sections += "[" + s.name.toUtf8() + "]\nPort=" + procs.back()->link().toUtf8() + "\n";
            if (s.unit != int(procs.size()))
                sections += "Jednostka=" + QByteArray::number(s.unit) + "\n";
        }
        const quint16 port = qta::test::freePort();
        const QString config = path(QStringLiteral("collector.ini"));
        const QByteArray head = "[collector]\nDataRoot=" + path("data").toUtf8() +
                                "\n[modbus]\nListen=127.0.0.1:" + QByteArray::number(port) + "\n";
        writeFile(config, head + sections);
        Collector coll(config);
        for (const Sim& s : sims)
            QTRY_VERIFY2_WITH_TIMEOUT(coll.saidPart(s.name + QStringLiteral(": sterownik ") + s.id +
                                                    QStringLiteral(" odczytany")),
                                      qPrintable(coll.log()), 30000);
        QVERIFY(
            coll.said(QStringLiteral("qta504d: Modbus TCP: nasłuchuję na 127.0.0.1:%1").arg(port)));

        for (const Sim& s : sims) {
            const QJsonObject d = dump(port, s.unit);
            const QJsonArray in = d[QLatin1String("input")].toArray();
            const QJsonArray bits = d[QLatin1String("discrete")].toArray();
            const QJsonArray hold = d[QLatin1String("holding")].toArray();
            QVERIFY2(!in.isEmpty() && !bits.isEmpty() && !hold.isEmpty(),
                     qPrintable(QJsonDocument(d).toJson()));
            for (int i = 0; i < 9; ++i)
                QCOMPARE(in[i].toInt(), s.u[size_t(i)]);
            QCOMPARE(in[ir("Polaczenie")].toInt(), 1);
            QVERIFY(in[ir("Wiek_Danych")].toInt() <= 2);
            QString id;
            for (const char* w : {"Identyfikator_1", "Identyfikator_2", "Identyfikator_3"}) {
                const int v = in[ir(QLatin1String(w))].toInt();
                id += QChar(v >> 8);
                id += QChar(v & 0xff);
            }
            QCOMPARE(id, s.id);
            QCOMPARE(hold[hr("Ustawienia_Odczytane")].toInt(), 1);
            QCOMPARE(hold[hr("N1_U_Min")].toInt(), 195); // the simulator's default limits
            QCOMPARE(hold[hr("N3_U_Max")].toInt(), 253);
            QCOMPARE(bits[di("Polaczenie")].toInt(), 1);
            QCOMPARE(bits[di("Awaria_bit_7")].toInt(), 0);
        }
        {
            const QJsonArray a = dump(port, 1)[QLatin1String("input")].toArray();
            QCOMPARE(a[ir("Stan_N1")].toInt(), 3);
            QCOMPARE(a[ir("Stan_N2")].toInt(), 1);
            QCOMPARE(a[ir("Stan_N3")].toInt(), 0);
            const QJsonArray b = dump(port, 12)[QLatin1String("input")].toArray();
            QCOMPARE(b[ir("Program")].toInt(), 3);
            QCOMPARE(b[ir("Aktywna_Linia")].toInt(), 2);
            QTRY_COMPARE_WITH_TIMEOUT(
                dump(port, 3)[QLatin1String("input")].toArray()[ir("Zdarzenia") + 1].toInt(), 5,
                15000);
            const QJsonArray c = dump(port, 3)[QLatin1String("input")].toArray();
            QCOMPARE(c[ir("Ostatnie_Zdarzenie_Nr")].toInt(), 4);
            QVERIFY(c[ir("Ostatnie_Zdarzenie_Kod")].toInt() != 65535);
        }

        // As an integrator types it: the voltages by unit identifier, a write refused.
        for (const Sim& s : sims) {
            const Mbpoll read = mbpoll(port, {"-a", QString::number(s.unit), "-t", "3", "-r", "1",
                                              "-c", "9", "127.0.0.1"});
            QCOMPARE(read.exitCode, 0);
            QCOMPARE(read.values, QList<int>(s.u.begin(), s.u.end()));
        }
        const Mbpoll write = mbpoll(port, {"-a", "1", "-t", "4", "-r", "1", "127.0.0.1", "5"});
        QVERIFY2(write.exitCode != 0 && write.output.contains(QStringLiteral("Illegal function")),
                 qPrintable(write.output));

        // Every write function, addresses past the map, an unknown unit.
        const QJsonObject r =
            client(port, {QStringLiteral("refusals"), QStringLiteral("1"), mapCsvPath()});
        const QList<QPair<const char*, int>> expected = {
            {"write_coil", 1},      {"write_register", 1}, {"write_coils", 1},
            {"write_registers", 1}, {"mask_write", 1},     {"read_write", 1},
            {"past_input", 2},      {"past_discrete", 2},  {"past_holding", 2},
            {"coils", 2},           {"unknown_unit", 11},  {"after", 0}};
        for (const auto& [name, code] : expected)
            QVERIFY2(r[QLatin1String(name)].toInt(-1) == code,
                     qPrintable(QStringLiteral("%1: %2")
                                    .arg(QLatin1String(name))
                                    .arg(r[QLatin1String(name)].toInt(-1))));

        // Every row of the installed map answers.
        const QJsonObject rows =
            client(port, {QStringLiteral("csv"), QStringLiteral("12"), mapCsvPath()});
        QCOMPARE(rows[QLatin1String("rows")].toInt(), int(registerMap().size()));
        QVERIFY2(rows[QLatin1String("failed")].toArray().isEmpty(),
                 qPrintable(QJsonDocument(rows).toJson()));

        // A safety-breaker trip: the fault byte, its bit and its alarm follow.
        QVERIFY(procs[1]->commandTaken("awaria 128"));
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const QJsonObject d = dump(port, 12);
                const QJsonArray in = d[QLatin1String("input")].toArray();
                const QJsonArray bits = d[QLatin1String("discrete")].toArray();
                return in.size() > 0 && in[ir("Awaria")].toInt() == 128 &&
                       bits[di("Awaria_bit_7")].toInt() == 1 &&
                       bits[di("Alarm_WylacznikBezpieczenstwa_Aktywny")].toInt() == 1 &&
                       bits[di("Alarm_WylacznikBezpieczenstwa_Niepotwierdzony")].toInt() == 1 &&
                       in[ir("Alarmy_Priorytet")].toInt() == 2 &&
                       in[ir("Alarmy_Niepotwierdzone")].toInt() >= 1;
            }(),
            5000);

        // A lost link: held values, the link register 0, the age growing.
        QVERIFY(procs[0]->commandTaken("silent on"));
        QTRY_VERIFY_WITH_TIMEOUT(
            dump(port, 1)[QLatin1String("input")].toArray()[ir("Polaczenie")].toInt(-1) == 0,
            10000);
        const QJsonArray held = dump(port, 1)[QLatin1String("input")].toArray();
        QCOMPARE(held[ir("U_N1_L1")].toInt(), 231);
        QVERIFY(held[ir("Wiek_Danych")].toInt() >= 2);

        // Allow= without the loopback: refused at accept, said once.
        writeFile(config, head + "Allow=10.0.0.0/8, fd00::/8\n" + sections);
        coll.signal(SIGHUP);
        QTRY_VERIFY_WITH_TIMEOUT(coll.linesWith(QStringLiteral("Modbus TCP: nasłuchuję")) == 2,
                                 10000);
        for (int i = 0; i < 2; ++i) {
            const QJsonObject refused = dump(port, 1);
            QVERIFY(!refused.contains(QLatin1String("input")) ||
                    !refused[QLatin1String("input")].isArray());
        }
        const QString refusal =
            QStringLiteral("Modbus TCP: odrzucono połączenie z 127.0.0.1 (adres spoza Allow=)");
        QTRY_VERIFY(coll.linesWith(refusal) > 0);
        QCOMPARE(coll.linesWith(refusal), 1);
    }

    // What broken or hostile clients send costs no other client anything.
    void badClients() {
        SimProcess sim(path(QStringLiteral("s")), path(QStringLiteral("s.log")),
                       {"--period", "500", "--voltages", "230"});
        QVERIFY(sim.ready());
        const quint16 port = qta::test::freePort();
        const QString config = path(QStringLiteral("collector.ini"));
        writeFile(config, "[modbus]\nListen=127.0.0.1:" + QByteArray::number(port) +
                              "\n[A]\nPort=" + sim.link().toUtf8() +
                              "\nFolder=" + path("a").toUtf8() + "\n");
        Collector coll(config);
        QTRY_VERIFY_WITH_TIMEOUT(coll.saidPart(QStringLiteral("A: sterownik QTA1v2 odczytany")),
                                 20000);
        const QByteArray request = frame(1, 1, readInputs(0, 1));
        const int answer = 7 + 2 + 2; // header, function and byte count, one register

        // Two requests in one write, and one sent a byte at a time.
        {
            RawClient c(port);
            QVERIFY(c.connected());
            QVERIFY(c.send(frame(1, 1, readInputs(0, 1)) + frame(2, 1, readInputs(1, 1))));
            const QByteArray two = c.read(2 * answer);
            QCOMPARE(two.size(), 2 * answer);
            QCOMPARE(two.mid(0, 2), QByteArray::fromHex("0001"));
            QCOMPARE(two.mid(answer, 2), QByteArray::fromHex("0002"));
            QCOMPARE(two.mid(9, 2), QByteArray::fromHex("00e6")); // 230 V
            const QByteArray third = frame(3, 1, readInputs(0, 1));
            for (char b : third)
                QVERIFY(c.send(QByteArray(1, b)));
            QCOMPARE(c.read(answer).left(2), QByteArray::fromHex("0003"));
            // Another protocol's frame is passed over; the next request is answered.
            QVERIFY(c.send(frame(4, 1, readInputs(0, 1), 1) + frame(5, 1, readInputs(0, 1))));
            QCOMPARE(c.read(answer).left(2), QByteArray::fromHex("0005"));
            // A read with bytes too many: exception 3, the stream goes on.
            QVERIFY(c.send(frame(6, 1, readInputs(0, 1) + "xx")));
            QCOMPARE(c.read(9), QByteArray::fromHex("000600000003018403"));
        }
        // Streams that cannot be followed: closed, nothing answered.
        for (const QByteArray& bad :
             {frame(1, 1, {}, 0, 1), frame(1, 1, QByteArray(300, '\x04'))}) {
            RawClient c(port);
            QVERIFY(c.send(bad));
            QVERIFY(c.read(1, 500).isEmpty());
            QVERIFY(c.closedByPeer());
        }
        QTRY_VERIFY(coll.linesWith(QStringLiteral("ramka nie do odczytania: pole długości")) == 2);

        // A client that never reads is dropped; another is answered meanwhile.
        {
            RawClient greedy(port, 4096);
            QVERIFY(greedy.connected());
            QByteArray many;
            for (int i = 0; i < 400; ++i)
                many += frame(i, 1, readInputs(0, 125));
            qint64 sent = 0;
            QDeadlineTimer deadline(20000);
            while (!coll.saidPart(QStringLiteral("klient nie odbiera odpowiedzi")) &&
                   !deadline.hasExpired()) {
                const qint64 n = greedy.sendSome(many);
                if (n < 0 && errno != EAGAIN)
                    break; // dropped: the connection is reset
                sent += std::max<qint64>(n, 0);
                QTest::qWait(10);
            }
            QTRY_VERIFY2(coll.saidPart(
                             QStringLiteral("rozłączono 127.0.0.1: klient nie odbiera odpowiedzi")),
                         qPrintable(coll.log()));
            RawClient other(port);
            QVERIFY(other.send(request));
            QCOMPARE(other.read(answer).size(), answer);
        }

        // Connections per address are limited; the ones beyond are closed at once.
        std::vector<std::unique_ptr<RawClient>> held;
        for (int i = 0; i < 8; ++i) {
            held.push_back(std::make_unique<RawClient>(port));
            QVERIFY(held.back()->send(request));
            QCOMPARE(held.back()->read(answer).size(), answer); // accepted and served
        }
        RawClient ninth(port);
        QVERIFY(ninth.closedByPeer());
        const QString refusal =
            QStringLiteral("odrzucono połączenie z 127.0.0.1 (już 8 połączeń z tego adresu)");
        QTRY_VERIFY(coll.linesWith(refusal) > 0);
        RawClient tenth(port);
        QVERIFY(tenth.closedByPeer());
        QCOMPARE(coll.linesWith(refusal), 1);
    }
};

QTEST_GUILESS_MAIN(TestModbus)
#include "tst_modbus.moc"
