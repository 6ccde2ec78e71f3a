#pragma once
// Pieces of the link service benchmarks: the service on a thread with its own
// event loop, plain POSIX clients, an echo peer for the transport's floor, and
// a set of clients hot-linked to item A that a poll() loop reads.
#include <QString>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kalvor {
class LinkServer;
class LinkTopic;
} // namespace kalvor

namespace kalvor::bench {

inline std::int64_t steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Where a round trip's two ends run. Its cost depends on whether they share a
// CPU (a hand-over) or not (a wake-up of the other CPU, slow when that CPU is
// idle, above all in a virtual machine). Left to the scheduler, an echo thread
// that blocks as soon as it has written settles on its client's CPU, while the
// link service, which ends its event-loop turn first, settles on the other; the
// floor then misses the wake-ups the service pays. While a ClientPlacement
// lives, the calling thread runs on one CPU and every thread that calls
// placePeer() on another, so the service and its floor meet the same wake-ups.
// With a single CPU nothing is pinned.
class ClientPlacement {
public:
    ClientPlacement();
    ~ClientPlacement();
    ClientPlacement(const ClientPlacement&) = delete;
    ClientPlacement& operator=(const ClientPlacement&) = delete;

private:
    bool pinned_ = false;
    std::vector<unsigned char> saved_;  // the thread's affinity mask before
};
// Moves the calling thread to the peers' CPU (see ClientPlacement).
void placePeer();

// A private folder (mode 0700) for one benchmark's socket.
class SocketDir {
public:
    SocketDir();
    bool ok() const { return dir_.isValid(); }
    QString path(const QString& name) const { return dir_.path() + QLatin1Char('/') + name; }

private:
    QTemporaryDir dir_;
};

// The program's data topic and a LinkServer on it, owned by a QThread that
// runs an event loop, as the program's main thread does.
class LinkServerThread {
public:
    explicit LinkServerThread(const QString& socketPath);
    ~LinkServerThread();
    LinkServerThread(const LinkServerThread&) = delete;
    LinkServerThread& operator=(const LinkServerThread&) = delete;

    bool ok() const { return ok_; }
    const QString& why() const { return why_; }

    // Sets item A on the server's thread and returns at once; the steady clock
    // just before the set goes to *stampNs.
    void setA(const QString& text, std::atomic<std::int64_t>* stampNs);

private:
    QThread thread_;
    QObject* anchor_ = nullptr;
    LinkTopic* data_ = nullptr;
    LinkServer* server_ = nullptr;
    bool ok_ = false;
    QString why_;
};

// Blocking Unix stream socket connected to `path`; -1 on failure.
int connectUnix(const QString& path);
bool writeAll(int fd, const std::string& bytes);

// Lines from a blocking descriptor.
class LineReader {
public:
    explicit LineReader(int fd) : fd_(fd) {}
    // The next line without its LF; nothing at end of file or on an error.
    std::optional<std::string> next();

private:
    int fd_;
    std::string buffer_;
};

// The floor of a round trip: a thread that writes back every byte it reads,
// on a Unix stream socket pair.
class EchoPeer {
public:
    EchoPeer();
    ~EchoPeer();
    EchoPeer(const EchoPeer&) = delete;
    EchoPeer& operator=(const EchoPeer&) = delete;
    bool ok() const { return clientFd_ >= 0; }
    int fd() const { return clientFd_; }

private:
    int clientFd_ = -1;
    int peerFd_ = -1;
    std::thread thread_;
};

// Clients of the link service, each past the greeting and hot-linked to
// data A. Counts the UPDATE lines of A that every client has received.
class HotClients {
public:
    HotClients() = default;
    ~HotClients();
    HotClients(const HotClients&) = delete;
    HotClients& operator=(const HotClients&) = delete;

    // Connects and links `count` clients (blocking: the service must be
    // answering meanwhile). False with a reason on any failure.
    bool open(const QString& path, int count, std::string* why);

    // Reads whatever has arrived, waiting at most timeoutMs for something.
    // Returns the smallest number of updates any client has received.
    std::uint64_t pump(int timeoutMs);
    std::uint64_t fewestUpdates() const;
    // The value of the last update a client received, as on the wire ("...").
    const std::string& lastValue(int client) const { return clients_[client].lastValue; }
    int size() const { return int(clients_.size()); }

private:
    struct Client {
        int fd = -1;
        std::string partial;
        std::uint64_t updates = 0;
        std::string lastValue;
    };
    void take(Client& c, const char* data, std::size_t size);
    std::vector<Client> clients_;
};

// Resident set size of this process, in KiB (VmRSS of /proc/self/status).
long residentKiB();

} // namespace kalvor::bench
