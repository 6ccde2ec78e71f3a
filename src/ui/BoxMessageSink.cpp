#include "ui/BoxMessageSink.h"

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
        std::fprintf(stderr, "KALVOR: %s\n", text.toLocal8Bit().constData());
        std::fflush(stderr);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("KALVOR"), text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace kalvor
