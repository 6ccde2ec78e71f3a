#pragma once
// Running the real program for the fault tests: a private settings folder and
// runtime folder per test, the program as a child process on the offscreen
// platform, a blocking line client for its link socket, and what /proc says
// about the process.
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <linux/capability.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace kalvor::faulttest {

inline QString binary(const char* name) { return QStringLiteral(KALVOR_BIN_DIR "/") + QLatin1String(name); }
inline bool isBuilt(const char* name) { return QFileInfo(binary(name)).isExecutable(); }

inline const QByteArray kPort768 = "[Properties]\nPort=768\n";

// Bytes as text for comparisons that print readably when they fail.
inline std::string text(const QByteArray& bytes) { return bytes.toStdString(); }
inline std::string text(const std::optional<QByteArray>& line) { return line ? line->toStdString() : "<nothing>"; }

// ---- link client ------------------------------------------------------------

// A plain blocking client of the link socket: lines out, lines in with a timeout.
class LineClient {
public:
    LineClient() = default;
    explicit LineClient(const QString& path) { connectTo(path); }
    ~LineClient() { close(); }
    LineClient(const LineClient&) = delete;
    LineClient& operator=(const LineClient&) = delete;

    static bool address(const QString& path, sockaddr_un* addr)
    {
        const QByteArray p = QFile::encodeName(path);
        if (p.size() >= qsizetype(sizeof addr->sun_path))
            return false;
        std::memset(addr, 0, sizeof *addr);
        addr->sun_family = AF_UNIX;
        std::memcpy(addr->sun_path, p.constData(), size_t(p.size()));
        return true;
    }

    // One attempt; true when connected.
    bool connectTo(const QString& path)
    {
        close();
        sockaddr_un addr;
        if (!address(path, &addr))
            return false;
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0)
            return false;
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            close();
            return false;
        }
        return true;
    }
    // Connects and reads the greeting; empty optional on failure.
    std::optional<QByteArray> open(const QString& path, int ms = 3000)
    {
        if (!connectTo(path))
            return std::nullopt;
        return readLine(ms);
    }

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    bool atEnd() const { return eof_; }

    bool send(const QByteArray& bytes)
    {
        qsizetype done = 0;
        while (fd_ >= 0 && done < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += n;
        }
        return fd_ >= 0;
    }
    bool sendLine(const QByteArray& line) { return send(line + '\n'); }

    // A line already received, without waiting.
    std::optional<QByteArray> takeBuffered()
    {
        const qsizetype end = buf_.indexOf('\n');
        if (end < 0)
            return std::nullopt;
        QByteArray line = buf_.left(end);
        buf_.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        return line;
    }
    // Reads what is there without blocking; false at the end of the stream.
    bool pump()
    {
        if (fd_ < 0 || eof_)
            return false;
        char chunk[8192];
        for (;;) {
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
            if (n > 0) {
                buf_.append(chunk, n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                eof_ = true;
            return !eof_;
        }
    }
    // The next line, without its line end; nothing after `ms` or at the end.
    std::optional<QByteArray> readLine(int ms)
    {
        QElapsedTimer t;
        t.start();
        for (;;) {
            if (std::optional<QByteArray> line = takeBuffered())
                return line;
            const qint64 left = ms - t.elapsed();
            if (fd_ < 0 || eof_ || left <= 0)
                return std::nullopt;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, int(left)) > 0)
                pump();
        }
    }
    // Sends `request` and returns the first line that starts with `replyPrefix`
    // (link updates that come between are skipped).
    std::optional<QByteArray> ask(const QByteArray& request, const QByteArray& replyPrefix, int ms = 3000)
    {
        if (!sendLine(request))
            return std::nullopt;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            std::optional<QByteArray> line = readLine(int(ms - t.elapsed()));
            if (!line)
                return std::nullopt;
            if (line->startsWith(replyPrefix))
                return line;
            if (line->startsWith("ERR"))
                return line;
        }
        return std::nullopt;
    }

    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        buf_.clear();
        eof_ = false;
    }

private:
    int fd_ = -1;
    QByteArray buf_;
    bool eof_ = false;
};

// One "UPDATE data A <seq> <time> "<value>"" or "VALUE ..." line taken apart.
struct ItemLine {
    QByteArray kind, topic, item;
    quint64 seq = 0;
    QByteArray time;
    QByteArray value;  // still quoted

    static std::optional<ItemLine> parse(const QByteArray& line)
    {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() < 6 || !f[5].startsWith('"'))
            return std::nullopt;
        ItemLine r{f[0], f[1], f[2], 0, f[4], line.mid(line.indexOf('"'))};
        bool ok = false;
        r.seq = f[3].toULongLong(&ok);
        if (!ok)
            return std::nullopt;
        return r;
    }
    // The value without its quotes (the tests only meet values without escapes).
    QByteArray text() const { return value.size() >= 2 ? value.mid(1, value.size() - 2) : QByteArray(); }
};

// ---- the program ------------------------------------------------------------

// A private home for one or more runs of the program: settings under
// <config>/KALVOR/KALVOR.conf, the link socket under <runtime>/KALVOR.
class Sandbox {
public:
    explicit Sandbox(const QByteArray& settingsText = kPort768)
        : config_(QDir::tempPath() + QStringLiteral("/kfc-XXXXXX")),
          runtime_(QDir::tempPath() + QStringLiteral("/kfr-XXXXXX"))
    {
        if (!config_.isValid() || !runtime_.isValid())
            return;
        ::chmod(QFile::encodeName(runtime_.path()).constData(), 0700);
        if (!settingsText.isNull())
            writeSettings(settingsText);
        valid_ = true;
    }

    bool isValid() const { return valid_; }
    QString dir() const { return config_.path(); }
    QString confPath() const { return config_.path() + QStringLiteral("/KALVOR/KALVOR.conf"); }
    // The run's XDG_CONFIG_DIRS, empty unless a test writes the system-wide file.
    QString systemConfigDir() const { return config_.path() + QStringLiteral("/system"); }
    QString systemConfPath() const { return systemConfigDir() + QStringLiteral("/KALVOR/KALVOR.conf"); }
    QString socketDir() const { return runtime_.path() + QStringLiteral("/KALVOR"); }
    QString socketPath() const { return socketDir() + QStringLiteral("/link.sock"); }

    void writeSettings(const QByteArray& text) const { writeFile(confPath(), text); }
    void writeSystemSettings(const QByteArray& text) const { writeFile(systemConfPath(), text); }
    static void writeFile(const QString& path, const QByteArray& text)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(text);
    }
    QByteArray settingsText() const { return readAll(confPath()); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config_.path());
        env.insert(QStringLiteral("XDG_CONFIG_DIRS"), systemConfigDir());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
        env.remove(QStringLiteral("QT_LOGGING_RULES"));
        return env;
    }

    static QByteArray readAll(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QTemporaryDir config_;
    QTemporaryDir runtime_;
    bool valid_ = false;
};

// One child process in a sandbox, its output kept in files beside the settings.
// A process still running at the end of the test is killed.
// Changes to how a child starts: its environment, and a step run in the
// child between fork and exec (system calls only: umask, dup2, prctl).
struct ChildSetup {
    std::function<void(QProcessEnvironment&)> environment;
    std::function<void()> inChild;
};

class Child {
public:
    Child(const Sandbox& box, const char* program, const QStringList& args, const QString& name,
          const ChildSetup& setup = {})
        : stdoutPath_(box.dir() + QLatin1Char('/') + name + QStringLiteral(".out")),
          stderrPath_(box.dir() + QLatin1Char('/') + name + QStringLiteral(".err"))
    {
        QProcessEnvironment env = box.environment();
        if (setup.environment)
            setup.environment(env);
        process_.setProcessEnvironment(env);
        process_.setStandardOutputFile(stdoutPath_);
        process_.setStandardErrorFile(stderrPath_);
        process_.setStandardInputFile(QProcess::nullDevice());
        if (setup.inChild)
            process_.setChildProcessModifier(setup.inChild);
        process_.start(binary(program), args);
        started_ = process_.waitForStarted(5000);
    }
    ~Child()
    {
        if (running()) {
            ::kill(pid_t(process_.processId()), SIGCONT);
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    bool started() const { return started_; }
    pid_t pid() const { return pid_t(process_.processId()); }
    bool running() { return started_ && process_.state() != QProcess::NotRunning && !process_.waitForFinished(0); }

    // The exit status once the process has exited by itself within `ms`;
    // nothing when it still runs or died from a signal.
    std::optional<int> waitExit(int ms)
    {
        if (process_.state() != QProcess::NotRunning)
            process_.waitForFinished(ms);
        if (process_.state() != QProcess::NotRunning || process_.exitStatus() != QProcess::NormalExit)
            return std::nullopt;
        return process_.exitCode();
    }
    bool diedFromSignal() const
    {
        return process_.state() == QProcess::NotRunning && process_.exitStatus() == QProcess::CrashExit;
    }
    void signal(int sig) { ::kill(pid(), sig); }
    // SIGTERM, then the exit status of the orderly end.
    std::optional<int> terminate(int ms = 5000)
    {
        if (!running())
            return waitExit(0);
        signal(SIGTERM);
        return waitExit(ms);
    }
    void killNow()
    {
        signal(SIGKILL);
        process_.waitForFinished(5000);
    }

    QByteArray standardError() const { return Sandbox::readAll(stderrPath_); }
    QByteArray standardOutput() const { return Sandbox::readAll(stdoutPath_); }

private:
    QProcess process_;
    QString stdoutPath_;
    QString stderrPath_;
    bool started_ = false;
};

// File permissions bind root only without the capabilities that override
// them. For a child of a root test these are dropped from its bounding set in
// the child, so the program it runs never has them. False when the drop is
// not possible (then permission tests cannot run as root).
inline bool canDropFileOverrides()
{
    if (::geteuid() != 0)
        return true;
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("CapEff:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> CAP_SETPCAP) & 1;
    return false;
}
inline void dropFileOverridesInChild()
{
    if (::geteuid() != 0)
        return;
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
        if (::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0)
            ::_exit(127);
}

// The program on the simulated reader, up and serving: the link socket
// answers with its greeting.
inline bool waitServing(Child& program, const QString& socketPath, int ms = 10000)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        LineClient probe;
        if (const auto hello = probe.open(socketPath, 2000); hello && *hello == "HELLO LINK/1 KALVOR")
            return true;
        if (!program.running())
            return false;
        QThread::msleep(50);
    }
    return false;
}

// The next UPDATE of a hot link, skipping other lines.
inline std::optional<ItemLine> nextUpdate(LineClient& client, int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        const std::optional<QByteArray> line = client.readLine(int(ms - t.elapsed()));
        if (!line)
            return std::nullopt;
        if (line->startsWith("UPDATE "))
            return ItemLine::parse(*line);
    }
    return std::nullopt;
}

// Subscribes `client` (past its greeting) hot to data A and waits for the
// first reading: an update whose value is no longer the start-up "Zeroing".
inline std::optional<ItemLine> subscribeAndWaitReading(LineClient& client, int ms = 8000)
{
    if (client.ask("SUB data A HOT", "OK SUB") != QByteArray("OK SUB data A HOT"))
        return std::nullopt;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        std::optional<ItemLine> u = nextUpdate(client, int(ms - t.elapsed()));
        if (!u)
            return std::nullopt;
        if (u->text() != "Zeroing")
            return u;
    }
    return std::nullopt;
}

// A client process that connects, takes the greeting, sends `payload` and
// then never reads again. Returns its process id once the payload is sent, or
// -1. The caller stops or kills it and reaps it with reap().
inline pid_t forkSilentClient(const QString& socketPath, const QByteArray& payload, int ms = 5000)
{
    sockaddr_un addr;
    int ready[2];
    if (!LineClient::address(socketPath, &addr) || ::pipe2(ready, O_CLOEXEC) != 0)
        return -1;
    const char* bytes = payload.constData();
    const size_t size = size_t(payload.size());
    const pid_t child = ::fork();
    if (child == 0) {
        // Only system calls from here on: the parent has threads.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        char hello[64];
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0
            || ::recv(fd, hello, sizeof hello, 0) <= 0)
            ::_exit(1);
        for (size_t done = 0; done < size;) {
            const ssize_t n = ::send(fd, bytes + done, size - done, MSG_NOSIGNAL);
            if (n <= 0)
                ::_exit(1);
            done += size_t(n);
        }
        (void)!::write(ready[1], "k", 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char c = 0;
    pollfd p{ready[0], POLLIN, 0};
    const bool sent = child > 0 && ::poll(&p, 1, ms) > 0 && ::read(ready[0], &c, 1) == 1;
    ::close(ready[0]);
    if (child > 0 && !sent) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        return -1;
    }
    return child;
}

inline void killAndReap(pid_t child)
{
    if (child <= 0)
        return;
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

// ---- /proc ------------------------------------------------------------------

// Resident memory of a process in KiB; -1 when unknown.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitizedBuild = true;
#else
inline constexpr bool kSanitizedBuild = false;
#endif

inline long rssKiB(pid_t pid)
{
    const QByteArray status = Sandbox::readAll(QStringLiteral("/proc/%1/status").arg(pid));
    for (const QByteArray& line : status.split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Open descriptors of a process; -1 when unknown.
inline int fdCount(pid_t pid)
{
    const QByteArray path = QStringLiteral("/proc/%1/fd").arg(pid).toLocal8Bit();
    DIR* d = ::opendir(path.constData());
    if (!d)
        return -1;
    int n = 0;
    while (const dirent* e = ::readdir(d))
        if (e->d_name[0] != '.')
            ++n;
    ::closedir(d);
    return n;
}

// The state letter of /proc/<pid>/stat (R, S, T for stopped, ...).
inline char procState(pid_t pid)
{
    const QByteArray stat = Sandbox::readAll(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = stat.lastIndexOf(')');
    return close >= 0 && close + 2 < stat.size() ? stat.at(close + 2) : '?';
}

// Waits until the descriptor count of `pid` holds still (three equal samples).
inline int settledFdCount(pid_t pid, int ms = 3000)
{
    QElapsedTimer t;
    t.start();
    int last = fdCount(pid), same = 0;
    while (same < 3 && t.elapsed() < ms) {
        QThread::msleep(100);
        const int now = fdCount(pid);
        same = now == last ? same + 1 : 0;
        last = now;
    }
    return last;
}

// ---- port trace -------------------------------------------------------------

struct TraceLine {
    char kind;
    unsigned port;
    unsigned value;
};

// The lines of a --port-trace file ("R 302 81", "W 303 00"); a line that
// does not parse comes back with kind '?'.
inline std::vector<TraceLine> readTrace(const QString& path)
{
    std::vector<TraceLine> out;
    for (const QByteArray& line : Sandbox::readAll(path).split('\n')) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> f = line.split(' ');
        bool okPort = false, okValue = false;
        TraceLine t{'?', 0, 0};
        if (f.size() == 3 && (f[0] == "R" || f[0] == "W")) {
            t.port = f[1].toUInt(&okPort, 16);
            t.value = f[2].toUInt(&okValue, 16);
            if (okPort && okValue)
                t.kind = f[0].at(0);
        }
        out.push_back(t);
    }
    return out;
}

} // namespace kalvor::faulttest
