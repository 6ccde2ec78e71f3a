#include "batch/ReaderQuery.h"

#include "link/LinkProtocol.h"
#include "link/LinkTrust.h"

#include <QDeadlineTimer>
#include <QLocalSocket>

namespace kalvor::batch {

std::optional<ReaderInUse> queryReader(const QString& socketPath, int timeoutMs, QString* why)
{
    QLocalSocket socket;
    switch (LinkTrust::connect(socket, socketPath, timeoutMs, why)) {
    case LinkTrust::Connect::Connected:
        break;
    case LinkTrust::Connect::NotRunning:
        *why = QStringLiteral("KALVOR is not running (no program at %1); name the reader with --serial and --wavelength")
                   .arg(socketPath);
        return std::nullopt;
    default:
        return std::nullopt;
    }
    socket.write("GET reader serial\nGET reader wavelength\n");
    QByteArray buffer;
    ReaderInUse reader;
    int answers = 0;
    bool greeted = false;
    const QDeadlineTimer deadline(timeoutMs);
    while (answers < 2) {
        const qsizetype end = buffer.indexOf('\n');
        if (end < 0) {
            if (buffer.size() > 64 * 1024 || deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime()))) {
                *why = QStringLiteral("KALVOR did not answer at %1").arg(socketPath);
                return std::nullopt;
            }
            buffer += socket.readAll();
            continue;
        }
        const QByteArray line = buffer.left(end);
        buffer.remove(0, end + 1);
        if (!greeted) {
            greeted = line.startsWith("HELLO LINK/1 ");
            if (!greeted) {
                *why = QStringLiteral("%1 does not speak the link protocol").arg(socketPath);
                return std::nullopt;
            }
            continue;
        }
        const std::optional<link::Reply> reply = link::parseReply(link::chomp(line));
        if (!reply)
            continue;
        if (reply->kind == QLatin1String("ERR")) {
            *why = QStringLiteral("KALVOR does not tell its reader: %1 %2").arg(reply->errorCode, reply->errorText);
            return std::nullopt;
        }
        if (const std::optional<link::ItemReply> item = link::itemReply(*reply); item && reply->kind == QLatin1String("VALUE")) {
            (item->item == QLatin1String("serial") ? reader.serial : reader.wavelength) = item->text;
            ++answers;
        }
    }
    if (reader.serial.isEmpty() || reader.wavelength.isEmpty()) {
        *why = QStringLiteral("KALVOR has not read its head yet; try again, or name the reader with --serial and --wavelength");
        return std::nullopt;
    }
    return reader;
}

} // namespace kalvor::batch
