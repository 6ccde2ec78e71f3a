#pragma once
// A blocking connection to the link service, for the command-line client. It
// connects only to a socket it can trust (LinkTrust) and never holds more
// than one line of kMaxLineBytes in memory.
#include <QByteArray>
#include <QLocalSocket>
#include <QString>

namespace kalvor::tool {

class LinkClient {
public:
    // A longer line ends the conversation: no KALVOR program sends one.
    static constexpr qsizetype kMaxLineBytes = 64 * 1024;

    enum class Read { Line, Timeout, Closed, TooLong };
    enum class OpenError {
        None,
        NoProgram,   // nothing at the path, or nothing accepts there
        Refused,     // not trusted, or permission denied: trying again will not help
        Unanswered,  // connected, or tried to, but no greeting came
    };

    explicit LinkClient(QString socketPath);

    // Connects and reads the greeting; `why` says what went wrong.
    OpenError open(int timeoutMs, QString* why);
    void close();

    // Waits at most timeoutMs for the program to take the bytes.
    bool send(const QByteArray& bytes, int timeoutMs);
    // One line without its line end.
    Read readLine(QByteArray* line, int timeoutMs);
    // What readLine's Read result means, for a message.
    QString describe(Read result, int timeoutMs) const;

    const QString& path() const { return path_; }

private:
    QString path_;
    QLocalSocket socket_;
    QByteArray buffer_;
};

} // namespace kalvor::tool
