// Serial settings: text forms, the settings file (load, store, keeping the rest
// of the file), the flow-control summary and the sorted port list.
#include "link/comport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace qta;

namespace {
const QString kIni = QStringLiteral("rejestr\\ustawienia.ini");

void writeFile(const QString& name, const QByteArray& content) {
    QFile f(name);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}

QByteArray readFile(const QString& name) {
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray withoutBlankLines(const QByteArray& text) {
    QByteArray out;
    for (const QByteArray& line : text.split('\n')) {
        if (!line.trimmed().isEmpty())
            out += line + '\n';
    }
    return out;
}

// Values unlike the defaults, so that a key that was not read shows.
void preset(TComPort& p) {
    p.setPort(QStringLiteral("ttyS9"));
    p.BaudRate = br1200;
    p.CustomBaudRate = 4800;
    p.StopBits = sbTwoStopBits;
    p.DataBits = dbSeven;
    p.Parity.Bits = prOdd;
    p.FlowControl.setSummary(fcHardware);
}

const QByteArray kSixLines = "[ComPort]\nPort=COM3\nBaudRate=38400\nStopBits=1\nDataBits=8\n"
                             "Parity=None\nFlowControl=None\n";
} // namespace

class TestComSettings : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    QString oldCwd_;

private Q_SLOTS:
    void init() {
        oldCwd_ = QDir::currentPath();
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        QVERIFY(QDir::setCurrent(dir_->path()));
        QVERIFY(QDir().mkdir(QStringLiteral("rejestr")));
    }
    void cleanup() {
        QDir::setCurrent(oldCwd_);
        dir_.reset();
        TComPort::setPortListProvider(nullptr);
    }

    void textForms_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("canonical"); // the text written for `value`
        const QStringList bauds = {"Custom", "110",    "300",    "600",   "1200",  "2400",
                                   "4800",   "9600",   "14400",  "19200", "38400", "56000",
                                   "57600",  "115200", "128000", "256000"};
        for (int i = 0; i < bauds.size(); ++i)
            QTest::addRow("baud %s", qPrintable(bauds[i])) << "baud" << bauds[i] << i << true;
        const QStringList stops = {"1", "1.5", "2"};
        for (int i = 0; i < stops.size(); ++i)
            QTest::addRow("stop %s", qPrintable(stops[i])) << "stop" << stops[i] << i << true;
        for (int i = 0; i < 4; ++i)
            QTest::addRow("data %d", i + 5) << "data" << QString::number(i + 5) << i << true;
        const QStringList parities = {"None", "Odd", "Even", "Mark", "Space"};
        for (int i = 0; i < parities.size(); ++i)
            QTest::addRow("parity %s", qPrintable(parities[i]))
                << "parity" << parities[i] << i << true;
        const QStringList flows = {"Hardware", "Software", "None", "Custom"};
        for (int i = 0; i < flows.size(); ++i)
            QTest::addRow("flow %s", qPrintable(flows[i])) << "flow" << flows[i] << i << true;

        // Any letter case; anything else gives the fixed default.
        QTest::newRow("baud custom lower") << "baud"
                                           << "custom" << int(brCustom) << false;
        QTest::newRow("baud unknown") << "baud"
                                      << "fast" << int(br9600) << false;
        QTest::newRow("baud empty") << "baud"
                                    << "" << int(br9600) << false;
        QTest::newRow("baud near miss") << "baud"
                                        << "38400 " << int(br9600) << false;
        QTest::newRow("stop unknown") << "stop"
                                      << "1,5" << int(sbOneStopBit) << false;
        QTest::newRow("data unknown") << "data"
                                      << "9" << int(dbEight) << false;
        QTest::newRow("parity upper") << "parity"
                                      << "EVEN" << int(prEven) << false;
        QTest::newRow("parity unknown") << "parity"
                                        << "yes" << int(prNone) << false;
        QTest::newRow("flow mixed case") << "flow"
                                         << "hARDWARE" << int(fcHardware) << false;
        QTest::newRow("flow unknown") << "flow"
                                      << "RTS" << int(fcCustom) << false;
    }
    void textForms() {
        QFETCH(QString, kind);
        QFETCH(QString, text);
        QFETCH(int, value);
        QFETCH(bool, canonical);
        int parsed = -1;
        QString written;
        if (kind == "baud") {
            parsed = baudRateFromText(text);
            written = baudRateText(TBaudRate(value));
            if (canonical) {
                const int expected = value == brCustom ? 777 : text.toInt();
                QCOMPARE(baudRateValue(TBaudRate(value), 777), expected);
            }
        } else if (kind == "stop") {
            parsed = stopBitsFromText(text);
            written = stopBitsText(TStopBits(value));
        } else if (kind == "data") {
            parsed = dataBitsFromText(text);
            written = dataBitsText(TDataBits(value));
        } else if (kind == "parity") {
            parsed = parityFromText(text);
            written = parityText(TParityBits(value));
        } else {
            parsed = flowControlFromText(text);
            written = flowControlText(TFlowControl(value));
        }
        QCOMPARE(parsed, value);
        if (canonical)
            QCOMPARE(written, text);
    }

    void rejestrPath_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected"); // under the working directory
        QTest::newRow("settings") << "rejestr\\ustawienia.ini"
                                  << "rejestr/ustawienia.ini";
        QTest::newRow("capital folder") << "Rejestr\\rejestr.dbf"
                                        << "rejestr/rejestr.dbf";
        QTest::newRow("bare name") << "ustawienia.ini"
                                   << "rejestr/ustawienia.ini";
        QTest::newRow("slashes") << "REJESTR/linia.dbf"
                                 << "rejestr/linia.dbf";
    }
    void rejestrPath() {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(qta::rejestrPath(name), QDir::currentPath() + '/' + expected);
    }

    void load_data() {
        QTest::addColumn<QByteArray>("ini"); // null: no file
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("custom");
        QTest::addColumn<int>("stop");
        QTest::addColumn<int>("data");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("flow");
        const QString p = QStringLiteral("ttyS9");
        QTest::newRow("no file") << QByteArray() << p << int(br1200) << 4800 << int(sbTwoStopBits)
                                 << int(dbSeven) << int(prOdd) << int(fcHardware);
        QTest::newRow("other section only")
            << QByteArray("[Other]\nBaudRate=57600\nPort=COM7\n") << p << int(br1200) << 4800
            << int(sbTwoStopBits) << int(dbSeven) << int(prOdd) << int(fcHardware);
        QTest::newRow("keys and values in any case")
            << QByteArray("[comport]\nPORT=ttyUSB0\nbaudrate=38400\nstopbits=1.5\nDATABITS=5\n"
                          "parity=sPACE\nflowcontrol=software\n")
            << "ttyUSB0" << int(br38400) << 4800 << int(sbOne5StopBits) << int(dbFive)
            << int(prSpace) << int(fcSoftware);
        // "Custom" flow control leaves the fields, and so the summary, alone.
        QTest::newRow("unknown texts")
            << QByteArray("[ComPort]\nBaudRate=fast\nStopBits=3\nDataBits=9\nParity=?\n"
                          "FlowControl=auto\n")
            << p << int(br9600) << 4800 << int(sbOneStopBit) << int(dbEight) << int(prNone)
            << int(fcHardware);
        QTest::newRow("custom rate read with Custom")
            << QByteArray("[ComPort]\nBaudRate=Custom\nCustomBaudRate=250000\n") << p
            << int(brCustom) << 250000 << int(sbTwoStopBits) << int(dbSeven) << int(prOdd)
            << int(fcHardware);
        QTest::newRow("custom rate ignored otherwise")
            << QByteArray("[ComPort]\nBaudRate=19200\nCustomBaudRate=250000\n") << p << int(br19200)
            << 4800 << int(sbTwoStopBits) << int(dbSeven) << int(prOdd) << int(fcHardware);
        QTest::newRow("custom rate not a number")
            << QByteArray("[ComPort]\nBaudRate=Custom\nCustomBaudRate=fast\n") << p << int(brCustom)
            << 4800 << int(sbTwoStopBits) << int(dbSeven) << int(prOdd) << int(fcHardware);
        QTest::newRow("custom rate zero")
            << QByteArray("[ComPort]\nBaudRate=Custom\nCustomBaudRate=0\n") << p << int(brCustom)
            << 4800 << int(sbTwoStopBits) << int(dbSeven) << int(prOdd) << int(fcHardware);
        QTest::newRow("empty port keeps port")
            << QByteArray("[ComPort]\nPort=\nFlowControl=None\n") << p << int(br1200) << 4800
            << int(sbTwoStopBits) << int(dbSeven) << int(prOdd) << int(fcNone);
        QTest::newRow("signature and CRLF")
            << QByteArray("\xEF\xBB\xBF[ComPort]\r\nPort=COM3\r\nBaudRate=115200\r\n") << "COM3"
            << int(br115200) << 4800 << int(sbTwoStopBits) << int(dbSeven) << int(prOdd)
            << int(fcHardware);
        QTest::newRow("binary garbage")
            << QByteArray("\xFF\xFE[Com\0Port]\n\x01=\x02\n", 17) << p << int(br1200) << 4800
            << int(sbTwoStopBits) << int(dbSeven) << int(prOdd) << int(fcHardware);
    }
    void load() {
        QFETCH(QByteArray, ini);
        if (!ini.isNull())
            writeFile(QStringLiteral("rejestr/ustawienia.ini"), ini);
        TComPort port;
        preset(port);
        port.LoadSettings(stIniFile, kIni);
        QTEST(port.Port(), "port");
        QTEST(int(port.BaudRate), "baud");
        QTEST(port.CustomBaudRate, "custom");
        QTEST(int(port.StopBits), "stop");
        QTEST(int(port.DataBits), "data");
        QTEST(int(port.Parity.Bits), "parity");
        QTEST(int(port.FlowControl.summary()), "flow");
    }

    void loadAcceptsPathSpellings_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("capital folder") << "Rejestr\\ustawienia.ini";
        QTest::newRow("relative") << "rejestr/ustawienia.ini";
        QTest::newRow("absolute") << QString(); // filled in below
    }
    void loadAcceptsPathSpellings() {
        QFETCH(QString, path);
        if (path.isEmpty())
            path = QDir::currentPath() + "/rejestr/ustawienia.ini";
        writeFile(QStringLiteral("rejestr/ustawienia.ini"), "[ComPort]\nBaudRate=57600\n");
        TComPort port;
        port.LoadSettings(stIniFile, path);
        QCOMPARE(port.BaudRate, br57600);
    }

    void storeIntoEmpty_data() {
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("flow");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("no file") << false << int(br38400) << int(fcNone) << kSixLines;
        QTest::newRow("empty file") << true << int(br38400) << int(fcNone) << kSixLines;
        QTest::newRow("custom rate")
            << false << int(brCustom) << int(fcHardware)
            << QByteArray("[ComPort]\nPort=COM3\nBaudRate=Custom\nCustomBaudRate=250000\n"
                          "StopBits=1\nDataBits=8\nParity=None\nFlowControl=Hardware\n");
    }
    void storeIntoEmpty() {
        QFETCH(bool, fileExists);
        QFETCH(int, baud);
        QFETCH(int, flow);
        QFETCH(QByteArray, expected);
        if (fileExists)
            writeFile(QStringLiteral("rejestr/ustawienia.ini"), {});
        TComPort port;
        port.setPort(QStringLiteral("COM3"));
        port.BaudRate = TBaudRate(baud);
        port.CustomBaudRate = 250000;
        port.FlowControl.setSummary(TFlowControl(flow));
        // The capital-letter spelling lands in the same folder.
        port.StoreSettings(stIniFile, QStringLiteral("Rejestr\\ustawienia.ini"));
        QCOMPARE(readFile(QStringLiteral("rejestr/ustawienia.ini")), expected);

        TComPort loaded;
        preset(loaded);
        loaded.LoadSettings(stIniFile, kIni);
        QCOMPARE(loaded.Port(), QStringLiteral("COM3"));
        QCOMPARE(int(loaded.BaudRate), baud);
        QCOMPARE(loaded.CustomBaudRate, baud == brCustom ? 250000 : 4800);
        QCOMPARE(loaded.StopBits, sbOneStopBit);
        QCOMPARE(loaded.DataBits, dbEight);
        QCOMPARE(loaded.Parity.Bits, prNone);
        QCOMPARE(int(loaded.FlowControl.summary()), flow);
    }

    // A hand-edited file: comments, other sections, foreign keys, other letter
    // case, UTF-8 text and a comment after the last entry all survive; known keys
    // are replaced where they stand and missing ones added at the section's end.
    void storeKeepsRestOfFile_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after"); // blank lines left out
        const QByteArray before = "; QTA-504 settings\n"
                                  "; edited by hand\n"
                                  "\n"
                                  "[Other]\n"
                                  "BaudRate=1200\n"
                                  "\n"
                                  "[comport]\n"
                                  "; where the controller answered\n"
                                  "port = COM1\n"
                                  "Opis=Łódź – żółć\n"
                                  "baudrate=9600\n"
                                  "# left from a custom rate\n"
                                  "CustomBaudRate=250000\n"
                                  "\n"
                                  "[Last]\n"
                                  "k=v\n"
                                  "; end of file\n";
        const QByteArray after = "; QTA-504 settings\n"
                                 "; edited by hand\n"
                                 "[Other]\n"
                                 "BaudRate=1200\n"
                                 "[comport]\n"
                                 "; where the controller answered\n"
                                 "port=COM3\n"
                                 "Opis=Łódź – żółć\n"
                                 "baudrate=57600\n"
                                 "# left from a custom rate\n"
                                 "CustomBaudRate=250000\n"
                                 "StopBits=1\n"
                                 "DataBits=8\n"
                                 "Parity=Even\n"
                                 "FlowControl=None\n"
                                 "[Last]\n"
                                 "k=v\n"
                                 "; end of file\n";
        QTest::newRow("hand-edited") << before << after;
        QTest::newRow("comments only")
            << QByteArray("; c1\n\n; c2\n")
            << QByteArray("; c1\n; c2\n[ComPort]\nPort=COM3\nBaudRate=57600\nStopBits=1\n"
                          "DataBits=8\nParity=Even\nFlowControl=None\n");
    }
    void storeKeepsRestOfFile() {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        const QString file = QStringLiteral("rejestr/ustawienia.ini");
        writeFile(file, before);
        TComPort port;
        port.setPort(QStringLiteral("COM3"));
        port.BaudRate = br57600;
        port.Parity.Bits = prEven;
        port.StoreSettings(stIniFile, kIni);
        QCOMPARE(withoutBlankLines(readFile(file)), after);

        // Storing again keeps every line and adds nothing; from then on the
        // file stays byte for byte the same (only the first store may change
        // blank lines).
        port.StoreSettings(stIniFile, kIni);
        const QByteArray second = readFile(file);
        QCOMPARE(withoutBlankLines(second), after);
        port.StoreSettings(stIniFile, kIni);
        QCOMPARE(readFile(file), second);
    }

    void storeFailure_data() {
        QTest::addColumn<QString>("setup");
        QTest::newRow("no rejestr folder") << "nofolder";
        QTest::newRow("rejestr is a file") << "folderfile";
        QTest::newRow("settings path is a folder") << "filefolder";
        QTest::newRow("unreadable zero byte") << "zero";
    }
    void storeFailure() {
        QFETCH(QString, setup);
        const QString file = QStringLiteral("rejestr/ustawienia.ini");
        const QByteArray zeroFile("[ComPort]\nPort=COM1\n\0tail\n", 26);
        if (setup == "nofolder") {
            QVERIFY(QDir().rmdir(QStringLiteral("rejestr")));
        } else if (setup == "folderfile") {
            QVERIFY(QDir().rmdir(QStringLiteral("rejestr")));
            writeFile(QStringLiteral("rejestr"), "x");
        } else if (setup == "filefolder") {
            QVERIFY(QDir().mkdir(file));
        } else {
            writeFile(file, zeroFile);
        }
        TComPort port;
        try {
            port.StoreSettings(stIniFile, kIni);
            QFAIL("no error raised");
        } catch (const EComPort& e) {
            QCOMPARE(e.Code, 16);
            QCOMPARE(e.WinCode, -1);
            QCOMPARE(e.message(), QStringLiteral("COM Port Error: Failed to store settings"));
        }
        if (setup == "zero")
            QCOMPARE(readFile(file), zeroFile);
        // Nothing half-written is left behind.
        if (setup == "nofolder")
            QVERIFY(!QFileInfo::exists(QStringLiteral("rejestr")));
    }

    void flowSummary_data() {
        QTest::addColumn<int>("rts");
        QTest::addColumn<bool>("cts");
        QTest::addColumn<bool>("xonIn");
        QTest::addColumn<bool>("xonOut");
        QTest::addColumn<int>("expected");
        QTest::newRow("hardware") << int(rtsHandshake) << true << false << false << int(fcHardware);
        QTest::newRow("software") << int(rtsDisable) << false << true << true << int(fcSoftware);
        QTest::newRow("none") << int(rtsDisable) << false << false << false << int(fcNone);
        QTest::newRow("rts handshake only")
            << int(rtsHandshake) << false << false << false << int(fcCustom);
        QTest::newRow("hardware plus xon")
            << int(rtsHandshake) << true << true << true << int(fcCustom);
        QTest::newRow("xon with rts handshake")
            << int(rtsHandshake) << false << true << true << int(fcCustom);
        QTest::newRow("xon in only") << int(rtsDisable) << false << true << false << int(fcCustom);
        QTest::newRow("rts enabled") << int(rtsEnable) << false << false << false << int(fcCustom);
        QTest::newRow("cts without rts")
            << int(rtsDisable) << true << false << false << int(fcCustom);
    }
    void flowSummary() {
        QFETCH(int, rts);
        QFETCH(bool, cts);
        QFETCH(bool, xonIn);
        QFETCH(bool, xonOut);
        TComFlowControl f;
        f.ControlRTS = TRTSFlowControl(rts);
        f.OutCTSFlow = cts;
        f.XonXoffIn = xonIn;
        f.XonXoffOut = xonOut;
        QTEST(int(f.summary()), "expected");
    }

    void setFlowSummary_data() {
        QTest::addColumn<int>("summary");
        QTest::newRow("hardware") << int(fcHardware);
        QTest::newRow("software") << int(fcSoftware);
        QTest::newRow("none") << int(fcNone);
        QTest::newRow("custom") << int(fcCustom);
    }
    void setFlowSummary() {
        QFETCH(int, summary);
        // Every field away from its default, so that stray writes show.
        TComFlowControl f;
        f.OutCTSFlow = true;
        f.OutDSRFlow = true;
        f.ControlDTR = dtrHandshake;
        f.ControlRTS = rtsToggle;
        f.XonXoffOut = true;
        f.XonXoffIn = false;
        f.DSRSensitivity = true;
        f.TxContinueOnXoff = true;
        f.XonChar = 1;
        f.XoffChar = 2;
        const TComFlowControl before = f;
        f.setSummary(TFlowControl(summary));
        if (summary == fcCustom) {
            QCOMPARE(f.ControlRTS, before.ControlRTS);
            QCOMPARE(f.OutCTSFlow, before.OutCTSFlow);
            QCOMPARE(f.XonXoffIn, before.XonXoffIn);
            QCOMPARE(f.XonXoffOut, before.XonXoffOut);
        } else {
            QCOMPARE(int(f.summary()), summary);
        }
        QCOMPARE(f.OutDSRFlow, true);
        QCOMPARE(f.ControlDTR, dtrHandshake);
        QCOMPARE(f.DSRSensitivity, true);
        QCOMPARE(f.TxContinueOnXoff, true);
        QCOMPARE(f.XonChar, std::uint8_t(1));
        QCOMPARE(f.XoffChar, std::uint8_t(2));
    }

    void portList() {
        QStringList ports = {QStringLiteral("stale")};
        TComPort::setPortListProvider(
            [] { return QStringList{"COM3", "COM10", "com2", "COM1", "ttyUSB0", "ttyS1"}; });
        TComPort::EnumComPorts(ports);
        QCOMPARE(ports, (QStringList{"COM1", "COM10", "com2", "COM3", "ttyS1", "ttyUSB0"}));

        TComPort::setPortListProvider([] { return QStringList(); });
        TComPort::EnumComPorts(ports);
        QVERIFY(ports.isEmpty());

        // The system's own list (whatever this machine has) comes sorted too.
        TComPort::setPortListProvider(nullptr);
        TComPort::EnumComPorts(ports);
        for (qsizetype i = 1; i < ports.size(); ++i)
            QVERIFY(ports[i - 1].compare(ports[i], Qt::CaseInsensitive) <= 0);
    }
};

QTEST_GUILESS_MAIN(TestComSettings)
#include "tst_comsettings.moc"
