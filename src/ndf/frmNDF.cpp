#include "ndf/frmNDF.h"

#include "ui/Fonts.h"
#include "core/MessageCatalog.h"
#include "core/MessageSink.h"
#include "ui/Twips.h"
#include "measure/DecimalFormat.h"
#include "ndf/NdfHost.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace kalvor {

namespace {

// Client area, and where it sits on the screen, in twips.
constexpr double kClientWidth = 5520;
constexpr double kClientHeight = 4635;
constexpr double kClientLeft = 2760;
constexpr double kClientTop = 3750;

QLabel* makeLabel(QWidget* parent, const char* name, double left, double top, double width, double height)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
    placeTwips(label, left, top, width, height);
    return label;
}

QPushButton* makeButton(QWidget* parent, const char* name, double left, double top, double width, double height)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    // No button is the default: Enter is handled by the dialog (see keyPressEvent).
    button->setAutoDefault(false);
    button->setDefault(false);
    placeTwips(button, left, top, width, height);
    return button;
}

} // namespace

frmNDF::frmNDF(NdfHost& host, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                          | Qt::MSWindowsFixedSizeDialogHint),
      host_(host)
{
    setObjectName(QStringLiteral("frmNDF"));
    setModal(true);
    setFont(dialogFont());
    buildControls();
    placeWindow();
    Form_Load();
}

void frmNDF::buildControls()
{
    lblInstructions = makeLabel(this, "lblInstructions", 240, 120, 3735, 1095);
    OKButton = makeButton(this, "OKButton", 4200, 120, 1215, 375);
    cmdZero = makeButton(this, "cmdZero", 120, 1320, 1500, 495);
    lblHdr = makeLabel(this, "lblHdr", 1680, 1200, 3615, 495);
    lblHdr->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblHdr->setFont(arialFont(14.25, true));
    lblWL = makeLabel(this, "lblWL", 2760, 1680, 735, 375);
    cmdLight = makeButton(this, "cmdLight", 120, 2160, 1500, 495);
    ndfA = makeLabel(this, "ndfA", 2760, 2160, 735, 375);
    cmdMedium = makeButton(this, "cmdMedium", 120, 2760, 1500, 495);
    ndfB = makeLabel(this, "ndfB", 2760, 2760, 735, 375);
    cmdDark = makeButton(this, "cmdDark", 120, 3360, 1500, 495);
    ndfC = makeLabel(this, "ndfC", 2760, 3360, 735, 375);
    cmdSaveNDF = makeButton(this, "cmdSaveNDF", 2520, 3960, 1215, 495);

    // Labels take no focus; the buttons follow each other in this order.
    setTabOrder(cmdZero, cmdLight);
    setTabOrder(cmdLight, cmdMedium);
    setTabOrder(cmdMedium, cmdDark);
    setTabOrder(cmdDark, cmdSaveNDF);
    setTabOrder(cmdSaveNDF, OKButton);

    connect(cmdZero, &QPushButton::clicked, this, &frmNDF::cmdZero_Click);
    connect(cmdLight, &QPushButton::clicked, this, &frmNDF::cmdLight_Click);
    connect(cmdMedium, &QPushButton::clicked, this, &frmNDF::cmdMedium_Click);
    connect(cmdDark, &QPushButton::clicked, this, &frmNDF::cmdDark_Click);
    connect(cmdSaveNDF, &QPushButton::clicked, this, &frmNDF::cmdSaveNDF_Click);
    connect(OKButton, &QPushButton::clicked, this, &frmNDF::OKButton_Click);
}

void frmNDF::placeWindow()
{
    const double dpi = logicalDpi(this);
    const QSize client(twipsToPx(kClientWidth, dpi), twipsToPx(kClientHeight, dpi));
    setFixedSize(client);
    const QScreen* s = screen();
    const QPoint origin = s ? s->geometry().topLeft() : QPoint();
    // setGeometry places the client area, not the frame.
    setGeometry(QRect(origin + QPoint(twipsToPx(kClientLeft, dpi), twipsToPx(kClientTop, dpi)), client));
}

void frmNDF::Form_Load()
{
    setWindowTitle(loadText(300));
    lblInstructions->setText(loadText(301));
    OKButton->setText(loadText(302));
    cmdZero->setText(loadText(303));
    cmdLight->setText(loadText(304));
    cmdMedium->setText(loadText(305));
    cmdDark->setText(loadText(306));
    cmdSaveNDF->setText(loadText(307));
    lblHdr->setText(loadText(308));

    lblWL->setText(host_.wlCaption());

    for (QLabel* result : {ndfA, ndfB, ndfC}) {
        result->clear();
        result->hide();
    }

    cmdLight->setEnabled(false);
    cmdMedium->setEnabled(false);
    cmdDark->setEnabled(false);
    cmdSaveNDF->setEnabled(false);

    cmdZero->setFocus();
    loaded_ = true;
}

void frmNDF::cmdZero_Click()
{
    host_.getVoltages();
    zNDF_ = host_.v1();
    cmdLight->setEnabled(true);
    cmdMedium->setEnabled(true);
    cmdDark->setEnabled(true);
    cmdLight->setFocus();
}

void frmNDF::cmdLight_Click() { readFilter(aLight_, ndfA, QStringLiteral("na"), cmdMedium); }

void frmNDF::cmdMedium_Click() { readFilter(aMedium_, ndfB, QStringLiteral("nb"), cmdDark); }

void frmNDF::cmdDark_Click() { readFilter(aDark_, ndfC, QStringLiteral("nc"), cmdSaveNDF); }

void frmNDF::readFilter(double& result, QLabel* resultLabel, const QString& item, QPushButton* next)
{
    setFilterButtonsEnabled(false);
    host_.getVoltages();
    result = zNDF_ - host_.v1();
    resultLabel->setText(formatThreeDecimals(result));
    host_.setFilterItem(item, resultLabel->text());
    resultLabel->show();
    setFilterButtonsEnabled(true);
    next->setFocus();
}

void frmNDF::setFilterButtonsEnabled(bool enabled)
{
    cmdLight->setEnabled(enabled);
    cmdMedium->setEnabled(enabled);
    cmdDark->setEnabled(enabled);
    cmdSaveNDF->setEnabled(enabled);
}

void frmNDF::cmdSaveNDF_Click()
{
    showMessage(loadText(1002));
    OKButton->setFocus();
}

void frmNDF::OKButton_Click() { accept(); }

void frmNDF::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Cancel)) {
        // Not a cancel key here: only the Close button and the title bar close.
        event->accept();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // As on the desktop the dialog was made for, Enter presses the button
        // that has the focus; there is no default button for it to fall to.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && button->isEnabled())
            button->click();
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void frmNDF::showEvent(QShowEvent* event)
{
    // Shown again after it was closed: it starts afresh, as on first opening.
    if (!loaded_)
        Form_Load();
    QDialog::showEvent(event);
}

void frmNDF::done(int result)
{
    loaded_ = false;
    QDialog::done(result);
}

} // namespace kalvor
