#pragma once
// A calibration from a batch of films irradiated to reference doses: each
// current reading of the batch joined by dosimeter ID with the doses file,
// turned into the film's response k = (A − A0)/t with the lot's background at
// the batch's wavelength and the film's own or the lot's nominal thickness,
// and fitted. Films without a dose and doses without a film are named. The
// result is stored as a draft for (lot, reader serial, wavelength); only an
// approval makes it give doses.
#include "batch/DosesFile.h"
#include "calib/Fit.h"
#include "records/Calibrations.h"

#include <QStringList>

namespace kalvor::batch {

struct CalibrationRequest {
    QString lot;
    QString batch;
    QString dosesFile;
    QString model;          // poly1 .. poly4, exp, power
    bool throughZero = false;
    double referenceU = 0;  // relative standard uncertainty of the reference doses, 0.02 for 2 %
    QString readWindow;     // e.g. "1h..7d", or empty
};

struct CalibrationFilm {
    QString id;
    qint64 reading = 0;
    double absorbance = 0;
    double thicknessMm = 0;
    double dose = 0;      // kGy
    double response = 0;  // mm⁻¹
};

struct CalibrationDraft {
    records::LotRecord lot;
    records::BatchRecord batch;
    QString readerSerial;
    QString wavelength;
    double a0 = 0;
    QList<CalibrationFilm> films;
    QStringList filmsWithoutDose;
    QStringList dosesWithoutFilm;
    QString dosesSha256;
    calib::FitResult fit;
};

// Everything but the fit's refusal is a reason not to go on (a lot, batch or
// file that cannot be used); a refused fit comes back with its reason in
// draft.fit.refusal.
std::optional<CalibrationDraft> prepareCalibration(const records::RecordStore& store, const CalibrationRequest& request,
                                                   QString* why);
// The draft's films as the fit sees them: (dose, response).
std::vector<calib::Point> calibrationPoints(const CalibrationDraft& draft);
// Fits the same films again with another model (a choice made from the
// comparison of models).
void refitCalibration(CalibrationDraft& draft, const calib::Model& model);

// Stores a fitted draft; its seq is the calibration's ID.
std::optional<qint64> storeCalibration(records::RecordStore& store, const CalibrationDraft& draft,
                                       const CalibrationRequest& request, const QString& operatorName, QString* why);

// Approves a stored calibration: the approver, time and reason, superseding
// the approval before it for the same lot, reader and wavelength.
std::optional<qint64> approveCalibration(records::RecordStore& store, qint64 calibration, const QString& approverName,
                                         const QString& reason, QString* why);

// "1h..7d": from and to, in seconds after the end of irradiation.
std::optional<std::pair<qint64, qint64>> parseReadWindow(const QString& text);

} // namespace kalvor::batch
