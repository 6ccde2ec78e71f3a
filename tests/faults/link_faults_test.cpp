// The link service of the running program under misbehaving clients: one that
// is stopped, one that floods requests without reading, and a thousand that
// vanish right after subscribing. The readings and the other clients must not
// notice, and the program must not keep anything of the clients that left.
#include "faults/FaultSupport.h"

#include "link/LinkLimits.h"

#include <gtest/gtest.h>


using namespace kalvor;
using namespace kalvor::faulttest;

namespace {

class LinkFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!isBuilt("kalvor"))
            GTEST_SKIP() << "kalvor is not built in " KALVOR_BIN_DIR;
        ASSERT_TRUE(box.isValid());
        program = std::make_unique<Child>(box, "kalvor", QStringList{"--simulate"}, "kalvor");
        ASSERT_TRUE(program->started());
        ASSERT_TRUE(waitServing(*program, box.socketPath())) << program->standardError().toStdString();
    }
    void TearDown() override
    {
        if (program && program->running()) {
            EXPECT_EQ(program->terminate(), std::optional<int>(0)) << program->standardError().toStdString();
        }
    }

    // A new client past its greeting.
    std::unique_ptr<LineClient> client()
    {
        auto c = std::make_unique<LineClient>();
        const std::optional<QByteArray> hello = c->open(box.socketPath());
        EXPECT_EQ(text(hello), "HELLO LINK/1 KALVOR");
        return c;
    }

    Sandbox box;
    std::unique_ptr<Child> program;
};

struct Arrival {
    quint64 seq;
    qint64 ms;
};

TEST_F(LinkFaults, StoppedClientsHoldUpNeitherOtherClientsNorMemory)
{
    if (!isBuilt("kalvor-link"))
        GTEST_SKIP() << "kalvor-link is not built";
    // Three hot links that keep reading.
    std::vector<std::unique_ptr<LineClient>> hot;
    for (int i = 0; i < 3; ++i) {
        hot.push_back(client());
        ASSERT_TRUE(subscribeAndWaitReading(*hot.back())) << "client " << i << " saw no reading";
    }
    // A monitor that gets its first update and is then stopped.
    Child monitor(box, "kalvor-link", {"monitor", "A"}, "monitor");
    ASSERT_TRUE(monitor.started());
    QElapsedTimer t;
    t.start();
    while (monitor.standardOutput().count('\n') < 1 && t.elapsed() < 5000)
        QThread::msleep(20);
    ASSERT_GE(monitor.standardOutput().count('\n'), 1) << monitor.standardError().toStdString();
    monitor.signal(SIGSTOP);
    t.start();
    while (procState(monitor.pid()) != 'T' && t.elapsed() < 2000)
        QThread::msleep(10);
    ASSERT_EQ(procState(monitor.pid()), 'T');
    const qsizetype monitorLinesWhenStopped = monitor.standardOutput().count('\n');
    // And one that asked for far more than its socket holds before it stopped:
    // the server is left with replies it cannot send (well under the cut-off).
    QByteArray greedy = "SUB data A HOT\nSUB data WL HOT\n";
    for (int i = 0; i < 8000; ++i)
        greedy += "GET data A\n";
    const pid_t silent = forkSilentClient(box.socketPath(), greedy);
    ASSERT_GT(silent, 0);
    struct Reaper {
        pid_t pid;
        ~Reaper() { killAndReap(pid); }
    } reaper{silent};
    ::kill(silent, SIGSTOP);

    // One reading more to settle, then ten readings watched on every hot link.
    for (auto& c : hot)
        ASSERT_TRUE(nextUpdate(*c, 3000));
    const long rssBefore = rssKiB(program->pid());
    ASSERT_GT(rssBefore, 0);

    constexpr int kReadings = 10;
    std::vector<std::vector<Arrival>> seen(hot.size());
    QElapsedTimer clock;
    clock.start();
    auto done = [&] {
        for (const auto& s : seen)
            if (int(s.size()) < kReadings)
                return false;
        return true;
    };
    while (!done() && clock.elapsed() < kReadings * 1500) {
        std::vector<pollfd> fds;
        for (auto& c : hot)
            fds.push_back({c->fd(), POLLIN, 0});
        ::poll(fds.data(), fds.size(), 200);
        for (size_t i = 0; i < hot.size(); ++i) {
            hot[i]->pump();
            while (std::optional<QByteArray> line = hot[i]->takeBuffered()) {
                const std::optional<ItemLine> u = ItemLine::parse(*line);
                ASSERT_TRUE(u && u->kind == "UPDATE") << line->toStdString();
                seen[i].push_back({u->seq, clock.elapsed()});
            }
        }
    }
    const long rssAfter = rssKiB(program->pid());

    for (size_t i = 0; i < seen.size(); ++i) {
        ASSERT_GE(seen[i].size(), size_t(kReadings)) << "client " << i;
        qint64 longest = seen[i][0].ms;
        for (size_t k = 1; k < seen[i].size(); ++k) {
            EXPECT_EQ(seen[i][k].seq, seen[i][k - 1].seq + 1) << "client " << i << " missed a reading";
            longest = std::max(longest, seen[i][k].ms - seen[i][k - 1].ms);
        }
        EXPECT_LT(longest, 2000) << "client " << i << " waited too long for a reading";
    }
    // Under AddressSanitizer the program's memory grows by the sanitizer's own
    // bookkeeping; the memory figure only means something in a plain build.
    if (!kSanitizedBuild) {
        EXPECT_LT(rssAfter - rssBefore, 1024) << "VmRSS " << rssBefore << " -> " << rssAfter << " KiB";
    }

    // The stopped client was not cut off: once it runs again, its updates flow.
    EXPECT_EQ(procState(monitor.pid()), 'T');
    EXPECT_EQ(monitor.standardOutput().count('\n'), monitorLinesWhenStopped);
    monitor.signal(SIGCONT);
    t.start();
    while (monitor.standardOutput().count('\n') < monitorLinesWhenStopped + kReadings && t.elapsed() < 3000)
        QThread::msleep(20);
    EXPECT_GE(monitor.standardOutput().count('\n'), monitorLinesWhenStopped + kReadings)
        << monitor.standardOutput().toStdString();
    EXPECT_TRUE(monitor.running());
    EXPECT_EQ(procState(silent), 'T');
    EXPECT_FALSE(program->standardError().contains("cut off")) << program->standardError().toStdString();
    monitor.signal(SIGTERM);
    EXPECT_TRUE(monitor.waitExit(3000) || monitor.diedFromSignal());
}

TEST_F(LinkFaults, FloodingClientIsCutOffAtTheUnsentLimitAndOthersGoOn)
{
    LineClient flood;
    ASSERT_EQ(text(flood.open(box.socketPath())), "HELLO LINK/1 KALVOR");
    ASSERT_EQ(::fcntl(flood.fd(), F_SETFL, ::fcntl(flood.fd(), F_GETFL) | O_NONBLOCK), 0);

    QByteArray burst;
    for (int i = 0; i < 200; ++i)
        burst += "GET data A\n";
    // Each request draws a reply about five times its size: 32 MiB of requests
    // would queue far more than the limit if nothing stopped it.
    const qint64 cap = 32ll * 1024 * 1024;
    qint64 sent = 0;
    int lastError = 0;
    QElapsedTimer t;
    t.start();
    while (sent < cap && t.elapsed() < 15000) {
        const ssize_t n = ::send(flood.fd(), burst.constData(), size_t(burst.size()), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            pollfd p{flood.fd(), POLLOUT, 0};
            ::poll(&p, 1, 50);
            continue;
        }
        lastError = errno;
        break;
    }
    EXPECT_TRUE(lastError == EPIPE || lastError == ECONNRESET)
        << "the server never closed the flooding client; sent " << sent << " bytes, errno " << lastError;
    EXPECT_LT(sent, cap);

    // It was the unsent limit that ended it.
    const QByteArray limitNote = "more than " + QByteArray::number(LinkLimits{}.maxUnsentBytes) + " bytes unsent";
    t.start();
    while (!program->standardError().contains(limitNote) && t.elapsed() < 2000)
        QThread::msleep(20);
    EXPECT_TRUE(program->standardError().contains(limitNote)) << program->standardError().toStdString();

    // Another client is served, and the readings go on.
    auto other = client();
    const std::optional<QByteArray> value = other->ask("GET data A", "VALUE ");
    ASSERT_TRUE(value && ItemLine::parse(*value)) << text(value);
    const quint64 seqBefore = ItemLine::parse(*value)->seq;
    const std::optional<ItemLine> reading = subscribeAndWaitReading(*other);
    ASSERT_TRUE(reading);
    const std::optional<ItemLine> later = nextUpdate(*other, 3000);
    ASSERT_TRUE(later);
    EXPECT_GT(later->seq, seqBefore);
    EXPECT_TRUE(program->running());
}

TEST_F(LinkFaults, AThousandVanishingClientsLeaveNoDescriptorsOrMemoryBehind)
{
    const pid_t pid = program->pid();
    sockaddr_un addr;
    ASSERT_TRUE(LineClient::address(box.socketPath(), &addr));
    const QByteArray sub = "SUB data A HOT\n";

    // Connect, subscribe, close at once; every other one without waiting for the greeting.
    auto vanish = [&](int i) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << "cycle " << i;
        if (i % 2 == 0) {
            char hello[32];
            pollfd p{fd, POLLIN, 0};
            ASSERT_GT(::poll(&p, 1, 3000), 0) << "no greeting in cycle " << i;
            ASSERT_GT(::recv(fd, hello, sizeof hello, 0), 0);
        }
        ASSERT_EQ(::send(fd, sub.constData(), size_t(sub.size()), MSG_NOSIGNAL), sub.size());
        ::close(fd);
    };
    // A client process killed outright after subscribing.
    auto killed = [&](int i) {
        const pid_t child = forkSilentClient(box.socketPath(), sub);
        ASSERT_GT(child, 0) << "killed client " << i << " did not get to subscribe";
        killAndReap(child);
    };

    auto cycle = [&](int i) {
        if (i % 20 == 0)
            killed(i);
        else
            vanish(i);
    };
    // Warm up, so first-use allocations and the heap's high-water mark are behind us.
    for (int i = 0; i < 200; ++i)
        ASSERT_NO_FATAL_FAILURE(cycle(i));
    const int fdsBefore = settledFdCount(pid);
    const long rssBefore = rssKiB(pid);
    ASSERT_GT(fdsBefore, 0);
    ASSERT_GT(rssBefore, 0);

    for (int i = 0; i < 1000; ++i)
        ASSERT_NO_FATAL_FAILURE(cycle(i));

    QElapsedTimer t;
    t.start();
    int fdsAfter = fdCount(pid);
    while (fdsAfter != fdsBefore && t.elapsed() < 5000) {
        QThread::msleep(50);
        fdsAfter = fdCount(pid);
    }
    EXPECT_EQ(fdsAfter, fdsBefore);
    const long rssAfter = rssKiB(pid);
    // Under AddressSanitizer the program's memory grows by the sanitizer's own
    // bookkeeping; the memory figure only means something in a plain build.
    if (!kSanitizedBuild) {
        EXPECT_LT(rssAfter - rssBefore, 1024) << "VmRSS " << rssBefore << " -> " << rssAfter << " KiB";
    }

    // No departed client still counts: a full house of new clients is let in.
    std::vector<std::unique_ptr<LineClient>> full;
    for (int i = 0; i < LinkLimits{}.maxClients; ++i) {
        full.push_back(std::make_unique<LineClient>());
        EXPECT_EQ(text(full.back()->open(box.socketPath())), "HELLO LINK/1 KALVOR")
            << "client " << i;
    }
    EXPECT_EQ(text(full.back()->ask("PING", "PONG")), "PONG");
}

} // namespace
