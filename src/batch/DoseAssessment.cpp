#include "batch/DoseAssessment.h"

#include "batch/CalibrationBuilder.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>

namespace kalvor::batch {

using namespace kalvor::records;

QString decide(const BatchTermsRecord& terms, std::optional<double> dose, double U)
{
    if (!dose || !terms.limitLowKGy || !terms.limitHighKGy)
        return {};
    const double lo = *terms.limitLowKGy;
    const double hi = *terms.limitHighKGy;
    const double d = *dose;
    if (terms.decisionRule == kGuardBand) {
        if (d - U >= lo && d + U <= hi)
            return QStringLiteral("pass");
        if (d + U < lo || d - U > hi)
            return QStringLiteral("fail");
        return QStringLiteral("undecided");
    }
    if (d < lo)
        return QStringLiteral("below");
    if (d > hi)
        return QStringLiteral("above");
    return QStringLiteral("pass");
}

QString describeRule(const BatchTermsRecord& terms)
{
    if (!terms.limitLowKGy || !terms.limitHighKGy)
        return QStringLiteral("no dose limits were given for this batch");
    const QString limits = QStringLiteral("%1 to %2 kGy").arg(QString::number(*terms.limitLowKGy, 'g', 6),
                                                              QString::number(*terms.limitHighKGy, 'g', 6));
    if (terms.decisionRule == kGuardBand)
        return QStringLiteral("limits %1, guard band of the expanded uncertainty U (k = 2): pass when D - U and D + U "
                              "both lie within the limits, fail when D + U lies below the lower or D - U above the upper "
                              "limit, undecided otherwise")
            .arg(limits);
    return QStringLiteral("limits %1, simple acceptance on the dose: pass when the dose lies within the limits (ends "
                          "included), below or above otherwise; the uncertainty is stated but not taken into the decision")
        .arg(limits);
}

QStringList readWindowFlags(const QString& readWindow, const QString& irradiatedUtc, const QString& readUtc)
{
    if (readWindow.isEmpty() || irradiatedUtc.isEmpty())
        return {};
    const std::optional<std::pair<qint64, qint64>> window = parseReadWindow(readWindow);
    const QDateTime irradiated = QDateTime::fromString(irradiatedUtc, Qt::ISODateWithMs);
    const QDateTime read = QDateTime::fromString(readUtc, Qt::ISODateWithMs);
    if (!window || !irradiated.isValid() || !read.isValid())
        return {};
    const qint64 after = irradiated.secsTo(read);
    if (after < window->first || after > window->second)
        return {QStringLiteral("outside read window")};
    return {};
}

DoseRecord doseRecord(const FilmDose& dose, const ReadingRecord& reading, const std::optional<BatchTermsRecord>& terms)
{
    DoseRecord d;
    d.timeUtc = utcNow();
    d.reading = reading.seq;
    d.batch = reading.batch;
    d.dosimeterId = reading.dosimeterId;
    d.calibration = dose.calibration.seq;
    d.lot = dose.lot.name;
    d.lotRow = dose.lot.seq;
    d.a0 = dose.a0;
    d.thicknessMm = dose.thicknessMm;
    d.ownThickness = dose.ownThickness;
    d.response = dose.estimate.response;
    d.doseKGy = dose.estimate.inversion.dose;
    if (dose.estimate.uncertainty) {
        const calib::DoseUncertainty& u = *dose.estimate.uncertainty;
        d.uFit = u.uFit;
        d.uRead = u.uRead;
        d.uRef = u.uRef;
        d.uThick = u.uThick;
        d.uc = u.uc;
        d.expanded = u.expanded;
    }
    if (const QString flag = calib::flagText(dose.estimate.inversion.flag); !flag.isEmpty())
        d.flags << flag;
    d.flags << readWindowFlags(dose.calibration.readWindow, terms ? terms->irradiatedUtc : QString(), reading.timeUtc);
    if (terms)
        d.decision = decide(*terms, d.doseKGy, d.expanded);
    d.programVersion = QStringLiteral(KALVOR_VERSION);
    return d;
}

DoseSummary summarise(const QList<ReadingRecord>& readings, const QHash<qint64, DoseRecord>& doses)
{
    DoseSummary s;
    const bool mapped = std::any_of(readings.begin(), readings.end(), [&](const ReadingRecord& r) {
        return !r.position.isEmpty() && doses.contains(r.seq) && doses.value(r.seq).doseKGy;
    });
    double sum = 0;
    for (const ReadingRecord& r : readings) {
        if (r.isVoid())
            continue;
        const auto it = doses.constFind(r.seq);
        if (it == doses.constEnd() || !it->doseKGy) {
            ++s.withoutDose;
            continue;
        }
        const DoseRecord& d = *it;
        ++s.doses;
        sum += *d.doseKGy;
        s.pass += d.decision == QLatin1String("pass");
        s.below += d.decision == QLatin1String("below");
        s.above += d.decision == QLatin1String("above");
        s.fail += d.decision == QLatin1String("fail");
        s.undecided += d.decision == QLatin1String("undecided");
        if (mapped && r.position.isEmpty())
            continue;
        const DoseExtreme e{*d.doseKGy, d.uc, r.dosimeterId, r.position};
        if (!s.min || e.dose < s.min->dose)
            s.min = e;
        if (!s.max || e.dose > s.max->dose)
            s.max = e;
    }
    if (s.doses > 0)
        s.mean = sum / s.doses;
    if (s.min && s.max && s.min->dose > 0) {
        s.dur = s.max->dose / s.min->dose;
        // u(DUR)/DUR ≈ √((u_c(Dmax)/Dmax)² + (u_c(Dmin)/Dmin)²), an upper bound: the
        // calibration's part is common to both and cancels in the ratio.
        const double rel = std::hypot(s.max->uc / s.max->dose, s.min->uc / s.min->dose);
        s.durU = 2.0 * rel * *s.dur;
    }
    return s;
}

std::optional<std::pair<double, double>> parseLimits(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^\\s*([0-9]+(?:\\.[0-9]*)?)\\s*(?:\\.\\.|-|to)\\s*([0-9]+(?:\\.[0-9]*)?)\\s*(?:kGy)?\\s*$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const double lo = QLocale::c().toDouble(m.captured(1));
    const double hi = QLocale::c().toDouble(m.captured(2));
    if (!(lo < hi) || !std::isfinite(hi))
        return std::nullopt;
    return std::make_pair(lo, hi);
}

} // namespace kalvor::batch
