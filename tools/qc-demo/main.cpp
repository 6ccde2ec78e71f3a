// kalvor-qc-demo STORE: fills a new record store with five weeks of a lab's
// quality control, for the README's picture of the Quality Control window
// (tools/take-screenshots.sh) and for trying the qc command: the reference
// filters of reader 1500, a filter check every morning whose dark filter
// darkens from the 25th day on, readings whose zero falls as the lamp dims,
// and verifications of lot L7's calibration. Not installed.
#include "batch/QualityControl.h"
#include "calib/CalibrationJson.h"
#include "calib/Fit.h"
#include "records/Calibrations.h"
#include "records/QualityRecords.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

using namespace kalvor;
using namespace kalvor::records;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2 || QFile::exists(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "usage: kalvor-qc-demo NEW-STORE (a file that does not exist yet)\n");
        return 2;
    }
    RecordStore store;
    QString why;
    if (store.open(QString::fromLocal8Bit(argv[1]), RecordStore::OpenMode::CreateIfMissing, &why) != RecordStore::OpenError::None) {
        std::fprintf(stderr, "kalvor-qc-demo: %s\n", qPrintable(why));
        return 4;
    }
    const QDate today = QDate::currentDate();
    const QDate first = today.addDays(-35);
    ReferenceSet set;
    set.readerSerial = QStringLiteral("1500");
    set.wavelength = QStringLiteral("510 nm");
    set.light = 0.302;
    set.medium = 0.801;
    set.dark = 1.498;
    set.expandedU = 0.004;
    set.tolerance = defaultTolerance(set.expandedU);
    set.certificate = QStringLiteral("NDF-2026-017");
    set.certificateDate = first.addDays(-20);
    batch::recordReferenceSet(store, set, QStringLiteral("qa"), &why);

    const double scatter[] = {0.000, 0.001, -0.001, 0.002, -0.001, 0.000, -0.002, 0.001, 0.000, -0.001, 0.001};
    const QList<std::pair<QString, double>> filters{{QStringLiteral("light"), 0.302}, {QStringLiteral("medium"), 0.801},
                                                    {QStringLiteral("dark"), 1.498}};
    BatchRecord b;
    b.name = QStringLiteral("routine");
    b.lot = QStringLiteral("L7");
    b.operatorName = QStringLiteral("ann");
    const qint64 routine = store.appendBatch(b, &why).value_or(0);
    for (int n = 1; n <= 30; ++n) {
        const QDateTime morning(first.addDays(n), QTime(8, 5));
        for (int f = 0; f < 3; ++f) {
            const double drift = f == 2 && n >= 25 ? 0.0015 * (n - 24) : 0.0;
            FilterCheckRecord c;
            c.timeUtc = morning.addSecs(40 * f).toUTC().toString(Qt::ISODateWithMs);
            c.item = QStringList{QStringLiteral("na"), QStringLiteral("nb"), QStringLiteral("nc")}[f];
            c.filter = filters[f].first;
            c.value = QString::number(filters[f].second + scatter[(n + 3 * f) % 11] + drift, 'f', 3).toDouble();
            c.shown = QString::number(*c.value, 'f', 3);
            c.wavelength = QStringLiteral("510 nm");
            c.readerModel = QStringLiteral("KALVOR");
            c.readerSerial = QStringLiteral("1500");
            c.readerGain = QStringLiteral("1.9");
            c.operatorName = QStringLiteral("ann");
            store.appendFilterCheck(c, &why);
        }
        // A zero each morning, the lamp dimming by about 0.3 % a week.
        ReadingRecord r;
        r.batch = routine;
        r.dosimeterId = QStringLiteral("R-%1").arg(n, 3, 10, QLatin1Char('0'));
        r.timeUtc = morning.addSecs(900).toUTC().toString(Qt::ISODateWithMs);
        r.shown = QStringLiteral(" 0.512");
        r.absorbance = 0.512;
        r.count = 3;
        r.wavelength = QStringLiteral("510 nm");
        r.zero = QString::number(1.2480 - 0.00055 * n + scatter[n % 11] * 0.8, 'f', 4);
        r.zeroUtc = morning.addSecs(600).toUTC().toString(Qt::ISODateWithMs);
        r.readerModel = QStringLiteral("KALVOR");
        r.readerSerial = QStringLiteral("1500");
        r.readerGain = QStringLiteral("1.9");
        r.status = QStringLiteral("ok");
        r.operatorName = QStringLiteral("ann");
        r.trigger = QStringLiteral("sensor");
        EventRecord e;
        e.timeUtc = r.timeUtc;
        e.kind = event::Capture;
        e.batch = routine;
        store.appendReading(r, e, &why);
    }
    const QList<std::tuple<int, double, double, bool>> checks{{3, 1.004, 0.011, true}, {10, 0.991, 0.014, true},
                                                              {17, 1.012, 0.009, true}, {24, 1.027, 0.012, true},
                                                              {31, 1.063, 0.015, false}};
    for (const auto& [dayNumber, mean, sd, passed] : checks) {
        VerificationRecord v;
        v.timeUtc = QDateTime(first.addDays(dayNumber), QTime(14, 0)).toUTC().toString(Qt::ISODateWithMs);
        v.lot = QStringLiteral("L7");
        v.batchName = QStringLiteral("ver-%1").arg(dayNumber);
        v.readerSerial = QStringLiteral("1500");
        v.wavelength = QStringLiteral("510 nm");
        v.films = 6;
        v.meanRatio = mean;
        v.sdRatio = sd;
        v.tolerancePct = 5;
        v.passed = passed;
        v.operatorName = QStringLiteral("ann");
        appendVerification(store, v, &why);
    }
    std::printf("%s: %lld rows\n", argv[1], store.lastSeq());
    return 0;
}
