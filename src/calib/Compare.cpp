#include "calib/Compare.h"

#include <cmath>

namespace kalvor::calib {

std::vector<ComparisonRow> compareModels(std::span<const Point> points, bool withThroughZero)
{
    std::vector<ComparisonRow> rows;
    for (const QString& name : Model::names()) {
        for (bool throughZero : {false, true}) {
            if (throughZero && !withThroughZero)
                continue;
            const Model model = *Model::parse(name, throughZero);
            const FitResult fit = fitCalibration(model, points);
            ComparisonRow row{model, {}, {}, {}, {}, fit.refusal};
            if (fit.ok()) {
                const Calibration& c = *fit.calibration;
                row.residualSd = c.residualSd;
                row.largestResidualPercent = c.largestResidualPercent();
                if (c.lackOfFit)
                    row.lackOfFitP = c.lackOfFit->p;
                if (std::isfinite(c.aic))
                    row.aic = c.aic;
            }
            rows.push_back(row);
        }
    }
    return rows;
}

} // namespace kalvor::calib
