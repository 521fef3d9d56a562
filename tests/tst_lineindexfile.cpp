// The chart index kept next to its table: written and read back, extended
// by the rows appended since; damaged or stale files set aside with the
// reason and the table read whole (the table never written); and across
// program runs, through the history and a chart window.
#include "history/chartwindow.h"
#include "history/linegen.h"
#include "history/linehistory.h"
#include "history/lineindex.h"
#include "history/lineindexfile.h"
#include "linereference.h"
#include "tables/table.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <qcustomplot.h>

using namespace qta;
using namespace qta::test;

namespace {

QByteArray readFile(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TstLineIndexFile : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QDateTime end_{QDate(2026, 1, 30), QTime(12, 0, 0)};
    TWallMs now_ = wallMs(end_);
    QStringList errors_;
    QString path(const char* name) const { return QDir(dir_.path()).filePath(QLatin1String(name)); }

private Q_SLOTS:
    void keptIndex();
    void keptIndexSetAside_data();
    void keptIndexSetAside();
    void keptIndexAcrossRuns();
};

void TstLineIndexFile::keptIndex() {
    // Written, read back and extended by the rows appended since: the same
    // answers as an index built from the table.
    const QString file = path("kept.dbf"), kept = TLineIndexFile::pathFor(file);
    QCOMPARE(QFileInfo(kept).fileName(), QStringLiteral("kept.idx"));
    const QDateTime endWall(QDate(2026, 1, 15), QTime(12, 0));
    generateLinia(file, {30000, endWall, 4});
    TLineIndex first;
    const TLineIndex::TKept none = first.openKept(file, kept);
    QCOMPARE(none.loaded, 0);
    QCOMPARE(none.refused, QString()); // no file yet: nothing to say
    QString error;
    QVERIFY2(TLineIndexFile::save(first, kept, &error), qPrintable(error));

    TTable t(file);
    t.Open();
    t.setSyncEveryPost(false);
    for (int s = 1; s <= 500; ++s) { // appended since, and the clock set back
        t.Append();
        t.FieldByName(QStringLiteral("CZAS"))
            .setAsDateTime(endWall.addSecs(s < 300 ? s : s - 3600));
        t.FieldByName(QStringLiteral("N2L2")).setAsInteger(200 + s % 50);
        t.Post();
    }
    // Kept while the last rows wait for their commit, which changes their
    // marks: still the same rows afterwards.
    const QString pendingKept = path("pending.idx");
    TLineIndex pending;
    QCOMPARE(pending.openKept(file, kept).loaded, 30000);
    QCOMPARE(pending.rows(), 30500);
    QVERIFY2(TLineIndexFile::save(pending, pendingKept, &error), qPrintable(error));
    t.Sync();
    TLineIndex committed;
    const TLineIndex::TKept afterCommit = committed.openKept(file, pendingKept);
    QVERIFY2(afterCommit.refused.isEmpty(), qPrintable(afterCommit.refused));
    QCOMPARE(afterCommit.loaded, 30500);
    TLineIndex second, fresh;
    fresh.open(file);
    const TLineIndex::TKept report = second.openKept(file, kept);
    QCOMPARE(report.loaded, 30000);
    QVERIFY2(report.refused.isEmpty(), qPrintable(report.refused));
    QCOMPARE(second.rows(), 30500);
    QCOMPARE(differences(second, fresh), QString());

    // Written whole or not at all: into a folder that is not there, nothing.
    const QString nowhere = path("brak/kept.idx");
    QVERIFY(!TLineIndexFile::save(second, nowhere, &error));
    QVERIFY2(error.contains(nowhere), qPrintable(error));
    QVERIFY(!QFileInfo::exists(path("brak")));
}

void TstLineIndexFile::keptIndexSetAside_data() {
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("said");
    QTest::newRow("truncated") << "truncate"
                               << "ucięty";
    QTest::newRow("garbage") << "garbage"
                             << "nie jest plik indeksu";
    QTest::newRow("empty file") << "empty"
                                << "za krótki";
    QTest::newRow("a byte changed in the body") << "flip"
                                                << "suma kontrolna";
    QTest::newRow("a byte changed in the head") << "head"
                                                << "nagłówek";
    QTest::newRow("stale: another table of as many rows") << "other"
                                                          << "różnią się";
    QTest::newRow("stale: a row of the table changed") << "row"
                                                       << "różnią się";
    QTest::newRow("stale: the table replaced by a shorter one") << "shorter"
                                                                << "mniej niż";
    QTest::newRow("stale: another layout") << "layout"
                                           << "inny nagłówek";
}

void TstLineIndexFile::keptIndexSetAside() {
    // A damaged or stale file is set aside with the reason, the table is read
    // whole and gives the right answers; the table is never written.
    QFETCH(QString, damage);
    QFETCH(QString, said);
    QTemporaryDir dir;
    const QString file = QDir(dir.path()).filePath(QStringLiteral("linia.dbf"));
    const QString kept = TLineIndexFile::pathFor(file);
    const QDateTime endWall(QDate(2026, 2, 1), QTime(8, 0));
    generateLinia(file, {20000, endWall, 5});
    {
        TLineIndex index;
        index.open(file);
        QString error;
        QVERIFY2(TLineIndexFile::save(index, kept, &error), qPrintable(error));
    }
    const auto replaceTable = [&](qint64 rows, quint64 seed) {
        QVERIFY(QFile::remove(file));
        generateLinia(file, {rows, endWall, seed});
    };
    QFile idx(kept);
    QVERIFY(idx.open(QIODevice::ReadWrite));
    const qint64 size = idx.size();
    if (damage == u"truncate") {
        idx.resize(size * 2 / 3);
    } else if (damage == u"garbage" || damage == u"empty") {
        idx.resize(0);
        if (damage == u"garbage") {
            QByteArray junk(int(size), '\0');
            for (int i = 0; i < junk.size(); ++i)
                junk[i] = char(i * 7919 % 251);
            idx.write(junk);
        }
    } else if (damage == u"flip" || damage == u"head") {
        const qint64 at = damage == u"flip" ? size - 1000 : 20;
        idx.seek(at);
        const char c = idx.read(1)[0];
        idx.seek(at);
        idx.write(QByteArray(1, char(c ^ 0x10)));
    } else if (damage == u"other") {
        replaceTable(20000, 6);
    } else if (damage == u"row") {
        QVERIFY(overwriteVolts(file, 19990, 19991, 0, "  111"));
    } else if (damage == u"shorter") {
        replaceTable(15000, 5);
    } else if (damage == u"layout") {
        QFile table(file); // a reserved byte of the CZAS field's descriptor
        QVERIFY(table.open(QIODevice::ReadWrite) && table.seek(32 + 20));
        table.write("\x01", 1);
    }
    idx.close();
    const QByteArray tableBytes = readFile(file);

    TLineIndex index, fresh;
    const TLineIndex::TKept report = index.openKept(file, kept);
    QCOMPARE(report.loaded, 0);
    QVERIFY2(report.refused.contains(said) && report.refused.contains(kept),
             qPrintable(report.refused));
    fresh.open(file);
    QCOMPARE(differences(index, fresh), QString());
    QVERIFY(readFile(file) == tableBytes);

    // Written anew, the next open takes it.
    QString error;
    QVERIFY2(TLineIndexFile::save(index, kept, &error), qPrintable(error));
    TLineIndex next;
    QCOMPARE(next.openKept(file, kept).loaded, index.rows());
}

void TstLineIndexFile::keptIndexAcrossRuns() {
    // The first run builds the index from the table and writes it beside the
    // table once the window has its picture; the next run starts from that
    // file and reads only the rows appended since; a damaged file is set
    // aside with the reason in the window's status bar and written anew.
    QTemporaryDir dir;
    const QString file = QDir(dir.path()).filePath(QStringLiteral("linia.dbf"));
    const QString kept = QDir(dir.path()).filePath(QStringLiteral("linia.idx"));
    generateLinia(file, {30000, end_, 12});
    TTable t(file);
    t.Open();
    struct Run {
        qint64 keptRows, rows;
        bool written;
        QString note, progress;
        QVector<double> values; // N1L1 as drawn
    };
    const auto run = [&](bool writes) -> Run {
        TLineHistory history([&t] { return &t; }, nullptr, 1000);
        QSignalSpy ready(&history, &TLineHistory::ready), saved(&history, &TLineHistory::saved);
        auto w = std::make_unique<TWykres>(
            chartLine(1), history, [this](const QString& m) { errors_ << m; },
            [this] { return now_; });
        w->Timer.stop();
        w->RefreshTimer.stop();
        if (!ready.count() && !ready.wait(20000))
            return {};
        const bool written = writes && (saved.count() || saved.wait(20000));
        Run r{history.keptRows(), history.index()->rows(), written && saved[0][0].toBool(),
              history.keptNote(), w->Progress->text(),     {}};
        for (auto it = w->Chart->graph(0)->data()->constBegin();
             it != w->Chart->graph(0)->data()->constEnd(); ++it)
            r.values << it->value;
        return r;
    };
    const Run first = run(true);
    QCOMPARE(first.keptRows, 0);
    QCOMPARE(first.rows, 30000);
    QVERIFY(first.written && QFile::exists(kept));
    QVERIFY(first.values.size() > 100);

    const Run second = run(false); // no rows since: nothing to write
    QCOMPARE(second.keptRows, 30000);
    QCOMPARE(second.values, first.values);

    t.Append(); // a row appended since
    t.FieldByName(QStringLiteral("CZAS")).setAsDateTime(end_.addSecs(-600));
    t.FieldByName(QStringLiteral("N1L1")).setAsInteger(123);
    t.Post();
    const Run third = run(true);
    QCOMPARE(third.keptRows, 30000);
    QCOMPARE(third.rows, 30001);
    QVERIFY(third.written);
    QVERIFY(third.values.contains(123.0));

    {
        QFile f(kept);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
    }
    const Run damaged = run(true);
    QCOMPARE(damaged.keptRows, 0);
    QCOMPARE(damaged.rows, 30001);
    QVERIFY2(damaged.note.contains(kept) && damaged.note.contains(QStringLiteral("pominięty")),
             qPrintable(damaged.note));
    QVERIFY2(damaged.progress.contains(damaged.note), qPrintable(damaged.progress));
    QCOMPARE(damaged.values, third.values);
    QVERIFY(damaged.written);
    QCOMPARE(run(false).keptRows, 30001);
    QVERIFY(errors_.isEmpty());
}

QTEST_MAIN(TstLineIndexFile)
#include "tst_lineindexfile.moc"
