#pragma once
// The windows that the main window's Setup and Help commands open, connected
// to its hooks. Lives as long as the main window.
#include <memory>

namespace kalvor {

class frmKALVOR;
class PortDialogController;

class WindowWiring {
public:
    explicit WindowWiring(frmKALVOR& window);
    ~WindowWiring();

private:
    std::unique_ptr<PortDialogController> port_;
};

} // namespace kalvor
