// The report's pages: the document's blocks laid out on A4 pages with a
// running header (controller, report date) and "Strona N z M" at the foot,
// drawn with Qt's own painter on a PDF writer or a printer. Needs a
// QApplication for the charts (any platform: offscreen will do), no window.
#pragma once

#include "history/lineindex.h"
#include "report/reportdata.h"
#include "report/reportdocument.h"

class QPagedPaintDevice;

namespace qta {

// Lays out and draws the document on `device`, which must be set to A4
// with no margins (see setupReportDevice); returns the page count.
int paintReport(const TReportDocument& doc, const TLineIndex* index, QPagedPaintDevice& device);

// A4 portrait, no margins: the report keeps its own.
void setupReportDevice(QPagedPaintDevice& device);

// The document as a PDF file (fonts embedded), written whole or not at all;
// returns the page count. Raises EReport when the file cannot be written.
int writeReportPdf(const TReportDocument& doc, const TLineIndex* index, const QString& path);

struct TReportFile {
    int pages = 0;
    int events = 0;
    QDate from, to;
};

// From a data folder to a PDF file: gather, build, write. Raises EReport.
TReportFile makeReportPdf(const TReportRequest& request, const QString& path);

} // namespace qta
