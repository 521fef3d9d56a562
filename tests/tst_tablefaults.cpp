// Writes of the table layer that fail: a full disk, an I/O error, a short
// write or a file-size limit at any write of an append, a post, a remark or a
// create leaves the file byte for byte as it was, and the row is written once
// the writes succeed again.
#include "tables/table.h"
#include "tables/tablefile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>

using namespace qta;
using dbf::WriteFault;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void appendLinia(TTable& t, int r) {
    t.Append();
    t.FieldByName(QStringLiteral("CZAS"))
        .setAsDateTime(QDateTime(QDate(2026, 10, 25), QTime(2, 30)).addSecs(r));
    for (int i = 1; i <= 9; ++i)
        t.FieldByName(t.fieldNames().at(i)).setAsInteger(r * 10 + i);
}

void appendEvent(TTable& t, int indeks) {
    t.Append();
    t.FieldByName(QStringLiteral("INDEKS")).setAsInteger(indeks);
    t.FieldByName(QStringLiteral("DATA")).setAsString(QStringLiteral("2026-12-10 "));
    t.FieldByName(QStringLiteral("ZDARZENIE")).setAsString(QStringLiteral("Zanik napięcia N1"));
}

// Counts the writes (and data syncs) that one operation makes; the n-th of
// them, counted from 0, fails as `fault` says.
struct FaultAt {
    int n = -1;
    WriteFault fault;
    int calls = 0;
    void install() {
        dbf::setWriteFaultHook(
            [this](qint64, qint64) { return calls++ == n ? fault : WriteFault{}; });
    }
};

struct HookGuard {
    ~HookGuard() { dbf::setWriteFaultHook(nullptr); }
};

enum class Op { AppendLinia, AppendEvent, Rewrite };

} // namespace

class TstTableFaults : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    // A table with three rows of the kind the operation needs.
    QString fixture(Op op, const QString& name) {
        const QString path = dir_.filePath(name);
        QFile::remove(path);
        if (op == Op::AppendLinia)
            TTable::createLinia(path);
        else
            TTable::createRejestr(path);
        TTable t(path);
        t.Open();
        for (int r = 0; r < 3; ++r) {
            if (op == Op::AppendLinia)
                appendLinia(t, r);
            else
                appendEvent(t, r);
            t.Post();
        }
        t.Close();
        return path;
    }

    // Runs the operation on an open table: an append posted, or a remark.
    static void run(Op op, TTable& t) {
        if (op == Op::AppendLinia) {
            appendLinia(t, 7);
            t.Post();
        } else if (op == Op::AppendEvent) {
            appendEvent(t, 7);
            t.Post();
        } else {
            t.rewriteString(1, t.fieldIndex(QStringLiteral("UWAGI")),
                            QStringLiteral("wymiana bezpiecznika"));
        }
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void failureAtEveryWrite_data() {
        QTest::addColumn<int>("op");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("partial");
        const struct {
            const char* name;
            Op op;
        } ops[] = {{"append linia", Op::AppendLinia},
                   {"append rejestr", Op::AppendEvent},
                   {"remark", Op::Rewrite}};
        for (const auto& o : ops) {
            QTest::addRow("%s, disk full", o.name) << int(o.op) << ENOSPC << 0;
            QTest::addRow("%s, I/O error", o.name) << int(o.op) << EIO << 0;
            QTest::addRow("%s, short write", o.name) << int(o.op) << ENOSPC << 3;
            QTest::addRow("%s, size limit", o.name) << int(o.op) << EFBIG << 1;
        }
    }

    // For each write of the operation in turn: that write fails, the file is
    // unchanged, the failure is an ETable naming the table; then, the writes
    // working again, the same operation (a retried post for an append) gives
    // exactly the file a run without failure gives.
    void failureAtEveryWrite() {
        QFETCH(int, op);
        QFETCH(int, error);
        QFETCH(int, partial);
        const Op o = Op(op);
        HookGuard guard;

        // The reference: the operation without any failure, and its writes.
        const QString ref = fixture(o, QStringLiteral("ref.dbf"));
        FaultAt counter;
        counter.install();
        {
            TTable t(ref);
            t.Open();
            run(o, t);
            t.Close();
        }
        const int writes = counter.calls;
        QVERIFY2(writes >= 2, qPrintable(QString::number(writes)));
        const QByteArray expected = readAll(ref);

        for (int k = 0; k < writes; ++k) {
            const QString path = fixture(o, QStringLiteral("t.dbf"));
            const QByteArray before = readAll(path);
            FaultAt f;
            f.n = k;
            f.fault = {error, partial};
            f.install();
            TTable t(path);
            t.Open();
            bool raised = false;
            try {
                run(o, t);
            } catch (const ETable& e) {
                raised = true;
                QVERIFY2(e.message().contains(path), qPrintable(e.message()));
            }
            QVERIFY2(raised, qPrintable(QStringLiteral("write %1 of %2").arg(k).arg(writes)));
            QVERIFY2(
                readAll(path) == before,
                qPrintable(QStringLiteral("write %1 of %2 changed the file").arg(k).arg(writes)));
            QCOMPARE(t.RecordCount(), 3);

            dbf::setWriteFaultHook(nullptr);
            if (o == Op::Rewrite)
                run(o, t);
            else
                t.Post(); // the pending row, tried again
            t.Close();
            QVERIFY2(readAll(path) == expected,
                     qPrintable(QStringLiteral("after a failure at write %1").arg(k)));
        }
    }

    // While the writes keep failing, each Append retries the one pending row
    // and raises; the rows of that time are lost, the earlier row is not.
    void appendsResumeWhenSpaceReturns() {
        HookGuard guard;
        const QString path = fixture(Op::AppendLinia, QStringLiteral("resume.dbf"));
        TTable t(path);
        t.Open();
        dbf::setWriteFaultHook([](qint64, qint64) { return WriteFault{ENOSPC, 0}; });
        appendLinia(t, 3);
        QVERIFY_THROWS_EXCEPTION(ETable, t.Post());
        for (int r = 4; r < 6; ++r)
            QVERIFY_THROWS_EXCEPTION(ETable, appendLinia(t, r));
        dbf::setWriteFaultHook(nullptr);
        appendLinia(t, 6);
        t.Post();
        t.Close();
        TTable back(path);
        back.Open();
        QCOMPARE(back.RecordCount(), 5);
        QCOMPARE(back.numberValue(3, 1), 31.0);
        QCOMPARE(back.numberValue(4, 1), 61.0);
    }

    void failedCreateLeavesNoFile() {
        HookGuard guard;
        FaultAt counter;
        counter.install();
        TTable::createRejestr(dir_.filePath(QStringLiteral("count.dbf")));
        const int writes = counter.calls;
        QVERIFY(writes >= 2);
        for (int k = 0; k < writes; ++k) {
            const QString path = dir_.filePath(QStringLiteral("new%1.dbf").arg(k));
            FaultAt f;
            f.n = k;
            f.fault = {ENOSPC, 0};
            f.install();
            QVERIFY_THROWS_EXCEPTION(ETable, TTable::createLinia(path));
            QVERIFY2(!QFile::exists(path), qPrintable(QStringLiteral("write %1").arg(k)));
        }
    }

    // A real file-size limit: with SIGXFSZ ignored (as the program does) the
    // write fails with EFBIG and takes the same path.
    void fileSizeLimit() {
        const QString path = fixture(Op::AppendLinia, QStringLiteral("limit.dbf"));
        const QByteArray before = readAll(path);
        rlimit old{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        auto* previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim = old;
        lim.rlim_cur = rlim_t(before.size() + 10);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &lim), 0);
        TTable t(path);
        t.Open();
        appendLinia(t, 3);
        bool raised = false;
        try {
            t.Post();
        } catch (const ETable&) {
            raised = true;
        }
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previous);
        QVERIFY(raised);
        QCOMPARE(readAll(path), before);
        t.Post();
        QCOMPARE(t.RecordCount(), 4);
    }
};

QTEST_GUILESS_MAIN(TstTableFaults)
#include "tst_tablefaults.moc"
