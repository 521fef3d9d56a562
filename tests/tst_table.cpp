// The local tables: schema and code page of the files, round trips, torn
// appends left by a crash, rows reaching the file at Post, remarks, the tool.
#include "tables/table.h"
#include "testpaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <cmath>
#include <cstdio>
#include <functional>

using namespace qta;

namespace {

const QString kPolish = QStringLiteral("ąćęłńóśźżĄĆĘŁŃÓŚŹŻ");
const char* const kVolt[9] = {"N1L1", "N1L2", "N1L3", "N2L1", "N2L2",
                              "N2L3", "N3L1", "N3L2", "N3L3"};

QByteArray hex(const char* h) { return QByteArray::fromHex(h); }

QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

quint32 le(const QByteArray& b, int at, int n) {
    quint32 v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return v;
}

void setLe32(QByteArray& b, int at, quint32 v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xFF);
}

int headerLength(const QByteArray& f) { return int(le(f, 8, 2)); }
int recordLength(const QByteArray& f) { return int(le(f, 10, 2)); }
int headerCount(const QByteArray& f) { return int(le(f, 4, 4)); }

// Voltages of test row `r` in the line-voltage table.
std::array<int, 9> voltagesOf(int r) {
    std::array<int, 9> u{};
    for (int i = 0; i < 9; ++i)
        u[size_t(i)] = (r * 37 + i * 101) % 65536;
    return u;
}

QDateTime timeOf(int r) { return QDateTime(QDate(2026, 12, 10), QTime(13, 45, 7)).addSecs(r); }

void appendLinia(TTable& t, int r) {
    t.Append();
    t.FieldByName(QStringLiteral("CZAS")).setAsDateTime(timeOf(r));
    const auto u = voltagesOf(r);
    for (int i = 0; i < 9; ++i)
        t.FieldByName(QLatin1String(kVolt[i])).setAsInteger(u[size_t(i)]);
    t.Post();
}

// Whether row `r` of an open line-voltage table holds test row `seed`.
bool rowHolds(const TTable& t, int r, int seed) {
    if (t.dateTimeValue(r, 0) != timeOf(seed))
        return false;
    const auto u = voltagesOf(seed);
    for (int i = 0; i < 9; ++i)
        if (t.numberValue(r, i + 1) != u[size_t(i)])
            return false;
    return true;
}

void appendEvent(TTable& t, int indeks, const QString& text) {
    t.Append();
    t.FieldByName(QStringLiteral("DATA")).setAsString(QStringLiteral("2010-03-07 "));
    t.FieldByName(QStringLiteral("CZAS")).setAsString(QStringLiteral("09:05"));
    t.FieldByName(QStringLiteral("ZDARZENIE")).setAsString(text);
    t.FieldByName(QStringLiteral("UWAGI")).setAsString(QString());
    t.FieldByName(QStringLiteral("INDEKS")).setAsInteger(indeks);
    for (int n = 1; n <= 3; ++n) {
        const QString p = QStringLiteral("N%1").arg(n);
        t.FieldByName(p + QStringLiteral("_STATUS"))
            .setAsString(QStringLiteral("Linia kwalifikowana jako zła"));
        for (int k = 1; k <= 3; ++k) {
            t.FieldByName(p + QStringLiteral("L%1_UMIN").arg(k))
                .setAsString(QStringLiteral("FALSE"));
            t.FieldByName(p + QStringLiteral("L%1_UMAX").arg(k))
                .setAsString(QStringLiteral("TRUE"));
        }
    }
    t.FieldByName(QStringLiteral("AKTYWNA")).setAsString(QStringLiteral("Aktywna linia N1 i N3"));
    t.Post();
}

QString tool() { return qta::test::binPath(QStringLiteral("qta504-tables")); }

struct Run {
    int code = -1;
    QString out;
    QString err;
};

Run runTool(const QStringList& args) {
    QProcess p;
    p.start(tool(), args);
    Run r;
    if (!p.waitForFinished(20000))
        return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// Child mode of this test program: appends line-voltage rows until killed,
// reporting each row on stdout once Post has returned.
int runWriter(const QString& file) {
    try {
        TTable t(file);
        t.Open();
        for (int r = t.RecordCount(); r < 1000000; ++r) {
            appendLinia(t, r);
            std::printf("%d\n", r + 1);
            std::fflush(stdout);
        }
    } catch (const ETable& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}

} // namespace

class TestTable : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path(const QString& name) const { return QDir(dir_.path()).filePath(name); }
    QString fresh(const QString& name, bool rejestr) {
        const QString p = path(name);
        QFile::remove(p);
        if (rejestr)
            TTable::createRejestr(p);
        else
            TTable::createLinia(p);
        return p;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    // Field names, types and widths as they stand in the file headers.
    void schema_data() {
        QTest::addColumn<bool>("rejestr");
        QTest::addColumn<QStringList>("expected"); // "NAME type width"
        QStringList rej = {"INDEKS N 5", "DATA C 11", "CZAS C 5", "ZDARZENIE C 80", "UWAGI C 254"};
        for (int n = 1; n <= 3; ++n) {
            rej << QStringLiteral("N%1_STATUS C 30").arg(n);
            for (const char* m : {"UMIN", "UMAX"})
                for (int k = 1; k <= 3; ++k)
                    rej << QStringLiteral("N%1L%2_%3 C 5").arg(n).arg(k).arg(QLatin1String(m));
        }
        rej << "AKTYWNA C 21"
            << "PROGRAM C 12";
        QStringList lin = {"CZAS T 8"};
        for (const char* v : kVolt)
            lin << QStringLiteral("%1 N 5").arg(QLatin1String(v));
        QTest::newRow("rejestr.dbf") << true << rej;
        QTest::newRow("linia.dbf") << false << lin;
    }
    void schema() {
        QFETCH(bool, rejestr);
        QFETCH(QStringList, expected);
        const QByteArray f = readAll(fresh(QStringLiteral("schema.dbf"), rejestr));
        QCOMPARE(quint8(f[0]), quint8(0x03));
        QCOMPARE(quint8(f[29]), quint8(0xC8)); // language driver: Windows-1250
        QCOMPARE(headerCount(f), 0);
        QStringList got;
        int width = 1;
        for (int at = 32; at + 32 <= headerLength(f) && f[at] != '\r'; at += 32) {
            got << QStringLiteral("%1 %2 %3")
                       .arg(QString::fromLatin1(f.constData() + at))
                       .arg(QLatin1Char(f[at + 11]))
                       .arg(quint8(f[at + 16]));
            width += quint8(f[at + 16]);
        }
        QCOMPARE(got, expected);
        QCOMPARE(recordLength(f), width);
        QCOMPARE(got.size(), rejestr ? 28 : 10);
    }

    void rejestrRoundTrip() {
        const QString file = fresh(QStringLiteral("rt_rejestr.dbf"), true);
        const QString text = QStringLiteral("Zmiana programu. Źródło: ") + kPolish;
        {
            TTable t(file);
            t.Open();
            QCOMPARE(t.codePage(), QStringLiteral("CP1250"));
            appendEvent(t, 17, text);
            t.Append(); // AKTYWNA and PROGRAM not set stay empty
            t.FieldByName(QStringLiteral("INDEKS")).setAsInteger(499);
            t.FieldByName(QStringLiteral("N1_STATUS")).setAsString(QStringLiteral("Linia zła"));
            t.Post();
            t.Close();
        }
        const QByteArray raw = readAll(file);
        QVERIFY(raw.contains(hex("b9e6eab3f1f39c9fbfa5c6caa3d1d38c8faf"))); // kPolish in CP1250
        QVERIFY(!raw.contains("\xc4\x85"));                                 // no UTF-8
        QCOMPARE(quint8(raw[29]), quint8(0xC8));
        QCOMPARE(headerCount(raw), 2);

        TTable t(file);
        t.Open();
        QCOMPARE(t.RecordCount(), 2);
        QCOMPARE(t.RecNo(), 0);
        QCOMPARE(t.FieldByName(QStringLiteral("ZDARZENIE")).asString(), text);
        QCOMPARE(t.FieldByName(QStringLiteral("DATA")).asString(), QStringLiteral("2010-03-07"));
        QCOMPARE(t.FieldByName(QStringLiteral("N3_STATUS")).asString(),
                 QStringLiteral("Linia kwalifikowana jako zła"));
        QCOMPARE(t.FieldByName(QStringLiteral("N2L3_UMAX")).asString(), QStringLiteral("TRUE"));
        QCOMPARE(t.FieldByName(QStringLiteral("INDEKS")).asInteger(), 17);
        QVERIFY(t.isNull(0, t.fieldIndex(QStringLiteral("UWAGI"))));
        QVERIFY(t.isNull(0, t.fieldIndex(QStringLiteral("PROGRAM"))));
        t.Last();
        QCOMPARE(t.RecNo(), 1);
        QCOMPARE(t.FieldByName(QStringLiteral("INDEKS")).asInteger(), 499);
        QCOMPARE(t.FieldByName(QStringLiteral("N1_STATUS")).asString(),
                 QStringLiteral("Linia zła"));
        QVERIFY(t.isNull(1, t.fieldIndex(QStringLiteral("AKTYWNA"))));
        QVERIFY(t.FieldByName(QStringLiteral("ZDARZENIE")).asString().isEmpty());
    }

    void liniaRoundTrip() {
        const QString file = fresh(QStringLiteral("rt_linia.dbf"), false);
        const QDateTime when(QDate(2026, 12, 10), QTime(13, 45, 7));
        const std::array<int, 9> u = {0, 1, 230, 231, 65535, 9, 400, 12345, 7};
        {
            TTable t(file);
            t.Open();
            t.Append();
            t.FieldByName(QStringLiteral("czas")).setAsDateTime(when);
            for (int i = 0; i < 9; ++i)
                t.FieldByName(QLatin1String(kVolt[i])).setAsInteger(u[size_t(i)]);
            t.Post();
            t.Append(); // a row whose voltages were never set
            t.FieldByName(QStringLiteral("CZAS")).setAsDateTime(when.toUTC().addSecs(1));
            t.Post();
        }
        // 'T': little-endian Julian day, then little-endian milliseconds since midnight.
        const QByteArray raw = readAll(file);
        const int row0 = headerLength(raw);
        QCOMPARE(raw[row0], ' ');
        QCOMPARE(le(raw, row0 + 1, 4), 2461385u);
        QCOMPARE(le(raw, row0 + 5, 4), 49507000u); // 13:45:07
        QCOMPARE(raw.mid(row0 + 9, 15), QByteArray("    0    1  230"));

        TTable t(file);
        t.Open();
        QCOMPARE(t.RecordCount(), 2);
        QCOMPARE(t.dateTimeValue(0, 0), when);
        QCOMPARE(t.FieldByName(QStringLiteral("CZAS")).asDateTime(), when);
        QCOMPARE(t.stringValue(0, 0), QStringLiteral("2026-12-10 13:45:07"));
        for (int i = 0; i < 9; ++i)
            QCOMPARE(t.numberValue(0, i + 1), double(u[size_t(i)]));
        QCOMPARE(t.FieldByName(QStringLiteral("N2L2")).asInteger(), 65535);
        QCOMPARE(t.dateTimeValue(1, 0), when.addSecs(1)); // stored as local time
        QVERIFY(t.isNull(1, 1));
        QVERIFY(std::isnan(t.numberValue(1, 1)));
        QVERIFY(!t.isNull(0, 1));
    }

    // Values a field cannot hold are refused with the field's name, and the
    // row being appended keeps what it had.
    void badValues() {
        TTable t(fresh(QStringLiteral("bad.dbf"), true));
        t.Open();
        t.Append();
        t.FieldByName(QStringLiteral("INDEKS")).setAsInteger(5);
        auto refused = [&](const std::function<void()>& f, const char* field) {
            try {
                f();
            } catch (const ETable& e) {
                return e.message().contains(QLatin1String(field));
            }
            return false;
        };
        QVERIFY(refused([&] { t.FieldByName("UWAGI").setAsString(QStringLiteral("Ω")); }, "UWAGI"));
        QVERIFY(refused([&] { t.FieldByName("DATA").setAsString(QStringLiteral("2010-03-07 x")); },
                        "DATA"));
        QVERIFY(refused([&] { t.FieldByName("INDEKS").setAsInteger(100000); }, "INDEKS"));
        QVERIFY(
            refused([&] { t.FieldByName("INDEKS").setAsString(QStringLiteral("abc")); }, "INDEKS"));
        QVERIFY(
            refused([&] { t.FieldByName("INDEKS").setAsDateTime(QDateTime::currentDateTime()); },
                    "INDEKS"));
        t.FieldByName(QStringLiteral("UWAGI")).setAsString(QString(254, u'ż'));
        t.Post();
        QCOMPARE(t.FieldByName(QStringLiteral("INDEKS")).asInteger(), 5);
        QCOMPARE(t.FieldByName(QStringLiteral("UWAGI")).asString(), QString(254, u'ż'));
    }

    void fieldLookup() {
        TTable t(fresh(QStringLiteral("names.dbf"), true));
        t.Open();
        QCOMPARE(t.fieldIndex(QStringLiteral("indeks")), 0);
        QCOMPARE(t.fieldIndex(QStringLiteral("Zdarzenie")), 3);
        QCOMPARE(t.fieldIndex(QStringLiteral("n3l3_umax")), 25);
        QCOMPARE(t.fieldIndex(QStringLiteral("Program")), 27);
        QCOMPARE(t.FieldByName(QStringLiteral("uWaGi")).index(), 4);
        QCOMPARE(t.fieldIndex(QStringLiteral("UWAG")), -1);
        QVERIFY_THROWS_EXCEPTION(ETable, t.FieldByName(QStringLiteral("NAPIECIE")));
        try {
            t.FieldByName(QStringLiteral("NAPIECIE"));
        } catch (const ETable& e) {
            QVERIFY(e.message().contains(QLatin1String("NAPIECIE")));
            QVERIFY(e.message().contains(QLatin1String("names.dbf")));
        }
    }

    // Start-up reads INDEKS of the last row and falls back to 0 when that fails.
    void asIntegerFailures() {
        TTable t(fresh(QStringLiteral("int.dbf"), true));
        t.Open();
        t.Last();
        QCOMPARE(t.RecNo(), -1);
        QVERIFY_THROWS_EXCEPTION(ETable, t.FieldByName(QStringLiteral("INDEKS")).asInteger());
        QCOMPARE(t.FieldByName(QStringLiteral("INDEKS")).asString(), QString());

        appendEvent(t, 499, QStringLiteral("a"));
        appendEvent(t, 3, QStringLiteral("b"));
        t.Last();
        QCOMPARE(t.FieldByName(QStringLiteral("INDEKS")).asInteger(), 3);
        t.setRecNo(0);
        QCOMPARE(t.FieldByName(QStringLiteral("INDEKS")).asInteger(), 499);
        QVERIFY_THROWS_EXCEPTION(ETable, t.FieldByName(QStringLiteral("DATA")).asInteger());

        t.Append(); // INDEKS left empty
        t.FieldByName(QStringLiteral("ZDARZENIE")).setAsString(QStringLiteral("c"));
        t.Post();
        t.Last();
        QVERIFY_THROWS_EXCEPTION(ETable, t.FieldByName(QStringLiteral("INDEKS")).asInteger());
    }

    // A new row that was given values is posted, not dropped, when the
    // caller moves on; one without values is dropped. A field can only be set
    // on a new row, except the remarks.
    void pendingRow() {
        TTable t(fresh(QStringLiteral("pending.dbf"), false));
        t.Open();
        QVERIFY_THROWS_EXCEPTION(ETable, t.FieldByName(QStringLiteral("N1L1")).setAsInteger(1));
        t.Append();
        QCOMPARE(t.RecNo(), 0);
        t.Last();
        QCOMPARE(t.RecordCount(), 0);
        t.Append();
        t.FieldByName(QStringLiteral("N1L1")).setAsInteger(7);
        t.Append();
        QCOMPARE(t.RecordCount(), 1);
        t.FieldByName(QStringLiteral("N1L1")).setAsInteger(8);
        t.Close();
        t.Open();
        QCOMPARE(t.RecordCount(), 2);
        QCOMPARE(t.numberValue(1, 1), 8.0);
        QVERIFY_THROWS_EXCEPTION(ETable, t.FieldByName(QStringLiteral("N1L1")).setAsInteger(9));
        QVERIFY_THROWS_EXCEPTION(
            ETable,
            t.FieldByName(QStringLiteral("CZAS")).setAsString(QStringLiteral("2026-01-01")));
        QCOMPARE(t.numberValue(0, 1), 7.0);
    }

    // Damage of the kinds a crash or a power loss leaves at the end of the
    // file. Each table starts as 3 good rows plus the end mark.
    void tornAppend_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("rows");
        QTest::newRow("intact") << "none" << 3;
        QTest::newRow("cut mid-row, count 3") << "cut" << 2;
        QTest::newRow("cut inside the first row") << "cutFirst" << 0;
        QTest::newRow("count too high") << "countHigh" << 3;
        QTest::newRow("count too low") << "countLow" << 3;
        QTest::newRow("row written, count not") << "extraRow" << 4;
        QTest::newRow("partial row over the end mark") << "partial" << 3;
        QTest::newRow("zeros after the rows") << "zeros" << 3;
        QTest::newRow("end mark missing") << "noMark" << 3;
    }
    void tornAppend() {
        QFETCH(QString, damage);
        QFETCH(int, rows);
        const QString file = fresh(QStringLiteral("torn.dbf"), false);
        {
            TTable t(file);
            t.Open();
            for (int r = 0; r < 4; ++r)
                appendLinia(t, r);
        }
        const QByteArray four = readAll(file);
        const int hl = headerLength(four);
        const int rl = recordLength(four);
        QCOMPARE(four.size(), hl + 4 * rl + 1);
        const QByteArray row3 = four.mid(hl + 3 * rl, rl);
        QByteArray f = four.left(hl + 3 * rl) + '\x1a';
        setLe32(f, 4, 3);
        if (damage == u"cut") {
            f.truncate(hl + 2 * rl + rl / 2);
        } else if (damage == u"cutFirst") {
            f.truncate(hl + 10);
        } else if (damage == u"countHigh") {
            setLe32(f, 4, 7);
        } else if (damage == u"countLow") {
            setLe32(f, 4, 1);
        } else if (damage == u"extraRow") {
            f = f.left(hl + 3 * rl) + row3 + '\x1a';
        } else if (damage == u"partial") {
            f = f.left(hl + 3 * rl) + row3.left(20);
        } else if (damage == u"zeros") {
            f += QByteArray(rl * 2, '\0');
        } else if (damage == u"noMark") {
            f.chop(1);
        }
        writeAll(file, f);

        const bool agrees = damage == u"none" || damage == u"noMark";
        QCOMPARE(runTool({QStringLiteral("check"), file}).code, agrees ? 0 : 1);

        {
            TTable t(file);
            t.Open();
            QCOMPARE(t.RecordCount(), rows);
            for (int r = 0; r < rows; ++r)
                QVERIFY2(rowHolds(t, r, r), qPrintable(QStringLiteral("row %1").arg(r)));
            t.Last();
            QCOMPARE(t.RecNo(), rows - 1);
            appendLinia(t, 100);
            QCOMPARE(t.RecNo(), rows);
            QVERIFY(rowHolds(t, rows, 100));
        }
        const QByteArray after = readAll(file);
        QCOMPARE(headerCount(after), rows + 1);
        QCOMPARE(after.size(), hl + (rows + 1) * rl + 1);
        QCOMPARE(after.left(hl + rows * rl).mid(32), f.left(hl + rows * rl).mid(32));
        QCOMPARE(runTool({QStringLiteral("check"), file}).code, 0);
        TTable t(file);
        t.Open();
        QCOMPARE(t.RecordCount(), rows + 1);
        QVERIFY(rowHolds(t, rows, 100));
    }

    // A process killed at any moment leaves every row whose Post returned.
    void killedWriter() {
        const QString file = fresh(QStringLiteral("killed.dbf"), false);
        int posted = 0;
        for (int round = 0; round < 6; ++round) {
            QProcess p;
            p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--writer"), file});
            QVERIFY(p.waitForStarted());
            QElapsedTimer clock;
            clock.start();
            const int wait = 40 + int(QRandomGenerator::global()->bounded(200));
            while (clock.elapsed() < wait && p.state() == QProcess::Running)
                p.waitForReadyRead(5);
            p.kill();
            QVERIFY(p.waitForFinished());
            const QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
            for (const QByteArray& l : lines)
                if (!l.isEmpty())
                    posted = std::max(posted, l.toInt());
            TTable t(file);
            t.Open();
            QVERIFY2(
                t.RecordCount() >= posted,
                qPrintable(QStringLiteral("%1 rows, %2 posted").arg(t.RecordCount()).arg(posted)));
            QVERIFY(t.RecordCount() <= posted + 1);
            for (int r = 0; r < t.RecordCount(); ++r)
                QVERIFY2(rowHolds(t, r, r), qPrintable(QStringLiteral("row %1").arg(r)));
            posted = t.RecordCount();
        }
        QVERIFY(posted > 0);
        // Backwards too, as a grid scrolled up reads them.
        TTable t(file);
        t.Open();
        for (int r = t.RecordCount() - 1; r >= 0; --r)
            QVERIFY2(rowHolds(t, r, r), qPrintable(QStringLiteral("row %1").arg(r)));
    }

    // After Post returns the row is in the file: raw bytes, a second table
    // object on the same file, and another process all see it.
    void postReachesFile() {
        const QString file = fresh(QStringLiteral("shared.dbf"), false);
        TTable writer(file);
        writer.Open();
        appendLinia(writer, 0);
        appendLinia(writer, 1);
        TTable reader(file);
        reader.Open();
        reader.setRecNo(1);

        appendLinia(writer, 2);
        const QByteArray raw = readAll(file);
        QCOMPARE(headerCount(raw), 3);
        QCOMPARE(raw.size(), headerLength(raw) + 3 * recordLength(raw) + 1);
        QCOMPARE(le(raw, headerLength(raw) + 2 * recordLength(raw) + 5, 4), 49509000u); // 13:45:09

        QCOMPARE(reader.RecordCount(), 2);
        reader.Refresh();
        QCOMPARE(reader.RecordCount(), 3);
        QCOMPARE(reader.RecNo(), 1);
        QVERIFY(rowHolds(reader, 2, 2));

        const Run dump = runTool({QStringLiteral("dump"), file});
        QCOMPARE(dump.code, 0);
        QVERIFY(dump.out.contains(QStringLiteral("2026-12-10 13:45:09\t")));
    }

    // Only UWAGI of the chosen row changes, byte for byte.
    void rewriteRemarks() {
        const QString file = fresh(QStringLiteral("remarks.dbf"), true);
        TTable t(file);
        t.Open();
        for (int i = 0; i < 3; ++i)
            appendEvent(t, i, QStringLiteral("Zdarzenie %1").arg(i));
        const QByteArray before = readAll(file);
        const int hl = headerLength(before);
        const int rl = recordLength(before);
        const int uwagi = 1 + 5 + 11 + 5 + 80;
        const QString remark = QStringLiteral("Sprawdzono łącznik; ") + kPolish;

        t.rewriteString(1, t.fieldIndex(QStringLiteral("UWAGI")), remark);
        QByteArray after = readAll(file);
        QCOMPARE(after.size(), before.size());
        for (int i = 0; i < before.size(); ++i) {
            const bool inRemark = i >= hl + rl + uwagi && i < hl + rl + uwagi + 254;
            if (!inRemark && i >= 32)
                QVERIFY2(after[i] == before[i],
                         qPrintable(QStringLiteral("byte %1 changed").arg(i)));
        }
        QVERIFY(after.contains(hex("b9e6eab3f1f39c9fbfa5c6caa3d1d38c8faf")));
        QCOMPARE(t.stringValue(1, 4), remark);

        // The same through the field of the current row, as the grid does it.
        t.setRecNo(2);
        t.FieldByName(QStringLiteral("uwagi")).setAsString(QStringLiteral("druga"));
        QVERIFY_THROWS_EXCEPTION(ETable,
                                 t.FieldByName(QStringLiteral("ZDARZENIE")).setAsString("x"));
        QVERIFY_THROWS_EXCEPTION(ETable, t.rewriteString(0, 0, QStringLiteral("1")));
        QVERIFY_THROWS_EXCEPTION(ETable, t.rewriteString(3, 4, QStringLiteral("poza tabelą")));
        t.Close();

        TTable u(file);
        u.Open();
        QCOMPARE(u.stringValue(1, 4), remark);
        QCOMPARE(u.stringValue(2, 4), QStringLiteral("druga"));
        QCOMPARE(u.stringValue(2, 3), QStringLiteral("Zdarzenie 2"));
        QVERIFY(u.isNull(0, 4));
    }

    // Tables made elsewhere: the code page comes from a .cpg file beside the
    // table or the header's language driver; unknown means Windows-1250.
    void codePageOfExistingTable_data() {
        QTest::addColumn<int>("ldid");
        QTest::addColumn<QByteArray>("cpg");
        QTest::addColumn<QString>("page");
        QTest::addColumn<QByteArray>("bytes"); // kPolish as stored
        const QByteArray cp1250 = hex("b9e6eab3f1f39c9fbfa5c6caa3d1d38c8faf");
        QTest::newRow("LDID 0xC8") << 0xC8 << QByteArray() << "CP1250" << cp1250;
        QTest::newRow("LDID 0x64")
            << 0x64 << QByteArray() << "CP852" << hex("a586a988e4a298abbea48fa89de3e0978dbd");
        QTest::newRow("no marking") << 0 << QByteArray() << "CP1250" << cp1250;
        QTest::newRow("LDID 0x57") << 0x57 << QByteArray() << "CP1250" << cp1250;
        QTest::newRow(".cpg UTF-8") << 0xC8 << QByteArray("UTF-8\n") << "UTF-8" << kPolish.toUtf8();
        QTest::newRow(".cpg 1250") << 0x64 << QByteArray("1250") << "CP1250" << cp1250;
    }
    void codePageOfExistingTable() {
        QFETCH(int, ldid);
        QFETCH(QByteArray, cpg);
        QFETCH(QString, page);
        QFETCH(QByteArray, bytes);
        const QString file = fresh(QStringLiteral("page.dbf"), true);
        QByteArray f = readAll(file);
        f[29] = char(ldid);
        writeAll(file, f);
        QFile::remove(path(QStringLiteral("page.cpg")));
        if (!cpg.isEmpty())
            writeAll(path(QStringLiteral("page.cpg")), cpg);
        {
            TTable t(file);
            t.Open();
            QCOMPARE(t.codePage(), page);
            appendEvent(t, 1, kPolish);
        }
        QVERIFY(readAll(file).contains(bytes));
        TTable t(file);
        t.Open();
        QCOMPARE(t.stringValue(0, 3), kPolish);
        QFile::remove(path(QStringLiteral("page.cpg")));
    }

    void openAndCreateErrors_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content"); // empty: no file
        QTest::addColumn<QString>("mentions");
        QTest::newRow("missing file") << "brak.dbf" << QByteArray() << "brak.dbf";
        QTest::newRow("missing folder") << "rejestr/brak.dbf" << QByteArray() << "rejestr";
        QTest::newRow("text file")
            << "tekst.dbf" << QByteArray("INDEKS;DATA\n1;2\n") << "tekst.dbf";
        QTest::newRow("short header")
            << "krotki.dbf" << QByteArray("\x03\x7e\x0c\x0a", 4) << "krotki.dbf";
        QByteArray wrongLength = readAll(fresh(QStringLiteral("tmpl.dbf"), false));
        wrongLength[10] = char(60); // record length that the fields do not add up to
        QTest::newRow("fields disagree") << "pola.dbf" << wrongLength << "pola.dbf";
    }
    void openAndCreateErrors() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, mentions);
        const QString file = path(name);
        if (!content.isEmpty())
            writeAll(file, content);
        TTable t(file);
        try {
            t.Open();
            QFAIL("Open succeeded");
        } catch (const ETable& e) {
            QVERIFY2(e.message().contains(mentions), qPrintable(e.message()));
        }
        QVERIFY(!t.Active());
        QVERIFY_THROWS_EXCEPTION(ETable, t.Append());
    }

    void createRefusesToOverwrite() {
        const QString file = fresh(QStringLiteral("keep.dbf"), false);
        {
            TTable t(file);
            t.Open();
            appendLinia(t, 0);
        }
        const QByteArray before = readAll(file);
        QVERIFY_THROWS_EXCEPTION(ETable, TTable::createLinia(file));
        QVERIFY_THROWS_EXCEPTION(ETable, TTable::createRejestr(file));
        QCOMPARE(readAll(file), before);
        QVERIFY_THROWS_EXCEPTION(ETable,
                                 TTable::createLinia(path(QStringLiteral("nie/ma/linia.dbf"))));
    }

    void tool() {
        const QString root = path(QStringLiteral("install"));
        QDir().mkpath(root);
        Run r = runTool({QStringLiteral("create"), root});
        QCOMPARE(r.code, 0);
        const QString rejestr = root + QStringLiteral("/rejestr/rejestr.dbf");
        const QString linia = root + QStringLiteral("/rejestr/linia.dbf");
        QVERIFY(QFile::exists(rejestr));
        QVERIFY(QFile::exists(linia));

        r = runTool({QStringLiteral("create"), root});
        QVERIFY(r.code != 0);
        QVERIFY2(r.err.contains(QLatin1String("exists")), qPrintable(r.err));

        {
            TTable t(rejestr);
            t.Open();
            appendEvent(t, 42, kPolish);
            TTable l(linia);
            l.Open();
            appendLinia(l, 0);
        }
        r = runTool({QStringLiteral("dump"), rejestr});
        QCOMPARE(r.code, 0);
        QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY(
            lines[0].startsWith(QLatin1String("INDEKS\tDATA\tCZAS\tZDARZENIE\tUWAGI\tN1_STATUS")));
        QCOMPARE(lines[0].split(u'\t').size(), 28);
        QVERIFY(lines[1].startsWith(QStringLiteral("42\t2010-03-07\t09:05\t") + kPolish + u'\t'));

        r = runTool({QStringLiteral("dump"), linia});
        QCOMPARE(r.code, 0);
        lines = r.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0],
                 QStringLiteral("CZAS\tN1L1\tN1L2\tN1L3\tN2L1\tN2L2\tN2L3\tN3L1\tN3L2\tN3L3"));
        QVERIFY(lines[1].startsWith(QLatin1String("2026-12-10 13:45:07\t0\t101\t")));

        r = runTool({QStringLiteral("check"), linia});
        QCOMPARE(r.code, 0);
        QByteArray f = readAll(linia);
        setLe32(f, 4, 5);
        writeAll(linia, f);
        r = runTool({QStringLiteral("check"), linia});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.out.contains(QLatin1String("header count 5")) &&
                     r.out.contains(QLatin1String("1 complete rows")),
                 qPrintable(r.out));

        QVERIFY(runTool({}).code != 0);
        r = runTool({QStringLiteral("dump")});
        QVERIFY(r.code != 0);
        QVERIFY(r.err.contains(QLatin1String("Usage")));
        r = runTool({QStringLiteral("dump"), path(QStringLiteral("brak.dbf"))});
        QVERIFY(r.code != 0);
        QVERIFY(r.err.contains(QLatin1String("brak.dbf")));
    }
};

int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], "--writer") == 0)
        return runWriter(QString::fromLocal8Bit(argv[2]));
    QCoreApplication app(argc, argv);
    TestTable tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_table.moc"
