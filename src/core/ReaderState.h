#pragma once
// The one record of reader state, held by the main window for the program's life.
#include <QString>
#include <cstdint>

namespace kalvor {

struct ReaderState {
    std::uint8_t Control = 0;  // shadow of the write-only control register
    std::uint8_t status = 0;   // status byte read by the card check of testHead
    std::int16_t base = 0;     // card in use; 0 = no address configured yet
    std::int16_t testBase = 0; // address used by the EEPROM link
    bool LED = false;
    bool buzzer = false;
    double v1 = 0;     // latest smoothed reading, volts
    double z1 = 0;     // zero value, volts
    double oldv1 = 0;  // smoothing reference
    double rdrGain = 0;
    QString rdrSN;
    QString rdrWL1;
    QString rdrWL2;
    QString rdrModel;
    QString rdrEEPROM; // 64 characters, codes 0..255 (Latin-1)
};

} // namespace kalvor
