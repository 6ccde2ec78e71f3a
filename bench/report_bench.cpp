// The report of a batch of 500 dosimeters with their doses, as the report
// command and File > Report make it: read from the store in one state of it,
// laid out and drawn into a PDF, written, and its event recorded. Measured:
// the median of the whole; its parts (reading the store, making the PDF)
// beside it. Needs a QGuiApplication: this executable has its own main, on
// the offscreen platform.
#include "report/IssueReport.h"
#include "report/PdfReport.h"
#include "report/ReportTestSupport.h"

#include <QGuiApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

namespace kalvor::bench {
namespace {

constexpr double kLimitMs = 2000;
constexpr int kDosimeters = 500;

double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(v.size() / 2), v.end());
    return v[v.size() / 2];
}

void BM_Report500(benchmark::State& state)
{
    QTemporaryDir dir;
    records::RecordStore store;
    QString why;
    if (store.open(dir.filePath(QStringLiteral("r.sqlite")), records::RecordStore::OpenMode::CreateIfMissing, &why)
        != records::RecordStore::OpenError::None) {
        state.SkipWithError(why.toStdString().c_str());
        return;
    }
    QList<double> doses;
    for (int i = 0; i < kDosimeters; ++i)
        doses << 15.0 + 35.0 * ((i * 37) % kDosimeters) / kDosimeters;
    if (!reporttest::addCalibratedLot(store, &why)
        || !reporttest::addBatch(store, QStringLiteral("big"), QStringLiteral("L1"), doses, &why)) {
        state.SkipWithError(why.toStdString().c_str());
        return;
    }
    const QString pdf = dir.filePath(QStringLiteral("big.pdf"));
    const batch::LabDetails lab{QStringLiteral("Irradiation Lab"), QStringLiteral("1 Beam Road\nTown")};
    std::vector<double> whole, read, render;
    int pages = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const std::optional<report::WrittenReport> written =
            report::issueReport(store, QStringLiteral("big"), pdf, lab, QStringLiteral("bench"), &why);
        whole.push_back(msSince(start));
        if (!written) {
            state.SkipWithError(why.toStdString().c_str());
            return;
        }
        pages = written->pages;
        // The parts, apart.
        const auto readStart = std::chrono::steady_clock::now();
        std::optional<batch::ReportData> data = batch::readReport(store, QStringLiteral("big"), &why);
        read.push_back(msSince(readStart));
        const auto renderStart = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(report::renderReport(*data, QPageSize(QPageSize::A4)));
        render.push_back(msSince(renderStart));
    }
    const double measured = median(whole);
    state.counters["measured_ms"] = measured;
    state.counters["read_ms"] = median(read);
    state.counters["render_ms"] = median(render);
    state.counters["pages"] = pages;
    state.counters["dosimeters"] = kDosimeters;
    state.counters["limit_ms"] = kLimitMs;
    state.counters["pass"] = measured < kLimitMs ? 1 : 0;
}
BENCHMARK(BM_Report500)->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kalvor::bench

int main(int argc, char** argv)
{
    int qtArgc = 3;
    char platform[] = "-platform";
    char offscreen[] = "offscreen";
    char* qtArgv[] = {argv[0], platform, offscreen, nullptr};
    QGuiApplication app(qtArgc, qtArgv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
