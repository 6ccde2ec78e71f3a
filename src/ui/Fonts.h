#pragma once
// The window fonts, with the metric-compatible Liberation faces (Debian
// fonts-liberation2) standing in where Arial or Courier New are missing.
#include <QFont>
#include <QStringList>

namespace kalvor {

inline QFont arialFont(double pointSize, bool bold)
{
    QFont f;
    f.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    f.setPointSizeF(pointSize);
    f.setBold(bold);
    return f;
}

// The dialogs' default font: every dialog and message box of the program shows
// its texts in it, except the few controls with a font of their own (the port
// dialog's board numbers, the filter check's header).
inline QFont dialogFont() { return arialFont(8.25, false); }

inline QFont courierNewFont(double pointSize, bool bold)
{
    QFont f;
    f.setFamilies({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono")});
    f.setStyleHint(QFont::Monospace);
    f.setPointSizeF(pointSize);
    f.setBold(bold);
    return f;
}

} // namespace kalvor
