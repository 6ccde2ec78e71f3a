#pragma once
// A batch report as a PDF: the HTML of ReportHtml laid out by QTextDocument
// on the pages of a QPdfWriter (PDF/A-1b, fonts embedded, real text), with
// each calibration's curve drawn by CurvePlot, a running head on every page
// (laboratory, report, batch) and a foot with the chain head and "page N of
// M". A table that runs over a page repeats its header row. Needs a
// QGuiApplication (the offscreen platform is enough); draws no window.
#include "batch/ReportData.h"

#include <QByteArray>
#include <QLocale>
#include <QPageSize>

namespace kalvor::report {

// A4, or Letter where the locale measures in inches or is of the United
// States or Canada.
QPageSize pageSizeFor(const QLocale& locale);

struct RenderedReport {
    QByteArray pdf;
    int pages = 0;
};

RenderedReport renderReport(const batch::ReportData& data, const QPageSize& pageSize);

} // namespace kalvor::report
