#pragma once
// A blocking connection to the link service, for the command-line client.
#include <QByteArray>
#include <QLocalSocket>
#include <QString>

namespace kalvor::tool {

class LinkClient {
public:
    enum class Read { Line, Timeout, Closed };
    enum class OpenError { None, NoProgram, Refused };

    explicit LinkClient(QString socketPath) : path_(std::move(socketPath)) {}

    // Connects and reads the greeting. NoProgram: nothing listens at the path;
    // Refused: something answered but turned this client away or is not KALVOR.
    OpenError open(int timeoutMs, QString* why);
    void close();

    bool send(const QByteArray& bytes);
    // One line without its line end.
    Read readLine(QByteArray* line, int timeoutMs);

    const QString& path() const { return path_; }

private:
    QString path_;
    QLocalSocket socket_;
    QByteArray buffer_;
};

} // namespace kalvor::tool
