#pragma once
// What the port setup dialog needs of the main window: its card address, the
// head test, and the stored "Port" setting.
#include <cstdint>

namespace kalvor {

class PortDialogHost {
public:
    virtual ~PortDialogHost() = default;
    virtual std::int16_t base() const = 0;
    virtual void setBase(std::int16_t) = 0;
    // 0 when card and head answer at testPort, otherwise the id of the
    // message the test has already shown.
    virtual int testHead(std::int16_t testPort) = 0;
    // Writes the "Port" setting (decimal text).
    virtual void storePort(std::int16_t) = 0;
};

} // namespace kalvor
