#pragma once
// Messages as the program shows them: a modal box titled "KALVOR", no icon,
// one OK button. Timers keep ticking while it is open. Headless (offscreen
// platform) the text goes to standard error instead.
#include "core/MessageSink.h"

#include <memory>

class QMessageBox;

namespace kalvor {

// False on the offscreen and minimal platforms, where no one sees a window.
bool hasVisibleScreen();

// The box showMessage shows: title "KALVOR", the text as plain text in the
// dialogs' font, no icon, and one OK button without an icon of its own.
std::unique_ptr<QMessageBox> makeMessageBox(const QString& text);

class BoxMessageSink : public MessageSink {
public:
    void showMessage(const QString& text) override;
};

} // namespace kalvor
