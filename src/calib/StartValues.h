#pragma once
// Starting values of the nonlinear models, from the data alone. Both exp and
// power are linear in a (and c) once b is fixed, so b is searched on a grid
// and each candidate's a (and c) come from a straight-line fit of R against
// 1 − e^(−b·D) or D^b; the candidate with the smallest sum of squares starts
// the iteration. That needs no guess from the user, works for rising and
// falling curves, for responses near zero and for doses at zero (power: only
// b > 0 then, where 0^b is defined).
#include "calib/LeastSquares.h"

#include <optional>
#include <vector>

namespace kalvor::calib {

// Nothing when no candidate gives a finite fit (e.g. every dose the same).
std::optional<std::vector<double>> startValues(const Model& model, std::span<const Point> points);

} // namespace kalvor::calib
