#pragma once
// What the quality control commands share: the report's PDF, which needs Qt
// Gui and is drawn by the window's layer, which registers its writer here
// (kalvor-batch's main does so before any command runs).
#include "batch/QualityControl.h"

#include <QDate>
#include <functional>
#include <utility>

namespace kalvor::batch {

using QcPdfWriter = std::function<bool(const QcData& data, const QString& path, QString* why)>;
void setQcPdfWriter(QcPdfWriter writer);
const QcPdfWriter& qcPdfWriter();

// The baseline period fixed in the Quality Control window, kept in
// kalvor-batch.conf ([QualityControl] BaselineFrom, BaselineTo: local days,
// both inclusive); invalid dates when the first 20 checks set the limits.
// qc uses it unless --baseline-from or --baseline-to is given.
std::pair<QDate, QDate> storedBaseline();
void storeBaseline(const QDate& from, const QDate& to);

// The findings of the report as text: each chart's, each zero trend's, each verification's.
QString qcText(const QcData& data);

} // namespace kalvor::batch
