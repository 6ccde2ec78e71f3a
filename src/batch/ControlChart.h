#pragma once
// An individuals and moving-range chart (I-MR) of one series of values, such
// as the deviations of one reference filter's checks from its certificate.
//
// The centre x̄ and the mean moving range MR̄ come from a baseline: by default
// the first 20 values, or the values the caller marks (a period the user
// fixes). σ̂ = MR̄ / 1.128 (d₂ for ranges of two); the limits are x̄ ± 3σ̂,
// with zones at 1σ̂ and 2σ̂; the moving-range chart's upper limit is 3.267·MR̄
// (D₄ for ranges of two).
//
// The run rules, each named by its number at the point that completes it
// (that point itself lies in the pattern, so a pattern is not named again at
// a point that merely follows it):
//   1  one point beyond 3σ̂
//   2  two of three points in a row beyond 2σ̂ on the same side
//   3  four of five points in a row beyond 1σ̂ on the same side
//   4  eight points in a row on the same side of the centre
// "Beyond" is strictly beyond; a point on the centre line is on neither side.
#include <QList>
#include <QString>
#include <optional>
#include <vector>

namespace kalvor::batch {

inline constexpr int kDefaultBaselinePoints = 20;
inline constexpr double kD2 = 1.128;  // d₂(2)
inline constexpr double kD4 = 3.267;  // D₄(2)

struct ChartLimits {
    int baselinePoints = 0;
    double centre = 0;
    double meanMovingRange = 0;
    double sigma = 0;  // σ̂ = MR̄ / d₂
    double upper(double k = 3) const { return centre + k * sigma; }
    double lower(double k = 3) const { return centre - k * sigma; }
    double movingRangeUpper() const { return kD4 * meanMovingRange; }
};

struct ChartPoint {
    double value = 0;
    std::optional<double> movingRange;  // none for the first point
    QList<int> rules;                   // the run rules that fire here, ascending
    bool inBaseline = false;
    bool movingRangeBeyond = false;     // its moving range above 3.267·MR̄
};

struct ImrChart {
    std::optional<ChartLimits> limits;  // none with fewer than two baseline values
    std::vector<ChartPoint> points;
    QString whyNoLimits;
};

// `baseline`: for each value, whether it belongs to the baseline; empty for
// the first kDefaultBaselinePoints values. Moving ranges count towards MR̄
// when both of their values are in the baseline.
ImrChart imrChart(const std::vector<double>& values, const std::vector<bool>& baseline = {});

// The run rules that fire at point `index` of `values` for these limits.
QList<int> runRules(const std::vector<double>& values, size_t index, const ChartLimits& limits);

// "rule 2: two of three beyond 2σ on one side", for the user.
QString ruleText(int rule);
// "2+3" for rules {2, 3}; empty for none.
QString rulesCell(const QList<int>& rules);

} // namespace kalvor::batch
