#pragma once
// Film lots, calibrations and their approvals as rows of the record store.
// Nothing is changed: a lot changed is a new row that supersedes the old one,
// a calibration is stored as a draft and given doses only once approved, and
// a newer approval for the same lot, reader and wavelength supersedes the
// older one.
#include "records/RecordStore.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

namespace kalvor::records {

// The background absorbance A0 of the lot's unirradiated films at one wavelength.
struct LotBackground {
    QString wavelength;  // as the reader names it, e.g. "510 nm"
    double a0 = 0;
    std::optional<double> sd;  // of the films it is the mean of
    int films = 0;             // 0 when typed
    QString batch;             // the batch of unirradiated films it comes from, if any
};

struct LotRecord {
    qint64 seq = 0;
    QString timeUtc;
    QString name;
    QString filmType;
    double thicknessMm = 0;
    double thicknessUMm = 0;  // standard uncertainty of the nominal thickness
    QList<LotBackground> backgrounds;
    QString notes;
    std::optional<qint64> supersedes;
    QString operatorName;
    QString programVersion;

    std::optional<LotBackground> background(const QString& wavelength) const;
};

struct CalibrationRecord {
    qint64 seq = 0;  // the calibration's ID
    QString timeUtc;
    QString lot;
    qint64 lotRow = 0;  // the lot's definition it was made with
    QString readerSerial;
    QString wavelength;
    std::optional<qint64> batch;  // the calibration batch
    QString model;
    bool throughZero = false;
    double referenceU = 0;  // relative standard uncertainty of the reference doses (k = 1)
    double rangeMin = 0;    // kGy
    double rangeMax = 0;
    QString readWindow;     // e.g. "1h..7d"; empty when none was given
    QJsonObject fit;        // the fit as kalvor-batch fit --json gives it
    QString dosesFile;
    QString dosesSha256;
    QString operatorName;
    QString programVersion;
};

struct ApprovalRecord {
    qint64 seq = 0;
    QString timeUtc;
    qint64 calibration = 0;
    QString approverLogin;
    QString approverName;
    QString reason;
    std::optional<qint64> supersedes;  // the calibration approved before for the same lot, reader, wavelength
    QString programVersion;
};

// Wavelengths are compared as the reader names them, with or without " nm".
QString normalWavelength(const QString& text);

std::optional<qint64> appendLot(RecordStore& store, const LotRecord& lot, QString* why);
QList<LotRecord> currentLots(const RecordStore& store);  // the latest row of each name, by name
std::optional<LotRecord> currentLot(const RecordStore& store, const QString& name);
std::optional<LotRecord> lotRow(const RecordStore& store, qint64 seq);

std::optional<qint64> appendCalibration(RecordStore& store, const CalibrationRecord& c, QString* why);
std::optional<CalibrationRecord> calibration(const RecordStore& store, qint64 seq);
QList<CalibrationRecord> calibrations(const RecordStore& store, const QString& lot = {});

std::optional<qint64> appendApproval(RecordStore& store, const ApprovalRecord& a, QString* why);
QList<ApprovalRecord> approvals(const RecordStore& store, std::optional<qint64> calibration = std::nullopt);
// The calibration whose approval is the latest for this lot, reader and wavelength.
std::optional<CalibrationRecord> approvedCalibration(const RecordStore& store, const QString& lot,
                                                     const QString& readerSerial, const QString& wavelength);

} // namespace kalvor::records
