// What the chart windows' tests share: a generated linia.dbf of 200000 rows
// ending at end_, open through the table layer, the history over it, its rows
// read the literal way (see linereference.h) and windows on that history whose
// error boxes land in errors_ and whose clock stands at end_.
#pragma once

#include "history/chartwindow.h"
#include "history/linegen.h"
#include "history/linehistory.h"
#include "linereference.h"
#include "tables/table.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <vector>

namespace qta::test {

// A base of the test object (after QObject), set up in its initTestCase.
class TChartFixture {
protected:
    QTemporaryDir dir_;
    QString file_;
    std::unique_ptr<TTable> table_;
    std::unique_ptr<TLineHistory> history_;
    QDateTime end_{QDate(2026, 1, 30), QTime(12, 0, 0)};
    TWallMs now_ = 0;
    QStringList errors_;

    // Opens `file`, a table generated beforehand to end at end_, or with no
    // file one generated in dir_.
    void openTable(const QString& file = {}) {
        file_ = file;
        if (file_.isEmpty()) {
            file_ = QDir(dir_.path()).filePath(QStringLiteral("linia.dbf"));
            generateLinia(file_, {200000, end_, 21});
        }
        table_ = std::make_unique<TTable>(file_);
        table_->Open();
        history_ = std::make_unique<TLineHistory>([this] { return table_.get(); });
        now_ = wallMs(end_);
    }

    // Every row sorted by time, read once when needed.
    const std::vector<TRefRow>& sorted() {
        if (sorted_.empty())
            sorted_ = readSorted(file_);
        return sorted_;
    }

    TWykres::ErrorBox errorBox() {
        return [this](const QString& m) { errors_ << m; };
    }
    TWykres::Clock atNow() {
        return [this] { return now_; };
    }

    // A window on the table's history with its timers stopped.
    std::unique_ptr<TWykres> window(int line = 1) {
        auto w = std::make_unique<TWykres>(chartLine(line), *history_, errorBox(), atNow());
        w->Timer.stop();
        w->RefreshTimer.stop();
        return w;
    }

private:
    std::vector<TRefRow> sorted_;
};

} // namespace qta::test
