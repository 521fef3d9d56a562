// The report's pages: the document's blocks laid out on A4 pages with a
// running header (controller, report date) and "Strona N z M" at the foot,
// drawn with Qt's own painter on a PDF writer or a printer. Needs a
// QApplication for the charts (any platform: offscreen will do), no window.
#pragma once

#include "history/lineindex.h"
#include "report/reportdata.h"
#include "report/reportdocument.h"

#include <memory>

class QCPPainter;
class QPagedPaintDevice;
class QPdfWriter;
class QSaveFile;

namespace qta {

class TLayout;
class TPages;

// The document laid out and drawn on `device` a piece at a time (a block, a
// slice of a table's rows, a slice of a page's drawing), so that a window's
// thread can go on with its events between pieces. The device must be set to
// A4 with no margins (see setupReportDevice); the document and the index
// must outlive the painter.
class TReportPainter {
public:
    TReportPainter(const TReportDocument& doc, const TLineIndex* index, QPagedPaintDevice& device);
    ~TReportPainter();

    // Does the next piece; false once the last page is drawn (or nothing was
    // left). Raises EReport.
    bool step();
    // How far it has got, 0 to 1.
    double fraction() const;
    // Pages of the document (known once it is laid out).
    int pageCount() const;

private:
    const TReportDocument& doc_;
    QPagedPaintDevice& device_;
    std::unique_ptr<TPages> pages_;
    std::unique_ptr<TLayout> layout_;
    std::unique_ptr<QCPPainter> painter_;
    size_t block_ = 0, row_ = 0; // laying out
    int page_ = 0;               // drawing
    size_t op_ = 0;
    bool done_ = false;
};

// The document as a PDF file drawn a piece at a time: the file appears under
// its name only through commit(); destroyed before that (stopped or failed),
// it leaves no file and an older file of that name as it was.
class TReportPdfFile {
public:
    // Raises EReport when the file cannot be made.
    TReportPdfFile(const TReportDocument& doc, const TLineIndex* index, QString path);
    ~TReportPdfFile();

    TReportPainter& painter() { return *painter_; }
    // Draws what is left and gives the file its name; returns the page count.
    // Raises EReport.
    int commit();

private:
    QString path_;
    std::unique_ptr<QSaveFile> file_;
    std::unique_ptr<QPdfWriter> writer_;
    std::unique_ptr<TReportPainter> painter_;
};

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
