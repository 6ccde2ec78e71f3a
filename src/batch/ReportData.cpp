#include "batch/ReportData.h"

#include "batch/Dosimetry.h"
#include "calib/CalibrationJson.h"
#include "records/CurrentRecords.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace kalvor::batch {

using namespace kalvor::records;

bool ReportData::hasDoses() const
{
    return std::any_of(rows.begin(), rows.end(), [](const ReportRow& r) { return r.dose.has_value(); });
}

int decimalsFor(double u)
{
    if (!(u > 0) || !std::isfinite(u))
        return 2;
    return std::clamp(1 - int(std::floor(std::log10(u))), 0, 4);
}

QString decimalText(double value, int decimals) { return QString::number(value, 'f', decimals); }

QString counted(qsizetype n, const QString& noun) { return QStringLiteral("%1 %2%3").arg(n).arg(noun, n == 1 ? QString() : QStringLiteral("s")); }

namespace {

void addOnce(QStringList& list, const QString& text)
{
    if (!text.isEmpty() && !list.contains(text))
        list << text;
}

// The reading nearest the median dose of the batch, with its budget
// recomputed to say where each part came from.
std::optional<TypicalBudget> typicalBudget(const RecordStore& store, const QList<ReportRow>& rows,
                                           const QList<ReportCalibration>& calibrations)
{
    QList<double> doses;
    for (const ReportRow& r : rows)
        if (r.dose && r.dose->doseKGy)
            doses << *r.dose->doseKGy;
    if (doses.isEmpty())
        return std::nullopt;
    std::sort(doses.begin(), doses.end());
    const qsizetype n = doses.size();
    const double median = n % 2 ? doses[n / 2] : (doses[n / 2 - 1] + doses[n / 2]) / 2;
    const ReportRow* nearest = nullptr;
    for (const ReportRow& r : rows)
        if (r.dose && r.dose->doseKGy
            && (!nearest || std::abs(*r.dose->doseKGy - median) < std::abs(*nearest->dose->doseKGy - median)))
            nearest = &r;
    const DoseRecord& d = *nearest->dose;
    const auto c = std::find_if(calibrations.begin(), calibrations.end(),
                                [&](const ReportCalibration& rc) { return rc.record.seq == d.calibration; });
    if (c == calibrations.end() || !c->curve)
        return std::nullopt;
    TypicalBudget t{*nearest, median, {}, c->record.referenceU, 0};
    if (const std::optional<LotRecord> lot = lotRow(store, d.lotRow))
        t.thicknessU = lot->thicknessUMm;
    calib::FilmReading film;
    film.response = d.response;
    film.thickness = d.thicknessMm;
    film.spread = nearest->reading.spread;
    film.count = nearest->reading.count;
    film.thicknessU = t.thicknessU;
    const calib::DoseEstimate e = calib::estimateDose(*c->curve, film, t.referenceU);
    if (!e.uncertainty)
        return std::nullopt;
    t.how = *e.uncertainty;
    return t;
}

} // namespace

std::optional<ReportData> readReport(const RecordStore& store, const QString& batchName, QString* why)
{
    ReportData data;
    data.storePath = QFileInfo(store.path()).absoluteFilePath();
    data.madeUtc = utcNow();
    const ReadSnapshot snapshot(store);
    const std::optional<BatchRecord> batch = store.batchNamed(batchName);
    if (!batch) {
        *why = QStringLiteral("there is no batch named %1").arg(batchName);
        return std::nullopt;
    }
    data.batch = *batch;
    data.terms = batchTerms(store, batch->seq);
    const QList<ReadingRecord> readings = store.readings(batch->seq);
    const QHash<qint64, qint64> supersededBy = records::supersededBy(readings);
    const QHash<qint64, DoseRecord> doses = currentDoses(store, batch->seq);
    QHash<qint64, ReadingRecord> bySeq;
    QList<ReadingRecord> current;
    for (const ReadingRecord& r : readings) {
        bySeq.insert(r.seq, r);
        if (supersededBy.contains(r.seq))
            continue;
        current << r;
        if (r.isVoid()) {
            data.voided << r;
            continue;
        }
        ReportRow row{r, std::nullopt};
        if (doses.contains(r.seq))
            row.dose = doses.value(r.seq);
        data.rows << row;
        addOnce(data.readers, QStringLiteral("%1, serial %2, gain %3").arg(r.readerModel, r.readerSerial, r.readerGain));
        addOnce(data.wavelengths, r.wavelength);
        if (data.firstReadUtc.isEmpty() || r.timeUtc < data.firstReadUtc)
            data.firstReadUtc = r.timeUtc;
        data.lastReadUtc = std::max(data.lastReadUtc, r.timeUtc);
    }
    for (const ReadingRecord& r : readings)
        if (supersededBy.contains(r.seq))
            data.superseded << SupersededRow{r, bySeq.value(supersededBy.value(r.seq))};

    // The calibrations of the current doses, in the order they were made.
    QMap<qint64, int> used;
    std::optional<qint64> lotDefinition;
    for (const ReportRow& r : std::as_const(data.rows))
        if (r.dose) {
            ++used[r.dose->calibration];
            lotDefinition = r.dose->lotRow;
        }
    for (auto it = used.constBegin(); it != used.constEnd(); ++it) {
        const std::optional<CalibrationRecord> record = calibration(store, it.key());
        if (!record)
            continue;
        ReportCalibration c;
        c.record = *record;
        c.curve = calib::calibrationFromJson(record->fit, &c.curveWhy);
        c.approvals = approvals(store, record->seq);
        c.doses = it.value();
        const std::optional<CalibrationRecord> now =
            approvedCalibration(store, record->lot, record->readerSerial, record->wavelength);
        if (now && now->seq != record->seq)
            c.supersededBy = now->seq;
        data.calibrations << c;
    }
    data.lot = lotDefinition ? lotRow(store, *lotDefinition) : std::nullopt;
    if (!data.lot && !batch->lot.isEmpty())
        data.lot = currentLot(store, batch->lot);

    data.summary = summarise(current, doses);
    data.typical = typicalBudget(store, data.rows, data.calibrations);
    if (!data.hasDoses()) {
        if (batch->lot.isEmpty())
            data.withoutDoses = QStringLiteral("the batch names no film lot, so its films are read for absorbance only");
        else if (data.rows.isEmpty())
            data.withoutDoses = QStringLiteral("the batch has no readings");
        else {
            const ReadingRecord& first = data.rows.first().reading;
            QString basisWhy;
            data.withoutDoses = doseBasis(store, batch->lot, first.readerSerial, first.wavelength, &basisWhy)
                                    ? QStringLiteral("its readings were taken before the calibration was approved and "
                                                     "have no doses yet (kalvor-batch dose --batch gives them theirs)")
                                    : basisWhy;
        }
    }
    data.head = store.head();
    return data;
}

} // namespace kalvor::batch
