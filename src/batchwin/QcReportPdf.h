#pragma once
// The quality control report as PDF: real text (QTextDocument on QPdfWriter,
// fonts embedded), A4, or Letter where the locale measures in inches, with
// the charts drawn as vectors among the text. Needs a QApplication (the
// offscreen platform serves: no display is touched).
#include "batch/QualityControl.h"

namespace kalvor::batchwin {

bool writeQcPdf(const batch::QcData& data, const QString& path, QString* why);

} // namespace kalvor::batchwin
