// The report as a flow of blocks, before any page exists: headings, texts,
// name-value lists, tables, charts and the fields filled in by hand. Built
// from the gathered data in the core (report/reportcontent.*), laid out on
// A4 pages by report/reportpdf.*.
#pragma once

#include "history/lineindex.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace qta {

struct TReportBlock {
    enum Kind {
        Title,      // text: the report's title; rows: {name, value} under it
        Heading,    // a numbered part; starts a new page
        Subheading, // a group inside a part
        Paragraph,  // text
        Note,       // text, smaller and grey
        Pairs,      // rows: {name, value}
        Table,      // columns, widths, rows: one cell per column; breaks across pages
        Chart,      // line, t0, t1; text: the caption
        FillIn,     // rows: {label}: lines to write on by hand
        Signatures, // rows: {label}: boxes to sign in, side by side
    };
    Kind kind = Paragraph;
    QString text;
    QStringList columns;        // Table
    std::vector<double> widths; // Table: shares of the page width
    std::vector<QStringList> rows;
    int line = 0; // Chart
    TWallMs t0 = 0, t1 = 0;
    // Chart: the index's points for `pixels`, asked for off the window's
    // thread; drawn when the plot's columns are these, else asked anew.
    TColumns pixels;
    std::shared_ptr<const TChartSeries> points;
};

struct TReportDocument {
    QString title;       // the PDF's title
    QString headerLeft;  // running header: the controller
    QString headerRight; // running header: the report's date
    std::vector<TReportBlock> blocks;
};

} // namespace qta
