#include "app/CheckCommand.h"

#include "core/MessageSink.h"
#include "app/ProgramEnd.h"
#include "core/ReaderState.h"
#include "core/SettingsStore.h"
#include "hw/HeadLink.h"
#include "hw/IdentityRecord.h"
#include "hw/PortIo.h"
#include "hw/Registers.h"

namespace kalvor {

int runCheck(PortIo& io, const SettingsStore& settings, std::optional<int> address, QTextStream& out,
             QTextStream& err)
{
    int port = kFactoryBase;
    if (address) {
        port = *address;
    } else {
        const std::int16_t stored = settings.port();
        if (stored != 0)
            port = stored;
    }

    ReaderState state;
    state.Control = 0x02;
    HeadLink head(state, io);

    // The messages of the test and of the record checks go to err, after the
    // identity line.
    RecordingMessageSink collect;
    auto printMessages = [&] {
        for (const QString& line : collect.messages)
            err << line << '\n';
        err.flush();
    };
    if (head.testHead(static_cast<std::int16_t>(port)) != 0) {
        printMessages();
        return exitcode::HeadTestFailed;
    }
    const IdentityCaptions captions = parseEEPROM(state, settings);
    out << state.rdrModel << ' ' << state.rdrSN << " gain " << SettingsStore::formatDouble(state.rdrGain) << ' '
        << captions.lblA1 << ' ' << captions.lblA2 << " at " << hexAddress(port) << '\n';
    out.flush();
    printMessages();
    return exitcode::Ok;
}

} // namespace kalvor
