#include "measure/Absorbance.h"

#include "core/MessageCatalog.h"
#include "core/MessageSink.h"
#include "hw/HeadLink.h"
#include "measure/Acquisition.h"
#include "measure/DecimalFormat.h"

namespace kalvor {

QString formatAbsorbance(double a)
{
    if (a > Absorbance::kDisplayLimit)
        return QStringLiteral(">3.0");
    QString text = formatThreeDecimals(a);
    if (text.size() == 5)
        text.prepend(QLatin1Char(' '));
    return text;
}

void Absorbance::zero()
{
    hooks_.setReadTimer(false);
    zeroSawDosimeter_ = head_.present();
    if (zeroSawDosimeter_)
        showMessage(loadText(1008));
    acq_.getVoltages();
    s_.z1 = s_.v1;
    if (hooks_.zeroTaken)
        hooks_.zeroTaken();
    if (s_.z1 < kBlockedPath)
        showMessage(loadText(1011));
    else if (s_.z1 < kDimLamp)
        showMessage(loadText(1010));
    hooks_.setReadTimer(true);
}

void Absorbance::getA()
{
    acq_.getVoltages();
    const double a = s_.z1 - s_.v1;
    if (hooks_.readingTaken)
        hooks_.readingTaken(a);
    hooks_.setCaptionA(formatAbsorbance(a));
    hooks_.setReadTimer(true);
}

} // namespace kalvor
