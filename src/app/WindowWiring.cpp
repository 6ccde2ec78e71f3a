#include "app/WindowWiring.h"

#include "app/MainWindow.h"

namespace kalvor {

void wireWindows(frmKALVOR& window, Reader& reader)
{
    Q_UNUSED(reader);
    // Until the port dialog is wired, a first start takes the factory address.
    window.showPortDialog = [&window] {
        ReaderState& s = window.reader().state;
        if (s.base == 0 && window.reader().testHead(0x300) == 0) {
            window.reader().storePort(0x300);
            s.base = 0x300;
        }
    };
}

} // namespace kalvor
