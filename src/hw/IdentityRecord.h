#pragma once
// The head's identity record: model, serial number, gain and wavelengths at
// fixed character positions of the 64-character EEPROM image.
#include "core/ReaderState.h"

#include <QString>

namespace kalvor {

class SettingsStore;

struct IdentityCaptions {
    QString lblA1;        // e.g. "510 nm", or "WL1"
    QString lblA2;        // e.g. "600 nm", or "WL2"
    QString mnuPrimary;   // e.g. "510 nm", or "WL1 nm"
    QString mnuSecondary; // e.g. "600 nm", or "WL2 nm"
};

// Splits rdrEEPROM into the identity fields of the state, shows a message for
// each unexpected field (1101, 1103, 1102 in that order), applies a gain stored
// for this serial number and returns the four wavelength captions.
IdentityCaptions parseEEPROM(ReaderState& state, const SettingsStore& settings);

// Wavelength field in range 400..780 nm; a field holding no number is out of range.
bool wavelengthInRange(const QString& field);
// Serial number field in range 1001..1999; a field holding no number is out of range.
bool serialInRange(const QString& field);

// Builds a 64-character image (padded with blanks) from the leading record
// characters, e.g. "KALVOR15001.9510600".
QString identityImage(const QString& leading);

} // namespace kalvor
