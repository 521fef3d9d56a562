#include "history/linehistory.h"

#include "tables/table.h"

namespace qta {

TLineHistory::TLineHistory(std::function<TTable*()> table, QObject* parent, qint64 backgroundFrom)
    : QObject(parent), table_(std::move(table)), backgroundFrom_(backgroundFrom) {}

TLineHistory::~TLineHistory() {
    cancel_ = true;
    if (worker_.joinable())
        worker_.join();
}

void TLineHistory::refresh() {
    TTable* t = table_ ? table_() : nullptr;
    if (!t)
        throw ETable(QStringLiteral("Tabela linia.dbf nie jest otwarta"));
    t->Refresh(); // raises when the table is not open
    const qint64 rows = t->RecordCount();
    if (ready_) {
        index_->extendTo(rows);
        return;
    }
    if (worker_.joinable())
        return; // the first build is still running
    if (rows < backgroundFrom_) {
        index_ = std::make_shared<TLineIndex>();
        index_->open(t->fileName(), rows);
        ready_ = true;
        return;
    }
    startBuild(t->fileName(), rows);
}

void TLineHistory::startBuild(const QString& path, qint64 rows) {
    percent_ = 0;
    Q_EMIT progress(0);
    worker_ = std::thread([this, path, rows] {
        auto built = std::make_shared<TLineIndex>();
        QString error;
        try {
            built->open(path, 0);
            built->extendTo(rows, [this, rows](qint64 done) {
                const int p = int(done * 100 / std::max<qint64>(1, rows));
                QMetaObject::invokeMethod(this, [this, p] {
                    percent_ = p;
                    Q_EMIT progress(p);
                });
                return !cancel_.load();
            });
        } catch (const std::exception& e) {
            error = QString::fromUtf8(e.what());
        }
        if (cancel_)
            return;
        QMetaObject::invokeMethod(this, [this, built, error] {
            if (!error.isEmpty()) {
                worker_.join();
                Q_EMIT failed(error);
                return;
            }
            finishBuild(built);
        });
    });
}

void TLineHistory::finishBuild(std::shared_ptr<TLineIndex> built) {
    worker_.join();
    index_ = std::move(built);
    ready_ = true;
    percent_ = 100;
    Q_EMIT ready();
}

} // namespace qta
