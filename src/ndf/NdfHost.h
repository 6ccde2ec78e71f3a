#pragma once
// What the filter check dialog needs from the main window: one reading of the
// head, the reading itself, the wavelength text shown, and the data items the
// results are copied into for other programs.
#include <QString>

namespace kalvor {

class NdfHost {
public:
    virtual ~NdfHost() = default;
    // Takes one reading; afterwards v1() holds it.
    virtual void getVoltages() = 0;
    virtual double v1() const = 0;
    // The caption of the main window's WL label.
    virtual QString wlCaption() const = 0;
    // Sets the caption of the main window's data item "na", "nb" or "nc".
    virtual void setFilterItem(const QString& item, const QString& text) = 0;
};

} // namespace kalvor
