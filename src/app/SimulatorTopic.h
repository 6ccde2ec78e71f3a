#pragma once
// Topic "simulator": the simulated reader's knobs and lights for linked
// programs. Writable items change what sits in the head (dosimeter, holder,
// filter, lamp, button) and its faults (head, adc); wavelength, led and buzzer
// show what the program last wrote to the control register. Writing film slides
// a dosimeter in by hand (it settles within about a second); reading it gives
// the dosimeter.
#include "link/LinkTopic.h"

#include <QTimer>

namespace kalvor::sim {
class SimulatedCard;
}

namespace kalvor {

class SimulatorTopic : public LinkTopic {
    Q_OBJECT
public:
    static const QStringList& itemNames();

    // The card must outlive the topic.
    explicit SimulatorTopic(sim::SimulatedCard& card, QObject* parent = nullptr);
    ~SimulatorTopic() override;

    // Validates the text, applies it to the card and sets the item to the
    // card's resulting value. Bad text: BAD_VALUE; wavelength, led, buzzer:
    // NOT_SUPPORTED; unknown item: NOT_FOUND.
    PutResult put(const QString& item, const QString& text) override;

    // Sets every item whose text no longer matches the card. Runs by itself
    // from the event loop after the card reports a change (changes during an
    // EEPROM transfer collapse into one refresh); callers may run it at once.
    void refresh();

private:
    QString currentText(const QString& item) const;

    sim::SimulatedCard& card_;
    int observerId_ = 0;
    QTimer refreshTimer_;
};

} // namespace kalvor
