// Ten years of a busy plant's records: 2,000,000 readings (550 a day), each
// with its capture event and its dose, in batches of 50 with their terms, on
// the SQLite file and on PostgreSQL (a private server, filled from the file
// with kalvor-batch store copy's code). On each, measured: opening the store,
// verify (rows per second), exporting one batch and one month to CSV,
// starting the window's session on the last batch, and how far each of them
// raises the process's peak memory - on the full store and on one a tenth of
// its size, to show that memory does not grow with the store.
//
// The SQLite stores are made once and kept in bench/data of the build folder
// (about 2 GB for the full one); KALVOR_BENCH_READINGS=N makes a smaller run.
// Without PostgreSQL (Debian postgresql) that half is skipped with a note.
#include "batch/BatchSession.h"
#include "batch/DoseAssessment.h"
#include "batch/Dosimetry.h"
#include "records/ChainVerifier.h"
#include "records/CsvExport.h"
#include "records/Doses.h"
#include "records/RecordStore.h"
#include "report/ReportTestSupport.h"
#include "support/PostgresServer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimeZone>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

namespace kalvor::bench {
namespace {

using records::RecordStore;

constexpr qint64 kFullReadings = 2'000'000;
constexpr int kPerBatch = 50;
constexpr int kBatchesPerTransaction = 200;
// Targets.
constexpr double kOpenLimitMs = 1000;
constexpr double kWindowLimitMs = 1000;
constexpr double kBatchExportLimitMs = 100;
constexpr double kVerifyRowsPerSecond = 200'000;
// Memory is flat when the full store raises the peak by no more than twice
// what a tenth of it does, plus 16 MiB.
constexpr double kMemorySlackMiB = 16;

qint64 readingsWanted()
{
    bool ok = false;
    const qint64 n = qEnvironmentVariable("KALVOR_BENCH_READINGS").toLongLong(&ok);
    return ok && n >= 10 * kPerBatch ? n : kFullReadings;
}

double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// VmHWM or VmRSS of this process in MiB.
double statusMiB(const char* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0)
            return std::stod(line.substr(std::strlen(field) + 1)) / 1024.0;
    return 0;
}

// How far `f` raises the process's peak memory above what it used before, in MiB.
double peakGrowthMiB(const std::function<void()>& f)
{
    {
        std::ofstream reset("/proc/self/clear_refs");
        reset << "5";  // the peak starts again from the present size
    }
    const double before = statusMiB("VmRSS:");
    f();
    return std::max(0.0, statusMiB("VmHWM:") - before);
}

QString isoAt(const QDateTime& t) { return t.toString(Qt::ISODateWithMs); }

// The first day of the ten years; reading i is read at start + i * step.
const QDateTime kStart(QDate(2016, 12, 8), QTime(6, 0), Qt::UTC);
constexpr qint64 kTenYearsS = 3653LL * 24 * 3600;

QString batchName(qint64 b) { return QStringLiteral("P%1").arg(b + 1, 6, 10, QLatin1Char('0')); }

// Fills `store` with `readings` readings as described above; false with why.
bool fill(RecordStore& store, qint64 readings, QString* why)
{
    if (!reporttest::addCalibratedLot(store, why))
        return false;
    const std::optional<batch::DoseBasis> basis =
        batch::doseBasis(store, QStringLiteral("L1"), QStringLiteral("1500"), reporttest::kWavelength, why);
    if (!basis)
        return false;
    // The doses of 1000 absorbances across the calibrated range, reused.
    std::vector<std::pair<double, batch::FilmDose>> table;
    for (int i = 0; i < 1000; ++i) {
        const double a = reporttest::absorbance(18.0 + 30.0 * i / 999.0);
        table.emplace_back(a, batch::doseFromAbsorbance(*basis, reporttest::kWavelength, a, std::nullopt, 0.001, 3));
    }
    records::BatchTermsRecord terms;
    terms.limitLowKGy = 25;
    terms.limitHighKGy = 40;
    terms.decisionRule = QStringLiteral("simple");
    terms.operatorName = QStringLiteral("ann");
    terms.programVersion = QStringLiteral("1.1.0");

    const double stepS = double(kTenYearsS) / double(readings);
    const qint64 batches = readings / kPerBatch;
    qint64 next = store.lastSeq() + 1;
    QList<std::pair<QString, QVariantList>> rows;
    for (qint64 b = 0; b < batches; ++b) {
        const qint64 first = b * kPerBatch;
        const QDateTime opened = kStart.addSecs(qint64(first * stepS) - 60);
        records::BatchRecord batch;
        batch.name = batchName(b);
        batch.operatorName = QStringLiteral("ann");
        batch.lot = QStringLiteral("L1");
        batch.idPrefix = batch.name + QLatin1Char('-');
        batch.idFirst = QStringLiteral("001");
        batch.openedUtc = isoAt(opened);
        batch.programVersion = QStringLiteral("1.1.0");
        const qint64 batchSeq = next++;
        rows.append({QStringLiteral("batches"), records::rowValues(batch)});
        terms.timeUtc = batch.openedUtc;
        terms.batch = batchSeq;
        terms.irradiatedUtc = isoAt(opened.addSecs(-7200));
        rows.append({QStringLiteral("batch_terms"),
                     {terms.timeUtc, terms.batch, terms.irradiatedUtc, *terms.limitLowKGy, *terms.limitHighKGy,
                      terms.decisionRule, terms.operatorName, terms.programVersion}});
        ++next;
        for (int i = 0; i < kPerBatch; ++i) {
            const auto& [a, dose] = table[std::size_t((first + i) * 7919 % 1000)];
            records::ReadingRecord r;
            r.batch = batchSeq;
            r.dosimeterId = QStringLiteral("%1-%2").arg(batch.name).arg(i + 1, 3, 10, QLatin1Char('0'));
            r.timeUtc = isoAt(kStart.addSecs(qint64((first + i) * stepS)));
            r.shown = QString::number(a, 'f', 3).rightJustified(6);
            r.absorbance = a;
            r.spread = 0.001;
            r.count = 3;
            r.wavelength = reporttest::kWavelength;
            r.zero = QStringLiteral("1.2000");
            r.zeroUtc = batch.openedUtc;
            r.readerModel = QStringLiteral("KALVOR");
            r.readerSerial = QStringLiteral("1500");
            r.readerGain = QStringLiteral("1.9");
            r.status = QStringLiteral("ok");
            r.operatorName = QStringLiteral("ann");
            r.programVersion = QStringLiteral("1.1.0");
            r.trigger = QStringLiteral("sensor");
            r.seq = next++;
            rows.append({QStringLiteral("readings"), records::rowValues(r)});
            records::EventRecord e;
            e.timeUtc = r.timeUtc;
            e.kind = records::event::Capture;
            e.batch = batchSeq;
            e.reading = r.seq;
            e.detail = QStringLiteral("stored %1").arg(r.dosimeterId);
            e.operatorName = QStringLiteral("ann");
            e.programVersion = QStringLiteral("1.1.0");
            rows.append({QStringLiteral("events"), records::rowValues(e)});
            ++next;
            records::DoseRecord d = batch::doseRecord(dose, r, terms);
            d.timeUtc = r.timeUtc;
            d.reading = r.seq;
            d.programVersion = QStringLiteral("1.1.0");
            rows += records::doseRow(d);
            ++next;
        }
        if ((b + 1) % kBatchesPerTransaction == 0 || b + 1 == batches) {
            if (!store.appendRows(rows, why))
                return false;
            rows.clear();
            if (store.lastSeq() != next - 1) {
                *why = QStringLiteral("the rows did not get the numbers foreseen");
                return false;
            }
            std::fprintf(stderr, "\rfilling the store: %lld of %lld readings", (long long)((b + 1) * kPerBatch),
                         (long long)readings);
        }
    }
    std::fprintf(stderr, "\n");
    return true;
}

// The SQLite store of `readings` readings, made once and kept.
QString sqliteStore(qint64 readings, QString* why)
{
    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/data");
    QDir().mkpath(dir);
    const QString path = QStringLiteral("%1/ten-years-%2.sqlite").arg(dir).arg(readings);
    if (QFile::exists(path))
        return path;
    const QString making = path + QStringLiteral(".making");
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(making + suffix);
    {
        RecordStore store;
        if (store.open(making, RecordStore::OpenMode::CreateIfMissing, why) != RecordStore::OpenError::None)
            return {};
        if (!fill(store, readings, why))
            return {};
    }
    if (!QFile::rename(making, path)) {
        *why = QStringLiteral("cannot rename %1").arg(making);
        return {};
    }
    return path;
}

struct Figures {
    double openMs = 0, windowMs = 0, batchExportMs = 0, monthExportMs = 0, verifyRowsPerS = 0;
    qint64 rows = 0, monthRows = 0;
    double verifyMiB = 0, monthMiB = 0, windowMiB = 0;
    QString problem;
};

// Measures everything on the store at `location` of `readings` readings.
Figures measure(const QString& location, qint64 readings)
{
    Figures f;
    QString why;
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        RecordStore store;
        const auto start = std::chrono::steady_clock::now();
        if (store.open(location, RecordStore::OpenMode::ExistingOnly, &why) != RecordStore::OpenError::None) {
            f.problem = why;
            return f;
        }
        times.push_back(msSince(start));
    }
    f.openMs = median(times);

    RecordStore store;
    if (store.open(location, RecordStore::OpenMode::ExistingOnly, &why) != RecordStore::OpenError::None) {
        f.problem = why;
        return f;
    }
    const qint64 batches = readings / kPerBatch;
    const QString middle = batchName(batches / 2);
    times.clear();
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const std::optional<records::ExportData> data = records::readExport(store, {middle, {}, {}}, &why);
        if (!data || data->readings.size() != kPerBatch) {
            f.problem = data ? QStringLiteral("batch %1 exported %2 rows").arg(middle).arg(data->readings.size()) : why;
            return f;
        }
        benchmark::DoNotOptimize(records::csvText(*data, false));
        times.push_back(msSince(start));
    }
    f.batchExportMs = median(times);

    const QDateTime from = kStart.addDays(1826);
    f.monthMiB = peakGrowthMiB([&] {
        const auto start = std::chrono::steady_clock::now();
        const std::optional<records::ExportData> data = records::readExport(store, {{}, from, from.addDays(30)}, &why);
        if (!data) {
            f.problem = why;
            return;
        }
        f.monthRows = data->readings.size();
        benchmark::DoNotOptimize(records::csvText(*data, false));
        f.monthExportMs = msSince(start);
    });
    if (!f.problem.isEmpty())
        return f;

    f.verifyMiB = peakGrowthMiB([&] {
        const auto start = std::chrono::steady_clock::now();
        const records::ChainReport report = records::verifyChain(store);
        const double s = msSince(start) / 1000.0;
        if (!report.ok())
            f.problem = report.summary();
        f.rows = report.rows;
        f.verifyRowsPerS = report.rows / s;
    });
    if (!f.problem.isEmpty())
        return f;

    // The window's start: the store opened, the session made and the last
    // batch resumed (its records, doses and terms read back).
    times.clear();
    for (int i = 0; i < 3; ++i) {
        const double mib = peakGrowthMiB([&] {
            const auto start = std::chrono::steady_clock::now();
            RecordStore windowStore;
            if (windowStore.open(location, RecordStore::OpenMode::ExistingOnly, &why) != RecordStore::OpenError::None) {
                f.problem = why;
                return;
            }
            batch::BatchSession session(windowStore, QStringLiteral("/nonexistent/kalvor.socket"));
            batch::BatchOptions options;
            options.name = batchName(batches - 1);
            options.operatorName = QStringLiteral("ann");
            if (!session.openBatch(options, &why) || session.records().size() != kPerBatch)
                f.problem = QStringLiteral("the last batch was not resumed with its %1 records: %2").arg(kPerBatch).arg(why);
            times.push_back(msSince(start));
        });
        f.windowMiB = std::max(f.windowMiB, mib);
        if (!f.problem.isEmpty())
            return f;
    }
    f.windowMs = median(times);
    return f;
}

void report(benchmark::State& state, const Figures& big, const Figures& small, double fillS)
{
    if (!big.problem.isEmpty() || !small.problem.isEmpty()) {
        state.SkipWithError((big.problem + small.problem).toStdString().c_str());
        return;
    }
    state.counters["rows"] = double(big.rows);
    state.counters["open_ms"] = big.openMs;
    state.counters["window_ms"] = big.windowMs;
    state.counters["batch_export_ms"] = big.batchExportMs;
    state.counters["month_export_ms"] = big.monthExportMs;
    state.counters["month_readings"] = double(big.monthRows);
    state.counters["verify_rows_s"] = big.verifyRowsPerS;
    state.counters["fill_s"] = fillS;
    state.counters["small_open_ms"] = small.openMs;
    state.counters["small_verify_rows_s"] = small.verifyRowsPerS;
    state.counters["small_batch_export_ms"] = small.batchExportMs;
    state.counters["verify_mib"] = big.verifyMiB;
    state.counters["small_verify_mib"] = small.verifyMiB;
    state.counters["month_mib"] = big.monthMiB;
    state.counters["window_mib"] = big.windowMiB;
    state.counters["small_window_mib"] = small.windowMiB;
    const bool flat = big.verifyMiB <= 2 * small.verifyMiB + kMemorySlackMiB
                      && big.windowMiB <= 2 * small.windowMiB + kMemorySlackMiB;
    state.counters["memory_flat"] = flat;
    state.counters["pass"] = big.openMs < kOpenLimitMs && big.windowMs < kWindowLimitMs
                             && big.batchExportMs < kBatchExportLimitMs && big.verifyRowsPerS >= kVerifyRowsPerSecond
                             && flat;
}

void runFor(benchmark::State& state, bool postgres)
{
    const qint64 readings = readingsWanted();
    const qint64 smallReadings = readings / 10;
    QString why;
    const auto fillStart = std::chrono::steady_clock::now();
    const QString big = sqliteStore(readings, &why);
    const QString small = big.isEmpty() ? QString() : sqliteStore(smallReadings, &why);
    if (big.isEmpty() || small.isEmpty()) {
        state.SkipWithError(why.toStdString().c_str());
        return;
    }
    double fillS = msSince(fillStart) / 1000.0;
    std::optional<test::PostgresServer> server;
    QString bigAt = big, smallAt = small;
    if (postgres) {
        server.emplace();
        if (!server->isRunning()) {
            state.SkipWithError(("no PostgreSQL server: " + server->whyNot()).toStdString().c_str());
            return;
        }
        // Each store in a database of its own, filled as store copy fills it.
        const auto copyStart = std::chrono::steady_clock::now();
        for (auto [from, name, at] : {std::tuple{big, QStringLiteral("big"), &bigAt},
                                      std::tuple{small, QStringLiteral("small"), &smallAt}}) {
            RecordStore source, target;
            *at = server->uri(name);
            if (!server->createDatabase(name, &why)
                || source.open(from, RecordStore::OpenMode::ReadOnly, &why) != RecordStore::OpenError::None
                || target.open(*at, RecordStore::OpenMode::CreateIfMissing, &why) != RecordStore::OpenError::None
                || !target.copyRowsFrom(source, {}, &why)) {
                state.SkipWithError(why.toStdString().c_str());
                return;
            }
            server->sql({QStringLiteral("VACUUM ANALYZE")}, &why, name);
        }
        fillS = msSince(copyStart) / 1000.0;
    }
    for (auto _ : state) {
        const Figures b = measure(bigAt, readings);
        const Figures s = measure(smallAt, smallReadings);
        report(state, b, s, fillS);
    }
}

void BM_TenYears_SQLite(benchmark::State& state) { runFor(state, false); }
void BM_TenYears_PostgreSQL(benchmark::State& state) { runFor(state, true); }

BENCHMARK(BM_TenYears_SQLite)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_TenYears_PostgreSQL)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
} // namespace kalvor::bench

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
