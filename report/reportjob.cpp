#include "report/reportjob.h"

#include "report/reportcontent.h"

namespace qta {

TReportJob::TReportJob(TReportRequest request, std::array<TColumns, 4> columns, QObject* parent)
    : TWorkerJob(parent), request_(std::move(request)), columns_(columns) {}

void TReportJob::start() {
    run([request = request_, columns = columns_, made = made_](const Progress& progress) {
        // The data, the blocks, each chart's points; a stop is seen between.
        if (!progress(0, 3))
            return false;
        auto m = std::make_shared<TReportMade>();
        m->data = gatherReport(request);
        if (!progress(1, 3))
            return false;
        m->document = reportDocument(m->data);
        if (!progress(2, 3))
            return false;
        for (TReportBlock& b : m->document.blocks) {
            if (b.kind != TReportBlock::Chart || b.line < 1 || b.line > 3 || !m->data.index)
                continue;
            TColumns c = columns[size_t(b.line)];
            if (c.t0 != b.t0 || c.t1 != b.t1)
                continue; // measured for another period
            b.pixels = c;
            b.points = std::make_shared<const TChartSeries>(m->data.index->query(b.line, c));
            if (!progress(2, 3))
                return false;
        }
        *made = std::move(m);
        return progress(3, 3);
    });
}

} // namespace qta
