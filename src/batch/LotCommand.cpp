// kalvor-batch lot add NAME --thickness MM [--thickness-u MM]
//                  [--background A0 --wavelength NM | --background-batch BATCH]
//                  [--type TEXT] [--notes TEXT] [--operator WHO]
// kalvor-batch lot list [--json]
// A film lot as a row of the store: its nominal thickness with its standard
// uncertainty and its background absorbance A0 at each wavelength, typed or
// the mean of a batch of unirradiated films. Adding a lot that exists
// changes it: a new row that supersedes the last, keeping what is not given.
#include "batch/BatchSession.h"
#include "batch/CommandLine.h"
#include "batch/Lots.h"
#include "batch/Subcommand.h"
#include "core/PrintableText.h"
#include "records/Calibrations.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

QString fixed(double v, int decimals) { return QString::number(v, 'f', decimals); }

int add(CommandParser& cp, const QStringList& names, QTextStream& out, QTextStream& err)
{
    const QCommandLineParser& p = cp.parser();
    if (names.size() != 1)
        return cp.usage(err, QStringLiteral("lot add takes one lot name"));
    const QString name = names[0].trimmed();
    if (name.isEmpty())
        return cp.usage(err, QStringLiteral("a lot needs a name"));
    if (p.isSet(QStringLiteral("background")) && p.isSet(QStringLiteral("background-batch")))
        return cp.usage(err, QStringLiteral("give the background typed (--background) or from a batch (--background-batch), not both"));
    if (p.isSet(QStringLiteral("background")) != p.isSet(QStringLiteral("wavelength")))
        return cp.usage(err, QStringLiteral("--background A0 goes with --wavelength NM (the wavelength it was read at)"));

    LotChange change;
    change.name = name;
    change.operatorName = p.value(QStringLiteral("operator"));
    if (p.isSet(QStringLiteral("thickness"))) {
        change.thicknessMm = number(p.value(QStringLiteral("thickness")));
        if (!change.thicknessMm)
            return cp.usage(err, QStringLiteral("--thickness takes the nominal thickness in mm"));
    }
    if (p.isSet(QStringLiteral("thickness-u"))) {
        change.thicknessUMm = number(p.value(QStringLiteral("thickness-u")));
        if (!change.thicknessUMm)
            return cp.usage(err, QStringLiteral("--thickness-u takes the thickness's standard uncertainty in mm"));
    }
    if (p.isSet(QStringLiteral("type")))
        change.filmType = p.value(QStringLiteral("type"));
    if (p.isSet(QStringLiteral("notes")))
        change.notes = p.value(QStringLiteral("notes"));
    QString why;
    if (p.isSet(QStringLiteral("background"))) {
        const std::optional<double> a0 = number(p.value(QStringLiteral("background")));
        const std::optional<LotBackground> typed =
            a0 ? typedBackground(*a0, p.value(QStringLiteral("wavelength")), &why) : std::nullopt;
        if (!typed)
            return cp.usage(err, a0 ? why : QStringLiteral("--background takes an absorbance"));
        change.backgrounds << *typed;
    }

    if (const QString problem = lotChangeProblem(change); !problem.isEmpty())
        return cp.usage(err, problem);

    RecordStore store;
    if (const std::optional<int> failed = openStoreFor(store, cp.storePath(), true, err))
        return *failed;
    if (p.isSet(QStringLiteral("background-batch"))) {
        const std::optional<QList<LotBackground>> fromBatch =
            backgroundsOf(store, p.value(QStringLiteral("background-batch")), &why);
        if (!fromBatch) {
            err << "kalvor-batch lot: " << terminalText(why) << Qt::endl;
            return exitcode::Failed;
        }
        change.backgrounds = *fromBatch;
    }
    const std::optional<LotRecord> before = currentLot(store, name);
    const std::optional<LotRecord> changed = changedLot(store, change, &why);
    if (!changed)  // what depends on the lot as stored: a new lot without thickness, u above it
        return cp.usage(err, why);
    const LotRecord& lot = *changed;
    const std::optional<qint64> seq = appendLot(store, lot, &why);
    if (!seq) {
        err << "kalvor-batch lot: " << terminalText(why) << Qt::endl;
        return exitcode::Failed;
    }
    out << terminalText(before ? QStringLiteral("lot %1 changed (row %2 supersedes row %3)").arg(name).arg(*seq).arg(before->seq)
                               : QStringLiteral("lot %1 added (row %2)").arg(name).arg(*seq))
        << ": " << fixed(lot.thicknessMm, 4) << " mm";
    if (lot.thicknessUMm > 0)
        out << " (u " << fixed(lot.thicknessUMm, 4) << " mm)";
    for (const LotBackground& b : std::as_const(lot.backgrounds))
        out << ", A0 " << fixed(b.a0, 4) << " at " << b.wavelength
            << (b.films ? QStringLiteral(" (mean of %1 films of %2)").arg(b.films).arg(terminalText(b.batch)) : QString());
    out << Qt::endl;
    return exitcode::Ok;
}

QJsonObject lotJson(const LotRecord& l, const QList<CalibrationRecord>& approved)
{
    QJsonArray backgrounds;
    for (const LotBackground& b : l.backgrounds) {
        QJsonObject o{{QStringLiteral("wavelength"), b.wavelength}, {QStringLiteral("a0"), b.a0}, {QStringLiteral("films"), b.films}};
        o.insert(QStringLiteral("sd"), b.sd ? QJsonValue(*b.sd) : QJsonValue());
        o.insert(QStringLiteral("batch"), b.batch.isEmpty() ? QJsonValue() : QJsonValue(b.batch));
        backgrounds.append(o);
    }
    QJsonArray calibrations;
    for (const CalibrationRecord& c : approved)
        calibrations.append(QJsonObject{{QStringLiteral("calibration"), c.seq}, {QStringLiteral("reader_serial"), c.readerSerial},
                                        {QStringLiteral("wavelength"), c.wavelength}, {QStringLiteral("model"), c.model}});
    return {{QStringLiteral("name"), l.name},
            {QStringLiteral("row"), l.seq},
            {QStringLiteral("film_type"), l.filmType},
            {QStringLiteral("thickness_mm"), l.thicknessMm},
            {QStringLiteral("thickness_u_mm"), l.thicknessUMm},
            {QStringLiteral("backgrounds"), backgrounds},
            {QStringLiteral("notes"), l.notes},
            {QStringLiteral("approved_calibrations"), calibrations}};
}

int list(CommandParser& cp, QTextStream& out, QTextStream& err)
{
    RecordStore store;
    if (const std::optional<int> failed = openStoreFor(store, cp.storePath(), false, err))
        return *failed;
    const QList<LotRecord> lots = currentLots(store);
    QHash<QString, QList<CalibrationRecord>> approved;
    for (const LotRecord& l : lots)
        approved.insert(l.name, approvedCalibrations(store, l.name));
    if (cp.parser().isSet(QStringLiteral("json"))) {
        QJsonArray all;
        for (const LotRecord& l : lots)
            all.append(lotJson(l, approved.value(l.name)));
        out << QJsonDocument(all).toJson(QJsonDocument::Indented);
        return exitcode::Ok;
    }
    if (lots.isEmpty()) {
        out << "no lots yet (kalvor-batch lot add NAME --thickness MM ...)" << Qt::endl;
        return exitcode::Ok;
    }
    for (const LotRecord& l : lots) {
        out << terminalText(l.name) << ": " << fixed(l.thicknessMm, 4) << " mm";
        if (l.thicknessUMm > 0)
            out << " (u " << fixed(l.thicknessUMm, 4) << " mm)";
        if (!l.filmType.isEmpty())
            out << ", " << terminalText(l.filmType);
        for (const LotBackground& b : l.backgrounds)
            out << "; A0 " << fixed(b.a0, 4) << " at " << b.wavelength;
        for (const CalibrationRecord& c : approved.value(l.name))
            out << "; calibration " << c.seq << " (" << c.model << ", reader " << terminalText(c.readerSerial) << " at "
                << c.wavelength << ")";
        out << "\n";
    }
    out.flush();
    return exitcode::Ok;
}

} // namespace

int runLot(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    CommandParser cp(QStringLiteral("lot"),
                     QStringLiteral("Film lots: add NAME (or change it) with its nominal thickness and background\n"
                                    "absorbance A0 at each wavelength; list them with their approved calibrations."));
    for (const QCommandLineOption& o : {
             QCommandLineOption(QStringLiteral("thickness"), QStringLiteral("add: the nominal thickness in mm."), QStringLiteral("MM")),
             QCommandLineOption(QStringLiteral("thickness-u"), QStringLiteral("add: its standard uncertainty in mm."), QStringLiteral("MM")),
             QCommandLineOption(QStringLiteral("background"), QStringLiteral("add: A0 of unirradiated films, typed (with --wavelength)."), QStringLiteral("A0")),
             QCommandLineOption(QStringLiteral("wavelength"), QStringLiteral("add: the wavelength of --background, e.g. 510."), QStringLiteral("NM")),
             QCommandLineOption(QStringLiteral("background-batch"), QStringLiteral("add: A0 as the mean of a batch of unirradiated films, at each wavelength it was read."), QStringLiteral("BATCH")),
             QCommandLineOption(QStringLiteral("type"), QStringLiteral("add: the film type (free text)."), QStringLiteral("TEXT")),
             QCommandLineOption(QStringLiteral("notes"), QStringLiteral("add: notes."), QStringLiteral("TEXT")),
             QCommandLineOption(QStringLiteral("operator"), QStringLiteral("add: who (default: the login name)."), QStringLiteral("WHO")),
             QCommandLineOption(QStringLiteral("json"), QStringLiteral("list: JSON."))})
        cp.add(o);
    cp.parser().addPositionalArgument(QStringLiteral("add|list"), QStringLiteral("What to do."));
    if (const std::optional<int> status = cp.parse(arguments, out, err))
        return *status;
    QStringList words = cp.parser().positionalArguments();
    const QString action = words.isEmpty() ? QString() : words.takeFirst();
    if (action == QLatin1String("add"))
        return add(cp, words, out, err);
    if (action == QLatin1String("list") && words.isEmpty())
        return list(cp, out, err);
    return cp.usage(err, QStringLiteral("lot add NAME ..., or lot list"));
}

} // namespace kalvor::batch
