// The event-log copy end to end: the real core and serial port talk over a
// pseudo-terminal to the controller simulator. The order of the requests comes
// from the simulator's log, the stored rows from rejestr.dbf itself.
//
// The whole run is Polish (see main): the texts of time settings carry the
// decimal separator of the PC's regional settings.
#include "core/controller.h"
#include "link/frame.h"
#include "recordingview.h"
#include "simprocess.h"
#include "tables/table.h"
#include "testpaths.h"
#include "waituntil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <shapefil.h>

using namespace qta;

namespace {

QList<int> range(int first, int last) {
    QList<int> r;
    for (int i = first; i <= last; ++i)
        r << i;
    return r;
}

// The simulator with what this test reads from its log: the record requests,
// stamped with the moment they were first seen (which shows the retry
// intervals), and the records sent.
class Sim : public SimProcess {
public:
    Sim(const QString& dirPath, QStringList args)
        : SimProcess(dirPath + QStringLiteral("/qta"), dirPath + QStringLiteral("/sim.log"),
                     std::move(args)) {
        followLog();
    }

    // Record requests from the program ("rx 8 H L"), in order, with their times.
    QList<int> requests() {
        QList<int> r;
        for (const LogLine& l : followedLines())
            if (auto n = requestIndex(l.text); n >= 0)
                r << n;
        return r;
    }
    QList<qint64> requestTimes() {
        QList<qint64> r;
        for (const LogLine& l : followedLines())
            if (requestIndex(l.text) >= 0)
                r << l.ms;
        return r;
    }
    // The payload of the last record reply the simulator sent for `index`.
    QByteArray recordSent(int index) {
        const QList<LogLine>& lines = followedLines();
        for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
            const QStringList w = it->text.split(u' ');
            if (w.size() == 14 && w[0] == u"tx" && w[1] == u"3" &&
                w[12].toInt() * 256 + w[13].toInt() == index) {
                QByteArray p;
                for (int k = 2; k < 14; ++k)
                    p.append(char(w[k].toInt()));
                return p;
            }
        }
        return {};
    }

private:
    static int requestIndex(const QString& line) {
        const QStringList w = line.split(u' ');
        if (w.size() == 4 && w[0] == u"rx" && w[1] == u"8")
            return w[2].toInt() * 256 + w[3].toInt();
        return -1;
    }
};

// The configuration the program writes to choose the operating program
// (thresholds and times as the simulator starts with them).
QByteArray configWrite(int program) {
    QByteArray p;
    const auto word = [&p](int v) {
        p.append(char(v >> 8));
        p.append(char(v & 0xFF));
    };
    for (int line = 0; line < 3; ++line) {
        word(195);
        word(253);
        word(8);
    }
    for (int v : {5, 2, 10, 25, 10, 5})
        word(v);
    p.append(char((program << 3) | 1)); // contactors, priority line N1
    p.append(char(0));
    return p;
}

} // namespace

class TestDownload : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString oldCwd;
    std::unique_ptr<RecordingView> view;
    std::unique_ptr<TQTA504Core> core;
    std::unique_ptr<Sim> sim;

    static QString rejestrFile() { return QStringLiteral("rejestr/rejestr.dbf"); }

    // The local event log with rows of the given INDEKS, as an earlier run left it.
    static void prefill(const QList<int>& indexes) {
        TTable t(rejestrFile());
        t.Open();
        for (int i : indexes) {
            t.Append();
            t.FieldByName(QStringLiteral("INDEKS")).setAsInteger(i);
            t.FieldByName(QStringLiteral("ZDARZENIE")).setAsString(QStringLiteral("wcześniej"));
            t.Post();
        }
        t.Close();
    }

    // The INDEKS column of rejestr.dbf as the file holds it.
    static QList<int> storedIndexes() {
        TTable t(rejestrFile());
        t.Open();
        const int f = t.fieldIndex(QStringLiteral("INDEKS"));
        QList<int> r;
        for (int row = 0; row < t.RecordCount(); ++row)
            r << int(t.numberValue(row, f));
        return r;
    }

    // Starts the simulator with `args`, the core on a local log holding `local`,
    // and connects them as the start window does: port open, link usable,
    // identifier (and with it the controller's newest index) read.
    void connectTo(QStringList args, const QList<int>& local = {}) {
        prefill(local);
        view = std::make_unique<RecordingView>();
        core = std::make_unique<TQTA504Core>(view.get());
        core->openTables();
        core->downloadIntervalMs = 1;
        sim = std::make_unique<Sim>(dir.path(),
                                    args << QStringLiteral("--period") << QStringLiteral("500"));
        QVERIFY2(sim->ready(), qPrintable(sim->readyLine()));
        core->ComPort.setPort(sim->link());
        core->ComPort.Open();
        core->Flaga_Kom.OK = true;
        core->RS_Identyfikator();
        QTRY_VERIFY_WITH_TIMEOUT(core->Flaga_Kom.Id, 3000);
    }

    // The start window's arming; the first tick comes without the usual second's wait.
    void startCopy() {
        core->Timer5.setInterval(core->downloadIntervalMs);
        core->armDownload();
    }

    bool copyIdle() const {
        return core->requestedRecord() < 0 && !core->Timer5.isActive() &&
               !core->RecordTimeout.isActive();
    }

    // Waits until the copy has stopped with at least `rows` rows in the table.
    void waitCopy(int rows, int timeoutMs = 5000) {
        waitUntil([&] { return core->Rejestr()->RecordCount() >= rows && copyIdle(); }, timeoutMs);
    }

    // Row texts of rejestr.dbf by field name.
    static QString text(TTable& t, int row, const char* field) {
        return t.stringValue(row, t.fieldIndex(QLatin1String(field)));
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(dir.isValid());
        QVERIFY2(QFile::exists(qta::test::binPath(QStringLiteral("qta504-sim"))),
                 "build qta504-sim first");
        QVERIFY2(QLocale::system().decimalPoint() == QStringLiteral(","),
                 "the Polish locale (pl_PL.UTF-8) is missing; run scripts/bootstrap");
        oldCwd = QDir::currentPath();
        QDir::setCurrent(dir.path());
        QDir().mkpath(QStringLiteral("rejestr"));
    }
    void init() {
        QFile::remove(rejestrFile());
        QFile::remove(QStringLiteral("rejestr/linia.dbf"));
        TTable::createRejestr(rejestrFile());
        TTable::createLinia(QStringLiteral("rejestr/linia.dbf"));
    }
    void cleanup() {
        // The port is closed before the simulator goes away.
        if (core)
            core->closeAll();
        core.reset();
        sim.reset();
        view.reset();
    }
    void cleanupTestCase() { QDir::setCurrent(oldCwd); }

    // Which records are asked for, in which order, and what is stored.
    void order_data() {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QList<int>>("local");
        QTest::addColumn<QList<int>>("requests");
        QTest::addColumn<QList<int>>("stored");

        QTest::newRow("after 15 up to 20") << QStringList{"--events", "21"} << QList<int>{14, 15}
                                           << range(16, 20) << range(16, 20);
        QTest::newRow("over the end of the ring, 498 up to 3")
            << QStringList{"--wrapped", "3"} << QList<int>{497, 498} << QList<int>{499, 0, 1, 2, 3}
            << QList<int>{499, 0, 1, 2, 3};
        QTest::newRow("empty table, ring never wrapped")
            << QStringList{"--events", "21"} << QList<int>{} << (QList<int>{21} + range(0, 20))
            << range(0, 20);
        QTest::newRow("empty table, full ring")
            << QStringList{"--wrapped", "20"} << QList<int>{} << range(21, 499) + range(0, 20)
            << range(21, 499) + range(0, 20);
        QTest::newRow("empty table, full ring ending at 499")
            << QStringList{"--wrapped", "499"} << QList<int>{} << range(0, 499) << range(0, 499);
        QTest::newRow("already up to date")
            << QStringList{"--events", "21"} << QList<int>{20} << QList<int>{} << QList<int>{};
    }
    void order() {
        QFETCH(QStringList, simArgs);
        QFETCH(QList<int>, local);
        QFETCH(QList<int>, requests);
        QFETCH(QList<int>, stored);
        connectTo(simArgs, local);
        if (QTest::currentTestFailed())
            return;
        QElapsedTimer t;
        t.start();
        startCopy();
        waitCopy(int(local.size() + stored.size()), 15000);
        QCOMPARE(core->Rejestr()->RecordCount(), int(local.size() + stored.size()));
        QVERIFY(copyIdle());
        qDebug("%d records in %lld ms", int(stored.size()), t.elapsed());
        QCOMPARE(sim->requests(), requests);
        QCOMPARE(storedIndexes(), local + stored);
        QVERIFY(view->errors.isEmpty());
    }

    // An empty record in the written part of the log is passed over; one past the
    // newest sends the copy to the start of the ring. Either way it is no row.
    void emptyRecords() {
        QFile f(dir.filePath(QStringLiteral("events.txt")));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Text));
        for (int i = 0; i <= 9; ++i)
            f.write(i == 5 ? "5 empty\n"
                           : QByteArray::number(i) + " 24 5 1 12 0 9 192 192 192 33\n");
        f.close();
        connectTo({"--events-file", f.fileName()});
        if (QTest::currentTestFailed())
            return;
        startCopy();
        waitCopy(9, 5000);
        QCOMPARE(core->Rejestr()->RecordCount(), 9);
        QVERIFY(copyIdle());
        QCOMPARE(sim->requests(), QList<int>{10} + range(0, 9));
        QCOMPARE(storedIndexes(), (QList<int>{0, 1, 2, 3, 4, 6, 7, 8, 9}));
    }

    // A row's texts as decoded from known record bytes; the configured program,
    // read from the controller, chooses the S variants of the texts.
    void rowTexts_data() {
        QTest::addColumn<int>("program");
        QTest::addColumn<QString>("event4");
        QTest::newRow("program 1") << 1 << QStringLiteral("Wyłączenie linii N2");
        QTest::newRow("program 5") << 5 << QStringLiteral("Odłączenie sprzęgu S");
    }
    void rowTexts() {
        QFETCH(int, program);
        QFETCH(QString, event4);
        QFile f(dir.filePath(QStringLiteral("events.txt")));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Text));
        f.write(
            "# event 43, V = 25; N2 faults L1 low, L1 and L2 high; N3 good, L3 low\n"
            "0 7 3 7 9 5 43 0 25 196 37\n"
            "# event 4; lines good, bad-qualifying, good-qualifying; no active line or program\n"
            "1 10 12 31 23 59 4 192 128 64 255\n"
            "2 24 1 8 6 12 21 1 5 0 0\n");
        f.close();
        connectTo({"--events-file", f.fileName()});
        if (QTest::currentTestFailed())
            return;
        core->ComPort.TransmitBytes(buildFrame(TxWriteConfig, configWrite(program)));
        core->RS_ReceiveParam();
        QTRY_VERIFY_WITH_TIMEOUT(core->Flaga_Kom.Konfig, 3000);
        QCOMPARE(core->Konfig.Progr, program);

        startCopy();
        waitCopy(3, 5000);
        QCOMPARE(core->Rejestr()->RecordCount(), 3);
        QVERIFY(copyIdle());

        TTable t(rejestrFile());
        t.Open();
        QCOMPARE(text(t, 0, "DATA"), QStringLiteral("2007-03-07"));
        QCOMPARE(text(t, 0, "CZAS"), QStringLiteral("09:05"));
        QCOMPARE(text(t, 0, "ZDARZENIE"), QStringLiteral("Zmiana czasu T_Off. Nowa wartość: 2,5s"));
        QCOMPARE(text(t, 0, "UWAGI"), QString());
        QCOMPARE(text(t, 0, "N1_STATUS"), QStringLiteral("Linia zła"));
        QCOMPARE(text(t, 0, "N2_STATUS"), QStringLiteral("Linia zła"));
        const QStringList n2 = {text(t, 0, "N2L1_UMIN"), text(t, 0, "N2L2_UMIN"),
                                text(t, 0, "N2L3_UMIN"), text(t, 0, "N2L1_UMAX"),
                                text(t, 0, "N2L2_UMAX"), text(t, 0, "N2L3_UMAX")};
        QCOMPARE(n2, (QStringList{"TRUE", "FALSE", "FALSE", "TRUE", "TRUE", "FALSE"}));
        QCOMPARE(text(t, 0, "N3_STATUS"), QStringLiteral("Linia Dobra"));
        QCOMPARE(text(t, 0, "N3L3_UMIN"), QStringLiteral("TRUE"));
        QCOMPARE(text(t, 0, "AKTYWNA"), QStringLiteral("Aktywna linia N1"));
        QCOMPARE(text(t, 0, "PROGRAM"), QStringLiteral("N1+N3+S"));

        QCOMPARE(text(t, 1, "DATA"), QStringLiteral("2010-12-31"));
        QCOMPARE(text(t, 1, "CZAS"), QStringLiteral("23:59"));
        QCOMPARE(text(t, 1, "ZDARZENIE"), event4);
        QCOMPARE(text(t, 1, "N1_STATUS"), QStringLiteral("Linia Dobra"));
        QCOMPARE(text(t, 1, "N2_STATUS"), QStringLiteral("Linia kwalifikowana jako zła"));
        QCOMPARE(text(t, 1, "N3_STATUS"), QStringLiteral("Linia kwalifikowana jako dobra"));
        QVERIFY(t.isNull(1, t.fieldIndex(QStringLiteral("AKTYWNA"))));
        QVERIFY(t.isNull(1, t.fieldIndex(QStringLiteral("PROGRAM"))));

        QCOMPARE(text(t, 2, "DATA"), QStringLiteral("2024-01-08"));
        QCOMPARE(
            text(t, 2, "ZDARZENIE"),
            QStringLiteral("Zmiana programu. Poprzedni program: N1+N2+N3, nowy program: N1+S+N3,"));
        QCOMPARE(text(t, 2, "AKTYWNA"), QStringLiteral("Brak aktywnej linii"));
        QCOMPARE(text(t, 2, "PROGRAM"), QStringLiteral("Brak"));
    }

    // A lost reply is asked for again two seconds later; every record is stored once.
    void lostReplyAskedAgain() {
        connectTo({"--events", "21"}, {15});
        if (QTest::currentTestFailed())
            return;
        QVERIFY(sim->commandTaken("drop 8 1"));
        startCopy();
        waitCopy(6, 6000);
        QCOMPARE(core->Rejestr()->RecordCount(), 6);
        QVERIFY(copyIdle());
        QCOMPARE(sim->requests(), (QList<int>{16, 16, 17, 18, 19, 20}));
        QCOMPARE(sim->count(QStringLiteral("lost 8 (drop, 0 more)")), 1);
        const QList<qint64> at = sim->requestTimes();
        QVERIFY2(at[1] - at[0] >= 1700 && at[1] - at[0] <= 3000,
                 qPrintable(QStringLiteral("asked again after %1 ms").arg(at[1] - at[0])));
        QCOMPARE(storedIndexes(), (QList<int>{15, 16, 17, 18, 19, 20}));
    }

    // Four losses in a row (the request and three retries) pause the copy; the
    // controller's next newest-index frame resumes it at the missing record.
    void fourLossesPauseUntilNextAnnouncement() {
        connectTo({"--events", "21"}, {15});
        if (QTest::currentTestFailed())
            return;
        QVERIFY(sim->commandTaken("drop 8 4"));
        startCopy();
        QTRY_VERIFY_WITH_TIMEOUT(sim->count(QStringLiteral("lost 8 (drop, 0 more)")) == 1, 9000);
        QTRY_VERIFY_WITH_TIMEOUT(copyIdle(), 3000); // given up two seconds after the last try
        QTest::qWait(300);
        QCOMPARE(sim->requests(), (QList<int>{16, 16, 16, 16}));
        const QList<qint64> at = sim->requestTimes();
        for (int k = 1; k < 4; ++k)
            QVERIFY2(
                at[k] - at[k - 1] >= 1700 && at[k] - at[k - 1] <= 3000,
                qPrintable(QStringLiteral("try %1 after %2 ms").arg(k + 1).arg(at[k] - at[k - 1])));
        QCOMPARE(storedIndexes(), QList<int>{15});
        QVERIFY(core->UART_Connect); // the link itself stayed up

        QVERIFY(sim->commandTaken("add-event 0 192 192 192 33"));
        waitCopy(7, 5000);
        QCOMPARE(core->Rejestr()->RecordCount(), 7);
        QVERIFY(copyIdle());
        QCOMPARE(sim->requests(), (QList<int>{16, 16, 16, 16} + range(16, 21)));
        QCOMPARE(storedIndexes(), range(15, 21));
        TTable t(rejestrFile());
        t.Open();
        QCOMPARE(text(t, 6, "ZDARZENIE"), QStringLiteral("Start systemu"));
    }

    // The controller announces a new record while a reply is lost: the copy
    // still stores every record once.
    void announcementWhileAReplyIsLost() {
        connectTo({"--events", "21"}, {15});
        if (QTest::currentTestFailed())
            return;
        QVERIFY(sim->commandTaken("drop 8 1"));
        startCopy();
        QTRY_VERIFY_WITH_TIMEOUT(sim->count(QStringLiteral("lost 8 (drop, 0 more)")) == 1, 3000);
        QVERIFY(sim->commandTaken("add-event 60 192 192 192 34"));
        waitCopy(7, 6000);
        QCOMPARE(core->Rejestr()->RecordCount(), 7);
        QVERIFY(copyIdle());
        QCOMPARE(storedIndexes(), range(15, 21));
    }

    // After the copy, a record the controller announces (an unasked newest-index
    // frame) is copied alone.
    void newRecordAfterTheCopy() {
        connectTo({"--events", "21"}, {15});
        if (QTest::currentTestFailed())
            return;
        startCopy();
        waitCopy(6);
        QCOMPARE(core->Rejestr()->RecordCount(), 6);
        const qsizetype asked = sim->requests().size();

        QVERIFY(sim->commandTaken("add-event 9 192 0 0 33"));
        waitCopy(7);
        QCOMPARE(core->Rejestr()->RecordCount(), 7);
        QVERIFY(copyIdle());
        QCOMPARE(sim->requests().mid(asked), QList<int>{21});
        QCOMPARE(storedIndexes(), range(15, 21));
        TTable t(rejestrFile());
        t.Open();
        QCOMPARE(text(t, 6, "ZDARZENIE"),
                 QStringLiteral("Linia N1 została zakwalifikowana jako dobra"));
    }

    // A local table that lacks a field: the failure is reported once, no
    // half-filled row ever reaches the file, and the copy pauses instead of
    // skipping the record.
    void tableMissingAField() {
        QFile::remove(rejestrFile());
        DBFHandle h = DBFCreateEx(rejestrFile().toLocal8Bit().constData(), "LDID/200");
        QVERIFY(h);
        DBFAddField(h, "INDEKS", FTInteger, 5, 0);
        DBFAddField(h, "DATA", FTString, 11, 0);
        DBFAddField(h, "CZAS", FTString, 5, 0);
        DBFAddField(h, "ZDARZENIE", FTString, 80, 0);
        DBFAddField(h, "UWAGI", FTString, 254, 0);
        DBFClose(h);

        connectTo({"--events", "21"});
        if (QTest::currentTestFailed())
            return;
        startCopy();
        QTRY_VERIFY_WITH_TIMEOUT(view->errors.size() == 1, 5000);
        QVERIFY(view->errors.first().contains(QStringLiteral("N1_STATUS"), Qt::CaseInsensitive));
        QTRY_VERIFY_WITH_TIMEOUT(copyIdle(), 3000);

        // The next arming asks for the same record again and fails again,
        // without a second report and without a row.
        QVERIFY(sim->commandTaken("add-event 0 192 192 192 33"));
        QTRY_VERIFY_WITH_TIMEOUT(sim->requests().size() >= 4, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(copyIdle(), 3000);
        // 21 is empty (never written), so 0 is the oldest; after the new
        // record 21 the oldest slot is 22 (empty), then 0 again.
        QCOMPARE(sim->requests(), (QList<int>{21, 0, 22, 0}));
        QCOMPARE(view->errors.size(), 1);
        QCOMPARE(core->Rejestr()->RecordCount(), 0);
        core->closeAll();
        core.reset();
        QCOMPARE(storedIndexes(), QList<int>{});
    }

    // A record frame that comes again after the copy (a repeated or late reply)
    // adds no row and starts no requests.
    void repeatedRecordFrame_data() {
        QTest::addColumn<int>("index");
        QTest::newRow("the record just stored") << 20;
        QTest::newRow("an earlier record") << 17;
    }
    void repeatedRecordFrame() {
        QFETCH(int, index);
        connectTo({"--events", "21"}, {15});
        if (QTest::currentTestFailed())
            return;
        startCopy();
        waitCopy(6);
        QCOMPARE(core->Rejestr()->RecordCount(), 6);
        const QList<int> asked = sim->requests();

        const QByteArray record = sim->recordSent(index);
        QCOMPARE(record.size(), 12);
        QSignalSpy handled(core.get(), &TQTA504Core::frameHandled);
        QVERIFY(sim->commandTaken("raw " + buildFrame(RxRecord, record).toHex(' ')));
        QVERIFY(waitUntil(
            [&] { return handled.contains(QVariantList{int(RxRecord)}) && copyIdle(); }, 3000));
        QTest::qWait(100); // room for anything the frame might have set off
        QVERIFY(copyIdle());
        QCOMPARE(storedIndexes(), range(15, 20));
        QCOMPARE(sim->requests(), asked);
        QVERIFY(view->errors.isEmpty());
    }
};

int main(int argc, char** argv) {
    // The PC's regional settings are Polish for the whole run; Qt reads them
    // from the environment when the application starts.
    qputenv("LC_ALL", "pl_PL.UTF-8");
    QCoreApplication app(argc, argv);
    TestDownload test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_download.moc"
