#pragma once
// kalvor --check[=ADDRESS]: tests card and head without a window, prints the
// head's identity and the record checks' messages.
#include <QString>
#include <QTextStream>
#include <optional>

namespace kalvor {

class PortIo;
class SettingsStore;

// address: the ADDRESS of the option (already checked to lie in the card's
// range), or nothing for the stored "Port", else 300. Messages go to err, the
// identity to out. Returns the exit status.
int runCheck(PortIo& io, const SettingsStore& settings, std::optional<int> address, QTextStream& out,
             QTextStream& err);

} // namespace kalvor
