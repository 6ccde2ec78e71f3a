#pragma once
// What the reader says about itself on the link (topic reader), as last heard.
#include <QString>

namespace kalvor::batch {

struct ReaderInfo {
    QString model;
    QString serial;
    QString gain;
    QString wavelength;
    QString zero;
    QString zeroTime;
    QString zeroStatus;  // empty from a KALVOR that does not judge its zero
    QString status;

    // Sets the field named like the item; false for other items.
    bool set(const QString& item, const QString& text)
    {
        QString* field = item == QLatin1String("model")        ? &model
                         : item == QLatin1String("serial")     ? &serial
                         : item == QLatin1String("gain")       ? &gain
                         : item == QLatin1String("wavelength") ? &wavelength
                         : item == QLatin1String("zero")       ? &zero
                         : item == QLatin1String("zeroTime")   ? &zeroTime
                         : item == QLatin1String("zeroStatus") ? &zeroStatus
                         : item == QLatin1String("status")     ? &status
                                                               : nullptr;
        if (field)
            *field = text;
        return field != nullptr;
    }
};

} // namespace kalvor::batch
