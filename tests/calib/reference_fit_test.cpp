// The fit against reference fits with known exact answers: NIST's certified
// Pontius (poly2) and BoxBOD (exp through zero), and a power curve through
// zero built so that its least-squares solution is known exactly. Agreement
// is counted in correct significant digits, the log relative error NIST uses.
#include "batch/CalibrationCsv.h"
#include "calib/Fit.h"

#include <gsl/gsl_cdf.h>
#include <gtest/gtest.h>

#include <cmath>

using namespace kalvor;
using namespace kalvor::calib;

namespace {

double digits(double actual, double exact)
{
    return actual == exact ? 16 : -std::log10(std::abs(actual - exact) / std::abs(exact));
}

std::vector<Point> dataFile(const char* name)
{
    QString why;
    const auto points = batch::readCalibrationCsv(QStringLiteral(KALVOR_SOURCE_DIR "/tests/calib/data/") + QLatin1String(name), &why);
    EXPECT_TRUE(points) << why.toStdString();
    return points.value_or(std::vector<Point>{});
}

Calibration fitted(const char* model, bool throughZero, const std::vector<Point>& points)
{
    const FitResult fit = fitCalibration(*Model::parse(QLatin1String(model), throughZero), points);
    EXPECT_TRUE(fit.ok()) << fit.refusal.toStdString();
    return fit.calibration.value_or(Calibration(*Model::parse(QLatin1String(model), throughZero)));
}

void expectCertified(const Calibration& c, const std::vector<double>& values, const std::vector<double>& sds, double residualSd)
{
    ASSERT_EQ(c.parameters.size(), values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        EXPECT_GE(digits(c.parameters[i], values[i]), 7) << "parameter " << i << ": " << c.parameters[i];
        EXPECT_GE(digits(c.uncertainties[i], sds[i]), 5) << "its u: " << c.uncertainties[i];
    }
    EXPECT_GE(digits(c.residualSd, residualSd), 5) << c.residualSd;
}

} // namespace

TEST(ReferenceFit, Poly2ReproducesNistPontiusWithItsLackOfFit)
{
    const std::vector<Point> points = dataFile("pontius.csv");
    const Calibration c = fitted("poly2", false, points);
    expectCertified(c, {0.673565789473684E-03, 0.732059160401003E-06, -0.316081871345029E-14},
                    {0.107938612033077E-03, 0.157817399981659E-09, 0.486652849992036E-16}, 0.205177424076185E-03);
    EXPECT_EQ(c.dof, 37);
    EXPECT_GE(digits(c.rSquared, 0.999999900178537), 9);
    EXPECT_EQ(c.doseMin, 150000);
    EXPECT_EQ(c.doseMax, 3000000);

    // Each load twice: pure error from the pairs, lack of fit from the
    // certified residual sum of squares.
    ASSERT_EQ(c.levels.size(), 20u);
    double ssPure = 0;
    for (size_t i = 0; i < 20; ++i)
        ssPure += std::pow(points[i].response - points[i + 20].response, 2) / 2;
    const double ssr = 37 * std::pow(0.205177424076185E-03, 2);
    const double f = ((ssr - ssPure) / 17) / (ssPure / 20);
    ASSERT_TRUE(c.lackOfFit);
    EXPECT_EQ(c.lackOfFit->dofLack, 17);
    EXPECT_EQ(c.lackOfFit->dofPure, 20);
    EXPECT_GE(digits(c.lackOfFit->f, f), 5);
    EXPECT_GE(digits(c.lackOfFit->p, gsl_cdf_fdist_Q(f, 17, 20)), 5);
    ASSERT_TRUE(c.pooledSd);
    EXPECT_GE(digits(*c.pooledSd, std::sqrt(ssPure / 20)), 7);
    EXPECT_GE(digits(c.aic, 40 * std::log(ssr / 40) + 6), 7);
}

TEST(ReferenceFit, ExpThroughZeroReproducesNistBoxBodFromItsOwnStart)
{
    const Calibration c = fitted("exp", true, dataFile("boxbod.csv"));
    expectCertified(c, {2.1380940889E+02, 5.4723748542E-01}, {1.2354515176E+01, 1.0455993237E-01}, 1.7088072423E+01);
    EXPECT_EQ(c.dof, 4);
    EXPECT_FALSE(c.lackOfFit) << "no replicates, no lack-of-fit test";
    EXPECT_FALSE(c.pooledSd);
}

TEST(ReferenceFit, PowerThroughZeroFindsAConstructedExactSolution)
{
    // θ = (a, b) and doses chosen; a residual vector orthogonal to both
    // columns of J(θ) makes θ the exact least-squares solution of
    // y = a·D^b + r, with s² = |r|²/(n − 2) and Σ = s²(JᵀJ)⁻¹.
    using Real = long double;
    const Real a = 0.0825L, b = 0.865L;
    const std::vector<Real> doses{0, 1, 2, 3, 5, 8, 10, 15, 20, 25, 30, 40};
    const size_t n = doses.size();
    std::vector<Real> j0(n), j1(n), v(n);
    for (size_t i = 0; i < n; ++i) {
        j0[i] = std::pow(doses[i], b);
        j1[i] = doses[i] == 0 ? 0 : a * std::pow(doses[i], b) * std::log(doses[i]);
        v[i] = 0.004L * std::sin(1.7L * Real(i) + 0.3L);
    }
    auto dot = [n](const std::vector<Real>& x, const std::vector<Real>& y) {
        Real s = 0;
        for (size_t i = 0; i < n; ++i)
            s += x[i] * y[i];
        return s;
    };
    const Real m00 = dot(j0, j0), m01 = dot(j0, j1), m11 = dot(j1, j1);
    const Real det = m00 * m11 - m01 * m01;
    const Real i00 = m11 / det, i01 = -m01 / det, i11 = m00 / det;  // (JᵀJ)⁻¹
    const Real c0 = i00 * dot(j0, v) + i01 * dot(j1, v);
    const Real c1 = i01 * dot(j0, v) + i11 * dot(j1, v);
    std::vector<Point> points;
    std::vector<Real> r(n);
    for (size_t i = 0; i < n; ++i) {
        r[i] = v[i] - c0 * j0[i] - c1 * j1[i];
        points.push_back({double(doses[i]), double(a * j0[i] + r[i])});
    }
    const Real s2 = dot(r, r) / Real(n - 2);

    const Calibration c = fitted("power", true, points);
    expectCertified(c, {double(a), double(b)}, {double(std::sqrt(s2 * i00)), double(std::sqrt(s2 * i11))},
                    double(std::sqrt(s2)));
    ASSERT_EQ(c.covariance.size(), 4u);
    EXPECT_GE(digits(c.covariance[1], double(s2 * i01)), 5);
    EXPECT_EQ(c.covariance[1], c.covariance[2]);
}
