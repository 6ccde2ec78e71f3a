#include "ui/BoxMessageSink.h"

#include "core/PrintableText.h"
#include "ui/Fonts.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QMessageBox>
#include <cstdio>

namespace kalvor {

bool hasVisibleScreen()
{
    const QString platform = QGuiApplication::platformName();
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) && platform != QLatin1String("offscreen")
           && platform != QLatin1String("minimal");
}

void BoxMessageSink::showMessage(const QString& text)
{
    // Without a screen nobody could close the box: the message goes to
    // standard error and the program goes on, as after OK.
    if (!hasVisibleScreen()) {
        std::fprintf(stderr, "KALVOR: %s\n", terminalText(text).toLocal8Bit().constData());
        std::fflush(stderr);
        return;
    }
    makeMessageBox(text)->exec();
}

std::unique_ptr<QMessageBox> makeMessageBox(const QString& text)
{
    auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, QStringLiteral("KALVOR"), text, QMessageBox::Ok);
    box->setTextFormat(Qt::PlainText);
    box->setFont(dialogFont());
    // Some styles put a tick on a dialog's OK button; this box has no icons.
    box->button(QMessageBox::Ok)->setIcon(QIcon());
    return box;
}

} // namespace kalvor
