#include "portsetup/PortDialogController.h"

#include "portsetup/dlgPort.h"

namespace kalvor {

PortDialogController::PortDialogController(PortDialogHost& host) : host_(host) {}

PortDialogController::~PortDialogController() { delete dialog_.data(); }

void PortDialogController::show(QWidget* parent)
{
    if (!dialog_)
        dialog_ = new dlgPort(host_, parent);
    else if (dialog_->parentWidget() != parent)
        dialog_->setParent(parent, dialog_->windowFlags());
    dialog_->exec();
    // Unloaded: the next opening builds and loads a new dialog.
    if (dialog_ && !dialog_->isLoaded())
        delete dialog_.data();
}

} // namespace kalvor
