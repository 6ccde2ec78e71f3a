#include "portsetup/dlgPort.h"

#include "ui/Fonts.h"
#include "core/MessageCatalog.h"
#include "core/MessageSink.h"
#include "ui/Twips.h"
#include "portsetup/AddressBox.h"
#include "portsetup/DipSwitches.h"
#include "portsetup/PictureButton.h"
#include "portsetup/PortDialogHost.h"
#include "portsetup/SpinButtons.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace kalvor {

namespace {

// Client area of the dialog, in twips.
constexpr int kClientWidth = 8415;
constexpr int kClientHeight = 6585;

QLabel* wrappedLabel(QWidget* parent, const char* name)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

QPushButton* plainButton(QWidget* parent, const char* name)
{
    auto* b = new QPushButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    // Neither Enter nor Escape belongs to a button of this dialog.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

} // namespace

dlgPort::dlgPort(PortDialogHost& host, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      host_(host)
{
    setObjectName(QStringLiteral("dlgPort"));
    setFont(dialogFont());
    buildControls();
    setFixedSize(twipsToPx(kClientWidth, this), twipsToPx(kClientHeight, this));
}

void dlgPort::buildControls()
{
    lblPortInstructions = wrappedLabel(this, "lblPortInstructions");
    placeTwips(lblPortInstructions, 240, 360, 5775, 855);

    lblPortAddress = wrappedLabel(this, "lblPortAddress");
    placeTwips(lblPortAddress, 240, 1560, 2175, 615);

    // A read-only text field: sunken, white, the text centred. Up and Down
    // step the address from the keyboard, as the spin control's arrows do.
    txtPort = new AddressBox(this);
    txtPort->setObjectName(QStringLiteral("txtPort"));
    txtPort->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    txtPort->setAlignment(Qt::AlignCenter);
    txtPort->setAutoFillBackground(true);
    txtPort->setBackgroundRole(QPalette::Base);
    txtPort->setForegroundRole(QPalette::Text);
    {
        QPalette pal = txtPort->palette();
        pal.setColor(QPalette::Base, Qt::white);
        txtPort->setPalette(pal);
    }
    placeTwips(txtPort, 2520, 1680, 450, 255);
    txtPort->setAccessibleName(QStringLiteral("Port address"));
    txtPort->setAccessibleDescription(QStringLiteral("Up and Down step the address by 8"));
    connect(txtPort, &AddressBox::stepUp, this, &dlgPort::UpDown1_UpClick);
    connect(txtPort, &AddressBox::stepDown, this, &dlgPort::UpDown1_DownClick);

    UpDown1 = new SpinButtons(this);
    UpDown1->setObjectName(QStringLiteral("UpDown1"));
    placeTwips(UpDown1, 3000, 1620, 240, 375);
    connect(UpDown1, &SpinButtons::upClick, this, &dlgPort::UpDown1_UpClick);
    connect(UpDown1, &SpinButtons::downClick, this, &dlgPort::UpDown1_DownClick);

    lblSwitchHdr1 = wrappedLabel(this, "lblSwitchHdr1");
    placeTwips(lblSwitchHdr1, 960, 2280, 1455, 255);
    lblSwitchHdr2 = wrappedLabel(this, "lblSwitchHdr2");
    placeTwips(lblSwitchHdr2, 120, 2520, 3135, 495);

    // The board numbers above the switches: 9 at the left down to 3.
    static const char* const boardNumbers[7] = {"9 ", "8", "7", "6", "5", "4", "3"};
    for (int i = 0; i < DipSwitches::count; ++i) {
        auto* l = new QLabel(QString::fromLatin1(boardNumbers[i]), this);
        l->setObjectName(QStringLiteral("Label5_%1").arg(i));
        l->setFont(courierNewFont(9.75, true));
        QPalette pal = l->palette();
        pal.setColor(QPalette::WindowText, Qt::black);
        l->setPalette(pal);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        placeTwips(l, 960 + 240 * i, 2920, 150, 255);
        Label5[i] = l;
    }

    // The body of the switch block and the switches on it.
    Frame1 = new QFrame(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFrameShape(QFrame::NoFrame);
    Frame1->setAutoFillBackground(true);
    {
        QPalette pal = Frame1->palette();
        pal.setColor(QPalette::Window, QColor(0xFF, 0x00, 0x00));
        Frame1->setPalette(pal);
    }
    placeTwips(Frame1, 780, 3260, 1935, 735);

    const QPixmap onPicture(QStringLiteral(":/kalvor/portsetup/DIP.png"));
    const QPixmap offPicture(QStringLiteral(":/kalvor/portsetup/DIPoff.png"));
    for (int i = 0; i < DipSwitches::count; ++i) {
        DIP[i] = new PictureButton(onPicture, Frame1);
        DIP[i]->setObjectName(QStringLiteral("DIP%1").arg(i));
        placeTwips(DIP[i], 120 + 240 * i, 0, 240, 720);
        connect(DIP[i], &PictureButton::clicked, this, [this, i] { DIP_Click(i); });

        DIPoff[i] = new PictureButton(offPicture, Frame1);
        DIPoff[i]->setObjectName(QStringLiteral("DIPoff%1").arg(i));
        placeTwips(DIPoff[i], 120 + 240 * i, 0, 240, 720);
        connect(DIPoff[i], &PictureButton::clicked, this, [this, i] { DIPoff_Click(i); });
        DIPoff[i]->hide();

        // Reached with Tab and toggled with Space.
        const QString name = QStringLiteral("DIP switch %1").arg(DipSwitches::boardNumber(i));
        DIP[i]->setAccessibleName(name + QStringLiteral(", on"));
        DIPoff[i]->setAccessibleName(name + QStringLiteral(", off"));
        for (PictureButton* picture : {DIP[i], DIPoff[i]})
            picture->setAccessibleDescription(QStringLiteral("Space toggles the switch"));
    }

    btnTest = plainButton(this, "btnTest");
    placeTwips(btnTest, 840, 4080, 1815, 495);
    connect(btnTest, &QPushButton::clicked, this, &dlgPort::btnTest_Click);

    lblSwitchInstructions = wrappedLabel(this, "lblSwitchInstructions");
    placeTwips(lblSwitchInstructions, 120, 4680, 3135, 1575);

    // The card photograph; the control takes the picture's size plus its border.
    Picture1 = new QLabel(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    const QPixmap card(QStringLiteral(":/kalvor/portsetup/card.png"));
    Picture1->setPixmap(card);
    const int border = 2 * Picture1->frameWidth();
    const QRect at = twipsRect(3360, 1200, 0, 0, this);
    Picture1->setGeometry(at.x(), at.y(), card.width() + border, card.height() + border);

    lblPicture = wrappedLabel(this, "lblPicture");
    placeTwips(lblPicture, 3960, 5520, 3495, 735);

    OKButton = plainButton(this, "OKButton");
    placeTwips(OKButton, 7080, 120, 1215, 375);
    connect(OKButton, &QPushButton::clicked, this, &dlgPort::OKButton_Click);

    cmdCancel = plainButton(this, "cmdCancel");
    placeTwips(cmdCancel, 7080, 720, 1215, 375);
    connect(cmdCancel, &QPushButton::clicked, this, &dlgPort::cmdCancel_Click);

    // The keyboard's way through: the address, the switches left to right,
    // then the buttons.
    QWidget* previous = txtPort;
    for (int i = 0; i < DipSwitches::count; ++i) {
        for (QWidget* picture : {static_cast<QWidget*>(DIP[i]), static_cast<QWidget*>(DIPoff[i])}) {
            setTabOrder(previous, picture);
            previous = picture;
        }
    }
    for (QWidget* b : {btnTest, OKButton, cmdCancel}) {
        setTabOrder(previous, b);
        previous = b;
    }
}

void dlgPort::showEvent(QShowEvent* event)
{
    if (!loaded_) {
        loaded_ = true;
        Form_Load();
    }
    QDialog::showEvent(event);
}

void dlgPort::Form_Load()
{
    setWindowTitle(loadText(200));
    lblPortInstructions->setText(loadText(201));
    lblPortAddress->setText(loadText(202));
    lblSwitchHdr1->setText(loadText(203));
    lblSwitchHdr2->setText(loadText(204));
    lblSwitchInstructions->setText(loadText(205));
    btnTest->setText(loadText(206));
    lblPicture->setText(loadText(207));
    OKButton->setText(loadText(208));
    cmdCancel->setText(loadText(209));

    newBase_ = host_.base();
    if (newBase_ == 0)
        newBase_ = DipSwitches::defaultPort;
    setPortText(portText(newBase_));
    showSwitches();
    // Whatever the address, a fresh dialog offers the test.
    btnTest->setEnabled(true);
    OKButton->setEnabled(false);
}

void dlgPort::setPortText(const QString& text)
{
    if (txtPort->text() == text)
        return;
    txtPort->setText(text);
    txtPort_Change();
}

void dlgPort::txtPort_Change()
{
    showSwitches();
    OKButton->setEnabled(false);
    btnTest->setEnabled(isTestablePort(newBase_));
}

void dlgPort::showSwitches()
{
    const DipSwitches switches = DipSwitches::fromAddress(newBase_);
    for (int i = 0; i < DipSwitches::count; ++i)
        showSwitch(i, switches.isOn(i));
}

void dlgPort::showSwitch(int index, bool on)
{
    PictureButton* shown = on ? DIP[index] : DIPoff[index];
    PictureButton* hidden = on ? DIPoff[index] : DIP[index];
    // A switch that has the keyboard focus keeps it across the change of picture.
    const bool focused = focusWidget() == hidden;
    hidden->hide();
    shown->show();
    if (focused)
        shown->setFocus(Qt::OtherFocusReason);
}

void dlgPort::readSwitches()
{
    DipSwitches switches;
    for (int i = 0; i < DipSwitches::count; ++i)
        switches.setOn(i, !DIP[i]->isHidden());
    newBase_ = switches.address();
    setPortText(portText(newBase_));
}

void dlgPort::stepAddress(bool up)
{
    newBase_ = stepPort(newBase_, up);
    setPortText(portText(newBase_));
}

void dlgPort::UpDown1_UpClick() { stepAddress(true); }

void dlgPort::UpDown1_DownClick() { stepAddress(false); }

void dlgPort::DIP_Click(int index)
{
    showSwitch(index, false);
    readSwitches();
}

void dlgPort::DIPoff_Click(int index)
{
    showSwitch(index, true);
    readSwitches();
}

void dlgPort::btnTest_Click()
{
    if (host_.testHead(newBase_) != 0)
        return;  // the test has shown its own message
    btnTest->setEnabled(false);
    OKButton->setEnabled(true);
    showMessage(loadText(210));
}

void dlgPort::OKButton_Click()
{
    host_.storePort(newBase_);
    host_.setBase(newBase_);
    done(QDialog::Accepted);  // hidden, still loaded
}

void dlgPort::cmdCancel_Click()
{
    loaded_ = false;
    done(QDialog::Rejected);
}

void dlgPort::reject() { cmdCancel_Click(); }

void dlgPort::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();  // no default or cancel button here
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void dlgPort::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    // The arrow from the switch drawing to the photograph.
    const double dpi = logicalDpi(this);
    auto pt = [dpi](int x, int y) { return QPointF(twipsToPx(x, dpi), twipsToPx(y, dpi)); };
    auto pen = [dpi](int pixels) {
        return QPen(Qt::black, std::max(1L, std::lround(pixels * dpi / 96.0)), Qt::SolidLine, Qt::SquareCap);
    };
    QPainter p(this);
    p.setPen(pen(2));
    p.drawLine(pt(2640, 3600), pt(3360, 3600));  // Line1
    p.setPen(pen(3));
    p.drawLine(pt(3240, 3480), pt(3360, 3600));  // Line2
    p.drawLine(pt(3240, 3720), pt(3360, 3600));  // Line3
}

} // namespace kalvor
