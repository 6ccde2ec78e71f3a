#include "calib/Inversion.h"

#include "calib/LeastSquares.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_roots.h>

#include <cmath>

namespace kalvor::calib {

namespace {

constexpr int kMaxIterations = 200;

struct Target {
    const Calibration* c;
    double response;
};

double offset(double dose, void* data)
{
    const auto* t = static_cast<const Target*>(data);
    return t->c->response(dose) - t->response;
}

} // namespace

QString flagText(RangeFlag flag)
{
    switch (flag) {
    case RangeFlag::BelowRange:
        return QStringLiteral("below range");
    case RangeFlag::AboveRange:
        return QStringLiteral("above range");
    case RangeFlag::Inside:
        break;
    }
    return QString();
}

Inversion invert(const Calibration& c, double response)
{
    quietGsl();
    Inversion result;
    const double atMin = c.response(c.doseMin);
    const double atMax = c.response(c.doseMax);
    const bool rising = atMax > atMin;
    if (!std::isfinite(response))
        return result;  // no dose, and no side of the range either
    if (!(rising ? response >= atMin : response <= atMin)) {
        result.flag = RangeFlag::BelowRange;
        return result;
    }
    if (!(rising ? response <= atMax : response >= atMax)) {
        result.flag = RangeFlag::AboveRange;
        return result;
    }
    if (response == atMin) {
        result.dose = c.doseMin;
        return result;
    }
    if (response == atMax) {
        result.dose = c.doseMax;
        return result;
    }

    Target target{&c, response};
    gsl_function f{offset, &target};
    gsl_root_fsolver* solver = gsl_root_fsolver_alloc(gsl_root_fsolver_brent);
    gsl_root_fsolver_set(solver, &f, c.doseMin, c.doseMax);
    // Down to a few units of the last place of the range's width.
    const double tolerance = 4 * 2.2e-16 * std::max(std::abs(c.doseMin), std::abs(c.doseMax));
    double dose = NAN;
    for (int i = 0; i < kMaxIterations; ++i) {
        if (gsl_root_fsolver_iterate(solver) != GSL_SUCCESS)
            break;
        dose = gsl_root_fsolver_root(solver);
        if (gsl_root_test_interval(gsl_root_fsolver_x_lower(solver), gsl_root_fsolver_x_upper(solver),
                                   tolerance, 1e-15) != GSL_CONTINUE)
            break;
    }
    gsl_root_fsolver_free(solver);
    if (std::isfinite(dose))
        result.dose = dose;
    return result;
}

} // namespace kalvor::calib
