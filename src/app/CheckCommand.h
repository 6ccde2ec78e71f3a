#pragma once
// kalvor --check[=ADDRESS]: tests card and head without a window, prints the
// head's identity and the record checks' messages.
#include <QString>
#include <QTextStream>
#include <optional>

namespace kalvor {

class PortIo;
class SettingsStore;

// address: the ADDRESS of the option (hex), or empty for the stored "Port",
// else 300. Messages go to err, the identity to out. Returns the exit status.
int runCheck(PortIo& io, const SettingsStore& settings, const QString& address, QTextStream& out, QTextStream& err);

} // namespace kalvor
