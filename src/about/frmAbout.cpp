#include "about/frmAbout.h"

#include "core/MessageCatalog.h"
#include "ui/Fonts.h"
#include "ui/Twips.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include <algorithm>

namespace kalvor {

namespace {

constexpr double kClientWidth = 5730;
constexpr double kClientHeight = 3555;
constexpr double kEmblemTwips = 480; // 32 pixels at 96 dpi

frmAbout* g_instance = nullptr;

QLabel* makeLabel(QWidget* parent, const char* name, double left, double top, double width, double height,
                  bool black)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
    if (black) {
        QPalette pal = label->palette();
        pal.setColor(QPalette::WindowText, Qt::black);
        label->setPalette(pal);
    }
    placeTwips(label, left, top, width, height);
    return label;
}

// A horizontal line of the etched separator, as a filled strip of pixels.
QWidget* makeLine(QWidget* parent, const char* name, double x1, double x2, double y, int widthPx, QColor colour)
{
    auto* line = new QWidget(parent);
    line->setObjectName(QLatin1String(name));
    line->setAutoFillBackground(true);
    QPalette pal = line->palette();
    pal.setColor(QPalette::Window, colour);
    line->setPalette(pal);
    const double dpi = logicalDpi(parent);
    const int left = twipsToPx(x1, dpi);
    const int thickness = std::max(1, int(std::lround(widthPx * dpi / 96.0)));
    line->setGeometry(left, twipsToPx(y, dpi), twipsToPx(x2, dpi) - left + 1, thickness);
    return line;
}

} // namespace

void frmAbout::showAbout()
{
    if (g_instance && g_instance->isVisible()) {
        g_instance->raise();
        g_instance->activateWindow();
        return;
    }
    // Not loaded, or closed and about to go: load a new box.
    g_instance = new frmAbout;
    g_instance->show();
    g_instance->activateWindow();
}

frmAbout* frmAbout::instance() { return g_instance; }

QString frmAbout::emblemPath() { return QStringLiteral(":/kalvor/about/emblem.png"); }

frmAbout::frmAbout()
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                           | Qt::MSWindowsFixedSizeDialogHint)
{
    // A parentless dialog is transient for the program's group on X11, so the
    // taskbar leaves it out. Closing unloads it; it never keeps the program
    // running on its own.
    setObjectName(QStringLiteral("frmAbout"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose, false);
    setFont(dialogFont());
    const double dpi = logicalDpi(this);
    setFixedSize(twipsToPx(kClientWidth, dpi), twipsToPx(kClientHeight, dpi));
    buildControls();
    Form_Load();
}

frmAbout::~frmAbout()
{
    if (g_instance == this)
        g_instance = nullptr;
}

void frmAbout::buildControls()
{
    const double dpi = logicalDpi(this);

    picIcon = new QLabel(this);
    picIcon->setObjectName(QStringLiteral("picIcon"));
    picIcon->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    QPixmap emblem(emblemPath());
    const int side = twipsToPx(kEmblemTwips, dpi);
    if (!emblem.isNull() && emblem.width() != side)
        emblem = emblem.scaled(side, side, Qt::KeepAspectRatio, Qt::FastTransformation);
    picIcon->setPixmap(emblem);
    // The picture control sizes itself to the picture plus its border.
    const int border = picIcon->frameWidth();
    picIcon->setGeometry(twipsToPx(240, dpi), twipsToPx(240, dpi), emblem.width() + 2 * border,
                         emblem.height() + 2 * border);

    lblTitle = makeLabel(this, "lblTitle", 1050, 240, 3885, 480, true);
    lblVersion = makeLabel(this, "lblVersion", 1050, 780, 3885, 225, false);
    lblDescription = makeLabel(this, "lblDescription", 1050, 1125, 3885, 1170, true);
    Line1_1 = makeLine(this, "Line1_1", 90, 5654, 2445, 1, QColor(0x80, 0x80, 0x80));
    Line1_0 = makeLine(this, "Line1_0", 105, 5654, 2460, 2, QColor(0xFF, 0xFF, 0xFF));
    lblDisclaimer = makeLabel(this, "lblDisclaimer", 255, 2625, 3870, 825, true);

    cmdOK = new QPushButton(this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    placeTwips(cmdOK, 4245, 2625, 1260, 345);
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    cmdOK->setFocus();
}

void frmAbout::Form_Load()
{
    setWindowTitle(loadText(400));
    lblTitle->setText(loadText(401));
    lblVersion->setText(loadText(402));
    lblDescription->setText(loadText(403));
    lblDisclaimer->setText(loadText(404));
    cmdOK->setText(loadText(405));
}

void frmAbout::cmdOK_Click() { close(); }

void frmAbout::keyPressEvent(QKeyEvent* event)
{
    // OK is the cancel button as well as the default one.
    if (event->matches(QKeySequence::Cancel)) {
        cmdOK->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace kalvor
