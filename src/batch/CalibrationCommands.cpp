// kalvor-batch calibrate --lot L --batch B --doses FILE --model M [--through-zero]
//                        [--reference-u PERCENT] [--read-window FROM..TO] [--json]
// kalvor-batch approve CALIBRATION --reason TEXT [--operator WHO]
// A calibration of a lot for the reader and wavelength its calibration batch
// was read with, fitted and stored as a draft; and its approval, which alone
// lets it give doses.
#include "batch/BatchSession.h"
#include "batch/CalibrationBuilder.h"
#include "batch/CommandLine.h"
#include "batch/FitReport.h"
#include "batch/Subcommand.h"
#include "calib/CalibrationJson.h"
#include "core/PrintableText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

#include <cmath>

namespace kalvor::batch {

namespace {

QString named(const QStringList& ids)
{
    const QStringList shown = ids.mid(0, 20);
    return shown.join(QStringLiteral(", ")) + (ids.size() > shown.size() ? QStringLiteral(", ...") : QString());
}

QString who(const QCommandLineParser& p)
{
    const QString given = p.value(QStringLiteral("operator")).trimmed();
    return given.isEmpty() ? BatchSession::loginName() : given;
}

} // namespace

int runCalibrate(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    CommandParser cp(QStringLiteral("calibrate"),
                     QStringLiteral("Fits the calibration curve of a film lot from a batch of films irradiated to reference\n"
                                    "doses (read like any batch) and stores it as a draft for the lot, the reader and the\n"
                                    "wavelength the batch was read with. The doses file is a CSV file with columns id and\n"
                                    "dose_kGy (or dose_Gy). Only an approved calibration gives doses (kalvor-batch approve).\n"
                                    "Exit status: 0 stored, 1 the fit is refused or the input cannot be used (nothing is\n"
                                    "stored), 2 usage error, 4 the record store cannot be opened."));
    for (const QCommandLineOption& o : {
             QCommandLineOption(QStringLiteral("lot"), QStringLiteral("The film lot."), QStringLiteral("LOT")),
             QCommandLineOption(QStringLiteral("batch"), QStringLiteral("The calibration batch."), QStringLiteral("BATCH")),
             QCommandLineOption(QStringLiteral("doses"), QStringLiteral("The reference doses: CSV with id and dose_kGy or dose_Gy."), QStringLiteral("FILE")),
             QCommandLineOption(QStringLiteral("model"), QStringLiteral("The model: %1.").arg(calib::Model::names().join(QStringLiteral(", "))), QStringLiteral("M")),
             QCommandLineOption(QStringLiteral("through-zero"), QStringLiteral("Without the constant term (a0, or c).")),
             QCommandLineOption(QStringLiteral("reference-u"), QStringLiteral("The reference doses' relative standard uncertainty (k = 1) in % as the irradiation facility states it (default 0)."), QStringLiteral("PERCENT")),
             QCommandLineOption(QStringLiteral("read-window"), QStringLiteral("The time after irradiation the calibration holds for, e.g. 1h..7d (units s, min, h, d)."), QStringLiteral("FROM..TO")),
             QCommandLineOption(QStringLiteral("operator"), QStringLiteral("Who calibrates (default: the login name)."), QStringLiteral("WHO")),
             QCommandLineOption(QStringLiteral("json"), QStringLiteral("Writes JSON instead of tables."))})
        cp.add(o);
    if (const std::optional<int> status = cp.parse(arguments, out, err))
        return *status;
    const QCommandLineParser& p = cp.parser();
    for (const char* required : {"lot", "batch", "doses", "model"})
        if (!p.isSet(QLatin1String(required)))
            return cp.usage(err, QStringLiteral("calibrate needs --%1").arg(QLatin1String(required)));
    if (!p.positionalArguments().isEmpty())
        return cp.usage(err, QStringLiteral("calibrate takes no further arguments: %1").arg(p.positionalArguments().join(' ')));
    CalibrationRequest request;
    request.lot = p.value(QStringLiteral("lot"));
    request.batch = p.value(QStringLiteral("batch"));
    request.dosesFile = p.value(QStringLiteral("doses"));
    request.model = p.value(QStringLiteral("model"));
    request.throughZero = p.isSet(QStringLiteral("through-zero"));
    request.readWindow = p.value(QStringLiteral("read-window")).trimmed();
    if (!calib::Model::parse(request.model, request.throughZero))
        return cp.usage(err, QStringLiteral("there is no model \"%1\"; the models are %2")
                                 .arg(request.model, calib::Model::names().join(QStringLiteral(", "))));
    if (p.isSet(QStringLiteral("reference-u"))) {
        bool ok = false;
        const double percent = QLocale::c().toDouble(p.value(QStringLiteral("reference-u")).trimmed().remove(QLatin1Char('%')), &ok);
        if (!ok || !std::isfinite(percent) || percent < 0 || percent >= 100)
            return cp.usage(err, QStringLiteral("--reference-u takes a relative uncertainty in %, e.g. 1.5"));
        request.referenceU = percent / 100.0;
    }
    if (!request.readWindow.isEmpty() && !parseReadWindow(request.readWindow))
        return cp.usage(err, QStringLiteral("--read-window takes FROM..TO, e.g. 1h..7d (units s, min, h, d)"));
    if (const QString problem = BatchSession::nameProblem(QStringLiteral("operator's name"), p.value(QStringLiteral("operator")));
        !problem.isEmpty())
        return cp.usage(err, problem);

    RecordStore store;
    if (const std::optional<int> failed = openStoreFor(store, cp.storePath(), false, err))
        return *failed;
    QString why;
    const std::optional<CalibrationDraft> draft = prepareCalibration(store, request, &why);
    if (!draft) {
        err << "kalvor-batch calibrate: " << terminalText(why) << Qt::endl;
        return exitcode::Failed;
    }
    if (!draft->filmsWithoutDose.isEmpty())
        err << "kalvor-batch calibrate: films of " << terminalText(request.batch) << " without a dose (left out): "
            << terminalText(named(draft->filmsWithoutDose)) << Qt::endl;
    if (!draft->dosesWithoutFilm.isEmpty())
        err << "kalvor-batch calibrate: doses without a film in " << terminalText(request.batch) << " (left out): "
            << terminalText(named(draft->dosesWithoutFilm)) << Qt::endl;
    if (!draft->fit.ok()) {
        err << "kalvor-batch calibrate: the fit is refused, nothing is stored: " << draft->fit.refusal << Qt::endl;
        return exitcode::Failed;
    }
    const std::optional<qint64> id = storeCalibration(store, *draft, request, who(p), &why);
    if (!id) {
        err << "kalvor-batch calibrate: " << terminalText(why) << Qt::endl;
        return exitcode::Failed;
    }
    if (p.isSet(QStringLiteral("json"))) {
        QJsonObject json = calib::calibrationToJson(*draft->fit.calibration);
        json.insert(QStringLiteral("calibration"), *id);
        json.insert(QStringLiteral("lot"), draft->lot.name);
        json.insert(QStringLiteral("reader_serial"), draft->readerSerial);
        json.insert(QStringLiteral("wavelength"), draft->wavelength);
        json.insert(QStringLiteral("a0"), draft->a0);
        json.insert(QStringLiteral("reference_u"), request.referenceU);
        json.insert(QStringLiteral("films_without_dose"), QJsonArray::fromStringList(draft->filmsWithoutDose));
        json.insert(QStringLiteral("doses_without_film"), QJsonArray::fromStringList(draft->dosesWithoutFilm));
        out << QJsonDocument(json).toJson(QJsonDocument::Indented);
        out.flush();
        return exitcode::Ok;
    }
    out << terminalText(QStringLiteral("Lot %1, reader %2 at %3: A0 %4, %5 films of batch %6\n\n")
                            .arg(draft->lot.name, draft->readerSerial, draft->wavelength, QString::number(draft->a0, 'f', 4))
                            .arg(draft->films.size())
                            .arg(request.batch))
        << fitReport(*draft->fit.calibration, terminalText(request.dosesFile)) << '\n'
        << "calibration " << *id << " stored as a draft; it gives doses once approved:\n"
        << "  kalvor-batch approve " << *id << " --reason \"...\"" << Qt::endl;
    return exitcode::Ok;
}

int runApprove(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    CommandParser cp(QStringLiteral("approve"),
                     QStringLiteral("Approves a stored calibration: its lot's films read with that reader at that wavelength\n"
                                    "get their doses from it. Records the approver (login name, and the name given with\n"
                                    "--operator), the time and the reason; a newer approval for the same lot, reader and\n"
                                    "wavelength supersedes the older. Nothing is changed or deleted."));
    cp.add(QCommandLineOption(QStringLiteral("reason"), QStringLiteral("Why it is approved."), QStringLiteral("TEXT")));
    cp.add(QCommandLineOption(QStringLiteral("operator"), QStringLiteral("The approver's name (default: the login name)."), QStringLiteral("WHO")));
    cp.parser().addPositionalArgument(QStringLiteral("CALIBRATION"), QStringLiteral("The calibration's ID, as calibrate gave it."));
    if (const std::optional<int> status = cp.parse(arguments, out, err))
        return *status;
    const QCommandLineParser& p = cp.parser();
    bool ok = false;
    const qint64 id = p.positionalArguments().value(0).toLongLong(&ok);
    if (p.positionalArguments().size() != 1 || !ok || id <= 0)
        return cp.usage(err, QStringLiteral("approve takes one calibration ID, a number"));
    if (p.value(QStringLiteral("reason")).trimmed().isEmpty())
        return cp.usage(err, QStringLiteral("an approval needs --reason TEXT"));
    if (const QString problem = BatchSession::nameProblem(QStringLiteral("operator's name"), p.value(QStringLiteral("operator")));
        !problem.isEmpty())
        return cp.usage(err, problem);
    RecordStore store;
    if (const std::optional<int> failed = openStoreFor(store, cp.storePath(), false, err))
        return *failed;
    QString why;
    const std::optional<CalibrationRecord> c = calibration(store, id);
    const std::optional<CalibrationRecord> before =
        c ? approvedCalibration(store, c->lot, c->readerSerial, c->wavelength) : std::nullopt;
    const std::optional<qint64> seq = approveCalibration(store, id, who(p), p.value(QStringLiteral("reason")), &why);
    if (!seq) {
        err << "kalvor-batch approve: " << terminalText(why) << Qt::endl;
        return exitcode::Failed;
    }
    out << terminalText(QStringLiteral("calibration %1 approved (row %2): lot %3, reader %4 at %5")
                            .arg(id)
                            .arg(*seq)
                            .arg(c->lot, c->readerSerial, c->wavelength));
    if (before)
        out << "; it supersedes calibration " << before->seq;
    out << Qt::endl;
    return exitcode::Ok;
}

} // namespace kalvor::batch
