#include "calib/StartValues.h"

#include <gsl/gsl_fit.h>

#include <algorithm>
#include <cmath>

namespace kalvor::calib {

namespace {

// Candidates of b per sign: log-spaced over this span of the scale.
constexpr int kCandidates = 48;
constexpr double kLowest = 1e-3;
constexpr double kHighest = 1e2;

struct Candidate {
    double a = 0, b = 0, c = 0;
    double ssr = INFINITY;
};

// a (and c) of R = a·x + c, or R = a·x through zero, for fixed b.
Candidate fitLinear(const std::vector<double>& x, std::span<const Point> points, bool throughZero, double b)
{
    const size_t n = points.size();
    std::vector<double> y(n);
    for (size_t i = 0; i < n; ++i)
        y[i] = points[i].response;
    Candidate k;
    k.b = b;
    double cov00 = 0, cov01 = 0, cov11 = 0;
    const int status = throughZero ? gsl_fit_mul(x.data(), 1, y.data(), 1, n, &k.a, &cov11, &k.ssr)
                                   : gsl_fit_linear(x.data(), 1, y.data(), 1, n, &k.c, &k.a, &cov00, &cov01, &cov11, &k.ssr);
    if (status != 0 || !std::isfinite(k.a) || !std::isfinite(k.c) || !std::isfinite(k.ssr))
        k.ssr = INFINITY;
    return k;
}

} // namespace

std::optional<std::vector<double>> startValues(const Model& model, std::span<const Point> points)
{
    quietGsl();
    double dMax = 0;
    bool zeroDose = false;
    for (const Point& point : points) {
        dMax = std::max(dMax, point.dose);
        zeroDose = zeroDose || point.dose == 0;
    }
    if (dMax <= 0)
        return std::nullopt;
    const bool exp = model.family() == Model::Family::Exp;
    // exp: b·D_max spans kLowest..kHighest, so the curve goes from nearly
    // straight to saturated within the range; power: b itself, from a curve
    // that is nearly flat to one far steeper than any film's.
    const double scale = exp ? 1 / dMax : 1;
    const double lowest = exp ? kLowest : 1e-2;
    const double highest = exp ? kHighest : 20;

    Candidate best;
    std::vector<double> x(points.size());
    for (int sign : {1, -1}) {
        if (!exp && sign < 0 && zeroDose)
            continue;
        for (int k = 0; k < kCandidates; ++k) {
            const double b = sign * scale * lowest * std::pow(highest / lowest, double(k) / (kCandidates - 1));
            for (size_t i = 0; i < points.size(); ++i)
                x[i] = exp ? -std::expm1(-b * points[i].dose) : std::pow(points[i].dose, b);
            const Candidate c = fitLinear(x, points, model.throughZero(), b);
            if (c.ssr < best.ssr)
                best = c;
        }
    }
    if (!std::isfinite(best.ssr))
        return std::nullopt;
    std::vector<double> start{best.a, best.b};
    if (!model.throughZero())
        start.push_back(best.c);
    return start;
}

} // namespace kalvor::calib
