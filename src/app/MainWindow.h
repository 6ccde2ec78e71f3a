#pragma once
// frmKALVOR: the small main window. It shows the wavelength and the current
// absorbance, carries the menus, and forwards every command to the Reader.
#include "app/Reader.h"
#include "app/ScreenPlacement.h"

#include <QMainWindow>
#include <functional>

class QAction;
class QLabel;
class QMenu;

namespace kalvor {

class frmKALVOR : public QMainWindow {
    Q_OBJECT
public:
    frmKALVOR(Reader& reader, QWidget* parent = nullptr);

    Reader& reader() { return reader_; }

    // Start-up: false when the program is to end without showing the window
    // (endProgram has then already been called, unless a test hook returned).
    void Form_Load();
    // The orderly shut-down: control register cleared, position and gain stored.
    [[noreturn]] void Form_Unload(int cancel);
    void mnuExit_Click() { Form_Unload(1); }

    // The windows that the Setup and Help commands open; set by the program.
    std::function<void()> showPortDialog; // modal
    std::function<void()> showNdfDialog;  // modal
    std::function<void()> showAbout;      // modeless

    void mnuNDF_Click();
    void mnuPort_Click();
    void mnuAbout_Click();

    // Window position in twips (outer frame), as stored in the settings.
    QPointF positionTwips() const;
    void setPositionTwips(float left, float top);

    // Controls, for tests.
    QLabel* WL = nullptr;
    QLabel* A = nullptr;
    QAction* mnuExit = nullptr;
    QAction* mnuNDF = nullptr;
    QAction* mnuZero = nullptr;
    QAction* mnuPrimary = nullptr;
    QAction* mnuSecondary = nullptr;
    QAction* mnuPort = nullptr;
    QAction* mnuHelp = nullptr;
    QAction* mnuAbout = nullptr;
    QMenu* mnuFile = nullptr;
    QMenu* mnuSetup = nullptr;
    QMenu* mnuDisplay = nullptr;
    QMenu* mnuHelpDrop = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenus();
    void updateMenus();
    void firstTime();
    // The client area below the menu bar is fixed in twips; the window is the
    // menu bar's height (with its titles) taller.
    void fixSize();
    // Applies the keep-on-screen rule to the stored position with the window's
    // outer size as far as it is known (the frame only once the window is
    // mapped) and moves the window there.
    void placeOnScreen();

    Reader& reader_;
    TwipsPosition stored_;
    bool placed_ = false;
    bool framePlaced_ = false;
    QPoint placedPx_;
    QPointF placedTwips_;
};

} // namespace kalvor
