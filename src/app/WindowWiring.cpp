#include "app/WindowWiring.h"

#include "about/frmAbout.h"
#include "app/MainWindow.h"
#include "ndf/frmNDF.h"
#include "portsetup/PortDialogController.h"
#include "portsetup/dlgPort.h"

namespace kalvor {

WindowWiring::WindowWiring(frmKALVOR& window)
    : port_(std::make_unique<PortDialogController>(window.reader()))
{
    // The port dialog has no owner window: at the first start the main
    // window is not shown yet.
    window.showPortDialog = [this] { port_->show(nullptr); };
    window.showNdfDialog = [&window] {
        frmNDF dialog(window.reader(), &window);
        dialog.exec();
    };
    window.showAbout = [] { frmAbout::showAbout(); };
}

} // namespace kalvor

namespace kalvor {
WindowWiring::~WindowWiring() = default;
} // namespace kalvor
