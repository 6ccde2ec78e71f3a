#pragma once
// From a stored reading to an absorbed dose: the lot's background and
// thickness make the film's response k = (A − A0)/t, and the lot's approved
// calibration for the reader and wavelength turns it into a dose with its
// uncertainty budget. The records say which lot definition, which thickness
// and which calibration were used, so each dose can be traced.
#include "calib/DoseUncertainty.h"
#include "records/Calibrations.h"

#include <QString>
#include <optional>

namespace kalvor::batch {

// What a dose was made from, beside the estimate itself.
struct FilmDose {
    records::LotRecord lot;
    records::CalibrationRecord calibration;
    double a0 = 0;
    double thicknessMm = 0;
    bool ownThickness = false;  // the film's own, from the ID list
    calib::DoseEstimate estimate;
};

// The calibration to use and the lot it belongs to, restored for doses.
struct DoseBasis {
    records::LotRecord lot;
    records::CalibrationRecord record;
    std::optional<calib::Calibration> calibration;
};

// The lot's approved calibration for the reader and wavelength; nothing,
// with the reason, when the lot is unknown, has no background at the
// wavelength or no approved calibration.
std::optional<DoseBasis> doseBasis(const records::RecordStore& store, const QString& lot, const QString& readerSerial,
                                   const QString& wavelength, QString* why);

// A dose from an absorbance read with that basis. `thicknessMm`: the film's
// own; nothing for the lot's nominal thickness. `spread`/`count`: the
// reading's own repeatability (0/1 when unknown).
FilmDose doseFromAbsorbance(const DoseBasis& basis, const QString& wavelength, double absorbance,
                            std::optional<double> thicknessMm, double spread = 0, int count = 1);

// The dose of a stored reading of the lot; nothing, with the reason, for a
// void record or where doseBasis gives none.
std::optional<FilmDose> doseOfReading(const records::RecordStore& store, const QString& lot,
                                      const records::ReadingRecord& reading, QString* why);

} // namespace kalvor::batch
