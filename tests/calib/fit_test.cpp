// The models' analytic derivatives, and the fits a lab must not get: too few
// points, a curve that turns back inside the range, a negative dose, an
// iteration that does not converge.
#include "calib/Fit.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kalvor::calib;

namespace {

Model model(const char* name, bool throughZero) { return *Model::parse(QLatin1String(name), throughZero); }

std::vector<Point> along(double (*curve)(double), std::initializer_list<double> doses)
{
    std::vector<Point> points;
    for (double d : doses)
        points.push_back({d, curve(d)});
    return points;
}

void expectRefused(const Model& m, const std::vector<Point>& points, const char* reason)
{
    const FitResult fit = fitCalibration(m, points);
    EXPECT_FALSE(fit.ok()) << m.description().toStdString();
    EXPECT_TRUE(fit.refusal.contains(QLatin1String(reason))) << fit.refusal.toStdString();
}

} // namespace

TEST(Fit, ModelDerivativesMatchCentralDifferences)
{
    const std::vector<double> p{0.031, 0.72, -0.0031, 2.1e-5, -3e-7};
    for (const QString& name : Model::names()) {
        for (bool throughZero : {false, true}) {
            const Model m = *Model::parse(name, throughZero);
            SCOPED_TRACE(m.description().toStdString());
            const std::span<const double> params(p.data(), size_t(m.parameterCount()));
            for (double d : {0.5, 7.0, 38.0}) {
                const double h = 1e-6 * d;
                EXPECT_NEAR(m.slope(d, params), (m.value(d + h, params) - m.value(d - h, params)) / (2 * h),
                            1e-6 * std::abs(m.slope(d, params)) + 1e-12);
                std::vector<double> g(params.size());
                m.gradient(d, params, g);
                for (size_t i = 0; i < params.size(); ++i) {
                    std::vector<double> up(params.begin(), params.end()), down = up;
                    const double k = 1e-6 * std::max(std::abs(params[i]), 1e-4);
                    up[i] += k;
                    down[i] -= k;
                    EXPECT_NEAR(g[i], (m.value(d, up) - m.value(d, down)) / (2 * k), 1e-6 * std::abs(g[i]) + 1e-9)
                        << "parameter " << i << " at " << d;
                }
            }
        }
    }
}

TEST(Fit, RefusesWhatCannotMakeACalibration)
{
    auto parabola = [](double d) { return 0.05 + 0.1 * d - 0.002 * d * d; };  // turns at 25 kGy
    expectRefused(model("poly2", false), along(parabola, {0, 10, 20}), "needs more points than that");
    expectRefused(model("poly2", false), along(parabola, {0, 0, 10, 10}), "needs films at 3 different doses");
    expectRefused(model("poly2", false), along(parabola, {0, 5, 10, 15, 20, 30, 40}), "not strictly monotonic");
    EXPECT_TRUE(fitCalibration(model("poly2", false), along(parabola, {0, 5, 10, 15, 20, 24})).ok())
        << "below the turn the same curve is a calibration";
    expectRefused(model("poly1", false), along(parabola, {0, 5, -1, 15}), "point 3 is negative");
    // A straight line is exp only in the limit b → 0, a → ∞: no solution.
    auto straight = [](double d) { return 2 * d; };
    expectRefused(model("exp", true), along(straight, {0, 1, 2, 3, 4, 5}), "does not converge");
}
