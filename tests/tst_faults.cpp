// The real qta504 program against faults from outside, one case each: a
// controller that falls silent and comes back, a device that vanishes and
// comes back as another controller, noise between good frames, a kill in the
// middle of appends, a full filesystem and a termination signal while an error
// box is open. Judged by what the simulator logged and what the tables hold.
#include "programprocess.h"
#include "simprocess.h"
#include "tables/table.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using Voltages = std::array<int, 9>;
const Voltages k230{230, 230, 230, 230, 230, 230, 230, 230, 230}; // the simulator's own

// The voltages of every status frame the simulator sent ("tx 1 b0 b1 ...",
// payload bytes in decimal, the nine voltages big-endian first), in order.
QList<Voltages> sentVoltages(const QStringList& log) {
    QList<Voltages> out;
    for (const QString& l : log) {
        if (!l.startsWith(QStringLiteral("tx 1 ")))
            continue;
        const QStringList b = l.mid(5).split(u' ');
        if (b.size() < 18)
            continue;
        Voltages v{};
        for (int i = 0; i < 9; ++i)
            v[size_t(i)] = b[2 * i].toInt() * 256 + b[2 * i + 1].toInt();
        out << v;
    }
    return out;
}

Voltages rowVoltages(const QStringList& liniaRow) {
    Voltages v{};
    for (int i = 0; i < 9 && i + 1 < liniaRow.size(); ++i)
        v[size_t(i)] = liniaRow[i + 1].toInt();
    return v;
}

Voltages lastVoltages(const QString& liniaFile) {
    const QList<QStringList> rows = dumpTable(liniaFile);
    return rows.isEmpty() ? Voltages{} : rowVoltages(rows.last());
}

QString text(const Voltages& v) {
    QStringList s;
    for (int x : v)
        s << QString::number(x);
    return s.join(u' ');
}

// The requests the program sent, in order, from log line `from` on ("rx 7" ...).
QStringList requestsSince(const SimProcess& sim, qsizetype from) {
    QStringList out;
    for (const QString& l : sim.logLines().mid(from))
        if (l.startsWith(QStringLiteral("rx")))
            out << l;
    return out;
}

// A mounted tmpfs that is always unmounted again.
class TmpfsMount {
public:
    TmpfsMount(const QString& where, const QString& size) : where_(where) {
        QDir().mkpath(where);
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("mount"),
                {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                 QStringLiteral("size=") + size, QStringLiteral("tmpfs"), where});
        mounted_ = p.waitForFinished(10000) && p.exitCode() == 0;
        error_ = QString::fromLocal8Bit(p.readAll()).trimmed();
    }
    ~TmpfsMount() {
        if (!mounted_)
            return;
        QProcess p;
        p.start(QStringLiteral("umount"), {where_});
        if (!p.waitForFinished(10000) || p.exitCode() != 0)
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), where_});
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;
    bool mounted() const { return mounted_; }
    QString error() const { return error_; }

private:
    QString where_, error_;
    bool mounted_ = false;
};

} // namespace

class TestFaults : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;

    QString path(const QString& name) const { return dir_->filePath(name); }
    QString linia(const QString& work = {}) const {
        return (work.isEmpty() ? dir_->path() : work) + QStringLiteral("/rejestr/linia.dbf");
    }
    QString rejestr(const QString& work = {}) const {
        return (work.isEmpty() ? dir_->path() : work) + QStringLiteral("/rejestr/rejestr.dbf");
    }
    static bool createTables(const QString& work) {
        QProcess tables;
        tables.start(kTablesTool, {QStringLiteral("create"), work});
        return tables.waitForFinished(10000) && tables.exitCode() == 0;
    }
    static bool writeSettings(const QString& work, const QString& port) {
        QFile f(work + QStringLiteral("/rejestr/ustawienia.ini"));
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               f.write("[ComPort]\nPort=" + port.toUtf8() + "\n") > 0;
    }
    // Waits until the program has read the identifier, the configuration and
    // the customisation (the simulator answered the last of them).
    static bool started(const SimProcess& sim) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 20000) {
            const QStringList log = sim.logLines();
            if (std::any_of(log.begin(), log.end(),
                            [](const QString& l) { return l.startsWith(QStringLiteral("tx 4 ")); }))
                return true;
            QTest::qWait(50);
        }
        return false;
    }

private Q_SLOTS:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        QVERIFY(createTables(dir_->path()));
    }
    void cleanup() { dir_.reset(); }

    // The controller stops answering for 10 s: no rows meanwhile; when it
    // speaks again the program reads it anew and the rows resume.
    void silentThenBack() {
        SimProcess sim(path(QStringLiteral("qta")), path(QStringLiteral("sim.log")),
                       {"--period", "250"});
        QVERIFY2(sim.ready(), qPrintable(sim.readyLine()));
        QVERIFY(writeSettings(dir_->path(), sim.link()));
        Program prog(dir_->path(), sim.link());
        QVERIFY2(started(sim), qPrintable(prog.errors()));
        QTRY_VERIFY_WITH_TIMEOUT(dumpTable(linia()).size() >= 3, 10000);

        QVERIFY(sim.commandTaken("silent on"));
        QTest::qWait(1000);
        const qsizetype rowsSilent = dumpTable(linia()).size();
        QTest::qWait(9000);
        QCOMPARE(dumpTable(linia()).size(), rowsSilent);
        const qsizetype backFrom = sim.logLines().size();
        QVERIFY(sim.commandTaken("silent off"));

        // Whatever answers after the loss is read again, in the start order
        // (record requests of the event-log copy may come in between).
        const auto reads = [&] {
            QStringList out;
            for (const QString& l : requestsSince(sim, backFrom))
                if (!l.startsWith(QStringLiteral("rx 8 ")))
                    out << l;
            return out;
        };
        QTRY_VERIFY_WITH_TIMEOUT(reads().size() >= 3, 15000);
        QCOMPARE(reads().mid(0, 3), (QStringList{"rx 7", "rx 1", "rx 4"}));
        QTRY_VERIFY_WITH_TIMEOUT(dumpTable(linia()).size() >= rowsSilent + 4, 10000);
        QVERIFY(prog.running());
        QCOMPARE(prog.terminate(), 0);
        QVERIFY2(prog.reports().isEmpty(), qPrintable(prog.reports().join(u'\n')));
    }

    // The device vanishes; 5 s later another controller answers on the same
    // line (other identifier, program, thresholds and event log): the program
    // reads it as at start and copies the records its table lacks.
    void otherControllerBehindLostLink() {
        const QString link = path(QStringLiteral("qta"));
        auto first = std::make_unique<SimProcess>(link, path(QStringLiteral("sim1.log")),
                                                  QStringList{"--period", "250", "--events", "3"});
        QVERIFY2(first->ready(), qPrintable(first->readyLine()));
        QVERIFY(writeSettings(dir_->path(), link));
        Program prog(dir_->path(), link);
        QTRY_COMPARE_WITH_TIMEOUT(dumpTable(rejestr()).size(), 3, 20000);

        first.reset(); // the device and its link are gone
        QTest::qWait(5000);
        SimProcess second(link, path(QStringLiteral("sim2.log")),
                          {"--period", "250", "--events", "6", "--id", "ZR9x01", "--program", "2",
                           "--limits", "180,260,12"});
        QVERIFY2(second.ready(), qPrintable(second.readyLine()));
        QElapsedTimer since;
        since.start();

        QTRY_VERIFY_WITH_TIMEOUT(second.received().size() >= 3, 15000);
        qInfo("the new controller was asked 7, 1, 4 within %lld ms", since.elapsed());
        QCOMPARE(second.received().mid(0, 3), (QStringList{"rx 7", "rx 1", "rx 4"}));
        QTRY_COMPARE_WITH_TIMEOUT(dumpTable(rejestr()).size(), 6, 15000);
        const QList<QStringList> events = dumpTable(rejestr());
        for (int i = 0; i < 6; ++i)
            QCOMPARE(events[i][0], QString::number(i));
        // Records 3 to 5 came from the new controller: the old one never had them.
        for (int i = 3; i < 6; ++i)
            QVERIFY2(second.received().contains(QStringLiteral("rx 8 0 %1").arg(i)),
                     qPrintable(second.received().join(u'\n')));
        QCOMPARE(prog.terminate(), 0);
    }

    // Noise, a bad complement, a broken checksum, an unknown code and frames
    // cut short, each right before a good status frame: every good frame
    // still becomes a row, and nothing else does.
    void noiseBetweenGoodFrames() {
        SimProcess sim(path(QStringLiteral("qta")), path(QStringLiteral("sim.log")),
                       {"--period", "200"});
        QVERIFY2(sim.ready(), qPrintable(sim.readyLine()));
        QVERIFY(writeSettings(dir_->path(), sim.link()));
        Program prog(dir_->path(), sim.link());
        QVERIFY2(started(sim), qPrintable(prog.errors()));

        // Rows of these voltages count the frames sent while the noise comes.
        const Voltages marked{301, 302, 303, 304, 305, 306, 307, 308, 309};
        QVERIFY(sim.commandTaken("voltages " + text(marked).toLatin1()));
        // A complete status frame of other voltages with its checksum off by one.
        QByteArray payload(24, '\0');
        for (int i = 0; i < 9; ++i)
            payload[2 * i + 1] = char(99);
        payload[21] = char(0x13); // program 1, active line 3
        payload[22] = char(0x3F); // every line good
        int sum = 0;
        for (char c : payload)
            sum += quint8(c);
        ++sum;
        const QByteArray broken =
            (QByteArray("\xff\x01\xfe", 3) + payload + char(sum >> 8) + char(sum & 0xFF))
                .toHex(' ');
        const QList<QByteArray> noise{
            "00 13 37 42 fe 01 aa 55",   // no start byte at all
            "ff 01 00 00 e6 00 e6",      // bad complement
            broken,                      // broken checksum
            "ff 63 9c 01 02 03",         // unknown code
            "ff 01 fe 00 e6 00",         // cut short after three payload bytes
            "ff",                        // a start byte alone
            "ff ff ff 01 fe 00 e6 00 e6" // start bytes in a row, then cut short
        };
        for (const QByteArray& n : noise) {
            sim.command("raw " + n + "\nstatus"); // the good frame follows at once
            QTest::qWait(150);
        }
        QVERIFY(sim.commandTaken("voltages 230"));
        QTRY_VERIFY_WITH_TIMEOUT(lastVoltages(linia()) == k230, 10000);

        const QStringList log = sim.logLines();
        QCOMPARE(log.filter(QStringLiteral("tx-raw")).size(), noise.size());
        const auto sent = sentVoltages(log).count(marked);
        QVERIFY(sent >= noise.size());
        qsizetype stored = 0;
        for (const QStringList& row : dumpTable(linia())) {
            const Voltages v = rowVoltages(row);
            QVERIFY2(allZero(row) || v == marked || v == k230, qPrintable(row.join(u' ')));
            stored += v == marked;
        }
        QCOMPARE(stored, sent);
        QCOMPARE(prog.terminate(), 0);
    }

    // Killed (SIGKILL) while status rows come every 100 ms and the event log
    // is being copied: both tables are whole, every voltage row is one the
    // controller sent, and the next start carries on in the same tables.
    void killedDuringAppends() {
        SimProcess sim(path(QStringLiteral("qta")), path(QStringLiteral("sim.log")),
                       {"--period", "100", "--events", "20"});
        QVERIFY2(sim.ready(), qPrintable(sim.readyLine()));
        QVERIFY(writeSettings(dir_->path(), sim.link()));
        {
            Program prog(dir_->path(), sim.link());
            QVERIFY2(started(sim), qPrintable(prog.errors()));
            // Every frame its own voltages, so that a row can only match the frame it came from.
            QElapsedTimer t;
            t.start();
            for (int k = 1; t.elapsed() < 3000 || dumpTable(rejestr()).isEmpty(); ++k) {
                QByteArray cmd = "voltages";
                for (int j = 0; j < 9; ++j)
                    cmd += ' ' + QByteArray::number(1000 + k * 10 + j);
                sim.command(cmd);
                QTest::qWait(40);
                QVERIFY(t.elapsed() < 20000);
            }
            prog.proc.kill();
            QVERIFY(prog.proc.waitForFinished(5000));
            QCOMPARE(prog.proc.exitStatus(), QProcess::CrashExit);
        }
        // A kill between a row's bytes and the header's count leaves the count
        // one behind: the table opens with its complete rows all the same (the
        // dumps below), and the next append puts the header right (checked
        // after the restart).
        QString report;
        for (const QString& table : {linia(), rejestr()})
            if (!tableWhole(table, &report))
                QVERIFY2(report.contains(QStringLiteral("TORN")), qPrintable(report));

        const QList<Voltages> sent = sentVoltages(sim.logLines());
        const QList<QStringList> rows = dumpTable(linia());
        QVERIFY(rows.size() >= 20);
        QVERIFY2(allZero(rows.first()), qPrintable(rows.first().join(u' ')));
        qsizetype previous = 0;
        for (qsizetype r = 1; r < rows.size(); ++r) {
            const qsizetype at = sent.indexOf(rowVoltages(rows[r]), previous);
            QVERIFY2(at >= 0, qPrintable(QStringLiteral("row %1 was never sent in this order: %2")
                                             .arg(r)
                                             .arg(rows[r].join(u' '))));
            previous = at;
        }
        const qsizetype copied = dumpTable(rejestr()).size();
        QVERIFY(copied > 0);

        // Started again on the same folder: it appends after the rows it left,
        // and the event-log copy goes on where it stopped, nothing twice.
        Program again(dir_->path(), sim.link());
        QTRY_VERIFY_WITH_TIMEOUT(dumpTable(linia()).size() >= rows.size() + 5, 15000);
        QVERIFY2(allZero(dumpTable(linia())[rows.size()]), "the new run starts with a zero row");
        QTRY_COMPARE_WITH_TIMEOUT(dumpTable(rejestr()).size(), 20, 30000);
        const QList<QStringList> events = dumpTable(rejestr());
        for (int i = 0; i < 20; ++i)
            QCOMPARE(events[i][0], QString::number(i));
        QCOMPARE(again.terminate(), 0);
        QVERIFY2(tableWhole(linia(), &report), qPrintable(report));
        QVERIFY2(tableWhole(rejestr(), &report), qPrintable(report));
    }

    // The filesystem of the tables runs full for a while: the program says so,
    // and afterwards both tables are whole and readable, with the rows from
    // before and after the full period.
    // The safety breaker trips, the program is killed (SIGKILL) before anybody
    // acknowledged, the breaker recovers while it is down: after a restart the
    // alarm is still there, unacknowledged (the restart raises it no second
    // time), and its clearing is journaled; nothing was acknowledged by the kill.
    void alarmSurvivesKill() {
        SimProcess sim(path(QStringLiteral("qta")), path(QStringLiteral("sim.log")),
                       {"--period", "200", "--awaria", "128"});
        QVERIFY2(sim.ready(), qPrintable(sim.readyLine()));
        QVERIFY(writeSettings(dir_->path(), sim.link()));
        const QString alarmy = path(QStringLiteral("rejestr/alarmy.dbf"));
        const QString breaker = QStringLiteral("Zadziałanie wyłącznika bezpieczeństwa");
        const auto transitions = [&] {
            QStringList out;
            for (const QStringList& r : dumpTable(alarmy))
                out << r.value(1) + u'|' + r.value(3);
            return out;
        };
        {
            Program prog(dir_->path(), sim.link());
            QTRY_COMPARE_WITH_TIMEOUT(transitions(), QStringList{breaker + "|Wystąpił"}, 20000);
            prog.proc.kill();
            QVERIFY(prog.proc.waitForFinished(5000));
        }
        QVERIFY(tableWhole(alarmy));
        QVERIFY(sim.commandTaken("awaria 0"));
        Program again(dir_->path(), sim.link());
        QTRY_COMPARE_WITH_TIMEOUT(
            transitions(), (QStringList{breaker + "|Wystąpił", breaker + "|Ustąpił"}), 25000);
        QTest::qWait(1000);
        QCOMPARE(transitions().size(), 2); // no second raise, no acknowledgement
        QCOMPARE(again.terminate(), 0);
        QVERIFY2(again.reports().isEmpty(), qPrintable(again.reports().join(u'\n')));
    }

    void fullFilesystem() {
        if (::geteuid() != 0)
            QSKIP("needs root to mount a small tmpfs");
        const QString work = path(QStringLiteral("fs"));
        TmpfsMount fs(work, QStringLiteral("256k"));
        if (!fs.mounted())
            QSKIP(qPrintable(QStringLiteral("mount -t tmpfs failed: ") + fs.error()));
        QVERIFY(createTables(work));
        SimProcess sim(path(QStringLiteral("qta")), path(QStringLiteral("sim.log")),
                       {"--period", "100", "--events", "2"});
        QVERIFY2(sim.ready(), qPrintable(sim.readyLine()));
        QVERIFY(writeSettings(work, sim.link()));
        Program prog(work, sim.link(), {}, path(QStringLiteral("home")));
        QVERIFY2(started(sim), qPrintable(prog.errors()));
        QTRY_COMPARE_WITH_TIMEOUT(dumpTable(rejestr(work)).size(), 2, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(dumpTable(linia(work)).size() >= 10, 10000);
        const QString fullFrom =
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));

        {
            QFile filler(work + QStringLiteral("/FILLER"));
            QVERIFY(filler.open(QIODevice::WriteOnly));
            const QByteArray block(4096, '\0');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
        }
        // Rows come faster for a while, so that the table's last page fills
        // up and its next append needs a page the filesystem no longer has;
        // an event comes meanwhile as well.
        QVERIFY(sim.commandTaken("period 20"));
        QVERIFY(sim.commandTaken("add-event 1 0 0 0 0"));
        QTRY_VERIFY_WITH_TIMEOUT(!prog.reports().isEmpty(), 15000);
        QTest::qWait(1000);
        QVERIFY(sim.commandTaken("period 100"));
        QVERIFY(QFile::remove(work + QStringLiteral("/FILLER")));
        const QString fullTo =
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QVERIFY(sim.commandTaken("add-event 2 0 0 0 0"));
        QTest::qWait(3000);
        QVERIFY(prog.running());
        QCOMPARE(prog.terminate(), 0);
        qInfo("reported: %s", qPrintable(prog.reports().join(u'\n')));

        QString report;
        for (const QString& table : {linia(work), rejestr(work)}) {
            QVERIFY2(tableWhole(table, &report), qPrintable(report));
            QVERIFY2(report.contains(QStringLiteral("header count ")), qPrintable(report));
        }
        const QList<QStringList> rows = dumpTable(linia(work));
        QVERIFY(!rows.isEmpty());
        int before = 0, after = 0;
        for (const QStringList& row : rows) {
            QCOMPARE(row.size(), 10);
            QVERIFY2(allZero(row) || rowVoltages(row) == k230, qPrintable(row.join(u' ')));
            before += row[0] < fullFrom;
            after += row[0] > fullTo;
        }
        QVERIFY2(before >= 10 && after >= 10,
                 qPrintable(QStringLiteral("%1 rows before, %2 after").arg(before).arg(after)));
        QVERIFY(allZero(rows.last())); // the end row
        // The event records, the one that came while the disk was full included.
        const QList<QStringList> events = dumpTable(rejestr(work));
        QStringList indexes;
        for (const QStringList& e : events)
            indexes << e[0];
        QCOMPARE(indexes, (QStringList{"0", "1", "2", "3"}));
    }

    // A termination signal while an error box waits for its "OK": the program
    // still ends at once, in order, with its end row. The box comes from an
    // event-log write refused by the file-size limit.
    void terminatedWithErrorBoxOpen() {
        // An event table already past the limit; the voltage table far below it.
        {
            QVERIFY(QFile::remove(rejestr()));
            qta::TTable::createRejestr(rejestr());
            qta::TTable t(rejestr());
            t.Open();
            for (int i = 0; i < 20; ++i) {
                t.Append();
                t.FieldByName(QStringLiteral("INDEKS")).setAsInteger(i);
                t.Post();
            }
            t.Close();
        }
        const rlim_t limit = rlim_t(QFileInfo(rejestr()).size());
        SimProcess sim(path(QStringLiteral("qta")), path(QStringLiteral("sim.log")),
                       {"--period", "250", "--events", "22"});
        QVERIFY2(sim.ready(), qPrintable(sim.readyLine()));
        QVERIFY(writeSettings(dir_->path(), sim.link()));
        Program prog(dir_->path(), sim.link(), {}, {}, [limit] {
            const rlimit r{limit, limit};
            ::setrlimit(RLIMIT_FSIZE, &r);
        });
        QTRY_VERIFY_WITH_TIMEOUT(!prog.reports().isEmpty() || !prog.running(), 20000);
        QVERIFY2(prog.running(), "the refused write ended the program");
        QVERIFY2(prog.reports()[0].contains(QStringLiteral("rejestr.dbf")),
                 qPrintable(prog.reports().join(u'\n')));
        const qsizetype rows = dumpTable(linia()).size();
        QVERIFY(rows >= 1);

        QElapsedTimer t;
        t.start();
        QCOMPARE(prog.terminate(), 0);
        qInfo("ended %lld ms after SIGTERM", t.elapsed());
        QVERIFY(t.elapsed() < 5000);
        const QList<QStringList> after = dumpTable(linia());
        QVERIFY(after.size() > rows);
        QVERIFY2(allZero(after.last()), qPrintable(after.last().join(u' ')));
        QCOMPARE(dumpTable(rejestr()).size(), 20); // the refused row left nothing behind
        QString report;
        QVERIFY2(tableWhole(rejestr(), &report), qPrintable(report));
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
