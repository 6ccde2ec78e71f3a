// kalvor-batch verify-calibration --lot L --batch B --doses FILE [--tolerance PERCENT]
// Compares the doses that the lot's approved calibration gives the films of
// a batch with the reference doses they were irradiated to, and records the
// verification in the store. Exit status: 0 passed, 1 failed (recorded) or
// not possible (nothing recorded), 2 usage, 4 the store cannot be opened.
#include "batch/BatchSession.h"
#include "batch/CalibrationVerification.h"
#include "batch/CommandLine.h"
#include "batch/Subcommand.h"
#include "core/PrintableText.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <cmath>

namespace kalvor::batch {

int runVerifyCalibration(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    CommandParser cp(QStringLiteral("verify-calibration"),
                     QStringLiteral("Verifies a lot's approved calibration with a batch of films irradiated to reference doses:\n"
                                    "each film's dose from the calibration over its reference dose, the mean and SD of these\n"
                                    "ratios, and pass when the mean lies within the tolerance of 1. The verification is\n"
                                    "recorded in the store. FILE is a CSV file with a header row naming the columns id and\n"
                                    "dose_kGy (or dose_Gy), one row per film.\n"
                                    "Exit status: 0 passed, 1 failed (recorded) or not possible (nothing recorded), 2 usage\n"
                                    "error, 4 the store cannot be opened."));
    const QCommandLineOption lot(QStringLiteral("lot"), QStringLiteral("The film lot whose calibration is verified."), QStringLiteral("L"));
    const QCommandLineOption batch(QStringLiteral("batch"), QStringLiteral("The batch in which the films were read."), QStringLiteral("B"));
    const QCommandLineOption doses(QStringLiteral("doses"), QStringLiteral("The films' reference doses (CSV: id, dose_kGy or dose_Gy)."), QStringLiteral("FILE"));
    const QCommandLineOption tolerance(QStringLiteral("tolerance"), QStringLiteral("How far the mean ratio may lie from 1, in percent (default 5)."), QStringLiteral("PERCENT"));
    for (const QCommandLineOption* o : {&lot, &batch, &doses, &tolerance})
        cp.add(*o);
    if (const std::optional<int> status = cp.parse(arguments, out, err))
        return *status;
    const QCommandLineParser& p = cp.parser();
    if (!p.positionalArguments().isEmpty())
        return cp.usage(err, QStringLiteral("verify-calibration takes options only, not: %1").arg(p.positionalArguments().join(QLatin1Char(' '))));
    for (const QCommandLineOption* o : {&lot, &batch, &doses})
        if (p.value(*o).trimmed().isEmpty())
            return cp.usage(err, QStringLiteral("verify-calibration needs --%1").arg(o->names().constFirst()));
    double tolerancePct = kDefaultVerificationTolerancePct;
    if (p.isSet(tolerance)) {
        bool ok = false;
        tolerancePct = QLocale::c().toDouble(p.value(tolerance).trimmed().remove(QLatin1Char('%')), &ok);
        if (!ok || !std::isfinite(tolerancePct) || tolerancePct <= 0 || tolerancePct > 100)
            return cp.usage(err, QStringLiteral("--tolerance takes a percentage above 0 up to 100, not %1").arg(p.value(tolerance)));
    }

    const QString path = p.value(doses);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        err << "kalvor-batch verify-calibration: cannot read " << printableText(path) << ": " << f.errorString() << Qt::endl;
        return exitcode::Failed;
    }
    const QByteArray bytes = f.read(16 * 1024 * 1024 + 1);
    QString why;
    const std::optional<QList<ReferenceDose>> list =
        bytes.size() > 16 * 1024 * 1024 ? std::nullopt : parseReferenceDoses(QString::fromUtf8(bytes), path, &why);
    if (!list) {
        err << "kalvor-batch verify-calibration: "
            << printableText(why.isEmpty() ? QStringLiteral("%1 is too large for a list of doses").arg(path) : why) << Qt::endl;
        return exitcode::Failed;
    }

    RecordStore store;
    if (const std::optional<int> status = openStoreFor(store, cp.storePath(), false, err))
        return *status;
    std::optional<Verification> v = verifyCalibration(store, p.value(lot).trimmed(), p.value(batch).trimmed(), *list, tolerancePct, &why);
    if (!v) {
        err << "kalvor-batch verify-calibration: " << printableText(why) << Qt::endl;
        return exitcode::Failed;
    }
    v->record.dosesFile = QFileInfo(path).absoluteFilePath();
    v->record.dosesSha256 = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    v->record.operatorName = BatchSession::loginName();
    v->record.programVersion = QStringLiteral(KALVOR_VERSION);
    const std::optional<qint64> seq = appendVerification(store, v->record, &why);
    out << terminalText(verificationReport(*v));
    if (!seq) {
        err << "kalvor-batch verify-calibration: not recorded: " << printableText(why) << Qt::endl;
        return exitcode::Failed;
    }
    out << "Recorded as row " << *seq << "." << Qt::endl;
    return v->record.passed ? exitcode::Ok : exitcode::Failed;
}

} // namespace kalvor::batch
