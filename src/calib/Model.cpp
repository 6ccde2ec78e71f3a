#include "calib/Model.h"

#include <cmath>

namespace kalvor::calib {

namespace {

// D^b·ln D, with its limit 0 at D = 0 (for b > 0, where D^b is defined).
double powLog(double dose, double b)
{
    return dose == 0 ? 0.0 : std::pow(dose, b) * std::log(dose);
}

} // namespace

Model::Model(Family family, int degree, bool throughZero)
    : family_(family), degree_(family == Family::Poly ? degree : 0), throughZero_(throughZero)
{
}

const QStringList& Model::names()
{
    static const QStringList list{QStringLiteral("poly1"), QStringLiteral("poly2"), QStringLiteral("poly3"),
                                  QStringLiteral("poly4"), QStringLiteral("exp"),   QStringLiteral("power")};
    return list;
}

std::optional<Model> Model::parse(const QString& name, bool throughZero)
{
    const QString n = name.trimmed().toLower();
    for (int degree = 1; degree <= 4; ++degree)
        if (n == QStringLiteral("poly%1").arg(degree))
            return Model(Family::Poly, degree, throughZero);
    if (n == QLatin1String("exp"))
        return Model(Family::Exp, 0, throughZero);
    if (n == QLatin1String("power"))
        return Model(Family::Power, 0, throughZero);
    return std::nullopt;
}

QString Model::name() const
{
    switch (family_) {
    case Family::Poly:
        return QStringLiteral("poly%1").arg(degree_);
    case Family::Exp:
        return QStringLiteral("exp");
    case Family::Power:
        break;
    }
    return QStringLiteral("power");
}

QString Model::description() const
{
    return throughZero_ ? name() + QStringLiteral(" through zero") : name();
}

QString Model::formula() const
{
    QString f;
    switch (family_) {
    case Family::Poly: {
        static const char* const powers[] = {"", "·D", "·D²", "·D³", "·D⁴"};
        QStringList terms;
        for (int i = throughZero_ ? 1 : 0; i <= degree_; ++i)
            terms << QStringLiteral("a%1%2").arg(i).arg(QString::fromUtf8(powers[i]));
        return QStringLiteral("R = ") + terms.join(QStringLiteral(" + "));
    }
    case Family::Exp:
        f = QStringLiteral("R = a·(1 − e^(−b·D))");
        break;
    case Family::Power:
        f = QStringLiteral("R = a·D^b");
        break;
    }
    return throughZero_ ? f : f + QStringLiteral(" + c");
}

int Model::parameterCount() const
{
    const int withConstant = family_ == Family::Poly ? degree_ + 1 : 3;
    return throughZero_ ? withConstant - 1 : withConstant;
}

QStringList Model::parameterNames() const
{
    QStringList names;
    if (family_ == Family::Poly) {
        for (int i = throughZero_ ? 1 : 0; i <= degree_; ++i)
            names << QStringLiteral("a%1").arg(i);
        return names;
    }
    names << QStringLiteral("a") << QStringLiteral("b");
    if (!throughZero_)
        names << QStringLiteral("c");
    return names;
}

double Model::value(double dose, std::span<const double> p) const
{
    switch (family_) {
    case Family::Poly: {
        // Horner's rule from the highest power down.
        const int first = throughZero_ ? 1 : 0;
        double r = 0;
        for (int i = degree_; i >= first; --i)
            r = r * dose + p[i - first];
        return throughZero_ ? r * dose : r;
    }
    case Family::Exp: {
        const double r = -p[0] * std::expm1(-p[1] * dose);
        return throughZero_ ? r : r + p[2];
    }
    case Family::Power: {
        const double r = p[0] * std::pow(dose, p[1]);
        return throughZero_ ? r : r + p[2];
    }
    }
    return NAN;
}

double Model::slope(double dose, std::span<const double> p) const
{
    switch (family_) {
    case Family::Poly: {
        const int first = throughZero_ ? 1 : 0;
        double r = 0;
        for (int i = degree_; i >= 1; --i)
            r = r * dose + i * p[i - first];
        return r;
    }
    case Family::Exp:
        return p[0] * p[1] * std::exp(-p[1] * dose);
    case Family::Power:
        if (p[1] == 1)
            return p[0];
        return p[0] * p[1] * std::pow(dose, p[1] - 1);
    }
    return NAN;
}

void Model::gradient(double dose, std::span<const double> p, std::span<double> g) const
{
    switch (family_) {
    case Family::Poly: {
        double power = throughZero_ ? dose : 1.0;
        for (int i = 0; i < parameterCount(); ++i) {
            g[i] = power;
            power *= dose;
        }
        return;
    }
    case Family::Exp:
        g[0] = -std::expm1(-p[1] * dose);
        g[1] = p[0] * dose * std::exp(-p[1] * dose);
        break;
    case Family::Power:
        g[0] = std::pow(dose, p[1]);
        g[1] = p[0] * powLog(dose, p[1]);
        break;
    }
    if (!throughZero_)
        g[2] = 1;
}

} // namespace kalvor::calib
