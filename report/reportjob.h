// The part of making a report that reads the data folder, on a worker thread:
// the tables of the period, the index of the voltage history (a year of rows
// is seconds of reading the first time), the summary, the document's blocks
// and the charts' points. What is left, laying the pages out and drawing them, needs the
// plot widget of the charts and so the window's thread (report/reportpdf.*).
#pragma once

#include "history/workerjob.h"
#include "report/reportdata.h"
#include "report/reportdocument.h"

#include <array>
#include <memory>

namespace qta {

struct TReportMade {
    TReportData data;
    TReportDocument document;
};

class TReportJob : public TWorkerJob {
    Q_OBJECT
public:
    // `columns[n]`: the pixel columns of line n's chart on the page
    // (TReportChart::columnsFor, measured on the window's thread); the
    // worker asks the index for their points too. A chart without them is
    // asked for when drawn.
    explicit TReportJob(TReportRequest request, std::array<TColumns, 4> columns = {},
                        QObject* parent = nullptr);

    void start();
    // Once `finished` said done: what was gathered, for the pages.
    std::shared_ptr<const TReportMade> result() const { return *made_; }

private:
    TReportRequest request_;
    std::array<TColumns, 4> columns_;
    std::shared_ptr<std::shared_ptr<const TReportMade>> made_ =
        std::make_shared<std::shared_ptr<const TReportMade>>();
};

} // namespace qta
