// kalvor-batch fit FILE --model M [--through-zero] [--invert R,R,...]
//                       [--compare] [--json]
// Fits a calibration curve to the doses and responses of a CSV file, reports
// it (a table, or JSON for scripts), gives the doses of responses, and
// compares every model. Exit status: 0 fitted, 1 the file cannot be used or
// the fit is refused, 2 usage.
#include "batch/CalibrationCsv.h"
#include "batch/CommandLine.h"
#include "batch/FitReport.h"
#include "batch/Subcommand.h"
#include "calib/CalibrationJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <algorithm>
#include <cmath>

namespace kalvor::batch {

namespace {

QString modelList() { return calib::Model::names().join(QStringLiteral(", ")); }

// "0.5,1.2, 2" as numbers; nothing when one of them is not a finite number.
std::optional<std::vector<double>> parseResponses(const QString& text, QString* bad)
{
    std::vector<double> values;
    for (const QString& part : text.split(QLatin1Char(','))) {
        bool ok = false;
        const double v = QLocale::c().toDouble(part.trimmed(), &ok);
        if (!ok || !std::isfinite(v)) {
            *bad = part.trimmed();
            return std::nullopt;
        }
        values.push_back(v);
    }
    return values;
}

void printJson(QTextStream& out, const QJsonObject& object)
{
    out << QJsonDocument(object).toJson(QJsonDocument::Indented);
    out.flush();
}

} // namespace

int runFit(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    CommandParser cp(QStringLiteral("fit"),
                     QStringLiteral("Fits a calibration curve, response against dose, to a CSV file with columns dose (kGy)\n"
                                    "and response (specific net absorbance, mm⁻¹), one row per film, and reports it.\n"
                                    "Models: poly1 to poly4 (R = a0 + a1·D + ...), exp (R = a·(1 − e^(−b·D)) + c),\n"
                                    "power (R = a·D^b + c).\n"
                                    "Exit status: 0 fitted, 1 the file cannot be used or the fit is refused, 2 usage error."),
                     false);
    const QCommandLineOption model(QStringLiteral("model"), QStringLiteral("The model: %1.").arg(modelList()),
                                   QStringLiteral("M"));
    const QCommandLineOption throughZero(QStringLiteral("through-zero"),
                                         QStringLiteral("Without the constant term (a0, or c): the curve passes through R = 0 at D = 0. "
                                                        "With --compare, every model is fitted both ways."));
    const QCommandLineOption invert(QStringLiteral("invert"),
                                    QStringLiteral("The doses of these responses, with their uncertainty from the fit."),
                                    QStringLiteral("R,R,..."));
    const QCommandLineOption compare(QStringLiteral("compare"), QStringLiteral("Fits every model and compares them."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Writes JSON instead of tables."));
    for (const QCommandLineOption* o : {&model, &throughZero, &invert, &compare, &json})
        cp.add(*o);
    cp.parser().addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The CSV file of the calibration films."));
    if (const std::optional<int> status = cp.parse(arguments, out, err))
        return *status;

    const QCommandLineParser& p = cp.parser();
    const QStringList files = p.positionalArguments();
    if (files.size() != 1)
        return cp.usage(err, files.isEmpty() ? QStringLiteral("which CSV file? (kalvor-batch fit FILE --model M)")
                                             : QStringLiteral("one file at a time, not: %1").arg(files.join(QLatin1Char(' '))));
    std::optional<calib::Model> chosen;
    if (p.isSet(model)) {
        chosen = calib::Model::parse(p.value(model), p.isSet(throughZero));
        if (!chosen)
            return cp.usage(err, QStringLiteral("there is no model \"%1\"; the models are %2").arg(p.value(model), modelList()));
    } else if (!p.isSet(compare)) {
        return cp.usage(err, QStringLiteral("fit needs --model M (one of %1), or --compare").arg(modelList()));
    }
    std::vector<double> responses;
    if (p.isSet(invert)) {
        if (!chosen)
            return cp.usage(err, QStringLiteral("--invert needs --model"));
        QString bad;
        const std::optional<std::vector<double>> parsed = parseResponses(p.value(invert), &bad);
        if (!parsed)
            return cp.usage(err, QStringLiteral("--invert takes responses separated by commas, e.g. 0.5,1.2; \"%1\" is not a number").arg(bad));
        responses = *parsed;
    }

    QString why;
    const std::optional<std::vector<calib::Point>> points = readCalibrationCsv(files[0], &why);
    if (!points) {
        err << "kalvor-batch fit: " << why << Qt::endl;
        return exitcode::Failed;
    }

    QJsonObject result;
    if (p.isSet(compare)) {
        const std::vector<calib::ComparisonRow> rows = calib::compareModels(*points, p.isSet(throughZero));
        if (p.isSet(json))
            result.insert(QStringLiteral("comparison"), calib::comparisonToJson(rows));
        else
            out << calib::Model::names().size() * (p.isSet(throughZero) ? 2 : 1) << " models fitted to "
                << points->size() << " points of " << files[0] << "\n\n" << comparisonReport(rows);
        if (!chosen) {
            if (p.isSet(json))
                printJson(out, result);
            out.flush();
            const bool anyFit = std::any_of(rows.begin(), rows.end(), [](const auto& r) { return r.refusal.isEmpty(); });
            return anyFit ? exitcode::Ok : exitcode::Failed;
        }
        if (!p.isSet(json))
            out << '\n';
    }

    const calib::FitResult fit = calib::fitCalibration(*chosen, *points);
    if (!fit.ok()) {
        err << "kalvor-batch fit: the fit is refused: " << fit.refusal << Qt::endl;
        if (p.isSet(json)) {
            result.insert(QStringLiteral("model"), chosen->name());
            result.insert(QStringLiteral("through_zero"), chosen->throughZero());
            result.insert(QStringLiteral("refused"), fit.refusal);
            printJson(out, result);
        }
        return exitcode::Failed;
    }
    const calib::Calibration& c = *fit.calibration;
    std::vector<calib::DoseEstimate> doses;
    for (double r : responses) {
        calib::FilmReading reading;
        reading.response = r;
        doses.push_back(calib::estimateDose(c, reading, 0.0));
    }
    if (p.isSet(json)) {
        const QJsonObject fitted = calib::calibrationToJson(c);
        for (auto it = fitted.begin(); it != fitted.end(); ++it)
            result.insert(it.key(), it.value());
        if (p.isSet(invert)) {
            QJsonArray list;
            for (const calib::DoseEstimate& e : doses)
                list.append(calib::doseToJson(e));
            result.insert(QStringLiteral("doses"), list);
        }
        printJson(out, result);
        return exitcode::Ok;
    }
    out << fitReport(c, files[0]);
    if (p.isSet(invert))
        out << '\n' << doseReport(doses);
    out.flush();
    return exitcode::Ok;
}

} // namespace kalvor::batch
