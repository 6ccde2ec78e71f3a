// One default font for every dialog and message box, the few fonts of their
// own kept, and no icon anywhere on a message box.
#include "about/frmAbout.h"
#include "ndf/NdfHost.h"
#include "ndf/frmNDF.h"
#include "portsetup/PortDialogHost.h"
#include "portsetup/dlgPort.h"
#include "ui/BoxMessageSink.h"
#include "ui/Fonts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProxyStyle>
#include <QStyleFactory>
#include <gtest/gtest.h>

using namespace kalvor;

namespace {

struct NoPortHost : PortDialogHost {
    std::int16_t base() const override { return 0x300; }
    void setBase(std::int16_t) override {}
    int testHead(std::int16_t) override { return 1005; }
    void storePort(std::int16_t) override {}
};

struct NoNdfHost : NdfHost {
    void getVoltages() override {}
    double v1() const override { return 0; }
    QString wlCaption() const override { return QStringLiteral("510 nm"); }
    void setFilterItem(const QString&, const QString&) override {}
};

// A style that puts icons on dialog buttons, as some desktops' styles do.
class IconsOnDialogButtons : public QProxyStyle {
public:
    IconsOnDialogButtons() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_DialogButtonBox_ButtonsHaveIcons)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QFont fontOf(QWidget& w, const char* name)
{
    auto* child = w.findChild<QWidget*>(QLatin1String(name));
    return child ? child->font() : QFont(QStringLiteral("missing %1").arg(QLatin1String(name)));
}

} // namespace

TEST(DialogFonts, EveryDialogAndMessageBoxUsesTheDialogFont)
{
    const QFont dialog = dialogFont();
    EXPECT_EQ(dialog.pointSizeF(), 8.25);
    EXPECT_FALSE(dialog.bold());

    NoPortHost portHost;
    dlgPort port(portHost);
    EXPECT_EQ(port.font(), dialog);
    EXPECT_EQ(fontOf(port, "lblSwitchInstructions"), dialog);
    EXPECT_EQ(fontOf(port, "btnTest"), dialog);
    // The board numbers keep their own font.
    EXPECT_EQ(fontOf(port, "Label5_0"), courierNewFont(9.75, true));

    NoNdfHost ndfHost;
    frmNDF ndf(ndfHost);
    EXPECT_EQ(ndf.font(), dialog);
    EXPECT_EQ(fontOf(ndf, "lblInstructions"), dialog);
    EXPECT_EQ(fontOf(ndf, "cmdZero"), dialog);
    EXPECT_EQ(fontOf(ndf, "lblHdr"), arialFont(14.25, true));

    frmAbout::showAbout();
    frmAbout* about = frmAbout::instance();
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->font(), dialog);
    EXPECT_EQ(fontOf(*about, "lblTitle"), dialog);
    EXPECT_EQ(fontOf(*about, "cmdOK"), dialog);
    delete about;

    const auto box = makeMessageBox(QStringLiteral("A caution"));
    box->show();
    EXPECT_EQ(box->font(), dialog);
    EXPECT_EQ(box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))->font(), dialog);
}

TEST(MessageBox, TitledKalvorWithOneOkButtonAndNoIconAtAll)
{
    const QString styleBefore = QApplication::style()->name();
    QApplication::setStyle(new IconsOnDialogButtons);
    const auto box = makeMessageBox(QStringLiteral("<b>not markup</b>"));
    QApplication::setStyle(styleBefore);
    box->show();
    EXPECT_EQ(box->windowTitle().toStdString(), "KALVOR");
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    ASSERT_EQ(box->buttons().size(), 1);
    QAbstractButton* ok = box->button(QMessageBox::Ok);
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->icon().isNull());
}
