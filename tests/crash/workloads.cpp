#include "workloads.h"

#include "../simprocess.h"
#include "../waituntil.h"
#include "core/controller.h"
#include "tables/table.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

namespace crash {

using qta::TQTA504Core;
using qta::TTable;

namespace {

void runFor(int ms) {
    QElapsedTimer t;
    t.start();
    waitUntil([&] { return t.elapsed() >= ms; }, ms + 1000);
}

QString table(const QString& folder, const char* name) {
    return folder + QStringLiteral("/rejestr/") + QLatin1String(name);
}

// The core with its tables in `folder`, connected to a simulator as the start
// window leaves it: port open, link usable, identifier read.
class CoreRun {
public:
    bool start(const QString& folder, QStringList simArgs, QString* error) {
        QDir::setCurrent(folder);
        core_ = std::make_unique<TQTA504Core>(&view_);
        core_->openTables();
        sim_ = std::make_unique<SimProcess>(simDir_.filePath(QStringLiteral("qta")),
                                            simDir_.filePath(QStringLiteral("sim.log")),
                                            std::move(simArgs));
        if (!sim_->ready()) {
            *error = QStringLiteral("qta504-sim did not start: ") + sim_->readyLine();
            return false;
        }
        core_->ComPort.setPort(sim_->link());
        core_->ComPort.Open();
        core_->Flaga_Kom.OK = true;
        core_->RS_Identyfikator();
        if (!waitUntil([this] { return core_->Flaga_Kom.Id; }, 5000)) {
            *error = QStringLiteral("the core got no identifier from qta504-sim");
            return false;
        }
        return true;
    }
    // Closes as the program does when it ends (the end row, the final sync).
    void stop() {
        if (core_)
            core_->closeAll();
        core_.reset();
        sim_.reset();
    }
    ~CoreRun() { stop(); }
    TQTA504Core& core() { return *core_; }
    SimProcess& sim() { return *sim_; }

private:
    QTemporaryDir simDir_;
    qta::TNullView view_;
    std::unique_ptr<TQTA504Core> core_;
    std::unique_ptr<SimProcess> sim_;
};

void makeTables(const QString& folder, bool alarmy) {
    QDir().mkpath(folder + QStringLiteral("/rejestr"));
    TTable::createPair(table(folder, "rejestr.dbf"), table(folder, "linia.dbf"),
                       alarmy ? table(folder, "alarmy.dbf") : QString());
}

// First start: the three tables of a new installation.
Trace create(const QString& folder, QString*) {
    QDir().mkpath(folder + QStringLiteral("/rejestr"));
    Recorder rec(folder);
    TTable::createPair(table(folder, "rejestr.dbf"), table(folder, "linia.dbf"),
                       table(folder, "alarmy.dbf"));
    return rec.take();
}

// Status replies every 100 ms for 11.5 s: the start row, a voltage row per
// reply, the 10-s sync, the end row and the sync at closing.
Trace linia(const QString& folder, QString* error) {
    makeTables(folder, true);
    Recorder rec(folder);
    CoreRun run;
    if (!run.start(folder, {QStringLiteral("--period"), QStringLiteral("100")}, error))
        return {};
    runFor(11500);
    run.stop();
    return rec.take();
}

// The copy of a 50-record event log, one record a millisecond, while remarks
// are typed on rows already copied and status rows keep coming.
Trace rejestr(const QString& folder, QString* error) {
    makeTables(folder, true);
    Recorder rec(folder);
    CoreRun run;
    if (!run.start(folder,
                   {QStringLiteral("--period"), QStringLiteral("100"), QStringLiteral("--events"),
                    QStringLiteral("50")},
                   error))
        return {};
    TQTA504Core& core = run.core();
    int remarks = 0;
    QTimer typing;
    typing.setInterval(40);
    QObject::connect(&typing, &QTimer::timeout, [&] {
        TTable* t = core.Rejestr();
        const int rows = t->RecordCount();
        if (rows < 2)
            return;
        const int row = (remarks * 7) % (rows - 1);
        t->rewriteString(
            row, t->fieldIndex(QStringLiteral("UWAGI")),
            QStringLiteral("uwaga %1: sprawdzić stycznik N%2").arg(++remarks).arg(row));
    });
    typing.start();
    core.downloadIntervalMs = 1;
    core.Timer5.setInterval(1);
    core.armDownload();
    const bool copied = waitUntil(
        [&] { return core.Rejestr()->RecordCount() >= 50 && core.requestedRecord() < 0; }, 30000);
    runFor(200);
    typing.stop();
    run.stop();
    if (!copied) {
        *error = QStringLiteral("the event-log copy did not finish");
        return {};
    }
    return rec.take();
}

// An older folder without the journal (the core makes it), then a breaker
// trip raised, acknowledged with a remark, cleared and raised again.
Trace alarmy(const QString& folder, QString* error) {
    makeTables(folder, false);
    QFile ini(table(folder, "ustawienia.ini"));
    if (!ini.open(QIODevice::WriteOnly) || ini.write("[Alarmy]\nOpoznienieMigotania=0\n") < 0) {
        *error = QStringLiteral("cannot write the settings");
        return {};
    }
    ini.close();
    Recorder rec(folder);
    CoreRun run;
    if (!run.start(folder,
                   {QStringLiteral("--period"), QStringLiteral("100"), QStringLiteral("--awaria"),
                    QStringLiteral("128")},
                   error))
        return {};
    TQTA504Core& core = run.core();
    const auto raised = [&] { return !core.Alarmy.listed().empty(); };
    if (!waitUntil(raised, 5000)) {
        *error = QStringLiteral("no alarm was raised");
        return {};
    }
    runFor(300);
    for (const qta::TAlarm& a : core.Alarmy.listed())
        core.Alarmy.acknowledge(a.key, QStringLiteral("wyłącznik sprawdzony, zał. ponownie"));
    run.sim().command("awaria 0");
    runFor(1500);
    run.sim().command("awaria 128");
    runFor(1000);
    run.stop();
    return rec.take();
}

} // namespace

std::vector<Workload> workloads() {
    return {
        {QStringLiteral("create"),
         QStringLiteral("TTable::createPair with the alarm journal (first start)"), create},
        {QStringLiteral("linia"),
         QStringLiteral("core vs qta504-sim: status rows at 10/s for 11.5 s, 10-s sync, start "
                        "and end rows"),
         linia},
        {QStringLiteral("rejestr"),
         QStringLiteral("core vs qta504-sim: 50-record event-log copy with remarks typed "
                        "meanwhile"),
         rejestr},
        {QStringLiteral("alarmy"),
         QStringLiteral("core vs qta504-sim: journal made by the core, alarm raised, "
                        "acknowledged, cleared, raised"),
         alarmy},
    };
}

} // namespace crash
