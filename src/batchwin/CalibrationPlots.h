#pragma once
// The Calibration window's plots (Qt Charts): the films' responses against
// dose with the fitted curve over the calibrated range, and below it the
// residuals in % of the fitted response around a zero line. Both axes carry
// their quantity and unit; the dose axes share their range. A refused fit
// shows the films alone and says so.
#include "batch/CalibrationBuilder.h"

#include <QWidget>

class QChart;

namespace kalvor::batchwin {

class CalibrationPlots : public QWidget {
    Q_OBJECT
public:
    explicit CalibrationPlots(QWidget* parent = nullptr);

    // Nothing, or a draft without films: empty plots that say what comes there.
    void showDraft(const batch::CalibrationDraft* draft);

private:
    QChart* curve_;
    QChart* residuals_;
};

} // namespace kalvor::batchwin
