#pragma once
// Zero and absorbance: the zero value with its cautions, and each reading's
// absorbance as the text of label A.
#include "core/ReaderState.h"

#include <QString>
#include <functional>

namespace kalvor {

class Acquisition;
class HeadLink;

// The caption of label A for an absorbance: ">3.0" above 3.0, otherwise the
// reading's three-decimal text (formatThreeDecimals, as the filter check shows
// it) with a leading blank when that text has five characters. A value that
// rounds to zero shows " 0.000", never "-0.000".
QString formatAbsorbance(double a);

struct AbsorbanceHooks {
    std::function<void(bool)> setReadTimer;        // enable/disable tmrRead
    std::function<void(const QString&)> setCaptionA; // label A and its data item
    // Optional: right after the zero value is taken (before any caution), and
    // with each reading's absorbance before label A is set.
    std::function<void()> zeroTaken = nullptr;
    std::function<void(double)> readingTaken = nullptr;
};

class Absorbance {
public:
    Absorbance(ReaderState& state, Acquisition& acquisition, HeadLink& head, AbsorbanceHooks hooks)
        : s_(state), acq_(acquisition), head_(head), hooks_(std::move(hooks))
    {
    }

    void zero();
    void getA();

    // What the head's sensor answered when the last zero was taken (the read
    // that decides the caution message): true when it saw a dosimeter.
    bool zeroSawDosimeter() const { return zeroSawDosimeter_; }

    static constexpr double kDimLamp = 0.4;
    static constexpr double kBlockedPath = 0.2;
    static constexpr double kDisplayLimit = 3.0;

private:
    ReaderState& s_;
    Acquisition& acq_;
    HeadLink& head_;
    AbsorbanceHooks hooks_;
    bool zeroSawDosimeter_ = false;
};

} // namespace kalvor
