// Resident size of the program on the simulated reader while it reads and
// serves every reading to 64 hot-linked clients: after 100 and after 1000
// readings. The pieces are put together as the program does it, but the
// reading handler is called directly instead of waiting 600 ms each time.
#include "LinkBench.h"

#include "core/MessageSink.h"
#include "app/Reader.h"
#include "core/SettingsStore.h"
#include "link/LinkServer.h"
#include "app/SimulatorTopic.h"
#include "hw/SafePortIo.h"
#include "hw/sim/SimOptions.h"
#include "hw/sim/SimulatedCard.h"
#include "measure/Acquisition.h"

#include <QCoreApplication>
#include <QFile>
#include <benchmark/benchmark.h>

#include <memory>

namespace kalvor::bench {
namespace {

constexpr int kClients = 64;
constexpr int kReadings = 1000;
constexpr int kEarlyReading = 100;
constexpr long kGrowthLimitKiB = 256;

// The zero's cautions and any other message go nowhere; they are only counted.
class DiscardingSink : public MessageSink {
public:
    void showMessage(const QString&) override { ++count; }
    int count = 0;
};

// Runs the event loop of this thread until `done` holds or `ms` have passed.
template <class Done>
bool serveUntil(Done done, int ms)
{
    const std::int64_t deadline = steadyNs() + std::int64_t(ms) * 1'000'000;
    while (!done()) {
        if (steadyNs() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
    return true;
}

void BM_Memory(benchmark::State& state)
{
    DiscardingSink sink;
    MessageSink* previousSink = setMessageSink(&sink);
    SocketDir dir;
    {
        QFile file(dir.path(QStringLiteral("KALVOR.conf")));
        if (!file.open(QIODevice::WriteOnly) || file.write("[Properties]\nPort=768\n") < 0) {
            state.SkipWithError("cannot write the settings file");
            setMessageSink(previousSink);
            return;
        }
    }

    // As the program assembles itself with --simulate and no options.
    sim::SimulatedCard card;
    sim::applySimOptions(sim::parseSimOptions(QString()).options, card);
    SafePortIo io(card);
    SettingsStore settings(dir.path(QStringLiteral("KALVOR.conf")));
    std::unique_ptr<LinkTopic> data(createDataTopic(nullptr));
    SimulatorTopic simulator(card);
    LinkServer server({data.get(), &simulator});
    QString why;
    const QString path = dir.path(QStringLiteral("link.sock"));
    if (!server.listen(path, &why)) {
        state.SkipWithError(qPrintable(why));
        setMessageSink(previousSink);
        return;
    }
    Reader reader(io, settings, *data);

    // Start-up as the main window does it, without the window: the card
    // check, the identity record, the primary wavelength, then the zero.
    reader.state.base = settings.port();
    reader.state.Control = 0x02;
    const bool started = reader.testHead(reader.state.base) == 0;
    if (started) {
        reader.parseEEPROM();
        reader.mnuPrimary_Click();
        reader.tmrDelayZero_Timer();
    }
    reader.tmrRead.stop();
    reader.tmrDelayZero.stop();

    if (!started) {
        server.close();
        setMessageSink(previousSink);
        state.SkipWithError("the simulated reader did not pass the head test");
        return;
    }

    // The clients read on a thread of their own with poll().
    HotClients clients;
    std::atomic<bool> linked{false};
    std::atomic<bool> failed{false};
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> fewest{0};
    std::string clientWhy;
    std::thread clientThread([&] {
        if (!clients.open(path, kClients, &clientWhy)) {
            failed = true;
            return;
        }
        fewest = clients.fewestUpdates();
        linked = true;
        while (!stop)
            fewest = clients.pump(20);
    });
    // Closing the service first also frees a client still waiting for a line.
    const auto finish = [&] {
        server.close();
        stop = true;
        clientThread.join();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        setMessageSink(previousSink);
    };

    if (!serveUntil([&] { return linked || failed; }, 10000) || failed) {
        finish();
        state.SkipWithError(("the clients did not link: " + clientWhy).c_str());
        return;
    }

    long early = -1;
    long late = -1;
    bool stalled = false;
    bool abandoned = false;
    for (auto _ : state) {
        const std::uint64_t before = fewest;
        const std::int64_t start = steadyNs();
        for (int n = 1; n <= kReadings && !stalled && !abandoned; ++n) {
            try {
                reader.tmrRead_Timer();
            } catch (const ReadingAbandoned&) {
                abandoned = true;
            }
            reader.tmrRead.stop();
            // Every client has this reading before the next one starts.
            stalled = !serveUntil([&] { return fewest >= before + std::uint64_t(n); }, 5000);
            if (n == kEarlyReading)
                early = residentKiB();
        }
        late = residentKiB();
        state.SetIterationTime(double(steadyNs() - start) / 1e9);
    }
    finish();
    if (abandoned || stalled) {
        state.SkipWithError(abandoned ? "a reading was abandoned" : "the clients stopped receiving updates");
        return;
    }
    // The clients hold the last reading, and it is a number, not the zero's caption.
    const QString lastA = data->text(item::A);
    bool number = false;
    lastA.trimmed().toDouble(&number);
    const std::string wire = '"' + lastA.toStdString() + '"';
    for (int i = 0; i < clients.size(); ++i)
        number = number && clients.lastValue(i) == wire;
    if (!number) {
        state.SkipWithError(("the clients do not hold the last reading " + wire).c_str());
        return;
    }
    state.counters["readings"] = kReadings;
    state.counters["clients"] = kClients;
    state.counters["rss_kib"] = double(late);
    state.counters["rss100_kib"] = double(early);
    state.counters["growth_kib"] = double(late - early);
    state.counters["limit_kib"] = double(kGrowthLimitKiB);
    state.counters["pass"] = early > 0 && late - early <= kGrowthLimitKiB ? 1 : 0;
}
BENCHMARK(BM_Memory)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kalvor::bench
