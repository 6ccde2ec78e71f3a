// The port setup dialog driven through its controls, with a fake main window
// (recording host) and a recording message sink.
#include "core/MessageCatalog.h"
#include "core/MessageSink.h"
#include "ui/Twips.h"
#include "portsetup/DipSwitches.h"
#include "portsetup/PictureButton.h"
#include "portsetup/PortDialogController.h"
#include "portsetup/PortDialogHost.h"
#include "portsetup/SpinButtons.h"
#include "portsetup/dlgPort.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <functional>

using namespace kalvor;

namespace {

class FakeHost : public PortDialogHost {
public:
    std::int16_t baseValue = 0;
    int testResult = 0;  // what testHead answers
    QList<std::int16_t> tested;
    QList<std::int16_t> stored;
    QList<std::int16_t> setBases;

    std::int16_t base() const override { return baseValue; }
    void setBase(std::int16_t b) override
    {
        setBases.append(b);
        baseValue = b;
    }
    int testHead(std::int16_t testPort) override
    {
        tested.append(testPort);
        if (testResult != 0)
            showMessage(QStringLiteral("head test failed at %1").arg(testPort));
        return testResult;
    }
    void storePort(std::int16_t p) override { stored.append(p); }
};

QLabel* txtPort(QWidget& d) { return d.findChild<QLabel*>(QStringLiteral("txtPort")); }
QPushButton* button(QWidget& d, const char* name) { return d.findChild<QPushButton*>(QString::fromLatin1(name)); }
QString shown(QWidget& d) { return txtPort(d)->text(); }
bool testEnabled(QWidget& d) { return button(d, "btnTest")->isEnabled(); }
bool acceptEnabled(QWidget& d) { return button(d, "OKButton")->isEnabled(); }

PictureButton* onPicture(QWidget& d, int i) { return d.findChild<PictureButton*>(QStringLiteral("DIP%1").arg(i)); }
PictureButton* offPicture(QWidget& d, int i) { return d.findChild<PictureButton*>(QStringLiteral("DIPoff%1").arg(i)); }

// The switch states as shown, as a string "1" = on, left to right. Fails the
// test when a pair does not show exactly one of its pictures.
QString switchesShown(QWidget& d)
{
    QString s;
    for (int i = 0; i < 7; ++i) {
        const bool on = !onPicture(d, i)->isHidden();
        const bool off = !offPicture(d, i)->isHidden();
        if (on == off)
            return QStringLiteral("pair %1 shows %2 pictures").arg(i).arg(on ? 2 : 0);
        s += on ? QLatin1Char('1') : QLatin1Char('0');
    }
    return s;
}

// Clicks switch i, whichever picture of it is showing.
void clickSwitch(QWidget& d, int i)
{
    PictureButton* picture = onPicture(d, i)->isHidden() ? offPicture(d, i) : onPicture(d, i);
    QTest::mouseClick(picture, Qt::LeftButton);
}

SpinButtons* spin(QWidget& d) { return d.findChild<SpinButtons*>(QStringLiteral("UpDown1")); }
void up(QWidget& d) { QTest::mouseClick(spin(d)->upButton(), Qt::LeftButton); }
void down(QWidget& d) { QTest::mouseClick(spin(d)->downButton(), Qt::LeftButton); }

} // namespace

class TestPortDialog : public QObject {
    Q_OBJECT

private:
    FakeHost* host = nullptr;
    RecordingMessageSink* sink = nullptr;
    dlgPort* dialog = nullptr;

    // Opens a fresh dialog (not modal) on a main window whose base is `base`.
    dlgPort& open(std::int16_t base)
    {
        host->baseValue = base;
        dialog = new dlgPort(*host);
        dialog->show();
        if (!QTest::qWaitForWindowExposed(dialog))
            qWarning("dialog not exposed");
        return *dialog;
    }

    // Runs `action` while the controller's modal dialog is open; makes sure the
    // modal loop ends even when a check fails inside.
    void whileOpen(PortDialogController& c, std::function<void(dlgPort&)> action)
    {
        QTimer::singleShot(0, [&c, action] {
            dlgPort* d = c.dialog();
            if (d)
                action(*d);
            if (d && d->isVisible())
                d->hide();
        });
        c.show();
    }

private slots:
    void init()
    {
        host = new FakeHost;
        sink = new RecordingMessageSink;
    }
    void cleanup()
    {
        delete dialog;
        dialog = nullptr;
        delete sink;
        delete host;
    }

    void loadWithoutAddressStartsAtFactoryDefault()
    {
        dlgPort& d = open(0);
        QCOMPARE(d.windowTitle(), loadText(200));
        QCOMPARE(button(d, "btnTest")->text(), loadText(206));
        QCOMPARE(button(d, "OKButton")->text(), loadText(208));
        QCOMPARE(button(d, "cmdCancel")->text(), loadText(209));
        QCOMPARE(shown(d), QStringLiteral("300"));
        QCOMPARE(switchesShown(d), QStringLiteral("1111100"));
        QVERIFY(testEnabled(d));
        QVERIFY(!acceptEnabled(d));
        QVERIFY(d.isLoaded());
    }

    void stepAtALimitChangesNothing_data()
    {
        QTest::addColumn<int>("base");
        QTest::addColumn<bool>("goingUp");
        QTest::addColumn<QString>("text");
        QTest::newRow("up at 3E0") << 0x3E0 << true << QStringLiteral("3E0");
        QTest::newRow("down at 100") << 0x100 << false << QStringLiteral("100");
    }
    void stepAtALimitChangesNothing()
    {
        QFETCH(int, base);
        QFETCH(bool, goingUp);
        QFETCH(QString, text);
        dlgPort& d = open(std::int16_t(base));
        QTest::mouseClick(button(d, "btnTest"), Qt::LeftButton);
        QVERIFY(acceptEnabled(d));
        goingUp ? up(d) : down(d);
        QCOMPARE(shown(d), text);
        QCOMPARE(d.newBase(), std::int16_t(base));
        // The address did not change, so the passed test still stands.
        QVERIFY(acceptEnabled(d));
        QVERIFY(!testEnabled(d));
    }

    void switchClicksComposeTheAddress()
    {
        dlgPort& d = open(0x300);
        clickSwitch(d, 6);  // board switch 3 goes on
        QCOMPARE(shown(d), QStringLiteral("100"));
        QCOMPARE(switchesShown(d), QStringLiteral("1111101"));
        QVERIFY(testEnabled(d));
        QVERIFY(!acceptEnabled(d));
        clickSwitch(d, 0);  // board switch 9 goes off
        QCOMPARE(shown(d), QStringLiteral("108"));
        clickSwitch(d, 0);
        clickSwitch(d, 6);
        QCOMPARE(shown(d), QStringLiteral("300"));
    }

    void lowBitsAreDroppedByTheFirstSwitchClick()
    {
        dlgPort& d = open(0x302);
        QCOMPARE(shown(d), QStringLiteral("302"));
        QCOMPARE(switchesShown(d), QStringLiteral("1111100"));
        clickSwitch(d, 4);  // board switch 5 goes off: + 0x80
        QCOMPARE(shown(d), QStringLiteral("380"));
    }

    void addressesOutsideTheRangeCannotBeTested()
    {
        dlgPort& d = open(0x3E0);
        clickSwitch(d, 0);
        clickSwitch(d, 1);
        QCOMPARE(shown(d), QStringLiteral("3F8"));
        QCOMPARE(switchesShown(d), QStringLiteral("0000000"));
        QVERIFY(!testEnabled(d));
        QVERIFY(!acceptEnabled(d));
        down(d);
        QCOMPARE(shown(d), QStringLiteral("3E0"));
        QVERIFY(testEnabled(d));
        clickSwitch(d, 0);
        clickSwitch(d, 1);
        up(d);
        QCOMPARE(shown(d), QStringLiteral("3E0"));

        for (int i = 0; i < 7; ++i) {
            if (onPicture(d, i)->isHidden())
                clickSwitch(d, i);
        }
        QCOMPARE(shown(d), QStringLiteral("0"));
        QVERIFY(!testEnabled(d));
        up(d);
        QCOMPARE(shown(d), QStringLiteral("100"));
        QVERIFY(testEnabled(d));
        QVERIFY(sink->messages.isEmpty());
    }

    void successfulTestEnablesAccept()
    {
        dlgPort& d = open(0x300);
        bool acceptEnabledWhileBoxOpen = false;
        sink->onShow = [&](const QString&) { acceptEnabledWhileBoxOpen = acceptEnabled(d) && !testEnabled(d); };
        QTest::mouseClick(button(d, "btnTest"), Qt::LeftButton);
        QCOMPARE(host->tested, QList<std::int16_t>{0x300});
        QCOMPARE(sink->messages, QStringList{loadText(210)});
        QVERIFY(acceptEnabledWhileBoxOpen);
        QVERIFY(!testEnabled(d));
        QVERIFY(acceptEnabled(d));

        // Any change of the address asks for a new test.
        clickSwitch(d, 2);
        QVERIFY(!acceptEnabled(d));
        QVERIFY(testEnabled(d));
        QTest::mouseClick(button(d, "btnTest"), Qt::LeftButton);
        QVERIFY(acceptEnabled(d));
        up(d);
        QVERIFY(!acceptEnabled(d));
        QVERIFY(testEnabled(d));
        QCOMPARE(host->tested, (QList<std::int16_t>{0x300, 0x320}));
    }

    void failedTestChangesNothing()
    {
        dlgPort& d = open(0x2A0);
        host->testResult = 1005;
        QTest::mouseClick(button(d, "btnTest"), Qt::LeftButton);
        QCOMPARE(host->tested, QList<std::int16_t>{0x2A0});
        QCOMPARE(sink->messages.size(), 1);  // the test's own message only
        QVERIFY(sink->messages.front().startsWith(QStringLiteral("head test failed")));
        QVERIFY(testEnabled(d));
        QVERIFY(!acceptEnabled(d));
        QCOMPARE(shown(d), QStringLiteral("2A0"));
        QVERIFY(host->stored.isEmpty());
        QVERIFY(host->setBases.isEmpty());
    }

    void acceptStoresTheAddressAndHides()
    {
        dlgPort& d = open(0x300);
        down(d);  // 2F8
        for (int i = 0; i < 7; ++i) {  // compose 0x2A8 from the switches
            const bool wantOn = (0x2A8 & DipSwitches::weight(i)) == 0;
            if (wantOn == onPicture(d, i)->isHidden())
                clickSwitch(d, i);
        }
        QCOMPARE(shown(d), QStringLiteral("2A8"));
        QTest::mouseClick(button(d, "btnTest"), Qt::LeftButton);
        QTest::mouseClick(button(d, "OKButton"), Qt::LeftButton);
        QCOMPARE(host->stored, QList<std::int16_t>{680});
        QCOMPARE(host->setBases, QList<std::int16_t>{680});
        QVERIFY(!d.isVisible());
        QVERIFY(d.isLoaded());
    }

    void handEditedBaseIsShownAndTestableUntilItChanges_data()
    {
        QTest::addColumn<int>("base");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("switches");
        QTest::addColumn<QString>("afterClick");  // after clicking switch 9
        QTest::newRow("0x50") << 0x50 << QStringLiteral("50") << QStringLiteral("1010111") << QStringLiteral("58");
        QTest::newRow("32767") << 32767 << QStringLiteral("7FFF") << QStringLiteral("0000000")
                               << QStringLiteral("3F0");
    }
    void handEditedBaseIsShownAndTestableUntilItChanges()
    {
        QFETCH(int, base);
        QFETCH(QString, text);
        QFETCH(QString, switches);
        QFETCH(QString, afterClick);
        dlgPort& d = open(std::int16_t(base));
        QCOMPARE(shown(d), text);
        QCOMPARE(switchesShown(d), switches);
        QVERIFY(testEnabled(d));  // load offers the test without the range check
        QVERIFY(!acceptEnabled(d));
        QTest::mouseClick(button(d, "btnTest"), Qt::LeftButton);
        QCOMPARE(host->tested, QList<std::int16_t>{std::int16_t(base)});

        clickSwitch(d, 0);
        QCOMPARE(shown(d), afterClick);
        QVERIFY(!testEnabled(d));
        QVERIFY(!acceptEnabled(d));
    }

    void reopeningAfterAcceptKeepsTheState()
    {
        PortDialogController c(*host);
        host->baseValue = 0x300;
        whileOpen(c, [](dlgPort& d) {
            clickSwitch(d, 6);  // 0x100
            QTest::mouseClick(button(d, "btnTest"), Qt::LeftButton);
            QTest::mouseClick(button(d, "OKButton"), Qt::LeftButton);
        });
        QCOMPARE(host->baseValue, std::int16_t(0x100));
        QVERIFY(c.dialog());
        // If the dialog loaded again it would start from this base.
        host->baseValue = 0x200;
        QString text;
        bool acceptOn = false, testOn = true;
        QString switches;
        whileOpen(c, [&](dlgPort& d) {
            text = shown(d);
            acceptOn = acceptEnabled(d);
            testOn = testEnabled(d);
            switches = switchesShown(d);
        });
        QCOMPARE(text, QStringLiteral("100"));
        QCOMPARE(switches, QStringLiteral("1111101"));
        QVERIFY(acceptOn);
        QVERIFY(!testOn);
    }

    void reopeningAfterCancelStartsFromBase()
    {
        PortDialogController c(*host);
        host->baseValue = 0x280;
        whileOpen(c, [](dlgPort& d) {
            up(d);
            QTest::mouseClick(button(d, "btnTest"), Qt::LeftButton);
            QTest::mouseClick(button(d, "cmdCancel"), Qt::LeftButton);
        });
        QVERIFY(!c.dialog());
        QVERIFY(host->stored.isEmpty());
        QVERIFY(host->setBases.isEmpty());
        QString text;
        bool acceptOn = true;
        whileOpen(c, [&](dlgPort& d) {
            text = shown(d);
            acceptOn = acceptEnabled(d);
            d.close();  // the title bar's close: the same as Cancel
        });
        QCOMPARE(text, QStringLiteral("280"));
        QVERIFY(!acceptOn);
        QVERIFY(!c.dialog());
    }

    void accessKeysWorkAndEscapeAndEnterDoNothing()
    {
        dlgPort& d = open(0x300);
        d.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&d));

        QPushButton* focused = button(d, "btnTest");
        focused->setFocus();
        QTest::keyClick(focused, Qt::Key_Return);
        QTest::keyClick(focused, Qt::Key_Escape);
        QVERIFY(host->tested.isEmpty());
        QVERIFY(d.isVisible());
        QVERIFY(d.isLoaded());

        // An access key presses its button (with the button's short animation).
        QTest::keyClick(&d, Qt::Key_T, Qt::AltModifier);
        QTRY_COMPARE(host->tested, QList<std::int16_t>{0x300});
        QVERIFY(acceptEnabled(d));
        QTest::keyClick(&d, Qt::Key_A, Qt::AltModifier);
        QTRY_COMPARE(host->stored, QList<std::int16_t>{0x300});
        QVERIFY(!d.isVisible());

        d.show();
        d.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QTest::keyClick(&d, Qt::Key_C, Qt::AltModifier);
        QTRY_VERIFY(!d.isVisible());
        QVERIFY(!d.isLoaded());
    }

    void addressAndSwitchesChangeFromTheKeyboardAlone()
    {
        dlgPort& d = open(0x300);
        d.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        auto key = [](Qt::Key k) { QTest::keyClick(QApplication::focusWidget(), k); };

        // The address box has the focus first; Up and Down step as the spin control does.
        QCOMPARE(QApplication::focusWidget(), txtPort(d));
        key(Qt::Key_Up);
        QCOMPARE(shown(d), QStringLiteral("308"));
        key(Qt::Key_Down);
        key(Qt::Key_Down);
        QCOMPARE(shown(d), QStringLiteral("2F8"));
        key(Qt::Key_Up);
        QCOMPARE(shown(d), QStringLiteral("300"));

        // A click on a switch leaves the focus where it was.
        clickSwitch(d, 3);
        clickSwitch(d, 3);
        QCOMPARE(QApplication::focusWidget(), txtPort(d));

        // Tab reaches board switch 9; Space toggles it and the focus stays on it.
        key(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), onPicture(d, 0));
        QCOMPARE(onPicture(d, 0)->accessibleName(), QStringLiteral("DIP switch 9, on"));
        key(Qt::Key_Space);
        QCOMPARE(shown(d), QStringLiteral("308"));
        QCOMPARE(switchesShown(d), QStringLiteral("0111100"));
        QCOMPARE(QApplication::focusWidget(), offPicture(d, 0));
        QCOMPARE(offPicture(d, 0)->accessibleName(), QStringLiteral("DIP switch 9, off"));
        key(Qt::Key_Space);
        QCOMPARE(shown(d), QStringLiteral("300"));

        // Past the other six switches to Test, pressed with Space.
        for (int i = 1; i < 7; ++i) {
            key(Qt::Key_Tab);
            QVERIFY(QApplication::focusWidget() == onPicture(d, i) || QApplication::focusWidget() == offPicture(d, i));
        }
        key(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), button(d, "btnTest"));
        key(Qt::Key_Space);
        QCOMPARE(host->tested, QList<std::int16_t>{0x300});
        QVERIFY(acceptEnabled(d));
    }

    void drawsTheSwitchBlockArrowAndPhotograph()
    {
        dlgPort& d = open(0x300);
        QCoreApplication::processEvents();
        const QImage shot = d.grab().toImage();
        if (const QByteArray path = qgetenv("KALVOR_SCREENSHOT"); !path.isEmpty())
            shot.save(QString::fromLocal8Bit(path));
        // Red body between two switches, the black arrow shaft, the photograph.
        const QPoint body = twipsRect(780 + 120 + 240 + 230, 3260 + 360, 1, 1, &d).topLeft();
        QCOMPARE(QColor(shot.pixel(body)), QColor(Qt::red));
        const QPoint shaft = twipsRect(3000, 3600, 1, 1, &d).topLeft();
        QCOMPARE(QColor(shot.pixel(shaft)), QColor(Qt::black));
        QLabel* photo = d.findChild<QLabel*>(QStringLiteral("Picture1"));
        QCOMPARE(photo->pixmap().size(), QSize(300, 282));
        QCOMPARE(onPicture(d, 0)->picture().size(), QSize(16, 48));
        QCOMPARE(offPicture(d, 0)->picture().size(), QSize(16, 48));
        // The white raised half of switch 9 (on) is at the top of its picture.
        const QPoint raised = onPicture(d, 0)->mapTo(&d, QPoint(onPicture(d, 0)->width() / 2, onPicture(d, 0)->height() / 4));
        QCOMPARE(QColor(shot.pixel(raised)), QColor(Qt::white));
    }
};

QTEST_MAIN(TestPortDialog)
#include "tst_port_dialog.moc"
