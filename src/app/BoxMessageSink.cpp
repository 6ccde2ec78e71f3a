#include "app/BoxMessageSink.h"

#include <QMessageBox>

namespace kalvor {

void BoxMessageSink::showMessage(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("KALVOR"), text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace kalvor
