#include "measure/Absorbance.h"

#include "core/MessageCatalog.h"
#include "core/MessageSink.h"
#include "hw/HeadLink.h"
#include "measure/Acquisition.h"

namespace kalvor {

QString formatAbsorbance(double a)
{
    if (a > Absorbance::kDisplayLimit)
        return QStringLiteral(">3.0");
    QString text = QString::number(a, 'f', 3);
    if (text == QStringLiteral("-0.000"))
        text = QStringLiteral("0.000");
    if (text.size() == 5)
        text.prepend(QLatin1Char(' '));
    return text;
}

void Absorbance::zero()
{
    hooks_.setReadTimer(false);
    if (head_.present())
        showMessage(loadText(1008));
    acq_.getVoltages();
    s_.z1 = s_.v1;
    if (s_.z1 < kBlockedPath)
        showMessage(loadText(1011));
    else if (s_.z1 < kDimLamp)
        showMessage(loadText(1010));
    hooks_.setReadTimer(true);
}

void Absorbance::getA()
{
    acq_.getVoltages();
    hooks_.setCaptionA(formatAbsorbance(s_.z1 - s_.v1));
    hooks_.setReadTimer(true);
}

} // namespace kalvor
