#include "history/linehistory.h"

#include "history/lineindexfile.h"
#include "tables/table.h"

#include <QDebug>

namespace qta {

TLineHistory::TLineHistory(std::function<TTable*()> table, QObject* parent, qint64 backgroundFrom)
    : QObject(parent), table_(std::move(table)), backgroundFrom_(backgroundFrom) {}

TLineHistory::~TLineHistory() {
    cancel_ = true;
    if (worker_.joinable())
        worker_.join();
    // A long run: the next one starts from here rather than from the last save.
    if (ready_ && !keptFile_.isEmpty() && index_->rows() - savedRows_ >= kResaveRows) {
        QString error;
        if (!TLineIndexFile::save(*index_, keptFile_, &error))
            qWarning().noquote() << error;
    }
}

void TLineHistory::note(const QString& message) {
    keptNote_ = message;
    qWarning().noquote() << message;
    Q_EMIT noted(message);
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
    keptFile_ = TLineIndexFile::pathFor(path);
    Q_EMIT progress(0);
    worker_ = std::thread([this, path, rows, kept = keptFile_] {
        auto built = std::make_shared<TLineIndex>();
        QString error;
        qint64 loaded = 0;
        try {
            built->open(path, 0);
            QString why;
            if (TLineIndexFile::load(*built, kept, &why))
                loaded = built->rows();
            else if (!why.isEmpty())
                QMetaObject::invokeMethod(this, [this, why] { note(why); });
            built->extendTo(rows, [this, rows, loaded](qint64 done) {
                const int p = int((done - loaded) * 100 / std::max<qint64>(1, rows - loaded));
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
        if (!error.isEmpty()) {
            QMetaObject::invokeMethod(this, [this, error] {
                worker_.join();
                Q_EMIT failed(error);
            });
            return;
        }
        // The file is written after the windows have their index: taken as it
        // is now, before the window thread extends it.
        const qint64 indexed = built->rows();
        const QByteArray image = indexed > loaded ? TLineIndexFile::image(*built) : QByteArray();
        QMetaObject::invokeMethod(this, [this, built, loaded] { finishBuild(built, loaded); });
        if (indexed <= loaded) {
            QMetaObject::invokeMethod(this, [this] { worker_.join(); });
            return;
        }
        QString failure;
        const bool written = TLineIndexFile::write(image, kept, &failure);
        if (written)
            savedRows_ = indexed;
        QMetaObject::invokeMethod(this, [this, written, failure] {
            worker_.join();
            if (!written)
                note(failure);
            Q_EMIT saved(written);
        });
    });
}

void TLineHistory::finishBuild(std::shared_ptr<TLineIndex> built, qint64 kept) {
    index_ = std::move(built);
    keptRows_ = kept;
    if (savedRows_ < kept)
        savedRows_ = kept;
    ready_ = true;
    percent_ = 100;
    Q_EMIT ready();
}

} // namespace qta
