#include "LinkBench.h"

#include "app/Reader.h"
#include "link/LinkPaths.h"
#include "link/LinkServer.h"

#include <QFile>
#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kalvor::bench {

// ---- thread placement -------------------------------------------------------

namespace {

// The first two CPUs this process may run on; a single one when that is all.
std::vector<int> allowedCpus()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    std::vector<int> cpus;
    if (::sched_getaffinity(0, sizeof set, &set) != 0)
        return cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE && cpus.size() < 2; ++cpu)
        if (CPU_ISSET(cpu, &set))
            cpus.push_back(cpu);
    return cpus;
}

bool pinTo(int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return ::pthread_setaffinity_np(::pthread_self(), sizeof set, &set) == 0;
}

} // namespace

ClientPlacement::ClientPlacement()
{
    const std::vector<int> cpus = allowedCpus();
    if (cpus.size() < 2)
        return;
    saved_.resize(sizeof(cpu_set_t));
    auto* before = reinterpret_cast<cpu_set_t*>(saved_.data());
    if (::pthread_getaffinity_np(::pthread_self(), sizeof(cpu_set_t), before) == 0)
        pinned_ = pinTo(cpus[0]);
}

ClientPlacement::~ClientPlacement()
{
    if (pinned_)
        ::pthread_setaffinity_np(::pthread_self(), sizeof(cpu_set_t),
                                 reinterpret_cast<const cpu_set_t*>(saved_.data()));
}

void placePeer()
{
    const std::vector<int> cpus = allowedCpus();
    if (cpus.size() >= 2)
        pinTo(cpus[1]);
}

SocketDir::SocketDir()
{
    // QTemporaryDir makes the folder with mode 0700, as the link service wants it.
    QString why;
    if (dir_.isValid() && !LinkPaths::prepareDir(dir_.path(), &why))
        std::fprintf(stderr, "bench: %s\n", qPrintable(why));
}

// ---- the service on its own thread -----------------------------------------

LinkServerThread::LinkServerThread(const QString& socketPath)
{
    anchor_ = new QObject;
    anchor_->moveToThread(&thread_);
    thread_.start();
    QMetaObject::invokeMethod(
        anchor_,
        [this, socketPath] {
            placePeer();
            data_ = createDataTopic(nullptr);
            server_ = new LinkServer({data_});
            ok_ = server_->listen(socketPath, &why_);
        },
        Qt::BlockingQueuedConnection);
}

LinkServerThread::~LinkServerThread()
{
    QMetaObject::invokeMethod(
        anchor_,
        [this] {
            delete server_;
            delete data_;
        },
        Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
    delete anchor_;
}

void LinkServerThread::setA(const QString& text, std::atomic<std::int64_t>* stampNs)
{
    QMetaObject::invokeMethod(
        anchor_,
        [this, text, stampNs] {
            stampNs->store(steadyNs(), std::memory_order_release);
            data_->set(item::A, text);
        },
        Qt::QueuedConnection);
}

// ---- plain clients ----------------------------------------------------------

int connectUnix(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.size() >= qsizetype(sizeof(address.sun_path)))
        return -1;
    std::memcpy(address.sun_path, name.constData(), name.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool writeAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

std::optional<std::string> LineReader::next()
{
    for (;;) {
        const std::size_t end = buffer_.find('\n');
        if (end != std::string::npos) {
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            return line;
        }
        char chunk[4096];
        const ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        buffer_.append(chunk, std::size_t(n));
    }
}

// ---- echo floor -------------------------------------------------------------

EchoPeer::EchoPeer()
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return;
    clientFd_ = fds[0];
    peerFd_ = fds[1];
    thread_ = std::thread([fd = peerFd_] {
        placePeer();
        char chunk[4096];
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0 || !writeAll(fd, std::string(chunk, std::size_t(n))))
                return;
        }
    });
}

EchoPeer::~EchoPeer()
{
    if (clientFd_ >= 0)
        ::close(clientFd_); // the peer reads end of file and stops
    if (thread_.joinable())
        thread_.join();
    if (peerFd_ >= 0)
        ::close(peerFd_);
}

// ---- hot-linked clients -----------------------------------------------------

HotClients::~HotClients()
{
    for (Client& c : clients_)
        if (c.fd >= 0)
            ::close(c.fd);
}

void HotClients::take(Client& c, const char* data, std::size_t size)
{
    static const std::string kUpdate = "UPDATE data A ";
    c.partial.append(data, size);
    std::size_t start = 0;
    for (std::size_t end; (end = c.partial.find('\n', start)) != std::string::npos; start = end + 1) {
        if (c.partial.compare(start, kUpdate.size(), kUpdate) == 0) {
            ++c.updates;
            const std::size_t quote = c.partial.find('"', start);
            c.lastValue = quote < end ? c.partial.substr(quote, end - quote) : std::string();
        }
    }
    c.partial.erase(0, start);
}

bool HotClients::open(const QString& path, int count, std::string* why)
{
    const std::string request = "SUB data A HOT\n";
    for (int i = 0; i < count; ++i) {
        Client c;
        c.fd = connectUnix(path);
        if (c.fd < 0) {
            *why = "client " + std::to_string(i) + " cannot connect: " + std::strerror(errno);
            return false;
        }
        clients_.push_back(c);
        Client& added = clients_.back();
        LineReader lines(added.fd);
        const std::optional<std::string> hello = lines.next();
        if (hello.value_or("") != "HELLO LINK/1 KALVOR") {
            *why = "client " + std::to_string(i) + " was greeted with: " + hello.value_or("<nothing>");
            return false;
        }
        if (!writeAll(added.fd, request)) {
            *why = "client " + std::to_string(i) + " cannot send its SUB";
            return false;
        }
        // "OK SUB data A HOT", then the current value at once.
        while (added.updates == 0) {
            const std::optional<std::string> line = lines.next();
            if (!line) {
                *why = "client " + std::to_string(i) + " lost its connection while linking";
                return false;
            }
            const std::string withEnd = *line + '\n';
            take(added, withEnd.data(), withEnd.size());
        }
        ::fcntl(added.fd, F_SETFL, ::fcntl(added.fd, F_GETFL) | O_NONBLOCK);
    }
    return true;
}

std::uint64_t HotClients::fewestUpdates() const
{
    std::uint64_t fewest = UINT64_MAX;
    for (const Client& c : clients_)
        fewest = std::min(fewest, c.updates);
    return clients_.empty() ? 0 : fewest;
}

std::uint64_t HotClients::pump(int timeoutMs)
{
    std::vector<pollfd> fds;
    fds.reserve(clients_.size());
    for (const Client& c : clients_)
        fds.push_back({c.fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), timeoutMs) > 0) {
        char chunk[4096];
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t n;
            while ((n = ::read(fds[i].fd, chunk, sizeof chunk)) > 0)
                take(clients_[i], chunk, std::size_t(n));
        }
    }
    return fewestUpdates();
}

long residentKiB()
{
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1)
            break;
    std::fclose(f);
    return kib;
}

} // namespace kalvor::bench
