// kalvor-batch reference add --serial SN --wavelength NM --light A --medium A
//                            --dark A [--u A] [--tolerance A] --certificate ID --date YYYY-MM-DD
// kalvor-batch reference list
// The reference filters of a reader: their certified absorbance at one
// wavelength, with the certificate. A new certificate supersedes the row
// before for the same reader and wavelength; nothing is changed.
#include "batch/BatchSession.h"
#include "batch/CommandLine.h"
#include "batch/Subcommand.h"
#include "core/PrintableText.h"
#include "records/Calibrations.h"
#include "records/QualityRecords.h"
#include "batch/QualityControl.h"

#include <QLocale>
#include <cmath>

namespace kalvor::batch {

namespace {

QString describe(const ReferenceSet& s)
{
    return QStringLiteral("reader %1 at %2: light %3, medium %4, dark %5, %6tolerance ±%7, certificate %8 of %9")
        .arg(s.readerSerial, normalWavelength(s.wavelength), QString::number(s.light, 'f', 3),
             QString::number(s.medium, 'f', 3), QString::number(s.dark, 'f', 3),
             s.expandedU ? QStringLiteral("U %1, ").arg(QString::number(*s.expandedU, 'f', 3)) : QString(),
             QString::number(s.tolerance, 'f', 3), s.certificate, s.certificateDate.toString(Qt::ISODate));
}

} // namespace

int runReference(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    CommandParser cp(QStringLiteral("reference"),
                     QStringLiteral("The reference filters of a reader (neutral density filters light, medium, dark) with\n"
                                    "their certified absorbance at one wavelength, against which every filter check is\n"
                                    "judged. add records a certificate (it supersedes the one before for that reader and\n"
                                    "wavelength); list shows every certificate recorded.\n"
                                    "Exit status: 0 done, 1 not recorded, 2 usage error, 4 the store cannot be opened."));
    const QCommandLineOption serial(QStringLiteral("serial"), QStringLiteral("add: the reader's serial number."), QStringLiteral("SN"));
    const QCommandLineOption wavelength(QStringLiteral("wavelength"), QStringLiteral("add: the wavelength in nm, e.g. 510."), QStringLiteral("NM"));
    const QCommandLineOption light(QStringLiteral("light"), QStringLiteral("add: the light filter's certified absorbance."), QStringLiteral("A"));
    const QCommandLineOption medium(QStringLiteral("medium"), QStringLiteral("add: the medium filter's certified absorbance."), QStringLiteral("A"));
    const QCommandLineOption dark(QStringLiteral("dark"), QStringLiteral("add: the dark filter's certified absorbance."), QStringLiteral("A"));
    const QCommandLineOption u(QStringLiteral("u"), QStringLiteral("add: the certificate's expanded uncertainty U (k = 2), in absorbance."), QStringLiteral("A"));
    const QCommandLineOption tolerance(QStringLiteral("tolerance"), QStringLiteral("add: how far a check may lie from the certified value (default: 0.010, or U when larger)."), QStringLiteral("A"));
    const QCommandLineOption certificate(QStringLiteral("certificate"), QStringLiteral("add: the certificate's ID."), QStringLiteral("ID"));
    const QCommandLineOption date(QStringLiteral("date"), QStringLiteral("add: the certificate's date; it applies to checks from that day on."), QStringLiteral("YYYY-MM-DD"));
    for (const QCommandLineOption* o : {&serial, &wavelength, &light, &medium, &dark, &u, &tolerance, &certificate, &date})
        cp.add(*o);
    cp.parser().addPositionalArgument(QStringLiteral("action"), QStringLiteral("add or list."), QStringLiteral("add|list"));
    if (const std::optional<int> status = cp.parse(arguments, out, err))
        return *status;
    const QCommandLineParser& p = cp.parser();
    const QStringList actions = p.positionalArguments();
    if (actions.size() != 1 || (actions[0] != QLatin1String("add") && actions[0] != QLatin1String("list")))
        return cp.usage(err, QStringLiteral("say add or list (kalvor-batch reference add ... or kalvor-batch reference list)"));

    if (actions[0] == QLatin1String("list")) {
        for (const QCommandLineOption* o : {&serial, &wavelength, &light, &medium, &dark, &u, &tolerance, &certificate, &date})
            if (p.isSet(*o))
                return cp.usage(err, QStringLiteral("--%1 goes with add").arg(o->names().constFirst()));
        RecordStore store;
        QString why;
        if (store.open(cp.storePath(), RecordStore::OpenMode::ReadOnly, &why) != RecordStore::OpenError::None) {
            err << "kalvor-batch: " << printableText(why) << Qt::endl;
            return exitcode::StoreError;
        }
        const QList<ReferenceSet> all = referenceSets(store);
        const QList<ReferenceSet> current = currentReferenceSets(all);
        if (all.isEmpty())
            out << "No reference filters are recorded (kalvor-batch reference add)." << Qt::endl;
        for (const ReferenceSet& s : all) {
            const bool isCurrent = std::any_of(current.begin(), current.end(), [&](const ReferenceSet& c) { return c.seq == s.seq; });
            out << terminalText(QStringLiteral("row %1, %2%3 (added %4 by %5)")
                                    .arg(s.seq)
                                    .arg(describe(s), isCurrent ? QString() : QStringLiteral(" [superseded]"),
                                         QDateTime::fromString(s.timeUtc, Qt::ISODateWithMs).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                                         s.operatorName))
                << Qt::endl;
        }
        return exitcode::Ok;
    }

    for (const QCommandLineOption* o : {&serial, &wavelength, &light, &medium, &dark, &certificate, &date})
        if (!p.isSet(*o))
            return cp.usage(err, QStringLiteral("add needs --%1").arg(o->names().constFirst()));
    ReferenceSet s;
    s.readerSerial = p.value(serial).trimmed();
    s.wavelength = p.value(wavelength).trimmed();
    s.certificate = p.value(certificate).trimmed();
    s.certificateDate = QDate::fromString(p.value(date).trimmed(), Qt::ISODate);
    for (const auto& [option, target] : {std::pair{&light, &s.light}, std::pair{&medium, &s.medium}, std::pair{&dark, &s.dark}}) {
        bool ok = false;
        *target = QLocale::c().toDouble(p.value(*option).trimmed(), &ok);
        if (!ok)
            return cp.usage(err, QStringLiteral("--%1 %2 is not a number").arg(option->names().constFirst(), p.value(*option)));
    }
    for (const auto& [option, given] : {std::pair{&u, &s.expandedU}}) {
        if (!p.isSet(*option))
            continue;
        bool ok = false;
        *given = QLocale::c().toDouble(p.value(*option).trimmed(), &ok);
        if (!ok)
            return cp.usage(err, QStringLiteral("--u %1 is not a number").arg(p.value(*option)));
    }
    s.tolerance = defaultTolerance(s.expandedU);
    if (p.isSet(tolerance)) {
        bool ok = false;
        s.tolerance = QLocale::c().toDouble(p.value(tolerance).trimmed(), &ok);
        if (!ok)
            return cp.usage(err, QStringLiteral("--tolerance %1 is not a number").arg(p.value(tolerance)));
    }
    if (const QString problem = referenceSetProblem(s); !problem.isEmpty())
        return cp.usage(err, problem);

    RecordStore store;
    if (const std::optional<int> status = openStoreFor(store, cp.storePath(), true, err))
        return *status;
    QString why;
    const std::optional<qint64> seq = recordReferenceSet(store, s, BatchSession::loginName(), &why);
    if (!seq) {
        err << "kalvor-batch reference: " << printableText(why) << Qt::endl;
        return exitcode::Failed;
    }
    s = referenceSets(store).constLast();
    out << terminalText(QStringLiteral("Recorded as row %1: %2").arg(*seq).arg(describe(s)));
    if (s.supersedes)
        out << terminalText(QStringLiteral("; it supersedes row %1").arg(*s.supersedes));
    out << Qt::endl;
    return exitcode::Ok;
}

} // namespace kalvor::batch
