#include "ndf/NdfFormat.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace kalvor {

namespace {
constexpr int kSignificant = 15;
constexpr int kDecimals = 3;
} // namespace

QString formatNdf(double value)
{
    if (!std::isfinite(value))
        return QString::number(value);

    // "d.dddddddddddddde+XX": the 15 significant digits and the exponent.
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.*e", kSignificant - 1, std::fabs(value));
    std::string digits;
    const char* p = buf;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            digits += *p;
    const int exponent = std::atoi(p + 1);

    // Digit i stands for 10^(exponent - i). Keep those down to 10^-3; the
    // first digit dropped decides the rounding.
    std::string kept;
    for (int i = 0; i < kSignificant; ++i)
        if (exponent - i >= -kDecimals)
            kept += digits[i];
    const int lastKept = exponent + kDecimals; // index of the 10^-3 digit
    if (lastKept >= kSignificant)
        kept.append(lastKept - kSignificant + 1, '0');
    const int firstDropped = lastKept + 1;
    const bool roundUp = firstDropped >= 0 && firstDropped < kSignificant && digits[firstDropped] >= '5';

    if (kept.empty())
        kept = "0";
    if (roundUp) {
        int i = int(kept.size()) - 1;
        for (; i >= 0 && kept[i] == '9'; --i)
            kept[i] = '0';
        if (i >= 0)
            ++kept[i];
        else
            kept.insert(kept.begin(), '1');
    }

    // kept is the value in thousandths; give it a digit before the point.
    if (kept.size() < std::size_t(kDecimals + 1))
        kept.insert(0, kDecimals + 1 - kept.size(), '0');
    const std::size_t intDigits = kept.size() - kDecimals;
    std::size_t lead = 0;
    while (lead + 1 < intDigits && kept[lead] == '0')
        ++lead;
    std::string text = kept.substr(lead, intDigits - lead) + '.' + kept.substr(intDigits);

    const bool isZero = kept.find_first_not_of('0') == std::string::npos;
    if (std::signbit(value) && !isZero)
        text.insert(text.begin(), '-');
    return QString::fromLatin1(text.c_str());
}

} // namespace kalvor
