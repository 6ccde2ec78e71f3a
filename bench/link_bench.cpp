// The link service as other programs see it: the round trip of one request
// against the bare round trip of the same transport, and how long one set of
// item A takes to reach 64 hot-linked clients.
#include "LinkBench.h"
#include "PairedTiming.h"

#include <benchmark/benchmark.h>

#include <algorithm>

namespace kalvor::bench {
namespace {

constexpr double kRoundTripRatioLimit = 2.0;
constexpr int kFanOutClients = 64;
constexpr double kFanOutP99LimitMs = 5.0;

void BM_LinkGet(benchmark::State& state)
{
    const ClientPlacement placement;
    SocketDir dir;
    LinkServerThread server(dir.path(QStringLiteral("link.sock")));
    if (!server.ok()) {
        state.SkipWithError(qPrintable(server.why()));
        return;
    }
    const int fd = connectUnix(dir.path(QStringLiteral("link.sock")));
    LineReader reply(fd);
    if (fd < 0 || reply.next().value_or("") != "HELLO LINK/1 KALVOR") {
        state.SkipWithError("no greeting from the link service");
        return;
    }
    EchoPeer echo;
    LineReader echoed(echo.fd());
    if (!echo.ok()) {
        state.SkipWithError("no socket pair for the echo");
        return;
    }

    const std::string request = "GET data A\n";
    bool wrong = false;
    PairedTiming t;
    t.run(
        state,
        [&] {
            writeAll(fd, request);
            const std::optional<std::string> line = reply.next();
            wrong |= !line || line->rfind("VALUE data A ", 0) != 0;
        },
        [&] {
            writeAll(echo.fd(), request);
            wrong |= !echoed.next();
        });
    ::close(fd);
    if (wrong) {
        state.SkipWithError("a round trip did not give the expected line");
        return;
    }
    state.counters["measured_us"] = t.measuredUs();
    state.counters["floor_us"] = t.floorUs();
    state.counters["ratio"] = t.ratio();
    state.counters["limit"] = kRoundTripRatioLimit;
    state.counters["pass"] = t.ratio() <= kRoundTripRatioLimit ? 1 : 0;
}
BENCHMARK(BM_LinkGet)->UseManualTime()->MinTime(2.0)->Unit(benchmark::kMicrosecond);

void BM_LinkFanOut(benchmark::State& state)
{
    SocketDir dir;
    const QString path = dir.path(QStringLiteral("link.sock"));
    LinkServerThread server(path);
    if (!server.ok()) {
        state.SkipWithError(qPrintable(server.why()));
        return;
    }
    HotClients clients;
    std::string why;
    if (!clients.open(path, kFanOutClients, &why)) {
        state.SkipWithError(why.c_str());
        return;
    }

    std::vector<double> latencyMs;
    std::atomic<std::int64_t> setAt{0};
    std::uint64_t expected = clients.fewestUpdates();
    for (auto _ : state) {
        ++expected;
        const QString text = QString::number(double(expected % 1000) / 1000.0, 'f', 3);
        server.setA(text, &setAt);
        const std::int64_t deadline = steadyNs() + 2'000'000'000;
        while (clients.pump(100) < expected) {
            if (steadyNs() > deadline) {
                state.SkipWithError("an update did not reach every client within 2 s");
                return;
            }
        }
        const double seconds = double(steadyNs() - setAt.load(std::memory_order_acquire)) / 1e9;
        state.SetIterationTime(seconds);
        latencyMs.push_back(seconds * 1e3);
        const std::string wire = '"' + text.toStdString() + '"';
        for (int i = 0; i < clients.size(); ++i) {
            if (clients.lastValue(i) != wire) {
                state.SkipWithError("a client received another value than the one set");
                return;
            }
        }
    }
    std::sort(latencyMs.begin(), latencyMs.end());
    const auto at = [&](double q) { return latencyMs[std::size_t(q * double(latencyMs.size() - 1))]; };
    state.counters["clients"] = kFanOutClients;
    state.counters["p50_ms"] = at(0.50);
    state.counters["p99_ms"] = at(0.99);
    state.counters["max_ms"] = latencyMs.back();
    state.counters["limit_ms"] = kFanOutP99LimitMs;
    state.counters["pass"] = at(0.99) <= kFanOutP99LimitMs ? 1 : 0;
}
BENCHMARK(BM_LinkFanOut)->UseManualTime()->Iterations(5000)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace kalvor::bench
