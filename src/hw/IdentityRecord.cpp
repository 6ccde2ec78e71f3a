#include "hw/IdentityRecord.h"

#include "core/MessageCatalog.h"
#include "core/MessageSink.h"
#include "core/SettingsStore.h"

namespace kalvor {

namespace {
// A decimal field read as a whole number; anything else (blanks, letters,
// an empty image) is no number at all.
bool decimalIn(const QString& field, int low, int high)
{
    if (field.isEmpty())
        return false;
    for (QChar c : field)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    const int v = field.toInt();
    return v >= low && v <= high;
}
} // namespace

bool wavelengthInRange(const QString& field) { return decimalIn(field, 400, 780); }
bool serialInRange(const QString& field) { return decimalIn(field, 1001, 1999); }

QString identityImage(const QString& leading)
{
    QString image = leading.left(64);
    image.append(QString(64 - image.size(), QLatin1Char(' ')));
    return image;
}

IdentityCaptions parseEEPROM(ReaderState& s, const SettingsStore& settings)
{
    const QString& image = s.rdrEEPROM;
    s.rdrModel = image.mid(0, 6);
    s.rdrSN = image.mid(6, 4);
    if (!(s.rdrModel == QStringLiteral("KALVOR") && serialInRange(s.rdrSN)))
        showMessage(loadText(1101) + s.rdrModel + QLatin1Char(' ') + s.rdrSN);

    const QString gainField = image.mid(10, 3);
    if (gainField == QStringLiteral("1.9")) {
        s.rdrGain = 1.9;
    } else if (gainField == QStringLiteral("1.0")) {
        s.rdrGain = 1.0;
    } else {
        showMessage(loadText(1103) + gainField);
        s.rdrGain = 1.0;
    }
    s.rdrGain = settings.gain(s.rdrSN, s.rdrGain);

    s.rdrWL1 = image.mid(13, 3);
    s.rdrWL2 = image.mid(16, 3);
    const bool wl1 = wavelengthInRange(s.rdrWL1);
    const bool wl2 = wavelengthInRange(s.rdrWL2);
    if (!(wl1 && wl2))
        showMessage(loadText(1102) + QLatin1Char(' ') + s.rdrWL1 + QLatin1Char(' ') + s.rdrWL2);

    IdentityCaptions c;
    c.lblA1 = wl1 ? s.rdrWL1 + QStringLiteral(" nm") : QStringLiteral("WL1");
    c.lblA2 = wl2 ? s.rdrWL2 + QStringLiteral(" nm") : QStringLiteral("WL2");
    c.mnuPrimary = loadText(116);
    if (wl1)
        c.mnuPrimary.replace(QStringLiteral("WL1"), s.rdrWL1, Qt::CaseSensitive);
    c.mnuSecondary = loadText(119);
    if (wl2)
        c.mnuSecondary.replace(QStringLiteral("WL2"), s.rdrWL2, Qt::CaseSensitive);
    return c;
}

} // namespace kalvor
