#pragma once
// What a window shows of a fitted calibration, as data: the points, the
// fitted curve over the calibrated range and the residuals in % for the
// plots; the parameters with their uncertainties and the fit's statistics
// as labelled texts; the comparison of models as table cells. Numbers are
// given as a lab reports them (6 significant digits; parameters with 10).
#include "calib/Compare.h"

#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <optional>

namespace kalvor::batch {

QString figureText(double v);                     // 6 significant digits
QString figureText(const std::optional<double>& v);  // "-" for none

struct CalibrationPlot {
    QList<QPointF> points;     // (dose kGy, response mm⁻¹)
    QList<QPointF> curve;      // R(D) from the lowest to the highest dose
    QList<QPointF> residuals;  // (dose kGy, residual %), points that have one
};

CalibrationPlot calibrationPlot(const calib::Calibration& c, int curveSamples = 200);

// An axis over [low, high] widened to round numbers: its ends and ticks are
// multiples of a step of 1, 2, 2.5 or 5 times a power of ten, about `aim`
// steps from end to end.
struct AxisScale {
    double min = 0;
    double max = 1;
    int ticks = 2;  // with both ends
};
AxisScale niceAxis(double low, double high, int aim = 6);

struct ParameterFigure {
    QString name;
    QString value;
    QString u;
    QString relativeU;  // "0.42 %", "-" where the value is 0
};
QList<ParameterFigure> parameterFigures(const calib::Calibration& c);

// ("Residual SD", "0.0123 mm⁻¹ (12 degrees of freedom)"), R², lack of fit,
// replicate SD, AIC, range.
QList<std::pair<QString, QString>> fitStatistics(const calib::Calibration& c);

// One row per model: model, residual SD (4 digits), max |residual %|,
// lack-of-fit p (3 digits), AIC (2 decimals; the lowest marked "*"), and the
// refusal, if any, as the last cell.
QStringList comparisonHeadings();
QList<QStringList> comparisonCells(const std::vector<calib::ComparisonRow>& rows);

} // namespace kalvor::batch
