#include "history/workerjob.h"

#include <exception>

namespace qta {

TWorkerJob::TWorkerJob(QObject* parent) : QObject(parent) {}

TWorkerJob::~TWorkerJob() {
    stop_ = true;
    if (worker_.joinable())
        worker_.join();
}

void TWorkerJob::run(Work work) {
    if (started_)
        return;
    started_ = true;
    worker_ = std::thread([this, work = std::move(work)] {
        bool done = false;
        QString error;
        try {
            done = work([this](qint64 d, qint64 total) {
                QMetaObject::invokeMethod(this, [this, d, total] { Q_EMIT progress(d, total); });
                return !stop_.load();
            });
        } catch (const std::exception& e) {
            error = QString::fromUtf8(e.what());
        } catch (...) {
            error = QStringLiteral("Nieoczekiwany błąd");
        }
        // Queued to the job's thread; dropped when the job is destroyed first.
        QMetaObject::invokeMethod(this, [this, done, error] {
            worker_.join();
            Q_EMIT finished(done && error.isEmpty(), error);
        });
    });
}

} // namespace qta
