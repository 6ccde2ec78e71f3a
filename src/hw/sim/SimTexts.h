#pragma once
// Text forms of the simulated reader's settings, shared by the command-line
// options and the "simulator" link topic. Parsers take trimmed text, accept
// keywords in any case and return nothing for a text they do not accept.
#include "hw/sim/HeadPhysics.h"

#include <QString>
#include <QStringView>

#include <optional>

namespace kalvor::sim {

QString holderText(Holder holder);              // "film" | "filter"
QString filterText(NdFilter filter);            // "none" | "light" | "medium" | "dark"
QString wavelengthText(Wavelength wl);          // "primary" | "secondary"
QString dosimeterText(std::optional<double> a); // absorbance, or "none"
QString numberText(double value);               // shortest plain form: "1", "0.85"
QString headText(bool connected);               // "connected" | "unplugged"
QString adcText(bool stuck);                    // "ok" | "stuck"
QString flagText(bool on);                      // "1" | "0"

std::optional<Holder> parseHolder(QStringView text);
std::optional<NdFilter> parseFilter(QStringView text);
// A finite number in [min, max].
std::optional<double> parseNumber(QStringView text, double min, double max);
// Outer: accepted or not. Inner: the absorbance, empty for "none".
std::optional<std::optional<double>> parseDosimeter(QStringView text);
std::optional<bool> parseHeadConnected(QStringView text);
std::optional<bool> parseAdcStuck(QStringView text);
std::optional<bool> parseFlag(QStringView text); // "1"/"0"

// Limits of the accepted values.
constexpr double kMaxDosimeterAbsorbance = 10.0;
constexpr double kMaxLampFraction = 2.0;
constexpr double kMaxNoiseVolts = 1.0;

} // namespace kalvor::sim
