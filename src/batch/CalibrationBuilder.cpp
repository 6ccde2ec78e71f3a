#include "batch/CalibrationBuilder.h"

#include "batch/BatchSession.h"
#include "calib/CalibrationJson.h"
#include "records/CurrentRecords.h"

#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

namespace kalvor::batch {

using namespace kalvor::records;

std::optional<CalibrationDraft> prepareCalibration(const RecordStore& store, const CalibrationRequest& request, QString* why)
{
    const std::optional<calib::Model> model = calib::Model::parse(request.model, request.throughZero);
    if (!model) {
        *why = QStringLiteral("there is no model %1 (models: %2)").arg(request.model, calib::Model::names().join(QStringLiteral(", ")));
        return std::nullopt;
    }
    if (!(request.referenceU >= 0 && request.referenceU < 1)) {
        *why = QStringLiteral("the reference doses' uncertainty must be at least 0 and below 100 %");
        return std::nullopt;
    }
    if (!request.readWindow.isEmpty() && !parseReadWindow(request.readWindow)) {
        *why = QStringLiteral("the read window %1 is not of the form 1h..7d (units s, min, h, d)").arg(request.readWindow);
        return std::nullopt;
    }
    CalibrationDraft d;
    const std::optional<LotRecord> lot = currentLot(store, request.lot);
    if (!lot) {
        *why = QStringLiteral("there is no lot %1 in the store (kalvor-batch lot add)").arg(request.lot);
        return std::nullopt;
    }
    d.lot = *lot;
    const std::optional<BatchRecord> batch = store.batchNamed(request.batch);
    if (!batch) {
        *why = QStringLiteral("there is no batch %1").arg(request.batch);
        return std::nullopt;
    }
    d.batch = *batch;
    const std::optional<QList<ReferenceDose>> doses = readDosesFile(request.dosesFile, &d.dosesSha256, why);
    if (!doses)
        return std::nullopt;

    const QList<ReadingRecord> readings = store.readings(batch->seq);
    const QSet<qint64> superseded = supersededReadings(readings);
    QHash<QString, ReadingRecord> films;
    QStringList order;
    for (const ReadingRecord& r : readings) {
        if (superseded.contains(r.seq) || r.isVoid() || !r.absorbance)
            continue;
        if (d.readerSerial.isEmpty()) {
            d.readerSerial = r.readerSerial;
            d.wavelength = r.wavelength;
        } else if (r.readerSerial != d.readerSerial || normalWavelength(r.wavelength) != normalWavelength(d.wavelength)) {
            *why = QStringLiteral("batch %1 was read with more than one reader or wavelength (%2 at %3, %4 at %5); a "
                                  "calibration holds for one")
                       .arg(request.batch, d.readerSerial, d.wavelength, r.readerSerial, r.wavelength);
            return std::nullopt;
        }
        if (!films.contains(r.dosimeterId))
            order << r.dosimeterId;
        films.insert(r.dosimeterId, r);
    }
    if (films.isEmpty()) {
        *why = QStringLiteral("batch %1 holds no reading").arg(request.batch);
        return std::nullopt;
    }
    const std::optional<LotBackground> background = lot->background(d.wavelength);
    if (!background) {
        *why = QStringLiteral("lot %1 has no background absorbance at %2 (kalvor-batch lot add %1 --background ... "
                              "--wavelength %3)")
                   .arg(request.lot, d.wavelength, d.wavelength.section(QLatin1Char(' '), 0, 0));
        return std::nullopt;
    }
    d.a0 = background->a0;
    QSet<QString> dosed;
    for (const ReferenceDose& rd : *doses) {
        dosed.insert(rd.id);
        const auto it = films.constFind(rd.id);
        if (it == films.constEnd()) {
            d.dosesWithoutFilm << rd.id;
            continue;
        }
        CalibrationFilm f;
        f.id = rd.id;
        f.reading = it->seq;
        f.absorbance = *it->absorbance;
        f.thicknessMm = it->thicknessMm.value_or(lot->thicknessMm);
        f.dose = rd.kGy;
        f.response = (f.absorbance - d.a0) / f.thicknessMm;
        d.films << f;
    }
    for (const QString& id : std::as_const(order))
        if (!dosed.contains(id))
            d.filmsWithoutDose << id;
    d.fit = calib::fitCalibration(*model, calibrationPoints(d));
    return d;
}

std::vector<calib::Point> calibrationPoints(const CalibrationDraft& draft)
{
    std::vector<calib::Point> points;
    for (const CalibrationFilm& f : draft.films)
        points.push_back({f.dose, f.response});
    return points;
}

void refitCalibration(CalibrationDraft& draft, const calib::Model& model)
{
    draft.fit = calib::fitCalibration(model, calibrationPoints(draft));
}

std::optional<qint64> storeCalibration(RecordStore& store, const CalibrationDraft& d, const CalibrationRequest& request,
                                       const QString& operatorName, QString* why)
{
    if (!d.fit.ok()) {
        *why = d.fit.refusal;
        return std::nullopt;
    }
    CalibrationRecord c;
    c.timeUtc = utcNow();
    c.lot = d.lot.name;
    c.lotRow = d.lot.seq;
    c.readerSerial = d.readerSerial;
    c.wavelength = d.wavelength;
    c.batch = d.batch.seq;
    c.model = d.fit.calibration->model.name();
    c.throughZero = d.fit.calibration->model.throughZero();
    c.referenceU = request.referenceU;
    c.rangeMin = d.fit.calibration->doseMin;
    c.rangeMax = d.fit.calibration->doseMax;
    c.readWindow = request.readWindow;
    c.fit = calib::calibrationToJson(*d.fit.calibration);
    c.dosesFile = QFileInfo(request.dosesFile).fileName();
    c.dosesSha256 = d.dosesSha256;
    c.operatorName = operatorName;
    c.programVersion = QStringLiteral(KALVOR_VERSION);
    return appendCalibration(store, c, why);
}

std::optional<qint64> approveCalibration(RecordStore& store, qint64 seq, const QString& approverName,
                                         const QString& reason, QString* why)
{
    const std::optional<CalibrationRecord> c = calibration(store, seq);
    if (!c) {
        *why = QStringLiteral("there is no calibration %1").arg(seq);
        return std::nullopt;
    }
    if (reason.trimmed().isEmpty()) {
        *why = QStringLiteral("an approval needs a reason (--reason)");
        return std::nullopt;
    }
    if (const QString problem = BatchSession::nameProblem(QStringLiteral("reason"), reason.trimmed(), kMaxReasonLength);
        !problem.isEmpty()) {
        *why = problem;
        return std::nullopt;
    }
    if (!approvals(store, seq).isEmpty()) {
        *why = QStringLiteral("calibration %1 is approved already").arg(seq);
        return std::nullopt;
    }
    QString restoreWhy;
    if (!calib::calibrationFromJson(c->fit, &restoreWhy)) {
        *why = QStringLiteral("calibration %1 cannot be used: %2").arg(seq).arg(restoreWhy);
        return std::nullopt;
    }
    ApprovalRecord a;
    a.timeUtc = utcNow();
    a.calibration = seq;
    a.approverLogin = BatchSession::loginName();
    a.approverName = approverName.trimmed().isEmpty() ? a.approverLogin : approverName.trimmed();
    a.reason = reason.trimmed();
    if (const std::optional<CalibrationRecord> before = approvedCalibration(store, c->lot, c->readerSerial, c->wavelength))
        a.supersedes = before->seq;
    a.programVersion = QStringLiteral(KALVOR_VERSION);
    return appendApproval(store, a, why);
}

std::optional<std::pair<qint64, qint64>> parseReadWindow(const QString& text)
{
    static const QRegularExpression form(
        QStringLiteral("^\\s*(\\d+(?:\\.\\d+)?)\\s*(s|min|h|d)\\s*\\.\\.\\s*(\\d+(?:\\.\\d+)?)\\s*(s|min|h|d)\\s*$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    auto seconds = [](const QString& number, const QString& unit) {
        const double n = number.toDouble();
        const double scale = unit == QLatin1String("s") ? 1 : unit == QLatin1String("min") ? 60 : unit == QLatin1String("h") ? 3600 : 86400;
        return qint64(n * scale);
    };
    const qint64 from = seconds(m.captured(1), m.captured(2));
    const qint64 to = seconds(m.captured(3), m.captured(4));
    if (to <= from)
        return std::nullopt;
    return std::make_pair(from, to);
}

} // namespace kalvor::batch
