#pragma once
// The curves a film lot's calibration is fitted with: response R (specific
// net absorbance, mm⁻¹) as a function of dose D (kGy).
//   polyN   R = a0 + a1·D + … + aN·Dᴺ     (N = 1..4)
//   exp     R = a·(1 − e^(−b·D)) + c
//   power   R = a·D^b + c
// Through zero drops the constant term (a0, or c). Each model gives R, its
// slope R′ = ∂R/∂D and its gradient over the parameters g = ∂R/∂p, all
// analytic. Parameters are in the order parameterNames() gives.
#include <QString>
#include <QStringList>
#include <optional>
#include <span>

namespace kalvor::calib {

class Model {
public:
    enum class Family { Poly, Exp, Power };

    Model(Family family, int degree, bool throughZero);

    // A model by the name a user types (poly1..poly4, exp, power); nothing
    // for any other name.
    static std::optional<Model> parse(const QString& name, bool throughZero);
    // Every name parse() knows, in the order a comparison lists them.
    static const QStringList& names();

    Family family() const { return family_; }
    int degree() const { return degree_; }
    bool throughZero() const { return throughZero_; }
    QString name() const;         // poly2, exp, power
    QString description() const;  // "exp through zero"
    QString formula() const;      // R = a·(1 − e^(−b·D))
    int parameterCount() const;
    QStringList parameterNames() const;

    double value(double dose, std::span<const double> p) const;
    double slope(double dose, std::span<const double> p) const;
    // ∂R/∂p into `g` (parameterCount() values).
    void gradient(double dose, std::span<const double> p, std::span<double> g) const;

    bool operator==(const Model&) const = default;

private:
    Family family_;
    int degree_;  // polynomials only
    bool throughZero_;
};

} // namespace kalvor::calib
