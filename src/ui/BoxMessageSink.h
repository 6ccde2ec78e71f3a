#pragma once
// Messages as the program shows them: a modal box titled "KALVOR", no icon,
// one OK button. Timers keep ticking while it is open. Headless (offscreen
// platform) the text goes to standard error instead.
#include "core/MessageSink.h"

namespace kalvor {

// False on the offscreen and minimal platforms, where no one sees a window.
bool hasVisibleScreen();

class BoxMessageSink : public MessageSink {
public:
    void showMessage(const QString& text) override;
};

} // namespace kalvor
