#include "calib/CalibrationJson.h"

#include <algorithm>
#include <cmath>

namespace kalvor::calib {

namespace {

QJsonValue number(double v) { return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null); }
QJsonValue number(const std::optional<double>& v) { return v ? number(*v) : QJsonValue(QJsonValue::Null); }

QString spreadName(ResponseSpread from)
{
    switch (from) {
    case ResponseSpread::Reading:
        return QStringLiteral("reading");
    case ResponseSpread::Replicates:
        return QStringLiteral("replicates");
    case ResponseSpread::Residual:
        break;
    }
    return QStringLiteral("residual");
}

} // namespace

QJsonObject calibrationToJson(const Calibration& c)
{
    const QStringList names = c.model.parameterNames();
    const qsizetype p = names.size();
    QJsonArray parameters;
    QJsonArray covariance;
    for (qsizetype i = 0; i < p; ++i) {
        parameters.append(QJsonObject{{QStringLiteral("name"), names[i]},
                                      {QStringLiteral("value"), number(c.parameters[size_t(i)])},
                                      {QStringLiteral("u"), number(c.uncertainties[size_t(i)])}});
        QJsonArray row;
        for (qsizetype j = 0; j < p; ++j)
            row.append(number(c.covariance[size_t(i * p + j)]));
        covariance.append(row);
    }
    QJsonArray points;
    for (const FittedPoint& f : c.points)
        points.append(QJsonObject{{QStringLiteral("dose"), number(f.dose)},
                                  {QStringLiteral("response"), number(f.response)},
                                  {QStringLiteral("fitted"), number(f.fitted)},
                                  {QStringLiteral("residual"), number(f.residual)},
                                  {QStringLiteral("residual_pct"), number(f.residualPercent)}});
    QJsonArray levels;
    for (const DoseLevel& l : c.levels)
        levels.append(QJsonObject{{QStringLiteral("dose"), number(l.dose)},
                                  {QStringLiteral("n"), l.n},
                                  {QStringLiteral("mean"), number(l.mean)},
                                  {QStringLiteral("sd"), number(l.sd)},
                                  {QStringLiteral("cv"), number(l.cv)}});
    QJsonValue lackOfFit(QJsonValue::Null);
    if (c.lackOfFit)
        lackOfFit = QJsonObject{{QStringLiteral("f"), number(c.lackOfFit->f)},
                                {QStringLiteral("p"), number(c.lackOfFit->p)},
                                {QStringLiteral("dof_lack"), c.lackOfFit->dofLack},
                                {QStringLiteral("dof_pure"), c.lackOfFit->dofPure}};
    return QJsonObject{{QStringLiteral("model"), c.model.name()},
                       {QStringLiteral("through_zero"), c.model.throughZero()},
                       {QStringLiteral("formula"), c.model.formula()},
                       {QStringLiteral("parameters"), parameters},
                       {QStringLiteral("covariance"), covariance},
                       {QStringLiteral("residual_sd"), number(c.residualSd)},
                       {QStringLiteral("dof"), c.dof},
                       {QStringLiteral("r_squared"), number(c.rSquared)},
                       {QStringLiteral("aic"), number(c.aic)},
                       {QStringLiteral("pooled_sd"), number(c.pooledSd)},
                       {QStringLiteral("range"), QJsonObject{{QStringLiteral("min"), number(c.doseMin)},
                                                             {QStringLiteral("max"), number(c.doseMax)}}},
                       {QStringLiteral("lack_of_fit"), lackOfFit},
                       {QStringLiteral("points"), points},
                       {QStringLiteral("levels"), levels}};
}

QJsonObject doseToJson(const DoseEstimate& e)
{
    const QString flag = flagText(e.inversion.flag);
    QJsonObject o{{QStringLiteral("response"), number(e.response)},
                  {QStringLiteral("dose"), number(e.inversion.dose)},
                  {QStringLiteral("flag"), flag.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(flag)}};
    const std::optional<DoseUncertainty>& u = e.uncertainty;
    auto put = [&](const char* key, double DoseUncertainty::*field) {
        o.insert(QLatin1String(key), u ? number((*u).*field) : QJsonValue(QJsonValue::Null));
    };
    put("u_fit", &DoseUncertainty::uFit);
    put("u_read", &DoseUncertainty::uRead);
    put("u_ref", &DoseUncertainty::uRef);
    put("u_thick", &DoseUncertainty::uThick);
    put("u_c", &DoseUncertainty::uc);
    put("U", &DoseUncertainty::expanded);
    put("slope", &DoseUncertainty::slope);
    put("u_response", &DoseUncertainty::uResponse);
    o.insert(QStringLiteral("u_response_from"), u ? QJsonValue(spreadName(u->uResponseFrom)) : QJsonValue(QJsonValue::Null));
    return o;
}

QJsonArray comparisonToJson(const std::vector<ComparisonRow>& rows)
{
    QJsonArray array;
    for (const ComparisonRow& r : rows)
        array.append(QJsonObject{{QStringLiteral("model"), r.model.name()},
                                 {QStringLiteral("through_zero"), r.model.throughZero()},
                                 {QStringLiteral("residual_sd"), number(r.residualSd)},
                                 {QStringLiteral("max_abs_residual_pct"), number(r.largestResidualPercent)},
                                 {QStringLiteral("lack_of_fit_p"), number(r.lackOfFitP)},
                                 {QStringLiteral("aic"), number(r.aic)},
                                 {QStringLiteral("refused"), r.refusal.isEmpty() ? QJsonValue(QJsonValue::Null)
                                                                                 : QJsonValue(r.refusal)}});
    return array;
}

std::optional<Calibration> calibrationFromJson(const QJsonObject& json, QString* why)
{
    auto fail = [why](const QString& text) -> std::optional<Calibration> {
        if (why)
            *why = text;
        return std::nullopt;
    };
    const std::optional<Model> model = Model::parse(json.value(QLatin1String("model")).toString(),
                                                    json.value(QLatin1String("through_zero")).toBool());
    if (!model)
        return fail(QStringLiteral("no known model: %1").arg(json.value(QLatin1String("model")).toString()));
    Calibration c(*model);
    const size_t p = size_t(model->parameterCount());
    const QJsonArray parameters = json.value(QLatin1String("parameters")).toArray();
    const QJsonArray covariance = json.value(QLatin1String("covariance")).toArray();
    if (size_t(parameters.size()) != p || size_t(covariance.size()) != p)
        return fail(QStringLiteral("%1 has %2 parameters and a %2×%2 covariance").arg(model->description()).arg(p));
    const QStringList names = model->parameterNames();
    for (size_t i = 0; i < p; ++i) {
        const QJsonObject parameter = parameters[qsizetype(i)].toObject();
        if (parameter.value(QLatin1String("name")).toString() != names[qsizetype(i)])
            return fail(QStringLiteral("parameter %1 should be %2").arg(i + 1).arg(names[qsizetype(i)]));
        c.parameters.push_back(parameter.value(QLatin1String("value")).toDouble(NAN));
        const QJsonArray row = covariance[qsizetype(i)].toArray();
        if (size_t(row.size()) != p)
            return fail(QStringLiteral("row %1 of the covariance does not have %2 values").arg(i + 1).arg(p));
        for (size_t j = 0; j < p; ++j)
            c.covariance.push_back(row[qsizetype(j)].toDouble(NAN));
    }
    for (size_t i = 0; i < p; ++i)
        c.uncertainties.push_back(std::sqrt(c.covariance[i * p + i]));
    const QJsonObject range = json.value(QLatin1String("range")).toObject();
    c.doseMin = range.value(QLatin1String("min")).toDouble(NAN);
    c.doseMax = range.value(QLatin1String("max")).toDouble(NAN);
    c.residualSd = json.value(QLatin1String("residual_sd")).toDouble(NAN);
    c.dof = json.value(QLatin1String("dof")).toInt(0);
    c.rSquared = json.value(QLatin1String("r_squared")).toDouble(NAN);
    c.aic = json.value(QLatin1String("aic")).toDouble(NAN);
    if (json.value(QLatin1String("pooled_sd")).isDouble())
        c.pooledSd = json.value(QLatin1String("pooled_sd")).toDouble();
    const QJsonValue lof = json.value(QLatin1String("lack_of_fit"));
    if (lof.isObject())
        c.lackOfFit = LackOfFit{lof[QLatin1String("f")].toDouble(NAN), lof[QLatin1String("dof_lack")].toInt(),
                                lof[QLatin1String("dof_pure")].toInt(), lof[QLatin1String("p")].toDouble(NAN)};

    auto finite = [](double v) { return std::isfinite(v); };
    if (!std::all_of(c.parameters.begin(), c.parameters.end(), finite)
        || !std::all_of(c.covariance.begin(), c.covariance.end(), finite) || !finite(c.residualSd))
        return fail(QStringLiteral("a parameter, covariance or the residual SD is missing or not a finite number"));
    if (!finite(c.doseMin) || !finite(c.doseMax) || c.doseMin < 0 || c.doseMax <= c.doseMin)
        return fail(QStringLiteral("the range needs doses min < max, neither negative"));
    if (const std::optional<double> at = monotonicityBreak(c))
        return fail(QStringLiteral("the curve is not strictly monotonic over its range (at %1 kGy)").arg(*at));
    return c;
}

} // namespace kalvor::calib
