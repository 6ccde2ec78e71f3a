#include "app/MainWindow.h"

#include "about/ProgramIcon.h"
#include "ui/Fonts.h"
#include "core/MessageCatalog.h"
#include "core/MessageSink.h"
#include "app/ProgramEnd.h"
#include "core/SettingsStore.h"
#include "ui/Twips.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScopedValueRollback>
#include <QScreen>
#include <QWindow>

#include <algorithm>

namespace kalvor {

namespace {
constexpr int kClientWidthTwips = 2910;
constexpr int kClientHeightTwips = 1065;
} // namespace

frmKALVOR::frmKALVOR(Reader& reader, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                              | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      reader_(reader)
{
    setObjectName(QStringLiteral("frmKALVOR"));
    setWindowTitle(QStringLiteral("KALVOR"));
    setWindowIcon(programIcon());

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);

    WL = new QLabel(client);
    WL->setObjectName(QStringLiteral("WL"));
    A = new QLabel(client);
    A->setObjectName(QStringLiteral("A"));
    for (QLabel* label : {WL, A}) {
        label->setFont(arialFont(12, true));
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setFocusPolicy(Qt::NoFocus);
        label->setTextInteractionFlags(Qt::NoTextInteraction);
    }
    placeTwips(WL, 120, 120, 1095, 375);
    placeTwips(A, 1320, 120, 855, 255);
    // A little wider than its twips where a stand-in font runs wide, so ">3.0"
    // and "-0.500" are never clipped.
    A->setMinimumWidth(A->fontMetrics().horizontalAdvance(QStringLiteral("-0.000 ")));

    LinkTopic& data = reader_.data();
    WL->setText(data.text(item::WL));
    A->setText(data.text(item::A));
    connect(&data, &LinkTopic::itemSet, this, [this](const QString& name, const ItemValue& v) {
        if (name == item::A)
            A->setText(v.text);
        else if (name == item::WL)
            WL->setText(v.text);
    });

    buildMenus();
    connect(&reader_, &Reader::menuChanged, this, &frmKALVOR::updateMenus);

    client->setFixedSize(twipsToPx(kClientWidthTwips, this), twipsToPx(kClientHeightTwips, this));
    fixSize();
}

void frmKALVOR::fixSize()
{
    const QSize client = centralWidget()->size();
    const int menuHeight = menuBar()->heightForWidth(client.width());
    setFixedSize(client.width(), client.height() + std::max(menuHeight, menuBar()->sizeHint().height()));
}

bool frmKALVOR::event(QEvent* event)
{
    // The menu bar asks for a new layout when its titles or its font change.
    if (event->type() == QEvent::LayoutRequest)
        fixSize();
    return QMainWindow::event(event);
}

void frmKALVOR::buildMenus()
{
    mnuFile = menuBar()->addMenu(QString());
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuExit = mnuFile->addAction(QString(), this, [this] { mnuExit_Click(); });
    mnuExit->setObjectName(QStringLiteral("mnuExit"));

    mnuSetup = menuBar()->addMenu(QString());
    mnuSetup->setObjectName(QStringLiteral("mnuSetup"));
    mnuNDF = mnuSetup->addAction(QString(), this, [this] { mnuNDF_Click(); });
    mnuNDF->setObjectName(QStringLiteral("mnuNDF"));
    mnuNDF->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    mnuZero = mnuSetup->addAction(QString(), this, [this] { reader_.mnuZero_Click(); });
    mnuZero->setObjectName(QStringLiteral("mnuZero"));
    mnuZero->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    mnuSetup->addSeparator()->setObjectName(QStringLiteral("mnuSeparator"));
    mnuDisplay = mnuSetup->addMenu(QString());
    mnuDisplay->setObjectName(QStringLiteral("mnuDisplay"));
    mnuPrimary = mnuDisplay->addAction(loadText(116), this, [this] { reader_.mnuPrimary_Click(); });
    mnuPrimary->setObjectName(QStringLiteral("mnuPrimary"));
    mnuSecondary = mnuDisplay->addAction(loadText(119), this, [this] { reader_.mnuSecondary_Click(); });
    mnuSecondary->setObjectName(QStringLiteral("mnuSecondary"));
    for (QAction* a : {mnuPrimary, mnuSecondary})
        a->setCheckable(true);
    mnuPort = mnuSetup->addAction(QString(), this, [this] { mnuPort_Click(); });
    mnuPort->setObjectName(QStringLiteral("mnuPort"));

    mnuHelpDrop = menuBar()->addMenu(QString());
    mnuHelpDrop->setObjectName(QStringLiteral("mnuHelpDrop"));
    mnuHelp = mnuHelpDrop->addAction(QString());
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    // Shown with its key, greyed: there is no help file, and F1 does nothing.
    mnuHelp->setShortcut(QKeySequence(Qt::Key_F1));
    mnuHelp->setEnabled(false);
    mnuAbout = mnuHelpDrop->addAction(QString(), this, [this] { mnuAbout_Click(); });
    mnuAbout->setObjectName(QStringLiteral("mnuAbout"));
}

void frmKALVOR::updateMenus()
{
    mnuPrimary->setText(reader_.mnuPrimaryCaption().isEmpty() ? loadText(116) : reader_.mnuPrimaryCaption());
    mnuSecondary->setText(reader_.mnuSecondaryCaption().isEmpty() ? loadText(119) : reader_.mnuSecondaryCaption());
    mnuPrimary->setChecked(reader_.primaryChecked());
    mnuSecondary->setChecked(reader_.secondaryChecked());
}

QPointF frmKALVOR::positionTwips() const
{
    const QPoint p = frameGeometry().topLeft();
    // Unmoved since it was placed: the position as given, without the
    // rounding of twips to whole pixels and back.
    if (placed_ && standsWherePlaced(placedPx_, p, devicePixelRatioF()))
        return placedTwips_;
    const double dpi = logicalDpi(this);
    return {pxToTwips(p.x(), dpi), pxToTwips(p.y(), dpi)};
}

void frmKALVOR::setPositionTwips(float left, float top)
{
    const double dpi = logicalDpi(this);
    move(twipsToPx(left, dpi), twipsToPx(top, dpi));
    placed_ = true;
    placedPx_ = frameGeometry().topLeft();
    placedTwips_ = QPointF(left, top);
}

void frmKALVOR::firstTime()
{
    if (showPortDialog)
        showPortDialog();
}

void frmKALVOR::Form_Load()
{
    ReaderState& s = reader_.state;
    SettingsStore& settings = reader_.settings();

    s.base = settings.port();

    stored_.left = settings.screenLeft();
    stored_.top = settings.screenTop();
    placeOnScreen();

    s.Control = 0x02;

    if (s.base == 0) {
        firstTime();
        if (s.base == 0) {
            // The first-start dialog closed without an address: nothing to drive.
            showMessage(QStringLiteral("No reader address was set, so KALVOR has no card to read and ends now. "
                                       "Start KALVOR again to set the port address."));
            endProgram(exitcode::NoAddress);
        }
    } else if (reader_.testHead(s.base) != 0) {
        if (showPortDialog)
            showPortDialog();
        if (reader_.testHead(s.base) != 0) {
            showMessage(loadText(1006));
            endProgram(exitcode::HeadTestFailed);
        }
    }

    reader_.parseEEPROM();

    if (settings.display() == QStringLiteral("Primary"))
        reader_.mnuPrimary_Click();
    else
        reader_.mnuSecondary_Click();

    mnuFile->setTitle(loadText(100));
    mnuExit->setText(loadText(101));
    mnuSetup->setTitle(loadText(110));
    mnuNDF->setText(loadText(113));
    mnuZero->setText(loadText(114));
    mnuDisplay->setTitle(loadText(115));
    mnuPort->setText(loadText(118));
    mnuHelpDrop->setTitle(loadText(120));
    mnuHelp->setText(loadText(121));
    mnuAbout->setText(loadText(122));
    updateMenus();
    // The menu bar has its titles now: the window takes its full height, and
    // the keep-on-screen rule is applied to that height.
    fixSize();
    placeOnScreen();
}

void frmKALVOR::placeOnScreen()
{
    const double dpi = logicalDpi(this);
    const QRect screen = (this->screen() ? this->screen() : QGuiApplication::primaryScreen())->geometry();
    const QRect outer = frameGeometry();
    const TwipsPosition p = keepOnScreen(stored_, float(pxToTwips(outer.width(), dpi)),
                                         float(pxToTwips(outer.height(), dpi)), float(pxToTwips(screen.width(), dpi)),
                                         float(pxToTwips(screen.height(), dpi)));
    setPositionTwips(p.left, p.top);
}

void frmKALVOR::showEvent(QShowEvent* event)
{
    // Until the window is mapped the window system's frame is unknown: the
    // keep-on-screen rule runs once more when it is first exposed.
    if (!framePlaced_ && windowHandle())
        windowHandle()->installEventFilter(this);
    QMainWindow::showEvent(event);
}

bool frmKALVOR::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == windowHandle() && event->type() == QEvent::Expose && windowHandle()->isExposed()
        && !framePlaced_) {
        framePlaced_ = true;
        windowHandle()->removeEventFilter(this);
        // Before the user can have moved it: placed with its real outer size.
        if (placed_ && standsWherePlaced(placedPx_, frameGeometry().topLeft(), devicePixelRatioF()))
            placeOnScreen();
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmKALVOR::Form_Unload(int cancel)
{
    reader_.tmrRead.stop();
    reader_.tmrDelayZero.stop();
    reader_.head.clearControlRegister();
    SettingsStore& settings = reader_.settings();
    const QPointF p = positionTwips();
    settings.setScreenPosition(float(p.x()), float(p.y()));
    settings.setGain(reader_.state.rdrSN, reader_.state.rdrGain);
    settings.sync();
    // The argument is no refusal (closing cannot be refused); it tells how the
    // program ends: 1007 is the card that stopped answering.
    endProgram(cancel == 1007 ? exitcode::CardFailed : exitcode::Ok);
}

void frmKALVOR::closeEvent(QCloseEvent* event)
{
    event->ignore();
    Form_Unload(0);
}

void frmKALVOR::mnuNDF_Click()
{
    const QScopedValueRollback<bool> checking(reader_.filterCheckOpen, true);
    reader_.tmrRead.stop();
    showMessage(loadText(309));
    if (showNdfDialog)
        showNdfDialog();
    showMessage(loadText(310));
    reader_.armDelayZero();
}

void frmKALVOR::mnuPort_Click()
{
    if (showPortDialog)
        showPortDialog();
}

void frmKALVOR::mnuAbout_Click()
{
    if (showAbout)
        showAbout();
}

} // namespace kalvor
