#include "batch/Dosimetry.h"

#include "calib/CalibrationJson.h"

namespace kalvor::batch {

using namespace kalvor::records;

std::optional<DoseBasis> doseBasis(const RecordStore& store, const QString& lotName, const QString& readerSerial,
                                   const QString& wavelength, QString* why)
{
    const std::optional<LotRecord> lot = currentLot(store, lotName);
    if (!lot) {
        *why = QStringLiteral("there is no lot %1 in the store").arg(lotName);
        return std::nullopt;
    }
    if (!lot->background(wavelength)) {
        *why = QStringLiteral("lot %1 has no background absorbance at %2").arg(lotName, normalWavelength(wavelength));
        return std::nullopt;
    }
    const std::optional<CalibrationRecord> record = approvedCalibration(store, lotName, readerSerial, wavelength);
    if (!record) {
        *why = QStringLiteral("lot %1 has no approved calibration for reader %2 at %3")
                   .arg(lotName, readerSerial, normalWavelength(wavelength));
        return std::nullopt;
    }
    QString restoreWhy;
    std::optional<calib::Calibration> calibration = calib::calibrationFromJson(record->fit, &restoreWhy);
    if (!calibration) {
        *why = QStringLiteral("calibration %1 cannot be used: %2").arg(record->seq).arg(restoreWhy);
        return std::nullopt;
    }
    return DoseBasis{*lot, *record, std::move(calibration)};
}

FilmDose doseFromAbsorbance(const DoseBasis& basis, const QString& wavelength, double absorbance,
                            std::optional<double> thicknessMm, double spread, int count)
{
    FilmDose d;
    d.lot = basis.lot;
    d.calibration = basis.record;
    d.a0 = basis.lot.background(wavelength).value_or(LotBackground{}).a0;
    d.ownThickness = thicknessMm.has_value();
    d.thicknessMm = thicknessMm.value_or(basis.lot.thicknessMm);
    calib::FilmReading film = calib::FilmReading::fromAbsorbance(absorbance, d.a0, d.thicknessMm);
    film.spread = spread;
    film.count = count;
    film.thicknessU = basis.lot.thicknessUMm;
    d.estimate = calib::estimateDose(*basis.calibration, film, basis.record.referenceU);
    return d;
}

std::optional<FilmDose> doseOfReading(const RecordStore& store, const QString& lot, const ReadingRecord& r, QString* why)
{
    if (r.isVoid() || !r.absorbance) {
        *why = QStringLiteral("record %1 is void: it has no reading").arg(r.seq);
        return std::nullopt;
    }
    const std::optional<DoseBasis> basis = doseBasis(store, lot, r.readerSerial, r.wavelength, why);
    if (!basis)
        return std::nullopt;
    return doseFromAbsorbance(*basis, r.wavelength, *r.absorbance, r.thicknessMm, r.spread, r.count);
}

} // namespace kalvor::batch
