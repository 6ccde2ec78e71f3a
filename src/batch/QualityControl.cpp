#include "batch/QualityControl.h"

#include "batch/BatchSession.h"
#include "records/Calibrations.h"
#include "records/Csv.h"

#include <QHash>
#include <algorithm>
#include <cmath>

namespace kalvor::batch {

using namespace kalvor::records;

namespace {

QDateTime utc(const QString& text)
{
    QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!t.isValid())
        t = QDateTime::fromString(text, Qt::ISODate);
    return t.toUTC();
}

bool inPeriod(const QDateTime& t, const QDateTime& from, const QDateTime& to)
{
    return (!from.isValid() || t >= from) && (!to.isValid() || t < to);
}

QString signedNumber(double v, int decimals = 3)
{
    return (v >= 0 ? QStringLiteral("+") : QString()) + QString::number(v, 'f', decimals);
}

QString localMinute(const QDateTime& t) { return t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")); }

const QStringList kFilters{QStringLiteral("light"), QStringLiteral("medium"), QStringLiteral("dark")};

} // namespace

JudgedCheck judgeCheck(const QList<ReferenceSet>& references, const FilterCheckRecord& check)
{
    JudgedCheck j;
    j.check = check;
    j.time = utc(check.timeUtc);
    j.reference = referenceFor(references, check.readerSerial, check.wavelength, j.time.toLocalTime().date());
    if (j.reference)
        j.referenceValue = j.reference->absorbance(check.filter);
    if (j.referenceValue && check.value) {
        j.deviation = *check.value - *j.referenceValue;
        // Compared as shown (three decimals), so that a result the window shows
        // as exactly at the tolerance is within it.
        j.within = std::abs(*j.deviation) <= j.reference->tolerance + 1e-9;
    }
    return j;
}

QString judgementText(const JudgedCheck& j)
{
    const FilterCheckRecord& c = j.check;
    const QString measured = c.value ? QString::number(*c.value, 'f', 3) : c.shown.trimmed();
    if (!c.value)
        return QStringLiteral("%1 filter \"%2\": no number to judge").arg(c.filter, measured);
    if (!j.reference)
        return QStringLiteral("%1 filter %2: no reference filters are recorded for reader %3 at %4 "
                              "(File > Reference Filters)")
            .arg(c.filter, measured, c.readerSerial, normalWavelength(c.wavelength));
    return QStringLiteral("%1 filter %2 against %3 ± %4: %5, %6")
        .arg(c.filter, measured, QString::number(*j.referenceValue, 'f', 3), QString::number(j.reference->tolerance, 'f', 3),
             signedNumber(*j.deviation), *j.within ? QStringLiteral("within tolerance") : QStringLiteral("OUTSIDE TOLERANCE"));
}

QString FilterSeries::title() const
{
    return QStringLiteral("reader %1 · %2 · %3").arg(readerSerial, normalWavelength(wavelength), filter);
}

bool ZeroTrend::falling() const { return fit.ok && fit.n >= 3 && fit.slope < 0 && -fit.slope > 2 * fit.slopeSe; }

QString ZeroTrend::title() const { return QStringLiteral("reader %1 · %2 · zero").arg(readerSerial, normalWavelength(wavelength)); }

QString ZeroTrend::summary() const
{
    if (!fit.ok)
        return QStringLiteral("%1 zero%2: too few to show a trend").arg(points.size()).arg(points.size() == 1 ? "" : "s");
    QString text = QStringLiteral("%1 %2 V per 30 days (%3 %), %4 zeros from %5 to %6")
                       .arg(signedNumber(slopePer30Days, 4),
                            fit.n > 2 ? QStringLiteral("± %1").arg(QString::number(slopeSePer30Days, 'f', 4)) : QString(),
                            signedNumber(percentPer30Days, 2))
                       .arg(points.size())
                       .arg(localMinute(points.constFirst().time), localMinute(points.constLast().time));
    if (falling())
        text += QStringLiteral(": the zero falls (more than twice its standard error); check the lamp");
    return text;
}

QList<ZeroTrend> zeroTrends(const QList<ReadingRecord>& readings)
{
    QList<ZeroTrend> out;
    QHash<QString, int> index;
    QHash<QString, bool> seen;
    for (const ReadingRecord& r : readings) {
        bool ok = false;
        const double volts = r.zero.trimmed().toDouble(&ok);
        if (!ok || r.readerSerial.isEmpty() || r.wavelength.isEmpty())
            continue;
        QDateTime time = utc(r.zeroUtc);
        if (!time.isValid())
            time = utc(r.timeUtc);
        if (!time.isValid())
            continue;
        const QString key = r.readerSerial + QLatin1Char('\n') + normalWavelength(r.wavelength);
        // Every reading of one zero carries it: it counts once.
        const QString zeroKey = key + QLatin1Char('\n') + time.toString(Qt::ISODateWithMs) + QLatin1Char('\n') + r.zero;
        if (seen.contains(zeroKey))
            continue;
        seen.insert(zeroKey, true);
        if (!index.contains(key)) {
            index.insert(key, int(out.size()));
            ZeroTrend t;
            t.readerSerial = r.readerSerial;
            t.wavelength = normalWavelength(r.wavelength);
            out << t;
        }
        out[index.value(key)].points << ZeroPoint{time, volts};
    }
    for (ZeroTrend& t : out) {
        std::stable_sort(t.points.begin(), t.points.end(), [](const ZeroPoint& a, const ZeroPoint& b) { return a.time < b.time; });
        std::vector<double> x, y;
        for (const ZeroPoint& p : t.points) {
            x.push_back(t.points.constFirst().time.msecsTo(p.time) / 86400000.0);
            y.push_back(p.volts);
        }
        t.fit = calib::fitLine(x, y);
        if (t.fit.ok) {
            t.slopePer30Days = 30 * t.fit.slope;
            t.slopeSePer30Days = 30 * t.fit.slopeSe;
            const double mean = calib::meanSd(y).mean;
            t.percentPer30Days = mean != 0 ? 100 * t.slopePer30Days / mean : 0;
        }
    }
    std::sort(out.begin(), out.end(), [](const ZeroTrend& a, const ZeroTrend& b) {
        return a.readerSerial != b.readerSerial ? a.readerSerial < b.readerSerial : a.wavelength < b.wavelength;
    });
    return out;
}

QcData readQc(const RecordStore& store, const QcOptions& options)
{
    QcData d;
    d.options = options;
    d.storePath = store.path();
    d.timeUtc = utcNow();
    ReadSnapshot snapshot(store);
    const QList<ReferenceSet> references = referenceSets(store);
    d.references = currentReferenceSets(references);

    QList<JudgedCheck> all;
    for (const FilterCheckRecord& c : store.filterChecks())
        all << judgeCheck(references, c);
    std::stable_sort(all.begin(), all.end(), [](const JudgedCheck& a, const JudgedCheck& b) { return a.time < b.time; });

    // One chart per reader, wavelength and filter, over the whole history:
    // its limits and runs do not depend on the period shown.
    QHash<QString, int> index;
    for (const JudgedCheck& j : all) {
        if (!j.deviation)
            continue;
        const QString key = j.check.readerSerial + QLatin1Char('\n') + normalWavelength(j.check.wavelength)
                            + QLatin1Char('\n') + j.check.filter;
        if (!index.contains(key)) {
            index.insert(key, int(d.series.size()));
            FilterSeries s;
            s.readerSerial = j.check.readerSerial;
            s.wavelength = normalWavelength(j.check.wavelength);
            s.filter = j.check.filter;
            d.series << s;
        }
        d.series[index.value(key)].checks << j;
    }
    QHash<qint64, QList<int>> rulesOf;
    for (FilterSeries& s : d.series) {
        std::vector<double> values;
        std::vector<bool> baseline;
        for (const JudgedCheck& j : s.checks) {
            values.push_back(*j.deviation);
            if (options.hasBaselinePeriod())
                baseline.push_back(inPeriod(j.time, options.baselineFrom, options.baselineTo));
        }
        s.chart = imrChart(values, baseline);
        s.baseline = options.hasBaselinePeriod() ? QStringLiteral("baseline %1").arg(periodText({options.baselineFrom, options.baselineTo, {}, {}}))
                                                 : QStringLiteral("baseline: the first %1 checks").arg(kDefaultBaselinePoints);
        QList<JudgedCheck> shown;
        std::vector<ChartPoint> points;
        for (qsizetype i = 0; i < s.checks.size(); ++i) {
            s.checks[i].rules = s.chart.points[size_t(i)].rules;
            rulesOf.insert(s.checks[i].check.seq, s.checks[i].rules);
            if (inPeriod(s.checks[i].time, options.from, options.to)) {
                shown << s.checks[i];
                points.push_back(s.chart.points[size_t(i)]);
            }
        }
        s.checks = shown;
        s.chart.points = points;
    }
    d.series.erase(std::remove_if(d.series.begin(), d.series.end(), [](const FilterSeries& s) { return s.checks.isEmpty(); }),
                   d.series.end());
    std::sort(d.series.begin(), d.series.end(), [](const FilterSeries& a, const FilterSeries& b) {
        if (a.readerSerial != b.readerSerial)
            return a.readerSerial < b.readerSerial;
        if (a.wavelength != b.wavelength)
            return a.wavelength < b.wavelength;
        return kFilters.indexOf(a.filter) < kFilters.indexOf(b.filter);
    });
    for (JudgedCheck& j : all) {
        if (!inPeriod(j.time, options.from, options.to))
            continue;
        j.rules = rulesOf.value(j.check.seq);
        d.results << j;
    }

    QList<ReadingRecord> readings = store.readingsBetween(options.from, options.to);
    readings.erase(std::remove_if(readings.begin(), readings.end(), [](const ReadingRecord& r) { return r.isVoid(); }),
                   readings.end());
    d.zeros = zeroTrends(readings);
    for (const VerificationRecord& v : verifications(store))
        if (inPeriod(utc(v.timeUtc), options.from, options.to))
            d.verifications << v;
    return d;
}

QByteArray qcCsv(const QcData& data, bool raw)
{
    QByteArray out = csv::record({QStringLiteral("time_utc"), QStringLiteral("reader_serial"), QStringLiteral("wavelength"),
                                  QStringLiteral("filter"), QStringLiteral("measured"), QStringLiteral("reference"),
                                  QStringLiteral("deviation"), QStringLiteral("within_tolerance"), QStringLiteral("rules")});
    auto cell = [raw](const QString& text) { return raw ? text : csv::neutralised(text); };
    for (const JudgedCheck& j : data.results) {
        const FilterCheckRecord& c = j.check;
        out += csv::record({cell(c.timeUtc), cell(c.readerSerial), cell(c.wavelength), cell(c.filter),
                            c.value ? csv::number(*c.value) : cell(c.shown.trimmed()),
                            j.referenceValue ? csv::number(*j.referenceValue) : QString(),
                            // Rounded to the reading's own resolution beyond the 0.001 shown: no binary residue.
                            j.deviation ? csv::number(std::round(*j.deviation * 1e6) / 1e6) : QString(),
                            j.within ? (*j.within ? QStringLiteral("1") : QStringLiteral("0")) : QString(),
                            rulesCell(j.rules)});
    }
    return out;
}

QString periodText(const QcOptions& o)
{
    auto day = [](const QDateTime& t) { return t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")); };
    if (o.from.isValid() && o.to.isValid())
        return QStringLiteral("from %1 to before %2").arg(day(o.from), day(o.to));
    if (o.from.isValid())
        return QStringLiteral("from %1 on").arg(day(o.from));
    if (o.to.isValid())
        return QStringLiteral("before %1").arg(day(o.to));
    return QStringLiteral("everything recorded");
}

QStringList seriesFindings(const FilterSeries& s, const QcOptions&)
{
    QStringList lines;
    int outside = 0;
    for (const JudgedCheck& j : s.checks)
        outside += j.within && !*j.within ? 1 : 0;
    const JudgedCheck& last = s.checks.constLast();
    lines << QStringLiteral("%1 checks, %2 outside tolerance (±%3); the last %4 at %5")
                 .arg(s.checks.size())
                 .arg(outside)
                 .arg(QString::number(last.reference->tolerance, 'f', 3), signedNumber(*last.deviation), localMinute(last.time));
    if (!s.chart.limits) {
        lines << QStringLiteral("no control limits: %1").arg(s.chart.whyNoLimits);
        return lines;
    }
    const ChartLimits& l = *s.chart.limits;
    lines << QStringLiteral("centre %1, σ %2 (mean moving range %3 / 1.128), limits %4 to %5, moving-range limit %6; %7 (%8 checks)")
                 .arg(signedNumber(l.centre, 4), QString::number(l.sigma, 'f', 4), QString::number(l.meanMovingRange, 'f', 4),
                      signedNumber(l.lower(), 4), signedNumber(l.upper(), 4), QString::number(l.movingRangeUpper(), 'f', 4),
                      s.baseline)
                 .arg(l.baselinePoints);
    QStringList fired;
    for (const JudgedCheck& j : s.checks)
        if (!j.rules.isEmpty())
            fired << QStringLiteral("%1 at %2 (%3)").arg(j.rules.size() == 1 ? QStringLiteral("rule %1").arg(j.rules[0])
                                                                             : QStringLiteral("rules %1").arg(rulesCell(j.rules)),
                                                       localMinute(j.time), signedNumber(*j.deviation));
    lines << (fired.isEmpty() ? QStringLiteral("no run rule fired") : QStringLiteral("run rules: ") + fired.join(QStringLiteral("; ")));
    return lines;
}

// Why the set cannot be recorded; empty when it can.
QString referenceSetProblem(const ReferenceSet& s)
{
    if (s.readerSerial.trimmed().isEmpty())
        return QStringLiteral("the reader's serial number is missing");
    if (const QString p = BatchSession::nameProblem(QStringLiteral("serial number"), s.readerSerial); !p.isEmpty())
        return p;
    bool ok = false;
    const int nm = normalWavelength(s.wavelength).section(QLatin1Char(' '), 0, 0).toInt(&ok);
    if (!ok || nm < 200 || nm > 2000)
        return QStringLiteral("the wavelength \"%1\" is no wavelength in nm (e.g. 510)").arg(s.wavelength);
    for (const auto& [name, value] : {std::pair{"light", s.light}, std::pair{"medium", s.medium}, std::pair{"dark", s.dark}})
        if (!std::isfinite(value) || value <= 0 || value > 3.0)
            return QStringLiteral("the %1 filter's absorbance %2 is not within the reader's range, above 0 up to 3.0")
                .arg(QLatin1String(name))
                .arg(value);
    if (s.expandedU && (!std::isfinite(*s.expandedU) || *s.expandedU < 0 || *s.expandedU > 0.5))
        return QStringLiteral("the uncertainty U must lie from 0 to 0.5 absorbance");
    if (!std::isfinite(s.tolerance) || s.tolerance <= 0 || s.tolerance > 0.5)
        return QStringLiteral("the tolerance must lie above 0 up to 0.5 absorbance");
    if (s.certificate.trimmed().isEmpty())
        return QStringLiteral("the certificate's ID is missing");
    if (const QString p = BatchSession::nameProblem(QStringLiteral("certificate ID"), s.certificate); !p.isEmpty())
        return p;
    if (!s.certificateDate.isValid())
        return QStringLiteral("the certificate's date is missing or not a date (YYYY-MM-DD)");
    return {};
}

std::optional<qint64> recordReferenceSet(RecordStore& store, ReferenceSet s, const QString& operatorName, QString* why)
{
    if (const QString problem = referenceSetProblem(s); !problem.isEmpty()) {
        *why = problem;
        return std::nullopt;
    }
    s.readerSerial = s.readerSerial.trimmed();
    s.certificate = s.certificate.trimmed();
    s.wavelength = normalWavelength(s.wavelength);
    s.timeUtc = utcNow();
    s.operatorName = operatorName;
    s.programVersion = QStringLiteral(KALVOR_VERSION);
    s.supersedes.reset();
    for (const ReferenceSet& c : currentReferenceSets(referenceSets(store)))
        if (c.readerSerial == s.readerSerial && normalWavelength(c.wavelength) == s.wavelength)
            s.supersedes = c.seq;
    return appendReferenceSet(store, s, why);
}

} // namespace kalvor::batch
