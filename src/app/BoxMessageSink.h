#pragma once
// Messages as the program shows them: a modal box titled "KALVOR", no icon,
// one OK button. Timers keep ticking while it is open.
#include "app/MessageSink.h"

namespace kalvor {

class BoxMessageSink : public MessageSink {
public:
    void showMessage(const QString& text) override;
};

} // namespace kalvor
