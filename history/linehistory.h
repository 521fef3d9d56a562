// The line-voltage history as the chart windows see it: one index of the main
// window's linia.dbf, shared by the three windows and kept for as long as the
// program runs, so that reopening a chart costs nothing.
//
// The first build of a large table runs on a worker thread (the rows below
// the count read at its start never change: the table is only appended to);
// meanwhile the windows show a progress text and stay responsive. It starts
// from the index kept next to the table (linia.idx, see lineindexfile.h) when
// that one is true to the table, and reads only the rows appended since;
// otherwise it reads the table whole and says why the file was set aside.
// The index is written back after the first build and, when many rows were
// appended since, when the program closes. Once built, each refresh reads
// only the rows appended since.
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
    // never opened). Tables of up to `backgroundFrom` rows are indexed at once
    // and their index is not kept in a file.
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
    // Rows the first build took from the kept index file (0: none).
    qint64 keptRows() const { return keptRows_; }
    // Why the kept index file was set aside, or could not be written (empty
    // when all went well).
    QString keptNote() const { return keptNote_; }

    // Rows appended since the last save after which closing writes the index again.
    static constexpr qint64 kResaveRows = 65536;

Q_SIGNALS:
    void progress(int percent);
    // The first build has finished: the windows reload.
    void ready();
    void failed(const QString& message);
    // keptNote() has changed.
    void noted(const QString& message);
    // The index file has been written (or not: keptNote() says why).
    void saved(bool written);

private:
    void startBuild(const QString& path, qint64 rows);
    void finishBuild(std::shared_ptr<TLineIndex> built, qint64 kept);
    void note(const QString& message);

    std::function<TTable*()> table_;
    qint64 backgroundFrom_;
    std::shared_ptr<TLineIndex> index_;
    bool ready_ = false;
    int percent_ = 0;
    qint64 keptRows_ = 0;
    std::atomic<qint64> savedRows_{0}; // rows the index file holds
    QString keptFile_;
    QString keptNote_;
    std::thread worker_;
    std::atomic<bool> cancel_{false};
};

} // namespace qta
