#pragma once
// A batch report as HTML for QTextDocument: every text from the store or the
// settings (IDs, names, lots, positions, reasons, paths) is escaped, so it
// shows as written and is never markup. Numbers are written with a decimal
// point whatever the locale. Where a calibration's curve goes, the HTML has
// an anchor "curve-N" (N its index in ReportData::calibrations) for
// CurvePlot.
#include "batch/ReportData.h"

#include <QString>

namespace kalvor::report {

// `pxPerPt`: layout units per typographic point of the device the document is
// laid out for (paddings and rules are given in points).
QString reportHtml(const batch::ReportData& data, double pxPerPt);

// The text of a report's title: "Dose report" or "Absorbance report".
QString reportTitle(const batch::ReportData& data);

// Text from the store for the report: control and invisible formatting
// characters shown as \xHH, then HTML-escaped.
QString escaped(const QString& text);

// "2026-12-07 10:15:30" of a stored UTC time; the text itself when it is none.
QString utcText(const QString& isoUtc);

} // namespace kalvor::report
