#include "measure/DecimalFormat.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace kalvor {

namespace {
constexpr int kDecimals = 3;
} // namespace

QString formatThreeDecimals(double value)
{
    if (std::isnan(value))
        return QStringLiteral("nan");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");

    // The shortest form, "d.ddde+XX": its digits and the exponent of the first.
    char buf[64];
    const char* end = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific).ptr;
    std::string digits;
    const char* p = buf;
    for (; p != end && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            digits += *p;
    const int exponent = std::atoi(std::string(p + 1, end).c_str());

    // The value in thousandths: digit i stands for 10^(exponent - i); keep
    // those down to 10^-3. The first digit dropped decides the rounding.
    const int kept = exponent + kDecimals + 1; // how many digits reach 10^-3
    std::string thousandths;
    bool roundUp = false;
    if (kept > 0) {
        thousandths = digits.substr(0, std::min<std::size_t>(kept, digits.size()));
        if (std::size_t(kept) > digits.size())
            thousandths.append(kept - digits.size(), '0');
        roundUp = std::size_t(kept) < digits.size() && digits[kept] >= '5';
    } else {
        thousandths = "0";
        roundUp = kept == 0 && digits[0] >= '5';
    }
    if (roundUp) {
        int i = int(thousandths.size()) - 1;
        for (; i >= 0 && thousandths[i] == '9'; --i)
            thousandths[i] = '0';
        if (i >= 0)
            ++thousandths[i];
        else
            thousandths.insert(thousandths.begin(), '1');
    }

    // A digit before the point, the three decimals after it.
    if (thousandths.size() < std::size_t(kDecimals + 1))
        thousandths.insert(0, kDecimals + 1 - thousandths.size(), '0');
    const std::size_t intDigits = thousandths.size() - kDecimals;
    std::string text = thousandths.substr(0, intDigits) + '.' + thousandths.substr(intDigits);

    const bool isZero = thousandths.find_first_not_of('0') == std::string::npos;
    if (std::signbit(value) && !isZero)
        text.insert(text.begin(), '-');
    return QString::fromLatin1(text.c_str());
}

} // namespace kalvor
