#pragma once
// Asks the running KALVOR, once, which reader and wavelength it reads: for a
// command that works on the reader in use without a window (kalvor-batch
// dose). Blocking, with a time limit; the same trust checks as every client.
#include <QString>
#include <optional>

namespace kalvor::batch {

struct ReaderInUse {
    QString serial;
    QString wavelength;
};

std::optional<ReaderInUse> queryReader(const QString& socketPath, int timeoutMs, QString* why);

} // namespace kalvor::batch
