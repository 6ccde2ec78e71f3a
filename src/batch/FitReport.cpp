#include "batch/FitReport.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace kalvor::batch {

using namespace kalvor::calib;

namespace {

// Significant digits: parameters as fitted (enough to recompute the curve),
// every other figure as a lab reports it.
QString exact(double v) { return QString::number(v, 'g', 10); }
QString figure(double v) { return QString::number(v, 'g', 6); }
QString figure(const std::optional<double>& v) { return v ? figure(*v) : QStringLiteral("-"); }

// Columns padded to their widest cell; numbers right-aligned, the first
// column left-aligned, two blanks between columns.
class Table {
public:
    explicit Table(const QStringList& headings) { rows_ << headings; }
    void add(const QStringList& cells) { rows_ << cells; }

    QString text() const
    {
        QList<qsizetype> widths;
        for (const QStringList& row : rows_)
            for (qsizetype i = 0; i < row.size(); ++i) {
                if (widths.size() <= i)
                    widths << 0;
                widths[i] = std::max(widths[i], row[i].size());
            }
        QString out;
        for (const QStringList& row : rows_) {
            QString line;
            for (qsizetype i = 0; i < row.size(); ++i) {
                if (i > 0)
                    line += QStringLiteral("  ");
                line += i == 0 ? row[i].leftJustified(widths[i]) : row[i].rightJustified(widths[i]);
            }
            while (line.endsWith(QLatin1Char(' ')))
                line.chop(1);
            out += line + QLatin1Char('\n');
        }
        return out;
    }

private:
    QList<QStringList> rows_;
};

} // namespace

QString fitReport(const Calibration& c, const QString& source)
{
    QString out;
    out += QStringLiteral("%1 fitted to %2 points of %3 at %4 doses, %5 to %6 kGy\n")
               .arg(c.model.description()).arg(c.points.size()).arg(source).arg(c.levels.size())
               .arg(figure(c.doseMin), figure(c.doseMax));
    out += c.model.formula() + QStringLiteral("\n\n");

    Table parameters({QStringLiteral("parameter"), QStringLiteral("value"), QStringLiteral("u")});
    const QStringList names = c.model.parameterNames();
    for (qsizetype i = 0; i < names.size(); ++i)
        parameters.add({names[i], exact(c.parameters[size_t(i)]), figure(c.uncertainties[size_t(i)])});
    out += parameters.text() + QLatin1Char('\n');

    out += QStringLiteral("residual SD      %1 mm⁻¹ (%2 degrees of freedom)\n").arg(figure(c.residualSd)).arg(c.dof);
    out += QStringLiteral("R²               %1\n").arg(QString::number(c.rSquared, 'g', 8));
    out += QStringLiteral("AIC              %1\n").arg(figure(c.aic));
    if (c.lackOfFit)
        out += QStringLiteral("lack of fit      F = %1 (%2 and %3 degrees of freedom), p = %4%5\n")
                   .arg(figure(c.lackOfFit->f)).arg(c.lackOfFit->dofLack).arg(c.lackOfFit->dofPure)
                   .arg(figure(c.lackOfFit->p))
                   .arg(c.lackOfFit->p < 0.05 ? QStringLiteral(": the curve misses the replicates' means") : QString());
    else
        out += QStringLiteral("lack of fit      not tested (it needs replicates that differ, at more doses than "
                              "the model has parameters)\n");
    if (c.pooledSd)
        out += QStringLiteral("replicate SD     %1 mm⁻¹ (pooled over the doses)\n").arg(figure(*c.pooledSd));
    out += QLatin1Char('\n');

    Table points({QStringLiteral("dose"), QStringLiteral("response"), QStringLiteral("fitted"),
                  QStringLiteral("residual"), QStringLiteral("residual %")});
    for (const FittedPoint& p : c.points)
        points.add({figure(p.dose), figure(p.response), figure(p.fitted), figure(p.residual),
                    p.residualPercent ? QString::number(*p.residualPercent, 'f', 2) : QStringLiteral("-")});
    out += points.text() + QLatin1Char('\n');

    Table levels({QStringLiteral("dose level"), QStringLiteral("films"), QStringLiteral("mean"), QStringLiteral("SD"),
                  QStringLiteral("CV %")});
    for (const DoseLevel& l : c.levels)
        levels.add({figure(l.dose), QString::number(l.n), figure(l.mean), figure(l.sd),
                    l.cv ? QString::number(*l.cv, 'f', 2) : QStringLiteral("-")});
    out += levels.text();
    return out;
}

QString doseReport(const std::vector<DoseEstimate>& doses)
{
    Table table({QStringLiteral("response"), QStringLiteral("dose (kGy)"), QStringLiteral("u_fit (kGy)")});
    for (const DoseEstimate& e : doses) {
        if (e.inversion.dose && e.uncertainty)
            table.add({figure(e.response), figure(*e.inversion.dose), figure(e.uncertainty->uFit)});
        else
            table.add({figure(e.response), QStringLiteral("-"),
                       e.inversion.flag == RangeFlag::Inside ? QStringLiteral("-") : flagText(e.inversion.flag)});
    }
    return table.text();
}

QString comparisonReport(const std::vector<ComparisonRow>& rows)
{
    // The lowest AIC among the models that fit is marked: the one the points
    // favour once its number of parameters is paid for.
    std::optional<double> bestAic;
    for (const ComparisonRow& r : rows)
        if (r.aic && (!bestAic || *r.aic < *bestAic))
            bestAic = r.aic;
    Table table({QStringLiteral("model"), QStringLiteral("residual SD"), QStringLiteral("max |residual %|"),
                 QStringLiteral("lack of fit p"), QStringLiteral("AIC")});
    QStringList refusals;
    for (const ComparisonRow& r : rows) {
        if (!r.refusal.isEmpty()) {
            table.add({r.model.description(), QStringLiteral("refused")});
            refusals << QStringLiteral("%1: %2").arg(r.model.description(), r.refusal);
            continue;
        }
        table.add({r.model.description(), figure(r.residualSd),
                   r.largestResidualPercent ? QString::number(*r.largestResidualPercent, 'f', 2) : QStringLiteral("-"),
                   figure(r.lackOfFitP),
                   r.aic ? figure(*r.aic) + (r.aic == bestAic ? QStringLiteral(" *") : QStringLiteral("  "))
                         : QStringLiteral("-")});
    }
    QString out = table.text();
    if (bestAic)
        out += QStringLiteral("* lowest AIC\n");
    for (const QString& why : refusals)
        out += why + QLatin1Char('\n');
    return out;
}

} // namespace kalvor::batch
