#pragma once
// Opens the port setup dialog for the main window (first start, failed head
// test at start, Setup > Port). The dialog stays loaded between openings
// after Accept and is loaded afresh after Cancel.
#include <QPointer>

class QWidget;

namespace kalvor {

class PortDialogHost;
class dlgPort;

class PortDialogController {
public:
    explicit PortDialogController(PortDialogHost& host);
    ~PortDialogController();
    PortDialogController(const PortDialogController&) = delete;
    PortDialogController& operator=(const PortDialogController&) = delete;

    // Shows the dialog modally and returns when it is hidden (Accept) or
    // unloaded (Cancel, title bar). `parent` only places the window and keeps
    // it off the taskbar; it may be null.
    void show(QWidget* parent = nullptr);

    // The loaded dialog, or null when it is not loaded.
    dlgPort* dialog() const { return dialog_.data(); }

private:
    PortDialogHost& host_;
    QPointer<dlgPort> dialog_;
};

} // namespace kalvor
