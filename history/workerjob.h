// One piece of work on a worker thread, reported back to the thread that made
// the job: its progress, and once at the end whether it was done, stopped or
// failed. The exports of the tables and the report run through it, so that a
// window's thread goes on with its events meanwhile.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <thread>

namespace qta {

class TWorkerJob : public QObject {
    Q_OBJECT
public:
    // Called by the work from time to time; returns false once the job is
    // stopped, and the work should then give up soon.
    using Progress = std::function<bool(qint64 done, qint64 total)>;
    // The work: true when done, false when it gave up because it was stopped.
    // An exception is a failure, its what() (UTF-8) the error. It runs on
    // another thread, so it holds copies of what it reads, never the job's
    // members, and hands its results over through something it shares with
    // the job (they are complete when `finished` arrives).
    using Work = std::function<bool(const Progress&)>;

    explicit TWorkerJob(QObject* parent = nullptr);
    // Stops the work and waits for the worker.
    ~TWorkerJob() override;

    void stop() { stop_ = true; }
    bool stopped() const { return stop_; }
    bool running() const { return worker_.joinable(); }

Q_SIGNALS:
    void progress(qint64 done, qint64 total);
    // `error` is empty when done or stopped.
    void finished(bool done, const QString& error);

protected:
    // Starts the work, once per job; a stop that came before makes the work
    // end at its first report.
    void run(Work work);

private:
    std::thread worker_;
    std::atomic<bool> stop_{false};
    bool started_ = false;
};

} // namespace qta
