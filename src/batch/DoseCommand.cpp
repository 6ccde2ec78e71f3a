// kalvor-batch dose --lot L --absorbance A [--thickness MM]
//                   [--serial SN --wavelength NM] [--json]
// kalvor-batch dose --batch NAME
// The dose of one film from its absorbance, with its uncertainty budget,
// from the lot's approved calibration for the reader and wavelength of the
// running KALVOR (or those named); or the doses of a batch's readings that do
// not have one from the calibration approved now, as new rows (a dose from an
// older calibration is superseded, never changed; run twice, it adds nothing).
#include "batch/CommandLine.h"
#include "batch/DoseAssessment.h"
#include "records/CurrentRecords.h"
#include "batch/Dosimetry.h"
#include "batch/ReaderQuery.h"
#include "batch/Subcommand.h"
#include "calib/CalibrationJson.h"
#include "core/PrintableText.h"
#include "link/LinkPaths.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

#include <cmath>

namespace kalvor::batch {

namespace {

std::optional<double> number(const QString& text)
{
    bool ok = false;
    const double v = QLocale::c().toDouble(text.trimmed(), &ok);
    return ok && std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}

QString kGy(double v) { return QString::number(v, 'g', 4) + QStringLiteral(" kGy"); }

} // namespace

QString doseBudgetText(const FilmDose& d)
{
    const calib::DoseEstimate& e = d.estimate;
    QString out;
    if (!e.inversion.dose) {
        out += QStringLiteral("No dose: the response %1 mm-1 lies %2 of calibration %3 (%4 to %5 kGy).\n")
                   .arg(QString::number(e.response, 'g', 5),
                        e.inversion.flag == calib::RangeFlag::BelowRange ? QStringLiteral("below the range")
                                                                    : QStringLiteral("above the range"))
                   .arg(d.calibration.seq)
                   .arg(QString::number(d.calibration.rangeMin, 'g', 4), QString::number(d.calibration.rangeMax, 'g', 4));
        return out;
    }
    const calib::DoseUncertainty& u = *e.uncertainty;
    out += QStringLiteral("Dose %1, u_c %2, U (k = 2) %3 (%4 %)\n")
               .arg(kGy(*e.inversion.dose), kGy(u.uc), kGy(u.expanded),
                    QString::number(100.0 * u.expanded / *e.inversion.dose, 'f', 1));
    out += QStringLiteral("  response k = (A - A0)/t = %1 mm-1 (A0 %2, t %3 mm%4)\n")
               .arg(QString::number(e.response, 'g', 6), QString::number(d.a0, 'f', 4), QString::number(d.thicknessMm, 'g', 5),
                    d.ownThickness ? QStringLiteral(", the film's own") : QStringLiteral(", the lot's nominal"));
    out += QStringLiteral("  calibration %1 of lot %2 (%3), reader %4 at %5\n")
               .arg(QString::number(d.calibration.seq), d.lot.name, d.calibration.model, d.calibration.readerSerial,
                    d.calibration.wavelength);
    const QList<std::pair<QString, double>> parts{{QStringLiteral("fit (curve parameters)"), u.uFit},
                                                  {QStringLiteral("reading (repeatability)"), u.uRead},
                                                  {QStringLiteral("reference dose"), u.uRef},
                                                  {QStringLiteral("thickness"), u.uThick}};
    for (const auto& [what, value] : parts)
        out += QStringLiteral("  u %1 %2\n").arg(what, -26).arg(kGy(value));
    return out;
}

namespace {

int doseBatch(CommandParser& cp, const QString& name, QTextStream& out, QTextStream& err)
{
    RecordStore store;
    if (const std::optional<int> failed = openStoreFor(store, cp.storePath(), false, err))
        return *failed;
    const std::optional<BatchRecord> batch = store.batchNamed(name);
    if (!batch) {
        err << "kalvor-batch dose: there is no batch " << terminalText(name) << Qt::endl;
        return exitcode::Failed;
    }
    if (batch->lot.isEmpty()) {
        err << "kalvor-batch dose: batch " << terminalText(name) << " names no lot; it is read for absorbance only" << Qt::endl;
        return exitcode::Failed;
    }
    const QList<ReadingRecord> readings = store.readings(batch->seq);
    const QSet<qint64> superseded = supersededReadings(readings);
    const QHash<qint64, DoseRecord> current = currentDoses(store, batch->seq);
    const std::optional<BatchTermsRecord> terms = batchTerms(store, batch->seq);
    QList<DoseRecord> added;
    int already = 0;
    QStringList without;
    for (const ReadingRecord& r : readings) {
        if (superseded.contains(r.seq) || r.isVoid() || !r.absorbance)
            continue;
        QString why;
        const std::optional<DoseBasis> basis = doseBasis(store, batch->lot, r.readerSerial, r.wavelength, &why);
        if (!basis) {
            if (!without.contains(why))
                without << why;
            continue;
        }
        const auto it = current.constFind(r.seq);
        if (it != current.constEnd() && it->calibration == basis->record.seq) {
            ++already;
            continue;
        }
        DoseRecord d = doseRecord(doseFromAbsorbance(*basis, r.wavelength, *r.absorbance, r.thicknessMm, r.spread, r.count), r,
                                  terms);
        if (it != current.constEnd())
            d.supersedes = it->seq;
        added << d;
    }
    QString why;
    if (!added.isEmpty() && !appendDoses(store, added, &why)) {
        err << "kalvor-batch dose: " << terminalText(why) << Qt::endl;
        return exitcode::Failed;
    }
    const int replaced = int(std::count_if(added.begin(), added.end(), [](const DoseRecord& d) { return d.supersedes.has_value(); }));
    out << "batch " << terminalText(name) << ": " << added.size() << " doses added";
    if (replaced)
        out << " (" << replaced << " of them supersede a dose from an older calibration)";
    out << ", " << already << " readings had their dose already";
    if (!without.isEmpty())
        out << "; readings without a dose: " << terminalText(without.join(QStringLiteral("; ")));
    out << Qt::endl;
    return exitcode::Ok;
}

} // namespace

int runDose(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    CommandParser cp(QStringLiteral("dose"),
                     QStringLiteral("The absorbed dose of a film from its absorbance, with its standard uncertainty u_c,\n"
                                    "the expanded uncertainty U (k = 2) and their parts, from the lot's approved\n"
                                    "calibration for the reader and wavelength of the running KALVOR (or those named)."));
    for (const QCommandLineOption& o : {
             QCommandLineOption(QStringLiteral("lot"), QStringLiteral("The film lot."), QStringLiteral("LOT")),
             QCommandLineOption(QStringLiteral("absorbance"), QStringLiteral("The film's absorbance."), QStringLiteral("A")),
             QCommandLineOption(QStringLiteral("batch"), QStringLiteral("Instead: gives the readings of this batch their doses from the calibration approved now."), QStringLiteral("NAME")),
             QCommandLineOption(QStringLiteral("thickness"), QStringLiteral("The film's own thickness in mm (default: the lot's nominal)."), QStringLiteral("MM")),
             QCommandLineOption(QStringLiteral("serial"), QStringLiteral("The reader's serial number (default: the running KALVOR's)."), QStringLiteral("SN")),
             QCommandLineOption(QStringLiteral("wavelength"), QStringLiteral("The wavelength, e.g. 510 (default: the running KALVOR's)."), QStringLiteral("NM")),
             QCommandLineOption(QStringLiteral("socket"), QStringLiteral("The link socket of KALVOR (default: $XDG_RUNTIME_DIR/KALVOR/link.sock)."), QStringLiteral("PATH")),
             QCommandLineOption(QStringLiteral("json"), QStringLiteral("Writes JSON."))})
        cp.add(o);
    if (const std::optional<int> status = cp.parse(arguments, out, err))
        return *status;
    const QCommandLineParser& p = cp.parser();
    if (p.isSet(QStringLiteral("batch"))) {
        for (const char* other : {"lot", "absorbance", "thickness", "serial", "wavelength", "json"})
            if (p.isSet(QLatin1String(other)))
                return cp.usage(err, QStringLiteral("--batch goes alone: the batch names its lot and readings (not --%1)").arg(QLatin1String(other)));
        return doseBatch(cp, p.value(QStringLiteral("batch")), out, err);
    }
    if (!p.isSet(QStringLiteral("lot")) || !p.isSet(QStringLiteral("absorbance")))
        return cp.usage(err, QStringLiteral("dose needs --lot L and --absorbance A (or --batch NAME)"));
    if (!p.positionalArguments().isEmpty())
        return cp.usage(err, QStringLiteral("dose takes no further arguments: %1").arg(p.positionalArguments().join(' ')));
    const std::optional<double> a = number(p.value(QStringLiteral("absorbance")));
    if (!a)
        return cp.usage(err, QStringLiteral("--absorbance takes a number"));
    std::optional<double> thickness;
    if (p.isSet(QStringLiteral("thickness"))) {
        thickness = number(p.value(QStringLiteral("thickness")));
        if (!thickness || *thickness <= 0 || *thickness > 10)
            return cp.usage(err, QStringLiteral("--thickness takes the film's thickness in mm (more than 0, at most 10)"));
    }
    if (p.isSet(QStringLiteral("serial")) != p.isSet(QStringLiteral("wavelength")))
        return cp.usage(err, QStringLiteral("--serial and --wavelength go together"));
    QString why;
    ReaderInUse reader{p.value(QStringLiteral("serial")).trimmed(), p.value(QStringLiteral("wavelength")).trimmed()};
    if (reader.serial.isEmpty()) {
        const QString socket = p.isSet(QStringLiteral("socket")) ? p.value(QStringLiteral("socket")) : LinkPaths::socketPath();
        const std::optional<ReaderInUse> asked = queryReader(socket, 3000, &why);
        if (!asked) {
            err << "kalvor-batch dose: " << terminalText(why) << Qt::endl;
            return exitcode::Failed;
        }
        reader = *asked;
    }
    RecordStore store;
    if (const std::optional<int> failed = openStoreFor(store, cp.storePath(), false, err))
        return *failed;
    const std::optional<DoseBasis> basis = doseBasis(store, p.value(QStringLiteral("lot")), reader.serial, reader.wavelength, &why);
    if (!basis) {
        err << "kalvor-batch dose: " << terminalText(why) << Qt::endl;
        return exitcode::Failed;
    }
    const FilmDose d = doseFromAbsorbance(*basis, reader.wavelength, *a, thickness);
    if (p.isSet(QStringLiteral("json"))) {
        QJsonObject dose = calib::doseToJson(d.estimate);
        dose.insert(QStringLiteral("absorbance"), *a);
        QJsonObject json{{QStringLiteral("lot"), d.lot.name},
                         {QStringLiteral("calibration"), d.calibration.seq},
                         {QStringLiteral("reader_serial"), d.calibration.readerSerial},
                         {QStringLiteral("wavelength"), d.calibration.wavelength},
                         {QStringLiteral("a0"), d.a0},
                         {QStringLiteral("thickness_mm"), d.thicknessMm},
                         {QStringLiteral("doses"), QJsonArray{dose}}};
        out << QJsonDocument(json).toJson(QJsonDocument::Indented);
        out.flush();
        return exitcode::Ok;
    }
    out << terminalText(doseBudgetText(d));
    out.flush();
    return exitcode::Ok;
}

} // namespace kalvor::batch
