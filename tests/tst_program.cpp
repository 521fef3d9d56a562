// The real qta504 program, end to end, on the offscreen platform against the
// controller simulator: the start-up handshake on the line, the tables it
// writes, the event-log copy, orderly exit on SIGTERM, a missing table, one
// copy per working directory, the first start in the user's data folder and
// the command line.
#include "programprocess.h"
#include "simprocess.h"
#include "testpaths.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <csignal>

namespace {
const QString& kTables = kTablesTool;
QList<QStringList> dump(const QString& file) { return dumpTable(file); }
} // namespace

class TestProgram : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;

    QString path(const QString& name) const { return dir_->filePath(name); }
    void writeSettings(const QString& port) {
        QFile f(path(QStringLiteral("rejestr/ustawienia.ini")));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("[ComPort]\nPort=" + port.toUtf8() + "\n");
    }

private Q_SLOTS:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        QProcess tables;
        tables.start(kTables, {QStringLiteral("create"), dir_->path()});
        QVERIFY(tables.waitForFinished(10000));
        QCOMPARE(tables.exitCode(), 0);
    }
    void cleanup() { dir_.reset(); }

    // The whole run: handshake, status rows, event-log copy, exit on SIGTERM.
    void startUpAndRun() {
        SimProcess sim(path(QStringLiteral("qta")), path(QStringLiteral("sim.log")),
                       {"--events", "10", "--period", "250"});
        QVERIFY2(sim.ready(), qPrintable(sim.readyLine()));
        writeSettings(sim.link());
        Program prog(dir_->path(), sim.link());

        // Start-up time: the program asks for the identifier, the configuration
        // and the customisation; the link is complete with the last answer.
        qint64 firstRequest = -1, identified = -1, customised = -1;
        QDeadlineTimer deadline(15000);
        while (customised < 0 && !deadline.hasExpired() && prog.running()) {
            const QStringList log = sim.logLines();
            const qint64 now = prog.clock.elapsed();
            if (firstRequest < 0 && log.contains(QStringLiteral("rx 7")))
                firstRequest = now;
            if (identified < 0 && std::any_of(log.begin(), log.end(), [](const QString& l) {
                    return l.startsWith(QStringLiteral("tx 7 "));
                }))
                identified = now;
            if (std::any_of(log.begin(), log.end(),
                            [](const QString& l) { return l.startsWith(QStringLiteral("tx 4 ")); }))
                customised = now;
            QThread::msleep(5);
        }
        QVERIFY2(customised >= 0, qPrintable(prog.errors()));
        qInfo(
            "start-up: identifier asked %lld ms, answered %lld ms, customisation answered %lld ms "
            "after the process start",
            firstRequest, identified, customised);
        QVERIFY2(customised < 5000, qPrintable(QString::number(customised)));

        // The requests, byte for byte: anything but a well-formed frame would
        // show as rx-bad or rx-junk.
        QTRY_VERIFY_WITH_TIMEOUT(sim.received().size() >= 4, 5000);
        const QStringList rx = sim.received();
        QCOMPARE(rx.mid(0, 3), (QStringList{"rx 7", "rx 1", "rx 4"}));

        // The settings file names the working port, all six keys in order.
        QFile ini(path(QStringLiteral("rejestr/ustawienia.ini")));
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QStringList keys;
        QString port;
        for (const QString& line :
             QString::fromUtf8(ini.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
            if (!line.contains(u'='))
                continue;
            keys << line.section(u'=', 0, 0);
            if (keys.last() == QStringLiteral("Port"))
                port = line.section(u'=', 1);
        }
        QCOMPARE(keys, (QStringList{"Port", "BaudRate", "StopBits", "DataBits", "Parity",
                                    "FlowControl"}));
        QCOMPARE(port, sim.link());

        // The event log is copied, oldest first; status rows pile up meanwhile.
        QTRY_COMPARE_WITH_TIMEOUT(dump(path(QStringLiteral("rejestr/rejestr.dbf"))).size(), 10,
                                  20000);
        QTRY_VERIFY_WITH_TIMEOUT(dump(path(QStringLiteral("rejestr/linia.dbf"))).size() >= 5, 5000);

        QCOMPARE(prog.terminate(), 0);
        QVERIFY2(prog.reports().isEmpty(), qPrintable(prog.reports().join(u'\n')));
        QVERIFY(!QFile::exists(path(QStringLiteral(".qta504.lock"))));

        const QStringList all = sim.received();
        for (const QString& l : all)
            QVERIFY2(!l.startsWith(QStringLiteral("rx-")), qPrintable(l));
        QStringList asked;
        for (const QString& l : all)
            if (l.startsWith(QStringLiteral("rx 8 ")))
                asked << l;
        // On an empty table the copy starts at the oldest slot of the ring, just
        // after the newest record; never written, it sends the copy on to 0.
        QStringList expected{"rx 8 0 10"};
        for (int i = 0; i < 10; ++i)
            expected << QStringLiteral("rx 8 0 %1").arg(i);
        QCOMPARE(asked, expected);

        const QList<QStringList> events = dump(path(QStringLiteral("rejestr/rejestr.dbf")));
        QCOMPARE(events.size(), 10);
        for (int i = 0; i < 10; ++i) {
            QCOMPARE(events[i][0], QString::number(i)); // INDEKS
            QVERIFY(!events[i][3].isEmpty());           // ZDARZENIE
        }

        // Zero rows mark the start and the end of the run; the replies between.
        const QList<QStringList> rows = dump(path(QStringLiteral("rejestr/linia.dbf")));
        QVERIFY(rows.size() >= 7);
        QVERIFY2(allZero(rows.first()), qPrintable(rows.first().join(u' ')));
        QVERIFY2(allZero(rows.last()), qPrintable(rows.last().join(u' ')));
        for (qsizetype i = 1; i + 1 < rows.size(); ++i) {
            QCOMPARE(rows[i].mid(1), QStringList(9, QStringLiteral("230")));
            QVERIFY(rows[i][0] >= rows[i - 1][0]);
        }
    }

    // Without its tables the program says why and does not look for the
    // controller at all; it still ends in order.
    void missingTable_data() {
        QTest::addColumn<QString>("remove");
        QTest::addColumn<QString>("named");
        QTest::newRow("no rejestr.dbf") << "rejestr/rejestr.dbf"
                                        << "rejestr.dbf";
        QTest::newRow("no linia.dbf") << "rejestr/linia.dbf"
                                      << "linia.dbf";
    }
    void missingTable() {
        QFETCH(QString, remove);
        QFETCH(QString, named);
        SimProcess sim(path(QStringLiteral("qta")), path(QStringLiteral("sim.log")),
                       {"--period", "0"});
        QVERIFY2(sim.ready(), qPrintable(sim.readyLine()));
        writeSettings(sim.link());
        QVERIFY(QFile::remove(path(remove)));

        Program prog(dir_->path(), sim.link());
        QTRY_VERIFY_WITH_TIMEOUT(!prog.reports().isEmpty(), 10000);
        QCOMPARE(prog.reports().size(), 1);
        QVERIFY2(prog.reports()[0].contains(named), qPrintable(prog.reports()[0]));
        QVERIFY(prog.reports()[0].endsWith(u'.'));
        QTest::qWait(1500); // a start window would have asked for the identifier at once
        QVERIFY2(sim.received().isEmpty(), qPrintable(sim.received().join(u'\n')));
        QVERIFY(prog.running());

        QCOMPARE(prog.terminate(), 0);
        QVERIFY(!QFile::exists(path(remove))); // nothing made in its place
        if (remove == QStringLiteral("rejestr/linia.dbf"))
            QCOMPARE(dump(path(QStringLiteral("rejestr/rejestr.dbf"))).size(), 0);
        if (remove == QStringLiteral("rejestr/rejestr.dbf"))
            QCOMPARE(dump(path(QStringLiteral("rejestr/linia.dbf"))).size(), 0);
    }

    // One copy per working directory; a copy that died leaves no lock behind.
    void oneCopyPerDirectory() {
        writeSettings(path(QStringLiteral("brak/port"))); // no controller, no port at all
        const QString linia = path(QStringLiteral("rejestr/linia.dbf"));
        auto first = std::make_unique<Program>(dir_->path(), QString());
        QTRY_COMPARE_WITH_TIMEOUT(dump(linia).size(), 1, 10000);

        Program second(dir_->path(), QString());
        QVERIFY(second.proc.waitForFinished(10000));
        QCOMPARE(second.proc.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.proc.exitCode(), 3);
        QVERIFY2(second.reports().size() == 1 &&
                     second.reports()[0].contains(QStringLiteral("już uruchomiony")),
                 qPrintable(second.errors()));
        QCOMPARE(dump(linia).size(), 1); // the second copy did not touch the tables
        QVERIFY(first->running());

        // Killed: the next copy starts all the same.
        first->proc.kill();
        QVERIFY(first->proc.waitForFinished(5000));
        first.reset();
        QVERIFY(QFile::exists(path(QStringLiteral(".qta504.lock"))));
        Program third(dir_->path(), QString());
        QTRY_COMPARE_WITH_TIMEOUT(dump(linia).size(), 2, 10000);
        QVERIFY2(third.running(), qPrintable(third.errors()));
        QCOMPARE(third.terminate(), 0);
        QCOMPARE(dump(linia).size(), 3);
    }

    // Started from the desktop menu (a folder without rejestr/): the program
    // makes its data folder, says so once, finds the controller and records;
    // the next start, with the folder named on the command line, just works there.
    void firstStartInDataFolder() {
        SimProcess sim(path(QStringLiteral("qta")), path(QStringLiteral("sim.log")),
                       {"--period", "250"});
        QVERIFY2(sim.ready(), qPrintable(sim.readyLine()));
        QVERIFY(QDir().mkpath(path(QStringLiteral("desktop"))));
        const QString home = path(QStringLiteral("home"));
        const QString data = home + QStringLiteral("/.local/share/qta504");
        const QString linia = data + QStringLiteral("/rejestr/linia.dbf");
        const QString ini = data + QStringLiteral("/rejestr/ustawienia.ini");
        const auto savedPort = [&ini] {
            QFile f(ini);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        {
            Program prog(path(QStringLiteral("desktop")), sim.link(), {}, home);
            // Found by the scan and kept in the new settings file.
            QTRY_VERIFY_WITH_TIMEOUT(savedPort().contains("Port=" + sim.link().toUtf8() + '\n'),
                                     15000);
            QTRY_VERIFY_WITH_TIMEOUT(dump(linia).size() >= 4, 15000);
            QCOMPARE(prog.terminate(), 0);
            QCOMPARE(prog.reports().size(), 1);
            QVERIFY2(prog.reports()[0].contains(QStringLiteral("Pierwsze uruchomienie")) &&
                         prog.reports()[0].contains(data),
                     qPrintable(prog.reports()[0]));
        }
        QVERIFY(QFile::exists(data + QStringLiteral("/rejestr/rejestr.dbf")));
        QVERIFY(QDir(path(QStringLiteral("desktop")))
                    .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));

        // Named on the command line, from a folder with tables of its own.
        const int rows = int(dump(linia).size());
        Program prog(dir_->path(), sim.link(), {QStringLiteral("--work-dir"), data}, home);
        QTRY_VERIFY_WITH_TIMEOUT(dump(linia).size() >= rows + 3, 15000);
        QCOMPARE(prog.terminate(), 0);
        QVERIFY2(prog.reports().isEmpty(), qPrintable(prog.reports().join(u'\n')));
        QCOMPARE(dump(path(QStringLiteral("rejestr/linia.dbf"))).size(), 0);
    }

    // --help and --version answer with no display at all; a bad option stops
    // the program with a word on what was wrong.
    void commandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("help") << QStringList{"--help"} << 0 << "--demo-panel"
                              << "";
        QTest::newRow("version") << QStringList{"--version"} << 0 << "qta504 1."
                                 << "";
        QTest::newRow("bad option") << QStringList{"--bogus"} << 2 << ""
                                    << "bogus";
        QTest::newRow("missing folder") << QStringList{"--work-dir", "/nonexistent/qta"} << 4 << ""
                                        << "nie istnieje";
    }
    void commandLine() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(v));
        if (exitCode != 0) // the window system is started before these are judged
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(path(QStringLiteral("rejestr")));
        p.start(qta::test::binPath(QStringLiteral("qta504")), args);
        QVERIFY(p.waitForFinished(10000));
        const QString stdOut = QString::fromLocal8Bit(p.readAllStandardOutput());
        const QString stdErr = QString::fromLocal8Bit(p.readAllStandardError());
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QVERIFY2(p.exitCode() == exitCode, qPrintable(stdErr));
        QVERIFY2(stdOut.contains(out), qPrintable(stdOut));
        QVERIFY2(stdErr.contains(err), qPrintable(stdErr));
        QVERIFY(!QFile::exists(path(QStringLiteral("home")))); // nothing was made anywhere
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
