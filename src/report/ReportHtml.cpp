#include "report/ReportHtml.h"

#include "batch/DoseAssessment.h"
#include "core/PrintableText.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>

#include <cmath>

namespace kalvor::report {

using namespace kalvor::batch;
using namespace kalvor::records;

QString escaped(const QString& text) { return terminalText(text).toHtmlEscaped(); }

QString utcText(const QString& iso)
{
    const QDateTime t = QDateTime::fromString(iso, Qt::ISODateWithMs);
    return t.isValid() ? t.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : iso;
}

QString reportTitle(const ReportData& data)
{
    return data.hasDoses() ? QStringLiteral("Dose report") : QStringLiteral("Absorbance report");
}

namespace {

const QString kMmInv = QStringLiteral("mm<sup>-1</sup>");

QString num(double v, int decimals)
{
    QString text = decimalText(v, decimals);
    if (text.startsWith(QLatin1Char('-')) && text.count(QLatin1Char('0')) == text.size() - (decimals > 0 ? 2 : 1))
        text.remove(0, 1);  // -0.000: a value that rounds to zero has no sign
    return text;
}
// Shortest text that reads back as the value, for values typed by people (limits, thicknesses).
QString plain(double v) { return QString::number(v, 'g', 6); }
// A value with its uncertainty to two significant digits of it.
QString withU(double v, double u)
{
    if (!(u > 0) || !std::isfinite(u))
        return QString::number(v, 'g', 6);
    const int e = int(std::floor(std::log10(u)));
    if (e < -6 || e > 6)
        return QStringLiteral("%1 ± %2").arg(QString::number(v, 'e', 3), QString::number(u, 'e', 1));
    const int decimals = std::max(0, 1 - e);
    return QStringLiteral("%1 ± %2").arg(num(v, decimals), num(u, decimals));
}
// Three significant digits.
QString sig3(double v) { return QString::number(v, 'g', 3); }

class Html {
public:
    explicit Html(double pxPerPt) : pt_(pxPerPt) {}

    // Whole pixels for HTML attributes, fractions for CSS lengths.
    QString px(double points) const { return QString::number(std::max(1.0, std::round(points * pt_))); }
    QString cssPx(double points) const { return QString::number(points * pt_, 'f', 2); }

    void heading(const QString& text) { out += QStringLiteral("<h2 style=\"font-size:12pt; margin-top:%1px; margin-bottom:%2px\">%3</h2>").arg(px(10), px(3), text); }
    void sub(const QString& text) { out += QStringLiteral("<h3 style=\"font-size:10pt; margin-top:%1px; margin-bottom:%2px\">%3</h3>").arg(px(6), px(2), text); }
    void para(const QString& html) { out += QStringLiteral("<p style=\"margin-top:%1px; margin-bottom:%1px\">%2</p>").arg(px(2), html); }

    // A two-column table of what and value (both HTML).
    void facts(const QList<std::pair<QString, QString>>& rows)
    {
        out += QStringLiteral("<table width=\"100%\" cellspacing=\"0\" cellpadding=\"%1\">").arg(px(1.5));
        for (const auto& [what, value] : rows)
            out += QStringLiteral("<tr><td width=\"24%\" style=\"color:#444\">%1</td><td>%2</td></tr>").arg(what, value);
        out += QStringLiteral("</table><p style=\"margin:0; font-size:4pt\">&nbsp;</p>");
    }

    // A grid with a header row that is repeated on each page it runs over.
    // `right`: the columns that hold numbers.
    void grid(const QStringList& header, const QList<QStringList>& rows, const QList<int>& right = {},
              const QList<int>& widths = {})
    {
        // Rules under the rows only: a table's frame would run on to the foot of each page.
        out += QStringLiteral("<table width=\"100%\" border=\"0\" cellspacing=\"0\" cellpadding=\"%1\" "
                              "style=\"border-collapse:collapse\"><thead><tr>")
                   .arg(px(1.2));
        const QString sides = QStringLiteral("padding-left:%1px; padding-right:%1px; ").arg(cssPx(3));
        const QString headRule = sides + QStringLiteral("border-bottom-width:%1px; border-bottom-style:solid; "
                                                        "border-bottom-color:#555555").arg(cssPx(0.8));
        const QString rule = sides + QStringLiteral("border-bottom-width:%1px; border-bottom-style:solid; "
                                                    "border-bottom-color:#c8c8c8").arg(cssPx(0.4));
        for (int i = 0; i < header.size(); ++i)
            out += QStringLiteral("<th bgcolor=\"#ececec\" align=\"%1\"%2 style=\"%3\">%4</th>")
                       .arg(right.contains(i) ? QStringLiteral("right") : QStringLiteral("left"),
                            i < widths.size() ? QStringLiteral(" width=\"%1%\"").arg(widths[i]) : QString(), headRule,
                            header[i]);
        out += QStringLiteral("</tr></thead>");
        for (const QStringList& row : rows) {
            out += QStringLiteral("<tr>");
            for (int i = 0; i < row.size(); ++i)
                out += QStringLiteral("<td%1 style=\"%2\">%3</td>")
                           .arg(right.contains(i) ? QStringLiteral(" align=\"right\"") : QString(), rule, row[i]);
            out += QStringLiteral("</tr>");
        }
        // The block after a table keeps no top margin of its own: a small gap instead.
        out += QStringLiteral("</table><p style=\"margin:0; font-size:4pt\">&nbsp;</p>");
    }

    QString out;

private:
    double pt_;
};

QString decisionHtml(const QString& decision)
{
    if (decision.isEmpty())
        return {};
    const QString colour = decision == QLatin1String("pass")        ? QStringLiteral("#1b6e1b")
                           : decision == QLatin1String("undecided") ? QStringLiteral("#9a6200")
                                                                    : QStringLiteral("#b3261e");
    const bool strong = decision != QLatin1String("pass");
    return QStringLiteral("<span style=\"color:%1%2\">%3</span>")
        .arg(colour, strong ? QStringLiteral("; font-weight:bold") : QString(), escaped(decision));
}

void letterhead(Html& h, const ReportData& d)
{
    QString lab = d.lab.name.isEmpty()
                      ? QStringLiteral("<span style=\"color:#b3261e\">(no laboratory name set: [Report] LabName in "
                                       "kalvor-batch.conf)</span>")
                      : QStringLiteral("<span style=\"font-size:15pt; font-weight:bold\">%1</span>").arg(escaped(d.lab.name));
    for (const QString& line : d.lab.address.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        lab += QStringLiteral("<br>") + escaped(line.trimmed());
    h.out += QStringLiteral("<table width=\"100%\" cellspacing=\"0\" cellpadding=\"0\"><tr><td width=\"60%\">%1</td>"
                            "<td align=\"right\"><span style=\"font-size:15pt; font-weight:bold\">%2</span><br>batch %3"
                            "<br>issued %4 UTC</td></tr></table>")
                 .arg(lab, reportTitle(d), escaped(d.batch.name), utcText(d.madeUtc));
    h.out += QStringLiteral("<hr>");
}

QString lotText(const ReportData& d)
{
    if (d.batch.lot.isEmpty())
        return QStringLiteral("none named (the films are read for absorbance only)");
    if (!d.lot)
        return QStringLiteral("%1 (not defined in the store)").arg(escaped(d.batch.lot));
    const LotRecord& l = *d.lot;
    QString text = escaped(l.name);
    if (!l.filmType.isEmpty())
        text += QStringLiteral(", ") + escaped(l.filmType);
    text += QStringLiteral("; nominal thickness %1 mm").arg(withU(l.thicknessMm, l.thicknessUMm));
    for (const QString& wl : d.wavelengths)
        if (const std::optional<LotBackground> b = l.background(wl)) {
            text += QStringLiteral("; background A0 %1 at %2").arg(num(b->a0, 4), escaped(normalWavelength(wl)));
            if (b->films > 0)
                text += QStringLiteral(" (mean of %1 films%2)")
                            .arg(b->films)
                            .arg(b->batch.isEmpty() ? QString() : QStringLiteral(" of batch ") + escaped(b->batch));
        }
    return text;
}

void batchSection(Html& h, const ReportData& d)
{
    h.heading(QStringLiteral("Batch"));
    QString read = QStringLiteral("%1 dosimeters").arg(d.rows.size());
    if (!d.firstReadUtc.isEmpty())
        read += QStringLiteral(", %1 to %2").arg(utcText(d.firstReadUtc), utcText(d.lastReadUtc));
    if (!d.voided.isEmpty())
        read += QStringLiteral("; %1 IDs given up (void)").arg(d.voided.size());
    if (!d.superseded.isEmpty())
        read += QStringLiteral("; %1 records superseded").arg(d.superseded.size());
    QString irradiated = QStringLiteral("not given");
    if (d.terms && !d.terms->irradiatedUtc.isEmpty())
        irradiated = QStringLiteral("ended %1").arg(utcText(d.terms->irradiatedUtc));
    QString limits = QStringLiteral("none given");
    if (d.terms && d.terms->limitLowKGy && d.terms->limitHighKGy)
        limits = QStringLiteral("%1 to %2 kGy").arg(plain(*d.terms->limitLowKGy), plain(*d.terms->limitHighKGy));
    h.facts({{QStringLiteral("Batch"), QStringLiteral("%1 (opened %2)").arg(escaped(d.batch.name), utcText(d.batch.openedUtc))},
             {QStringLiteral("Film lot"), lotText(d)},
             {QStringLiteral("Operator"), escaped(d.batch.operatorName)},
             {QStringLiteral("Reader"), d.readers.isEmpty() ? QStringLiteral("-") : escaped(d.readers.join(QStringLiteral("; ")))},
             {QStringLiteral("Wavelength"), d.wavelengths.isEmpty() ? QStringLiteral("-") : escaped(d.wavelengths.join(QStringLiteral(", ")))},
             {QStringLiteral("Irradiation"), irradiated},
             {QStringLiteral("Read"), read},
             {QStringLiteral("Dose limits"), limits}});
    if (!d.hasDoses())
        h.para(QStringLiteral("<b>No doses:</b> %1. This report gives the absorbance of each film.").arg(escaped(d.withoutDoses)));
}

int doseDecimals(const ReportData& d)
{
    double smallest = 0;
    for (const ReportRow& r : d.rows)
        if (r.dose && r.dose->doseKGy && (smallest == 0 || r.dose->expanded < smallest))
            smallest = r.dose->expanded;
    return decimalsFor(smallest);
}

void summarySection(Html& h, const ReportData& d)
{
    const DoseSummary& s = d.summary;
    h.heading(QStringLiteral("Summary"));
    const int dec = doseDecimals(d);
    auto extreme = [&](const std::optional<DoseExtreme>& e) {
        if (!e)
            return QStringLiteral("-");
        QString text = QStringLiteral("%1 ± %2 kGy, dosimeter %3").arg(num(e->dose, dec), num(2 * e->uc, dec), escaped(e->dosimeterId));
        if (!e->position.isEmpty())
            text += QStringLiteral(" at %1").arg(escaped(e->position));
        return text;
    };
    const bool mapped = std::any_of(d.rows.begin(), d.rows.end(), [](const ReportRow& r) {
        return !r.reading.position.isEmpty() && r.dose && r.dose->doseKGy;
    });
    QString count = QStringLiteral("%1 with a dose").arg(s.doses);
    if (s.withoutDose)
        count += QStringLiteral(", %1 without (outside the calibrated range, or no calibration)").arg(s.withoutDose);
    QString dur = QStringLiteral("-");
    if (s.dur && s.durU)
        dur = QStringLiteral("%1 (U, k = 2; an upper bound: the calibration's part, common to both doses, cancels in "
                             "the ratio)")
                  .arg(withU(*s.dur, *s.durU));
    QStringList decisions;
    for (const auto& [n, word] : {std::pair{s.pass, "pass"}, {s.below, "below"}, {s.above, "above"}, {s.fail, "fail"},
                                  {s.undecided, "undecided"}})
        if (n)
            decisions << QStringLiteral("%1 %2").arg(n).arg(QLatin1String(word));
    h.facts({{QStringLiteral("Dosimeters"), count},
             {QStringLiteral("Lowest dose D<sub>min</sub>"), extreme(s.min)},
             {QStringLiteral("Highest dose D<sub>max</sub>"), extreme(s.max)},
             {QStringLiteral("Mean dose"), s.mean ? QStringLiteral("%1 kGy").arg(num(*s.mean, dec)) : QStringLiteral("-")},
             {QStringLiteral("Dose uniformity ratio"), QStringLiteral("DUR = D<sub>max</sub>/D<sub>min</sub> = ") + dur},
             {QStringLiteral("Decisions"), decisions.isEmpty() ? QStringLiteral("none (no dose limits)") : decisions.join(QStringLiteral(", "))}});
    h.para(QStringLiteral("D<sub>min</sub>, D<sub>max</sub> and DUR are taken over %1; ± is the expanded uncertainty U "
                          "(k = 2, about 95 %).")
               .arg(mapped ? QStringLiteral("the dosimeters with a position") : QStringLiteral("all dosimeters")));
}

void dosimeterTable(Html& h, const ReportData& d)
{
    h.heading(QStringLiteral("Dosimeters"));
    QList<QStringList> rows;
    if (d.hasDoses()) {
        const int dec = doseDecimals(d);
        h.para(QStringLiteral("The current record of each dosimeter, in reading order. U is the expanded uncertainty "
                              "(k = 2) of the dose."));
        for (const ReportRow& r : d.rows) {
            const bool dose = r.dose && r.dose->doseKGy;
            rows << QStringList{escaped(r.reading.dosimeterId), escaped(r.reading.position), utcText(r.reading.timeUtc),
                                r.reading.absorbance ? num(*r.reading.absorbance, 3) : QString(),
                                dose ? num(*r.dose->doseKGy, dec) : QString(), dose ? num(r.dose->expanded, dec) : QString(),
                                r.dose ? decisionHtml(r.dose->decision) : QString(),
                                r.dose ? escaped(r.dose->flags.join(QStringLiteral("; "))) : QStringLiteral("no dose")};
        }
        h.grid({QStringLiteral("Dosimeter"), QStringLiteral("Position"), QStringLiteral("Read (UTC)"),
                QStringLiteral("Absorbance"), QStringLiteral("Dose (kGy)"), QStringLiteral("U (kGy)"),
                QStringLiteral("Decision"), QStringLiteral("Flags")},
               rows, {3, 4, 5}, {11, 15, 18, 12, 11, 9, 10, 14});
        return;
    }
    h.para(QStringLiteral("The current record of each dosimeter, in reading order: the absorbance (the median of the "
                          "readings that agreed), their spread (largest minus smallest) and their number."));
    for (const ReportRow& r : d.rows)
        rows << QStringList{escaped(r.reading.dosimeterId), escaped(r.reading.position), utcText(r.reading.timeUtc),
                            r.reading.absorbance ? num(*r.reading.absorbance, 3) : QString(), num(r.reading.spread, 3),
                            QString::number(r.reading.count), escaped(r.reading.status)};
    h.grid({QStringLiteral("Dosimeter"), QStringLiteral("Position"), QStringLiteral("Read (UTC)"),
            QStringLiteral("Absorbance"), QStringLiteral("Spread"), QStringLiteral("Readings"), QStringLiteral("Status")},
           rows, {3, 4, 5}, {16, 16, 22, 12, 10, 10, 14});
}

void notCurrentSection(Html& h, const ReportData& d)
{
    if (d.voided.isEmpty() && d.superseded.isEmpty())
        return;
    h.heading(QStringLiteral("Records not in the table"));
    if (!d.voided.isEmpty()) {
        h.sub(QStringLiteral("IDs given up (void)"));
        QList<QStringList> rows;
        for (const ReadingRecord& r : d.voided)
            rows << QStringList{escaped(r.dosimeterId), QString::number(r.seq), utcText(r.timeUtc), escaped(r.reason)};
        h.grid({QStringLiteral("Dosimeter"), QStringLiteral("Record"), QStringLiteral("Time (UTC)"), QStringLiteral("Reason")},
               rows, {1}, {16, 10, 22, 52});
    }
    if (!d.superseded.isEmpty()) {
        h.sub(QStringLiteral("Superseded records"));
        QList<QStringList> rows;
        for (const SupersededRow& s : d.superseded) {
            const ReadingRecord& by = s.by;
            QString how = by.corrects == s.reading.seq ? QStringLiteral("corrected to ID %1 by record %2").arg(escaped(by.dosimeterId)).arg(by.seq)
                          : by.repeats == s.reading.seq ? QStringLiteral("read again in record %1").arg(by.seq)
                          : by.isVoid()                  ? QStringLiteral("given up in record %1").arg(by.seq)
                                                         : QStringLiteral("superseded by record %1").arg(by.seq);
            rows << QStringList{escaped(s.reading.dosimeterId), QString::number(s.reading.seq), utcText(s.reading.timeUtc),
                                s.reading.absorbance ? num(*s.reading.absorbance, 3) : QString(), how, escaped(by.reason)};
        }
        h.grid({QStringLiteral("Dosimeter"), QStringLiteral("Record"), QStringLiteral("Time (UTC)"),
                QStringLiteral("Absorbance"), QStringLiteral("Replaced"), QStringLiteral("Reason")},
               rows, {1, 3}, {14, 8, 19, 11, 24, 24});
    }
}

void calibrationSection(Html& h, const ReportData& d, int index)
{
    const ReportCalibration& rc = d.calibrations[index];
    const CalibrationRecord& c = rc.record;
    const QJsonObject& fit = c.fit;
    h.heading(QStringLiteral("Calibration %1").arg(c.seq));
    QString model = escaped(fit.value(QStringLiteral("model")).toString());
    if (fit.value(QStringLiteral("through_zero")).toBool())
        model += QStringLiteral(" through zero");
    model += QStringLiteral(": ") + escaped(fit.value(QStringLiteral("formula")).toString())
             + QStringLiteral(" (R the response k in %1, D the dose in kGy)").arg(kMmInv);
    QStringList parameters;
    for (const QJsonValue& p : fit.value(QStringLiteral("parameters")).toArray()) {
        const QJsonObject o = p.toObject();
        parameters << QStringLiteral("%1 = %2").arg(escaped(o.value(QStringLiteral("name")).toString()),
                                                    withU(o.value(QStringLiteral("value")).toDouble(),
                                                          o.value(QStringLiteral("u")).toDouble()));
    }
    QString statistics = QStringLiteral("residual SD %1 %2 (%3 degrees of freedom), R<sup>2</sup> %4")
                             .arg(sig3(fit.value(QStringLiteral("residual_sd")).toDouble()), kMmInv)
                             .arg(fit.value(QStringLiteral("dof")).toInt())
                             .arg(QString::number(fit.value(QStringLiteral("r_squared")).toDouble(), 'f', 5));
    if (fit.value(QStringLiteral("pooled_sd")).isDouble())
        statistics += QStringLiteral("; pooled replicate SD %1 %2").arg(sig3(fit.value(QStringLiteral("pooled_sd")).toDouble()), kMmInv);
    if (const QJsonObject lof = fit.value(QStringLiteral("lack_of_fit")).toObject(); !lof.isEmpty())
        statistics += QStringLiteral("; lack of fit F = %1, p = %2").arg(sig3(lof.value(QStringLiteral("f")).toDouble()),
                                                                     sig3(lof.value(QStringLiteral("p")).toDouble()));
    const int films = int(fit.value(QStringLiteral("points")).toArray().size());
    QString made = QStringLiteral("%1 by %2, from %3 films").arg(utcText(c.timeUtc), escaped(c.operatorName)).arg(films);
    if (!c.dosesFile.isEmpty())
        made += QStringLiteral(" and the reference doses of %1").arg(escaped(c.dosesFile));
    QStringList approved;
    for (const ApprovalRecord& a : rc.approvals) {
        QString who = escaped(a.approverName.isEmpty() ? a.approverLogin : a.approverName);
        if (!a.approverName.isEmpty() && a.approverName != a.approverLogin)
            who += QStringLiteral(" (login %1)").arg(escaped(a.approverLogin));
        approved << QStringLiteral("by %1 on %2 UTC, reason: \u201C%3\u201D").arg(who, utcText(a.timeUtc), escaped(a.reason));
    }
    if (rc.supersededBy)
        approved << QStringLiteral("<b>since superseded by calibration %1</b>").arg(*rc.supersededBy);
    h.facts({{QStringLiteral("Calibration"), QStringLiteral("%1: lot %2, reader %3 at %4; gives %5 of the doses")
                                                 .arg(c.seq)
                                                 .arg(escaped(c.lot), escaped(c.readerSerial), escaped(normalWavelength(c.wavelength)))
                                                 .arg(rc.doses)},
             {QStringLiteral("Made"), made},
             {QStringLiteral("Model"), model},
             {QStringLiteral("Parameters"), parameters.join(QStringLiteral("; "))},
             {QStringLiteral("Fit"), statistics},
             {QStringLiteral("Calibrated range"), QStringLiteral("%1 to %2 kGy").arg(plain(c.rangeMin), plain(c.rangeMax))},
             {QStringLiteral("Reference doses"), QStringLiteral("relative standard uncertainty %1 % (k = 1)").arg(plain(100 * c.referenceU))},
             {QStringLiteral("Read window"), c.readWindow.isEmpty() ? QStringLiteral("none") : escaped(c.readWindow) + QStringLiteral(" after the end of irradiation")},
             {QStringLiteral("Approved"), approved.isEmpty() ? QStringLiteral("not approved") : approved.join(QStringLiteral("<br>"))}});
    if (rc.curve)
        h.out += QStringLiteral("<p align=\"center\"><a name=\"curve-%1\">*</a></p>").arg(index);
    else
        h.para(QStringLiteral("The stored curve cannot be drawn: %1").arg(escaped(rc.curveWhy)));
}

void budgetSection(Html& h, const ReportData& d)
{
    if (!d.typical)
        return;
    const TypicalBudget& t = *d.typical;
    const DoseRecord& dose = *t.row.dose;
    const double D = *dose.doseKGy;
    h.heading(QStringLiteral("Uncertainty budget of a typical reading"));
    QString who = QStringLiteral("Dosimeter %1").arg(escaped(t.row.reading.dosimeterId));
    if (!t.row.reading.position.isEmpty())
        who += QStringLiteral(" at %1").arg(escaped(t.row.reading.position));
    h.para(QStringLiteral("%1, the reading nearest the batch's median dose (%2 kGy): absorbance A = %3, background "
                          "A0 = %4, thickness t = %5 mm (%6), response k = (A - A0)/t = %7 %8, dose D = %9 kGy from "
                          "calibration %10, where the curve's slope is R' = %11 %8/kGy.")
               .arg(who, sig3(t.medianDose), num(t.row.reading.absorbance.value_or(0), 3), num(dose.a0, 4),
                    plain(dose.thicknessMm),
                    dose.ownThickness ? QStringLiteral("the film's own") : QStringLiteral("the lot's nominal"),
                    sig3(dose.response), kMmInv, sig3(D))
               .arg(dose.calibration)
               .arg(sig3(t.how.slope)));
    QString readHow;
    switch (t.how.uResponseFrom) {
    case calib::ResponseSpread::Reading:
        readHow = QStringLiteral("the reading's own spread %1 over %2 readings / d<sub>2</sub>(%2) / t, larger than the "
                                 "calibration's replicate SD")
                      .arg(num(t.row.reading.spread, 3))
                      .arg(t.row.reading.count);
        break;
    case calib::ResponseSpread::Replicates:
        readHow = QStringLiteral("the calibration's pooled replicate SD, larger than the reading's own spread (%1 over %2 "
                                 "readings)")
                      .arg(num(t.row.reading.spread, 3))
                      .arg(t.row.reading.count);
        break;
    case calib::ResponseSpread::Residual:
        readHow = QStringLiteral("the calibration's residual SD (it has no replicates), larger than the reading's own "
                                 "spread");
        break;
    }
    const double uc = dose.uc;
    const int dec = decimalsFor(dose.expanded) + 1;  // three digits of U
    auto row = [&](const QString& what, double u, const QString& how) {
        return QStringList{what, num(u, dec), QString::number(100 * u / D, 'f', 2), how};
    };
    const QList<QStringList> rows{
        row(QStringLiteral("u<sub>fit</sub>, calibration curve"), dose.uFit,
            QStringLiteral("from the covariance of the curve's parameters at D: &radic;(g<sup>T</sup>&Sigma;g)/|R'|")),
        row(QStringLiteral("u<sub>read</sub>, reading"), dose.uRead,
            QStringLiteral("u(k)/|R'|, u(k) = %1 %2: %3").arg(sig3(t.how.uResponse), kMmInv, readHow)),
        row(QStringLiteral("u<sub>ref</sub>, reference doses"), dose.uRef,
            QStringLiteral("D &times; %1 %, the relative standard uncertainty of the calibration's reference doses")
                .arg(plain(100 * t.referenceU))),
        row(QStringLiteral("u<sub>thick</sub>, thickness"), dose.uThick,
            QStringLiteral("D &times; u(t)/t = D &times; %1/%2 mm (first order: the response scales with 1/t)")
                .arg(plain(t.thicknessU), plain(dose.thicknessMm))),
        row(QStringLiteral("<b>u<sub>c</sub>, combined</b>"), uc, QStringLiteral("the root of the sum of the squares")),
        row(QStringLiteral("<b>U, expanded</b>"), dose.expanded, QStringLiteral("2 &times; u<sub>c</sub> (k = 2, about 95 %)")),
    };
    h.grid({QStringLiteral("Component"), QStringLiteral("kGy"), QStringLiteral("% of D"), QStringLiteral("How it was obtained")},
           rows, {1, 2}, {24, 9, 9, 58});
}

void storeSection(Html& h, const ReportData& d)
{
    h.heading(QStringLiteral("Record store"));
    h.para(QStringLiteral("Made from the record store %1 as it stood at chain head row %2, hash<br>"
                          "<span style=\"font-family:'Liberation Mono'\">%3</span>.<br>"
                          "The SHA-256 of this file is recorded in the store with that head. <b>kalvor-batch verify "
                          "--report FILE</b> says whether a file is this report as issued, and whether the store still "
                          "holds every row it was made from.")
               .arg(escaped(d.storePath))
               .arg(d.head.rows)
               .arg(QString::fromLatin1(d.head.hash)));
    h.para(QStringLiteral("Issued by %1 with kalvor-batch %2. All times are UTC.")
               .arg(escaped(d.issuedBy), QStringLiteral(KALVOR_VERSION)));
}

void signatures(Html& h)
{
    h.heading(QStringLiteral("Review"));
    const QString line = QStringLiteral("<td width=\"%1%\" style=\"border-bottom-width:%2px; border-bottom-style:solid; "
                                        "border-bottom-color:#000000\">&nbsp;</td>");
    h.out += QStringLiteral("<table width=\"100%\" cellspacing=\"0\" cellpadding=\"%1\" style=\"border-collapse:collapse\"><tr>"
                            "<td width=\"14%\">Reviewed by</td>%2<td width=\"8%\" align=\"right\">Date</td>%3"
                            "<td width=\"12%\" align=\"right\">Signature</td>%4</tr></table>")
                 .arg(h.px(6), line.arg(30).arg(h.cssPx(0.6)), line.arg(14).arg(h.cssPx(0.6)), line.arg(22).arg(h.cssPx(0.6)));
}

} // namespace

QString reportHtml(const ReportData& d, double pxPerPt)
{
    Html h(pxPerPt);
    h.out += QStringLiteral("<html><body>");
    letterhead(h, d);
    batchSection(h, d);
    if (d.hasDoses()) {
        summarySection(h, d);
        h.heading(QStringLiteral("Decision rule"));
        QString rule = describeRule(d.terms.value_or(BatchTermsRecord{}));
        if (!rule.isEmpty())
            rule[0] = rule[0].toUpper();
        h.para(escaped(rule) + QLatin1Char('.'));
    }
    dosimeterTable(h, d);
    notCurrentSection(h, d);
    for (int i = 0; i < d.calibrations.size(); ++i)
        calibrationSection(h, d, i);
    budgetSection(h, d);
    storeSection(h, d);
    signatures(h);
    h.out += QStringLiteral("</body></html>");
    return h.out;
}

} // namespace kalvor::report
