// Doses from responses: inversion inside and outside the calibrated range,
// u_fit against a numeric propagation through the inversion, the budget's
// parts, d₂ against its defining integral, and a calibration restored from
// its JSON giving the same doses.
#include "calib/CalibrationJson.h"
#include "calib/Fit.h"

#include <QJsonDocument>
#include <gsl/gsl_cdf.h>
#include <gsl/gsl_integration.h>
#include <gtest/gtest.h>

#include <cmath>

using namespace kalvor::calib;

namespace {

// Films at 0..40 kGy in duplicate along `curve`, each pair ±`spread` apart.
std::vector<Point> films(double (*curve)(double), double spread)
{
    std::vector<Point> points;
    for (double d : {0.0, 2.0, 5.0, 10.0, 15.0, 20.0, 30.0, 40.0})
        for (double side : {-1.0, 1.0})
            points.push_back({d, curve(d) + side * spread * (1 + 0.1 * d / 40)});
    return points;
}

Calibration fit(const char* model, bool throughZero, const std::vector<Point>& points)
{
    const FitResult r = fitCalibration(*Model::parse(QLatin1String(model), throughZero), points);
    EXPECT_TRUE(r.ok()) << model << ": " << r.refusal.toStdString();
    return r.calibration.value_or(Calibration(*Model::parse(QLatin1String(model), throughZero)));
}

double saturating(double d) { return 0.9 * (1 - std::exp(-0.045 * d)) + 0.02; }
double falling(double d) { return 2.5 - 0.05 * d + 0.0004 * d * d; }
double rising(double d) { return 0.11 * std::pow(d, 0.83); }

} // namespace

TEST(Dose, InversionRoundTripsInsideTheRangeAndFlagsBothSidesOutside)
{
    const std::vector<Calibration> curves{fit("exp", false, films(saturating, 0.003)),
                                          fit("poly2", false, films(falling, 0.004)),
                                          fit("power", true, films(rising, 0.002)),
                                          fit("power", false, films(rising, 0.002))};
    for (const Calibration& c : curves) {
        SCOPED_TRACE(c.model.description().toStdString());
        for (double d : {0.0, 0.37, 7.5, 19.99, 33.3, 40.0}) {
            const Inversion inv = invert(c, c.response(d));
            ASSERT_TRUE(inv.dose);
            EXPECT_NEAR(*inv.dose, d, 1e-9 * 40);
            EXPECT_EQ(inv.flag, RangeFlag::Inside);
        }
        // A little beyond the curve's ends, whichever way it runs.
        const double step = c.response(40) > c.response(0) ? 1e-6 : -1e-6;
        const Inversion below = invert(c, c.response(0) - step);
        const Inversion above = invert(c, c.response(40) + step);
        EXPECT_FALSE(below.dose);
        EXPECT_EQ(below.flag, RangeFlag::BelowRange);
        EXPECT_FALSE(above.dose);
        EXPECT_EQ(above.flag, RangeFlag::AboveRange);
        EXPECT_EQ(flagText(above.flag), QStringLiteral("above range"));
    }
}

TEST(Dose, UFitAgreesWithNumericPropagationThroughTheInversion)
{
    // u_fit = √(∇D ᵀ Σ ∇D), ∇D the change of the inverted dose with each
    // parameter, by central differences of the inversion itself.
    for (const Calibration& c : {fit("exp", false, films(saturating, 0.003)), fit("poly2", false, films(falling, 0.004))}) {
        for (double response : {c.response(3.0), c.response(25.0)}) {
            const DoseEstimate e = estimateDose(c, FilmReading{response}, 0);
            ASSERT_TRUE(e.uncertainty);
            const size_t p = c.parameters.size();
            std::vector<double> gradient(p);
            for (size_t i = 0; i < p; ++i) {
                const double h = 1e-6 * std::max(std::abs(c.parameters[i]), 1e-3);
                Calibration up = c, down = c;
                up.parameters[i] += h;
                down.parameters[i] -= h;
                gradient[i] = (*invert(up, response).dose - *invert(down, response).dose) / (2 * h);
            }
            double variance = 0;
            for (size_t i = 0; i < p; ++i)
                for (size_t j = 0; j < p; ++j)
                    variance += gradient[i] * c.covariance[i * p + j] * gradient[j];
            EXPECT_NEAR(e.uncertainty->uFit, std::sqrt(variance), 1e-5 * std::sqrt(variance))
                << c.model.description().toStdString() << " at " << response;
        }
    }
}

TEST(Dose, BudgetTakesTheLargerResponseSpreadAndAddsInQuadrature)
{
    const Calibration c = fit("exp", false, films(saturating, 0.003));
    ASSERT_TRUE(c.pooledSd);
    FilmReading quiet;
    quiet.response = c.response(12);
    quiet.thickness = 0.1;
    quiet.spread = 0.0001;  // /d₂(3)/t well under the calibration's replicate SD
    quiet.count = 3;
    quiet.thicknessU = 0.002;
    FilmReading noisy = quiet;
    noisy.spread = 0.003;  // 0.003/1.693/0.1 = 0.0177 mm⁻¹, above it

    const DoseEstimate q = estimateDose(c, quiet, 0.012);
    const DoseEstimate n = estimateDose(c, noisy, 0.012);
    ASSERT_TRUE(q.uncertainty && n.uncertainty);
    EXPECT_NEAR(*q.inversion.dose, 12, 1e-9);
    const double slope = std::abs(c.slope(12));
    EXPECT_EQ(q.uncertainty->uResponseFrom, ResponseSpread::Replicates);
    EXPECT_NEAR(q.uncertainty->uRead, *c.pooledSd / slope, 1e-12);
    EXPECT_EQ(n.uncertainty->uResponseFrom, ResponseSpread::Reading);
    EXPECT_NEAR(n.uncertainty->uRead, 0.003 / 1.693 / 0.1 / slope, 1e-12);
    for (const DoseEstimate* e : {&q, &n}) {
        const DoseUncertainty& u = *e->uncertainty;
        EXPECT_NEAR(u.uRef, 12 * 0.012, 1e-9);
        EXPECT_NEAR(u.uThick, 12 * 0.002 / 0.1, 1e-9);
        EXPECT_NEAR(u.uc * u.uc, u.uFit * u.uFit + u.uRead * u.uRead + u.uRef * u.uRef + u.uThick * u.uThick, 1e-12);
        EXPECT_EQ(u.expanded, 2 * u.uc);
    }
}

TEST(Dose, RangeFactorsMatchTheExpectedRangeOfNormalSamples)
{
    // d₂(N) = ∫ 1 − Φ(x)ᴺ − (1 − Φ(x))ᴺ dx over the real line.
    gsl_integration_workspace* w = gsl_integration_workspace_alloc(1000);
    for (int n = 2; n <= 25; ++n) {
        gsl_function f{[](double x, void* p) {
                           const int count = *static_cast<int*>(p);
                           return 1 - std::pow(gsl_cdf_ugaussian_P(x), count) - std::pow(gsl_cdf_ugaussian_Q(x), count);
                       },
                       &n};
        double d2 = 0, error = 0;
        ASSERT_EQ(gsl_integration_qagi(&f, 1e-10, 1e-10, 1000, w, &d2, &error), 0);
        EXPECT_NEAR(rangeFactor(n), d2, 0.0006) << "N = " << n;
    }
    gsl_integration_workspace_free(w);
    EXPECT_EQ(rangeFactor(1), 0);
    EXPECT_EQ(rangeFactor(40), rangeFactor(25));
}

TEST(Dose, ACalibrationRestoredFromItsJsonGivesTheSameDoses)
{
    const Calibration c = fit("exp", false, films(saturating, 0.003));
    const QByteArray text = QJsonDocument(calibrationToJson(c)).toJson();
    QString why;
    const std::optional<Calibration> back = calibrationFromJson(QJsonDocument::fromJson(text).object(), &why);
    ASSERT_TRUE(back) << why.toStdString();
    EXPECT_EQ(back->parameters, c.parameters) << "the numbers round-trip";
    EXPECT_EQ(back->covariance, c.covariance);
    FilmReading reading;
    reading.response = c.response(17);
    const DoseEstimate a = estimateDose(c, reading, 0.01), b = estimateDose(*back, reading, 0.01);
    EXPECT_EQ(*a.inversion.dose, *b.inversion.dose);
    EXPECT_EQ(a.uncertainty->uc, b.uncertainty->uc);

    // A stored range stretched past the vertex of a parabola is refused.
    QJsonObject stretched = calibrationToJson(fit("poly2", false, films(falling, 0.004)));
    stretched.insert(QStringLiteral("range"), QJsonObject{{QStringLiteral("min"), 0}, {QStringLiteral("max"), 100}});
    EXPECT_FALSE(calibrationFromJson(stretched, &why));
    EXPECT_TRUE(why.contains(QStringLiteral("monotonic"))) << why.toStdString();
}
