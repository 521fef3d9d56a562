// The line-voltage history as the chart windows see it: one index of the main
// window's linia.dbf, shared by the three windows and kept for as long as the
// program runs, so that reopening a chart costs nothing.
//
// The first build of a large table runs on a worker thread (the rows below
// the count read at its start never change: the table is only appended to);
// meanwhile the windows show a progress text and stay responsive. Once built,
// each refresh reads only the rows appended since.
#pragma once

#include "history/lineindex.h"

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace qta {

class TTable;

class TLineHistory : public QObject {
    Q_OBJECT
public:
    // `table` gives the main window's line-voltage table (nullptr when it was
    // never opened). Tables of up to `backgroundFrom` rows are indexed at once.
    explicit TLineHistory(std::function<TTable*()> table, QObject* parent = nullptr,
                          qint64 backgroundFrom = 250000);
    ~TLineHistory() override;

    // Re-reads the table from its file and brings the index up to its rows.
    // Raises the table layer's error when the table is not open.
    void refresh();

    // nullptr while the first build runs.
    const TLineIndex* index() const { return ready_ ? index_.get() : nullptr; }
    bool building() const { return worker_.joinable() && !ready_; }
    int progressPercent() const { return percent_; }

Q_SIGNALS:
    void progress(int percent);
    // The first build has finished: the windows reload.
    void ready();
    void failed(const QString& message);

private:
    void startBuild(const QString& path, qint64 rows);
    void finishBuild(std::shared_ptr<TLineIndex> built);

    std::function<TTable*()> table_;
    qint64 backgroundFrom_;
    std::shared_ptr<TLineIndex> index_;
    bool ready_ = false;
    int percent_ = 0;
    std::thread worker_;
    std::atomic<bool> cancel_{false};
};

} // namespace qta
