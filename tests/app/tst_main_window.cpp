// The main window frmKALVOR: start-up (Form_Load) against the simulated reader
// with the port dialog replaced by a hook, its menus and layout, and the
// orderly shut-down (Form_Unload). endProgram throws ProgramEnded here.
#include "app/MainWindow.h"
#include "core/MessageCatalog.h"
#include "core/MessageSink.h"
#include "app/ProgramEnd.h"
#include "app/Reader.h"
#include "core/SettingsStore.h"
#include "hw/sim/SimulatedCard.h"
#include "support/RecordingPort.h"
#include "support/TempSettings.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QtTest>

#include <cmath>
#include <memory>
#include <vector>

using namespace kalvor;

namespace {


class CountingReader : public Reader {
public:
    using Reader::Reader;
    QList<std::int16_t> tested;
    int testHead(std::int16_t testPort) override
    {
        tested.append(testPort);
        return Reader::testHead(testPort);
    }
};

// One program's worth of objects around a fresh settings file.
struct Rig {
    test::TempSettings tmp;
    RecordingMessageSink messages;
    sim::SimulatedCard card;
    test::RecordingPort io{card}; // every access on its way to the card
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<LinkTopic> data{createDataTopic(nullptr)};
    std::unique_ptr<CountingReader> reader;
    std::unique_ptr<frmKALVOR> window;
    int portDialogs = 0;
    std::function<void()> portDialog; // what the "user" does in the dialog

    explicit Rig(const QByteArray& settingsText)
    {
        tmp.writeFileText(settingsText);
        settings = std::make_unique<SettingsStore>(tmp.filePath());
        reader = std::make_unique<CountingReader>(io, *settings, *data);
        window = std::make_unique<frmKALVOR>(*reader);
        reader->formUnload = [this](int cancel) { window->Form_Unload(cancel); };
        window->showPortDialog = [this] {
            ++portDialogs;
            if (portDialog)
                portDialog();
        };
    }
    ~Rig()
    {
        reader->tmrRead.stop();
        reader->tmrDelayZero.stop();
    }
    QString stored(const QString& key)
    {
        settings->sync();
        return SettingsStore(tmp.filePath()).readSetting(key, QStringLiteral("<absent>"));
    }
    // The keys in the settings file, as a sorted list.
    QStringList storedKeys()
    {
        settings->sync();
        QSettings file(tmp.filePath(), QSettings::IniFormat);
        QStringList k = file.allKeys();
        k.sort();
        return k;
    }
};

const QByteArray kPort768 = "[Properties]\nPort=768\n";

double dpiOf(const QWidget& w) { return w.logicalDpiX(); }
double pxToTw(double px, const QWidget& w) { return px * 1440.0 / dpiOf(w); }
int twToPx(double tw, const QWidget& w) { return int(std::lround(tw * dpiOf(w) / 1440.0)); }

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        setEndProgramHandler([](int s) { throw ProgramEnded{s}; });
        clearEndProgramSteps();
    }

    void storedPortStartsWithoutDialogAndSetsMenus()
    {
        Rig r(kPort768);
        r.window->Form_Load();

        QCOMPARE(r.portDialogs, 0);
        QCOMPARE(r.reader->tested, QList<std::int16_t>{0x300});
        QCOMPARE(r.reader->state.base, std::int16_t(0x300));
        QVERIFY2(r.messages.messages.isEmpty(), qPrintable(r.messages.messages.join('|')));
        QCOMPARE(r.window->windowTitle(), QStringLiteral("KALVOR"));
        QCOMPARE(r.window->WL->text(), QStringLiteral("510 nm"));
        QCOMPARE(r.window->A->text(), QStringLiteral("Zeroing"));
        QCOMPARE(r.data->text(item::lblA1), QStringLiteral("510 nm"));
        QCOMPARE(r.data->text(item::lblA2), QStringLiteral("600 nm"));
        QCOMPARE(r.stored(keys::Display), QStringLiteral("Primary"));
        // The wavelength choice wrote Control 0x02 through; the zero is pending.
        QVERIFY(!r.io.controlWrites().empty());
        QCOMPARE(int(r.io.controlWrites().back().port), 0x303);
        QCOMPARE(int(r.io.controlWrites().back().value), 0x02);
        QVERIFY(r.reader->tmrDelayZero.isActive());
        QVERIFY(!r.reader->tmrRead.isActive());

        // Menu bar and menus, in order.
        QStringList bar;
        for (QAction* a : r.window->menuBar()->actions())
            bar << a->text();
        QCOMPARE(bar, (QStringList{"&File", "&Setup", "&Help"}));
        QCOMPARE(r.window->mnuFile->actions(), QList<QAction*>{r.window->mnuExit});
        QCOMPARE(r.window->mnuExit->text(), QStringLiteral("E&xit"));
        const QList<QAction*> setup = r.window->mnuSetup->actions();
        QCOMPARE(setup.size(), 5);
        QCOMPARE(setup[0], r.window->mnuNDF);
        QCOMPARE(setup[1], r.window->mnuZero);
        QVERIFY(setup[2]->isSeparator());
        QCOMPARE(setup[3]->menu(), r.window->mnuDisplay);
        QCOMPARE(setup[4], r.window->mnuPort);
        QCOMPARE(r.window->mnuNDF->text(), QStringLiteral("&Neutral Density Filter Check"));
        QCOMPARE(r.window->mnuZero->text(), QStringLiteral("&Zero"));
        QCOMPARE(r.window->mnuDisplay->title(), QStringLiteral("&Wavelength"));
        QCOMPARE(r.window->mnuPort->text(), QStringLiteral("&Port"));
        QCOMPARE(r.window->mnuNDF->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
        QCOMPARE(r.window->mnuZero->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Z));
        QCOMPARE(r.window->mnuDisplay->actions(),
                 (QList<QAction*>{r.window->mnuPrimary, r.window->mnuSecondary}));
        QCOMPARE(r.window->mnuPrimary->text(), QStringLiteral("510 nm"));
        QCOMPARE(r.window->mnuSecondary->text(), QStringLiteral("600 nm"));
        QVERIFY(r.window->mnuPrimary->isChecked());
        QVERIFY(!r.window->mnuSecondary->isChecked());
        QCOMPARE(r.window->mnuHelpDrop->actions(), (QList<QAction*>{r.window->mnuHelp, r.window->mnuAbout}));
        QCOMPARE(r.window->mnuHelp->text(), QStringLiteral("&Help on KALVOR software"));
        QVERIFY(!r.window->mnuHelp->isEnabled());
        QCOMPARE(r.window->mnuAbout->text(), QStringLiteral("&About KALVOR software"));

        // The wavelength items drive the reader and the window follows.
        r.window->mnuSecondary->trigger();
        QVERIFY(r.window->mnuSecondary->isChecked());
        QVERIFY(!r.window->mnuPrimary->isChecked());
        QCOMPARE(r.window->WL->text(), QStringLiteral("600 nm"));
        QCOMPARE(int(r.io.controlWrites().back().value), 0x07);
    }

    void displayOtherThanExactlyPrimarySelectsSecondary()
    {
        Rig r(kPort768 + "Display=primary\n");
        r.window->Form_Load();
        QVERIFY(r.window->mnuSecondary->isChecked());
        QVERIFY(!r.window->mnuPrimary->isChecked());
        QCOMPARE(r.window->WL->text(), QStringLiteral("600 nm"));
        QCOMPARE(int(r.io.controlWrites().back().value), 0x07);
        QCOMPARE(r.stored(keys::Display), QStringLiteral("Secondary"));
    }

    void windowIsPlacedFromTheStoredPosition()
    {
        {
            Rig r(kPort768);
            r.window->Form_Load();
            QCOMPARE(r.window->positionTwips(), QPointF(100, 100));
            QCOMPARE(r.window->frameGeometry().topLeft(),
                     QPoint(twToPx(100, *r.window), twToPx(100, *r.window)));
        }
        {
            Rig r(kPort768 + "ScreenLeft=-500\nScreenTop=300\n");
            r.window->Form_Load();
            QCOMPARE(r.window->positionTwips(), QPointF(-500, 300));
        }
        {
            Rig r(kPort768 + "ScreenLeft=1000000\nScreenTop=1000000\n");
            r.window->Form_Load();
            const QRect screen = r.window->screen()->geometry();
            const QPointF p = r.window->positionTwips();
            const double width = pxToTw(r.window->frameGeometry().width(), *r.window);
            const double height = pxToTw(r.window->frameGeometry().height(), *r.window);
            QVERIFY2(std::fabs(p.x() + width - pxToTw(screen.width(), *r.window)) < 0.01,
                     qPrintable(QString::number(p.x())));
            QVERIFY2(std::fabs(p.y() + height - pxToTw(screen.height(), *r.window)) < 0.01,
                     qPrintable(QString::number(p.y())));
        }
    }

    void firstStartShowsPortDialogAndRunsNoSecondTest()
    {
        Rig r("");
        r.portDialog = [&r] {
            // The dialog tests the address itself and stores it on Accept.
            QCOMPARE(r.reader->testHead(0x300), 0);
            r.reader->setBase(0x300);
            r.reader->storePort(0x300);
        };
        r.window->Form_Load();
        QCOMPARE(r.portDialogs, 1);
        QCOMPARE(r.reader->tested, QList<std::int16_t>{0x300}); // the dialog's own test only
        QCOMPARE(r.window->WL->text(), QStringLiteral("510 nm"));
        QCOMPARE(r.stored(keys::Port), QStringLiteral("768"));
        QVERIFY(r.reader->tmrDelayZero.isActive());
    }

    void firstStartWithoutAnAddressEndsTouchingNothing()
    {
        Rig r("");
        QVERIFY_THROWS_EXCEPTION(ProgramEnded, r.window->Form_Load());
        QCOMPARE(r.portDialogs, 1);
        QVERIFY(r.reader->tested.isEmpty());
        QCOMPARE(int(r.io.accesses().size()), 0);
        QCOMPARE(r.storedKeys(), QStringList{});
        QVERIFY(!r.reader->tmrDelayZero.isActive());
        QVERIFY(!r.reader->tmrRead.isActive());
    }

    void failedHeadTestOffersTheDialogThenTestsAgain()
    {
        // The user corrects the address in the dialog.
        Rig r(kPort768);
        r.card.setAddress(0x2A0);
        r.portDialog = [&r] { r.reader->setBase(0x2A0); };
        r.window->Form_Load();
        QCOMPARE(r.portDialogs, 1);
        QCOMPARE(r.reader->tested, (QList<std::int16_t>{0x300, 0x2A0}));
        // Nothing drives the bus at 0x300: the status reads 0xFF and the image is no KALVOR's.
        QCOMPARE(r.messages.messages,
                 QStringList{loadText(1003) + QStringLiteral("  ") + loadText(1005) + QStringLiteral(" &H300")});
        QCOMPARE(r.window->WL->text(), QStringLiteral("510 nm"));
        QCOMPARE(int(r.io.controlWrites().back().port), 0x2A3);
    }

    void secondFailedHeadTestEndsWithNothingStored()
    {
        Rig r(kPort768);
        r.card.setHeadConnected(false);
        QVERIFY_THROWS_EXCEPTION(ProgramEnded, r.window->Form_Load());
        QCOMPARE(r.portDialogs, 1);
        QCOMPARE(r.reader->tested, (QList<std::int16_t>{0x300, 0x300}));
        const QString failed = loadText(1003) + QStringLiteral("  ") + loadText(1005) + QStringLiteral(" &H300");
        QCOMPARE(r.messages.messages, (QStringList{failed, failed, loadText(1006)}));
        QCOMPARE(r.storedKeys(), QStringList{"Properties/Port"});
        QVERIFY(!r.reader->tmrDelayZero.isActive());
        // The head test left Control in place; no shut-down cleared it.
        QCOMPARE(int(r.io.controlWrites().back().value), 0x02);
    }

    void unreadablePortSettingStopsBeforeAnything()
    {
        Rig r("[Properties]\nPort=abc\n");
        QVERIFY_THROWS_EXCEPTION(SettingsError, r.window->Form_Load());
        QCOMPARE(r.portDialogs, 0);
        QCOMPARE(int(r.io.accesses().size()), 0);
        QCOMPARE(r.storedKeys(), QStringList{"Properties/Port"});
        QCOMPARE(r.stored(keys::Port), QStringLiteral("abc"));
    }

    void unloadClearsTheRegisterAndStoresPositionAndGain()
    {
        Rig r(kPort768 + "Display=Secondary\n");
        r.window->Form_Load();
        r.reader->tmrDelayZero_Timer();
        r.reader->tmrDelayZero_Timer(); // zero taken: Control 0x03, reading
        r.window->setPositionTwips(1200, 900);
        const std::uint8_t control = r.reader->state.Control;
        r.io.clearLog();

        QVERIFY_THROWS_EXCEPTION(ProgramEnded, r.window->Form_Unload(0));
        QCOMPARE(r.io.controlWrites().size(), size_t(1));
        QCOMPARE(int(r.io.controlWrites()[0].port), 0x303);
        QCOMPARE(int(r.io.controlWrites()[0].value), 0);
        QCOMPARE(r.reader->state.Control, control);
        QCOMPARE(r.stored(keys::ScreenLeft), QStringLiteral("1200"));
        QCOMPARE(r.stored(keys::ScreenTop), QStringLiteral("900"));
        QCOMPARE(r.stored(QStringLiteral("GainSN1500")), QStringLiteral("1.9"));
        QVERIFY(!r.reader->tmrRead.isActive());
        QVERIFY(!r.reader->tmrDelayZero.isActive());

        // File > Exit leaves the same settings behind, with a window moved in pixels.
        Rig e(kPort768);
        e.window->Form_Load();
        e.window->move(30, 45);
        QVERIFY_THROWS_EXCEPTION(ProgramEnded, e.window->mnuExit_Click());
        QCOMPARE(e.stored(keys::ScreenLeft).toDouble(), pxToTw(30, *e.window));
        QCOMPARE(e.stored(keys::ScreenTop).toDouble(), pxToTw(45, *e.window));
        QCOMPARE(e.stored(QStringLiteral("GainSN1500")), QStringLiteral("1.9"));
        QCOMPARE(int(e.io.controlWrites().back().value), 0);
    }

    void unloadWithoutAnAddressWritesNoPort()
    {
        Rig r(kPort768);
        QCOMPARE(r.reader->state.base, std::int16_t(0)); // not loaded: no address known
        QVERIFY_THROWS_EXCEPTION(ProgramEnded, r.window->Form_Unload(0));
        QCOMPARE(int(r.io.accesses().size()), 0);
        // No identity was read: the gain goes under the bare key.
        QVERIFY(r.stored(QStringLiteral("GainSN")) != QStringLiteral("<absent>"));
    }

    void clientAreaIsFixedInTwips()
    {
        Rig r(kPort768);
        r.window->Form_Load();
        r.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(r.window.get()));
        QWidget* client = r.window->centralWidget();
        QCOMPARE(client->size(), QSize(twToPx(2910, *r.window), twToPx(1065, *r.window)));
        // Below a menu bar of its full height with the titles in it, and
        // nothing of the client area cut off at the bottom.
        QMenuBar* bar = r.window->menuBar();
        QVERIFY(bar->height() >= bar->fontMetrics().height());
        QCOMPARE(bar->height(), bar->heightForWidth(client->width()));
        QCOMPARE(client->y(), bar->height());
        QCOMPARE(r.window->height(), bar->height() + client->height());
        QCOMPARE(r.window->minimumSize(), r.window->maximumSize());
        const Qt::WindowFlags flags = r.window->windowFlags();
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        r.window->resize(r.window->width() + 50, r.window->height() + 50);
        QCOMPARE(client->size(), QSize(twToPx(2910, *r.window), twToPx(1065, *r.window)));
        r.window->hide();
    }

    void cleanupTestCase() { setEndProgramHandler({}); }
};

QTEST_MAIN(MainWindowTest)
#include "tst_main_window.moc"
