#include "checker.h"

#include "../testpaths.h"
#include "alarms/alarmjournal.h"
#include "core/workfolder.h"
#include "tables/table.h"
#include "tables/tablecheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <map>

namespace crash {

using qta::ETable;
using qta::TTable;

namespace {

Verdict fail(const QString& why) { return {false, why}; }

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every field of every row through the table layer's readers.
void readEvery(TTable& t) {
    const int fields = int(t.fieldNames().size());
    for (int r = 0; r < t.RecordCount(); ++r)
        for (int f = 0; f < fields; ++f)
            (void)t.stringValue(r, f);
}

// A row of the kind any of the tables takes: a number where one fits, a date
// where a date goes, a text elsewhere.
void appendProbe(TTable& t) {
    t.Append();
    for (const QString& name : t.fieldNames()) {
        qta::TField field = t.FieldByName(name);
        try {
            field.setAsInteger(7);
        } catch (const ETable&) {
            try {
                field.setAsDateTime(QDateTime(QDate(2030, 1, 2), QTime(3, 4, 5)));
            } catch (const ETable&) {
                field.setAsString(QStringLiteral("po awarii"));
            }
        }
    }
    t.Post();
}

// The rows a plain dBase reader yields: from the end of the header, row by
// row, up to the end mark or the end of the file; a row marked ' ' is shown
// (cut short if the file ends inside it), any other mark is skipped. By
// position, so that a skipped row does not shift the ones after it.
std::map<int, QByteArray> plainRows(const QByteArray& bytes) {
    std::map<int, QByteArray> rows;
    const int hl = headerLength(bytes);
    const int rl = recordLength(bytes);
    if (hl < 32 || rl < 2)
        return rows;
    for (qint64 at = hl; at < bytes.size() && bytes[at] != '\x1A'; at += rl)
        if (bytes[at] == ' ')
            rows[int((at - hl) / rl)] = bytes.mid(at + 1, rl - 1);
    return rows;
}

} // namespace

std::vector<QByteArray> rawRows(const QByteArray& bytes, int rows) {
    std::vector<QByteArray> out;
    const int hl = headerLength(bytes);
    const int rl = recordLength(bytes);
    for (int r = 0; r < rows; ++r)
        out.push_back(bytes.mid(hl + qint64(r) * rl + 1, rl - 1));
    return out;
}

Checker::Checker(const Trace& trace, const QString& scratch, const QString& toolPath,
                 int sampleEvery)
    : trace_(trace), scratch_(scratch), tool_(toolPath), sampleEvery_(sampleEvery) {}

void Checker::layOut(const CrashState& state, const QString& folder) const {
    QDir(folder).removeRecursively();
    QDir().mkpath(folder + QStringLiteral("/rejestr"));
    for (const auto& [path, bytes] : state.files) {
        const QString file = folder + u'/' + relative(trace_, path);
        QDir().mkpath(QFileInfo(file).path());
        QFile f(file);
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
    }
}

Verdict Checker::check(const Replay& replay, const CrashState& state) {
    const QString dir = scratch_ + QStringLiteral("/state");
    layOut(state, dir);
    int tables = 0;
    for (const auto& [path, bytes] : state.files) {
        if (!path.endsWith(QLatin1String(".dbf")))
            continue;
        ++tables;
        const bool sample = tablesChecked_++ % sampleEvery_ == 0;
        const Verdict v =
            checkTable(replay, state, path, dir + u'/' + relative(trace_, path), sample);
        if (!v.ok)
            return v;
    }
    // Without all three tables the program's start must make a usable folder.
    return tables < 3 ? checkStart(state) : Verdict{};
}

Verdict Checker::checkTable(const Replay& replay, const CrashState& state, const QString& path,
                            const QString& file, bool sample) {
    const QString name = relative(trace_, path);
    int n = 0;
    try {
        TTable t(file);
        t.Open();
        n = t.RecordCount();
        readEvery(t);
    } catch (const ETable& e) {
        return fail(QStringLiteral("%1 does not open or read: %2").arg(name, e.message()));
    }
    const int inode = state.inode.at(path);
    const std::vector<QByteArray> rows = rawRows(state.files.at(path), n);
    const std::vector<QByteArray> synced = replay.syncedRows(inode);
    if (n < int(synced.size()))
        return fail(QStringLiteral("%1 opens with %2 rows, but %3 were synced (row %2 lost)")
                        .arg(name)
                        .arg(n)
                        .arg(synced.size()));
    for (int r = 0; r < n; ++r)
        if (!replay.rowVersion(inode, r, rows[size_t(r)], synced))
            return fail(QStringLiteral("%1 opens with %2 rows; row %3 is no row ever written "
                                       "(torn or mixed): %4")
                            .arg(name)
                            .arg(n)
                            .arg(r)
                            .arg(QString::fromLatin1(rows[size_t(r)].toHex())));
    // What any other reader of dBase files sees: whole rows, the synced ones all.
    const std::map<int, QByteArray> plain = plainRows(state.files.at(path));
    for (const auto& [r, content] : plain)
        if (!replay.rowVersion(inode, r, content, synced))
            return fail(QStringLiteral("%1: a plain dBase reader sees row %2 torn or mixed: %3")
                            .arg(name)
                            .arg(r)
                            .arg(QString::fromLatin1(content.toHex())));
    for (int r = 0; r < int(synced.size()); ++r)
        if (plain.count(r) == 0)
            return fail(QStringLiteral("%1: a plain dBase reader misses synced row %2 of %3")
                            .arg(name)
                            .arg(r)
                            .arg(synced.size()));
    try {
        (void)qta::dbf::checkTable(file);
    } catch (const ETable& e) {
        return fail(QStringLiteral("%1: the table check refuses it: %2").arg(name, e.message()));
    }
    if (sample) {
        if (const Verdict v = runTool(file, n, false); !v.ok)
            return v;
        const QString copy = scratch_ + QStringLiteral("/dbfread/%1.dbf").arg(samples_++);
        QFile::copy(file, copy);
        dbfread_.push_back({copy, rows, int(synced.size()), false});
    }

    // The next start appends to it.
    try {
        TTable t(file);
        t.Open();
        appendProbe(t);
        t.Close();
        TTable back(file);
        back.Open();
        if (back.RecordCount() != n + 1)
            return fail(QStringLiteral("%1: after the next append it opens with %2 rows, not %3")
                            .arg(name)
                            .arg(back.RecordCount())
                            .arg(n + 1));
        readEvery(back);
    } catch (const ETable& e) {
        return fail(QStringLiteral("%1: the next append fails: %2").arg(name, e.message()));
    }
    const QByteArray afterBytes = readFile(file);
    const std::vector<QByteArray> after = rawRows(afterBytes, n + 1);
    for (int r = 0; r < n; ++r)
        if (after[size_t(r)] != rows[size_t(r)])
            return fail(QStringLiteral("%1: the next append changed row %2").arg(name).arg(r));
    const std::map<int, QByteArray> plainAfter = plainRows(afterBytes);
    if (int(plainAfter.size()) != n + 1 ||
        !std::equal(after.begin(), after.end(), plainAfter.begin(),
                    [](const QByteArray& a, const auto& p) { return a == p.second; }))
        return fail(QStringLiteral("%1 after the next append: a plain dBase reader sees %2 rows, "
                                   "not the %3 the table holds")
                        .arg(name)
                        .arg(plainAfter.size())
                        .arg(n + 1));
    const qta::dbf::TableCheck c = qta::dbf::checkTable(file);
    if (!c.agree)
        return fail(QStringLiteral("%1 after the next append: %2").arg(name, c.report.trimmed()));
    if (sample) {
        if (const Verdict v = runTool(file, n + 1, true); !v.ok)
            return v;
        const QString copy = scratch_ + QStringLiteral("/dbfread/%1.dbf").arg(samples_++);
        QFile::copy(file, copy);
        dbfread_.push_back({copy, after, n + 1, true});
    }
    return {};
}

Verdict Checker::checkStart(const CrashState& state) {
    const QString dir = scratch_ + QStringLiteral("/start");
    layOut(state, dir);
    try {
        qta::prepareWorkFolder(dir);
        for (const char* name : {"rejestr.dbf", "linia.dbf"}) {
            TTable t(dir + QStringLiteral("/rejestr/") + QLatin1String(name));
            t.Open();
            readEvery(t);
        }
        qta::TAlarmJournal journal(dir + QStringLiteral("/rejestr/alarmy.dbf"));
        journal.open();
        (void)journal.readAll();
    } catch (const std::exception& e) {
        QStringList present;
        for (const auto& [path, bytes] : state.files)
            present << QStringLiteral("%1 (%2 B)").arg(relative(trace_, path)).arg(bytes.size());
        return fail(QStringLiteral("the next start fails with %1: %2")
                        .arg(present.isEmpty() ? QStringLiteral("no files")
                                               : present.join(QStringLiteral(", ")),
                             QString::fromUtf8(e.what())));
    }
    return {};
}

Verdict Checker::runTool(const QString& file, int rows, bool mustAgree) {
    QProcess check;
    check.start(tool_, {QStringLiteral("check"), file});
    check.waitForFinished(10000);
    ++toolRuns_;
    const int code = check.exitStatus() == QProcess::NormalExit ? check.exitCode() : -1;
    if (code != 0 && (mustAgree || code != 1))
        return fail(QStringLiteral("qta504-tables check %1 exits %2: %3")
                        .arg(file)
                        .arg(code)
                        .arg(QString::fromUtf8(check.readAll() + check.readAllStandardError())));
    QProcess dump;
    dump.start(tool_, {QStringLiteral("dump"), file});
    dump.waitForFinished(10000);
    ++toolRuns_;
    const QList<QByteArray> lines = dump.readAllStandardOutput().split('\n');
    const qsizetype shown = lines.size() - 1; // after the last newline
    if (dump.exitCode() != 0 || shown != rows + 1)
        return fail(QStringLiteral("qta504-tables dump %1 exits %2 with %3 rows, not %4")
                        .arg(file)
                        .arg(dump.exitCode())
                        .arg(shown - 1)
                        .arg(rows));
    return {};
}

Verdict Checker::finishSamples(bool* missing) {
    *missing = !QFile::exists(QStringLiteral("/usr/bin/python3"));
    if (dbfread_.empty() || *missing)
        return {};
    QProcess py;
    py.start(QStringLiteral("/usr/bin/python3"),
             {qta::test::sourcePath(QStringLiteral("tests/crash/dbfread_rows.py"))});
    QByteArray list;
    for (const DbfreadCase& c : dbfread_)
        list += QFile::encodeName(c.file) + '\n';
    py.write(list);
    py.closeWriteChannel();
    py.waitForFinished(600000);
    if (py.exitCode() == 3) {
        *missing = true;
        return {};
    }
    const QList<QByteArray> out = py.readAllStandardOutput().split('\n');
    qsizetype at = 0;
    for (const DbfreadCase& c : dbfread_) {
        const QList<QByteArray> head = at < out.size() ? out[at++].split(' ') : QList<QByteArray>();
        if (head.value(0) != "OK")
            return fail(QStringLiteral("dbfread fails on %1: %2")
                            .arg(c.file, QString::fromUtf8(out.value(at - 1))));
        const int n = head.value(2).toInt();
        if (n < c.atLeast || n > int(c.rows.size()) || (c.all && n != int(c.rows.size())))
            return fail(QStringLiteral("dbfread shows %1 rows of %2 (table layer: %3, synced %4)")
                            .arg(n)
                            .arg(c.file)
                            .arg(c.rows.size())
                            .arg(c.atLeast));
        for (int r = 0; r < n; ++r)
            if (QByteArray::fromHex(out.value(at++)) != c.rows[size_t(r)])
                return fail(QStringLiteral("dbfread reads row %1 of %2 otherwise than the table "
                                           "layer")
                                .arg(r)
                                .arg(c.file));
    }
    return {};
}

} // namespace crash
