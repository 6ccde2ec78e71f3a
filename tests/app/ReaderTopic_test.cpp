// Topic "reader" over the link, in-process: the reader with its window on the
// simulated card, the three topics served, readings taken by calling the
// timer handlers, and every port access recorded.
#include "app/MainWindow.h"
#include "app/ProgramEnd.h"
#include "app/ReaderTopic.h"
#include "app/SimulatorTopic.h"
#include "core/MessageSink.h"
#include "core/SettingsStore.h"
#include "hw/Registers.h"
#include "hw/sim/SimulatedCard.h"
#include "link/LinkProtocol.h"
#include "link/LinkTestSupport.h"
#include "support/RecordingPort.h"
#include "support/TempSettings.h"

#include <QElapsedTimer>

using namespace kalvor;
using kalvor::test::PortAccess;

namespace {

class ReaderLink : public linktest::LinkFixture {
protected:
    test::TempSettings tmp;
    RecordingMessageSink messages;
    sim::SimulatedCard card;
    test::RecordingPort io{card};
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<LinkTopic> dataTopic{createDataTopic(nullptr)};
    std::unique_ptr<Reader> reader;
    std::unique_ptr<ReaderTopic> topic;
    std::unique_ptr<SimulatorTopic> simTopic;
    std::unique_ptr<frmKALVOR> window;

    void SetUp() override
    {
        LinkFixture::SetUp();
        setEndProgramHandler([](int s) { throw ProgramEnded{s}; });
        clearEndProgramSteps();
        tmp.writeFileText("[Properties]\nPort=768\n");
        settings = std::make_unique<SettingsStore>(tmp.filePath());
        reader = std::make_unique<Reader>(io, *settings, *dataTopic);
        topic = std::make_unique<ReaderTopic>(*reader);
        simTopic = std::make_unique<SimulatorTopic>(card);
        window = std::make_unique<frmKALVOR>(*reader);
        reader->formUnload = [this](int cancel) { window->Form_Unload(cancel); };
        window->Form_Load();
        reader->tmrDelayZero_Timer(); // the zero
        server = std::make_unique<LinkServer>(QList<LinkTopic*>{dataTopic.get(), topic.get(), simTopic.get()});
        QString why;
        ASSERT_TRUE(server->listen(socketPath, &why)) << why.toStdString();
        io.clearLog();
    }
    void TearDown() override
    {
        reader->tmrRead.stop();
        reader->tmrDelayZero.stop();
        setEndProgramHandler({});
        LinkFixture::TearDown();
    }

    void readOnce() { reader->tmrRead_Timer(); }
    // Setup > Zero and its timer.
    void zeroNow()
    {
        reader->mnuZero_Click();
        reader->tmrDelayZero_Timer();
    }
    QString status() const { return topic->text(QStringLiteral("status")); }
    QString zeroStatus() const { return topic->text(QStringLiteral("zeroStatus")); }

    // The reply to a request, past the updates of linked items.
    static QByteArray reply(linktest::TestClient& c, const QByteArray& request)
    {
        c.sendLine(request);
        QByteArray line;
        do
            line = c.nextOrEmpty();
        while (line.startsWith("UPDATE ") || line.startsWith("CHANGED "));
        return line;
    }
    // The value of a GET, or the ERR line.
    static QString get(linktest::TestClient& c, const QByteArray& topicItem)
    {
        const QByteArray line = reply(c, "GET " + topicItem);
        const auto r = kalvor::link::parseReply(line);
        return r && r->value ? *r->value : QString::fromUtf8(line);
    }
    static QByteArray put(linktest::TestClient& c, const QByteArray& topicItem, const QByteArray& value)
    {
        return reply(c, "PUT " + topicItem + " \"" + value + "\"");
    }
    bool readingEndsWithConversion() const
    {
        return !io.accesses().empty() && io.accesses().back() == PortAccess::read(0x300, io.accesses().back().value);
    }
};

TEST_F(ReaderLink, IdentityZeroAndTheStatusOfASoundReading)
{
    auto c = client();
    EXPECT_EQ(get(*c, "reader status"), QStringLiteral("zeroing")); // zero taken, no reading yet
    EXPECT_EQ(get(*c, "reader reading"), QStringLiteral("0"));
    readOnce();
    EXPECT_EQ(get(*c, "reader model"), QStringLiteral("KALVOR"));
    EXPECT_EQ(get(*c, "reader serial"), QStringLiteral("1500"));
    EXPECT_EQ(get(*c, "reader gain"), QStringLiteral("1.9"));
    EXPECT_EQ(get(*c, "reader wavelength"), QStringLiteral("510 nm"));
    const QString zero = get(*c, "reader zero");
    EXPECT_GE(zero.size() - zero.indexOf(QLatin1Char('.')) - 1, 3) << zero.toStdString();
    EXPECT_NEAR(zero.toDouble(), 1.2, 0.005) << zero.toStdString();
    const QDateTime zeroTime = QDateTime::fromString(get(*c, "reader zeroTime"), Qt::ISODateWithMs);
    EXPECT_TRUE(zeroTime.isValid() && zeroTime.timeSpec() == Qt::UTC);
    EXPECT_LE(zeroTime.secsTo(QDateTime::currentDateTimeUtc()), 60);
    EXPECT_EQ(get(*c, "reader status"), QStringLiteral("ok"));
    EXPECT_EQ(get(*c, "reader reading"), QStringLiteral("1"));
    EXPECT_EQ(get(*c, "reader zeroStatus"), QStringLiteral("ok"));
    EXPECT_EQ(put(*c, "reader zeroTime", "1"), "ERR NOT_SUPPORTED item zeroTime of topic reader is read-only");

    reader->mnuZero_Click(); // a zero ordered: readings wait for it
    EXPECT_EQ(get(*c, "reader status"), QStringLiteral("zeroing"));
}

TEST_F(ReaderLink, EachSimulatedFaultGivesItsStateWithinTwoReadings)
{
    auto c = client();
    const struct {
        QByteArray item, fault, repair, state;
    } cases[] = {{"head", "unplugged", "connected", "flat"},
                 {"lamp", "0", "1", "flat"},
                 {"dosimeter", "3.5", "none", "over-range"},
                 {"dosimeter", "10", "none", "floor"}};
    for (const auto& f : cases) {
        ASSERT_EQ(put(*c, "simulator " + f.item, f.fault), "OK PUT simulator " + f.item);
        readOnce();
        readOnce();
        EXPECT_EQ(get(*c, "reader status"), QString::fromLatin1(f.state)) << f.item.data() << "=" << f.fault.data();
        ASSERT_EQ(put(*c, "simulator " + f.item, f.repair), "OK PUT simulator " + f.item);
        readOnce();
        readOnce();
        EXPECT_EQ(get(*c, "reader status"), QStringLiteral("ok")) << "after " << f.item.data();
    }
    card.setCardPresent(false); // every read is 0xFF: the converter's top
    readOnce();
    EXPECT_EQ(get(*c, "reader status"), QStringLiteral("ceiling"));
}

TEST_F(ReaderLink, StatusComesBeforeTheAOfItsReadingAndTellsOfAStuckConverter)
{
    auto c = client();
    for (const char* sub : {"SUB reader status", "SUB reader reading", "SUB data A"}) {
        c->sendLine(sub);
        EXPECT_TRUE(c->nextOrEmpty().startsWith("OK SUB"));
        EXPECT_TRUE(c->nextOrEmpty().startsWith("UPDATE"));
    }
    put(*c, "simulator head", "unplugged");
    readOnce();
    const QList<QByteArray> lines = c->linesBeforePong();
    ASSERT_EQ(lines.size(), 3) << lines.join('|').toStdString();
    EXPECT_TRUE(lines[0].startsWith("UPDATE reader reading ") && lines[0].endsWith(" \"1\""));
    EXPECT_TRUE(lines[1].startsWith("UPDATE reader status ") && lines[1].endsWith(" \"flat\""));
    EXPECT_TRUE(lines[2].startsWith("UPDATE data A "));

    QString statusWhileReported;
    messages.onShow = [&](const QString&) { statusWhileReported = topic->text("status"); };
    card.setAdcStuck(true);
    EXPECT_THROW(readOnce(), ProgramEnded);
    EXPECT_EQ(statusWhileReported, QStringLiteral("timeout"));
}

TEST_F(ReaderLink, SensorIsReadOnlyForItsLinksAndGets)
{
    auto c = client();
    c->sendLine("SUB reader status");
    c->sendLine("SUB data A");
    c->linesBeforePong();
    readOnce();
    EXPECT_TRUE(readingEndsWithConversion()) << "a reading without a sensor link reads more than its conversions";
    EXPECT_EQ(std::count(io.accesses().begin(), io.accesses().end(), PortAccess::write(0x301, 0x01)), 1200);

    io.clearLog();
    EXPECT_EQ(get(*c, "reader button"), QStringLiteral("0"));
    EXPECT_EQ(io.accesses(), std::vector<PortAccess>{PortAccess::read(0x302, card.peekStatus())});

    auto watcher = client();
    watcher->sendLine("SUB reader dosimeter");
    EXPECT_EQ(watcher->nextOrEmpty(), "OK SUB reader dosimeter HOT");
    EXPECT_TRUE(watcher->nextOrEmpty().endsWith(" \"0\""));
    put(*c, "simulator dosimeter", "0.8");
    io.clearLog();
    readOnce();
    // One status read after the reading, for both signals.
    ASSERT_FALSE(readingEndsWithConversion());
    EXPECT_EQ(io.accesses().back(), PortAccess::read(0x302, io.accesses().back().value));
    EXPECT_EQ(io.accesses()[io.accesses().size() - 2].port, 0x300);
    EXPECT_TRUE(watcher->nextOrEmpty().endsWith(" \"1\""));
    put(*c, "simulator dosimeter", "none");
    readOnce();
    EXPECT_TRUE(watcher->nextOrEmpty().endsWith(" \"0\""));

    EXPECT_EQ(reply(*watcher, "UNSUB reader dosimeter"), "OK UNSUB reader dosimeter");
    EXPECT_FALSE(topic->sensing());
    reply(*watcher, "SUB reader button");
    EXPECT_TRUE(topic->sensing());
    watcher.reset(); // the last sensor link goes with its client
    ASSERT_TRUE(QTest::qWaitFor([this] { return !topic->sensing(); }, 1000));
    io.clearLog();
    readOnce();
    EXPECT_TRUE(readingEndsWithConversion());
}

TEST_F(ReaderLink, LedAndBeepDriveTheControlByteUntilTheirClientGoes)
{
    auto c = client();
    EXPECT_EQ(put(*c, "reader led", "1"), "OK PUT reader led");
    EXPECT_EQ(reader->state.Control, 0x22);
    EXPECT_TRUE(QTest::qWaitFor([&] { return get(*c, "simulator led") == QStringLiteral("1"); }, 1000));
    for (const char* value : {"on", "0ms", "600001", "1.5"})
        EXPECT_TRUE(put(*c, "reader led", value).startsWith("ERR BAD_VALUE ")) << value;
    for (const char* ms : {"9", "2001", "0.5", ""})
        EXPECT_TRUE(put(*c, "reader beep", ms).startsWith("ERR BAD_VALUE ")) << ms;
    EXPECT_FALSE(card.buzzer());

    // Times at which the simulated buzzer went on and off.
    QElapsedTimer clock;
    clock.start();
    std::vector<std::pair<bool, qint64>> buzzer;
    const int observer = card.addChangeObserver([&] {
        if (buzzer.empty() || buzzer.back().first != card.buzzer())
            buzzer.emplace_back(card.buzzer(), clock.elapsed());
    });
    const std::unique_ptr<void, std::function<void(void*)>> unobserve(
        &card, [this, observer](void*) { card.removeChangeObserver(observer); });
    EXPECT_EQ(put(*c, "reader beep", "200"), "OK PUT reader beep");
    EXPECT_TRUE(card.led()); // the LED line kept its state
    ASSERT_TRUE(QTest::qWaitFor([&] { return buzzer.size() == 2; }, 3000));
    EXPECT_GE(buzzer[1].second - buzzer[0].second, 199);
    EXPECT_EQ(get(*c, "reader beep"), QStringLiteral("0"));

    put(*c, "reader beep", "2000");
    put(*c, "reader beep", "50"); // replaces the long one
    ASSERT_TRUE(QTest::qWaitFor([&] { return buzzer.size() == 4; }, 1500)) << "the 2000 ms beep was not replaced";

    // The LED goes off with the client that switched it on; a beep sounds
    // its time even when its client has gone at once, as a one-shot put does.
    auto other = client();
    put(*other, "reader led", "0");
    put(*other, "reader beep", "400");
    put(*c, "reader led", "1");
    other.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->clientCount() == 1; }, 1000));
    EXPECT_TRUE(card.led()) << "a client that did not switch the LED on put it out";
    EXPECT_TRUE(card.buzzer());
    c.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !card.led(); }, 1000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !card.buzzer(); }, 3000));
    EXPECT_GE(buzzer.back().second - buzzer[buzzer.size() - 2].second, 399);
    EXPECT_EQ(reader->state.Control, 0x02);
}

TEST_F(ReaderLink, AZeroThatIsNotSoundMakesEveryReadingBadZeroUntilASoundOne)
{
    auto c = client();
    put(*c, "simulator dosimeter", "0.5"); // the head's sensor sees it at the zero
    zeroNow();
    EXPECT_EQ(zeroStatus(), QStringLiteral("film"));
    for (const QByteArray film : {"1.0", "none"}) {
        put(*c, "simulator dosimeter", film);
        readOnce();
        EXPECT_EQ(status(), QStringLiteral("bad-zero")) << film.data();
    }
    EXPECT_NEAR(dataTopic->text(item::A).toDouble(), -0.5, 0.005); // what it read as ok before
    EXPECT_EQ(put(*c, "reader zero", "1"), "OK PUT reader zero");
    EXPECT_EQ(status(), QStringLiteral("zeroing"));
    reader->tmrDelayZero_Timer();
    EXPECT_EQ(zeroStatus(), QStringLiteral("ok"));
    readOnce();
    EXPECT_EQ(status(), QStringLiteral("ok"));

    put(*c, "simulator lamp", "0"); // the zero's own conversions are flat
    zeroNow();
    EXPECT_EQ(zeroStatus(), QStringLiteral("flat"));
    put(*c, "simulator lamp", "1");
    readOnce();
    EXPECT_EQ(status(), QStringLiteral("bad-zero"));

    // Dark: far below the last good zero, which the file holds already.
    zeroNow();
    const std::optional<double> kept =
        SettingsStore(tmp.filePath()).lastGoodZero(QStringLiteral("1500"), QStringLiteral("510"));
    ASSERT_TRUE(kept) << tmp.fileText().constData();
    EXPECT_NEAR(*kept, reader->state.z1, 0.00005);
    put(*c, "simulator lamp", "0.5");
    zeroNow();
    EXPECT_EQ(zeroStatus(), QStringLiteral("dark"));
    readOnce();
    EXPECT_EQ(status(), QStringLiteral("bad-zero"));
}

TEST_F(ReaderLink, BrighterLampIsUnderRangeAndForASensingClientAStaleZero)
{
    auto c = client();
    c->sendLine("SUB reader zeroStatus");
    c->sendLine("SUB reader zeroTime");
    c->linesBeforePong();
    put(*c, "simulator lamp", "2");
    io.clearLog();
    readOnce();
    EXPECT_EQ(status(), QStringLiteral("under-range"));
    EXPECT_NEAR(dataTopic->text(item::A).toDouble(), -1.2, 0.005);
    EXPECT_EQ(zeroStatus(), QStringLiteral("ok")) << "the sensor was read with nobody sensing";
    EXPECT_TRUE(readingEndsWithConversion());

    auto watcher = client();
    reply(*watcher, "SUB reader dosimeter");
    readOnce();
    EXPECT_EQ(zeroStatus(), QStringLiteral("stale"));
    EXPECT_EQ(status(), QStringLiteral("bad-zero"));
    put(*c, "simulator lamp", "1"); // stale until the next zero
    readOnce();
    EXPECT_EQ(status(), QStringLiteral("bad-zero"));

    c->linesBeforePong();
    zeroNow();
    EXPECT_EQ(zeroStatus(), QStringLiteral("ok"));
    // zeroStatus before zeroTime, so that a new zeroTime finds its status.
    const QList<QByteArray> lines = c->linesBeforePong();
    ASSERT_EQ(lines.size(), 2) << lines.join('|').toStdString();
    EXPECT_TRUE(lines[0].startsWith("UPDATE reader zeroStatus ") && lines[0].endsWith(" \"ok\""));
    EXPECT_TRUE(lines[1].startsWith("UPDATE reader zeroTime "));
    readOnce();
    EXPECT_EQ(status(), QStringLiteral("ok"));
}

TEST_F(ReaderLink, PutZeroOrdersTheMenusZeroUnlessAFilmIsInOrAZeroIsUnderWay)
{
    reader->tmrRead.stop(); // no reading between the requests and their port accesses
    auto c = client();
    EXPECT_EQ(put(*c, "reader zero", "2"), "ERR BAD_VALUE \"2\" is no value for zero (expected 1, to order a zero)");
    put(*c, "simulator dosimeter", "0.5");
    io.clearLog();
    EXPECT_TRUE(put(*c, "reader zero", "1").startsWith("ERR BUSY ")) << "a film is in";
    EXPECT_EQ(io.accesses(), std::vector<PortAccess>{PortAccess::read(0x302, card.peekStatus())});
    EXPECT_FALSE(reader->zeroBusy());
    put(*c, "simulator dosimeter", "none");

    EXPECT_EQ(put(*c, "reader zero", " 1"), "OK PUT reader zero");
    EXPECT_TRUE(reader->tmrDelayZero.isActive());
    io.clearLog();
    EXPECT_TRUE(put(*c, "reader zero", "1").startsWith("ERR BUSY ")) << "a zero is pending";
    EXPECT_TRUE(io.accesses().empty());
    // While the zero's caution shows, and while the filter check runs.
    put(*c, "simulator lamp", "0.25");
    QStringList refusals;
    messages.onShow = [&](const QString&) { refusals << topic->put(QStringLiteral("zero"), QStringLiteral("1")).code; };
    reader->tmrDelayZero_Timer();
    window->showNdfDialog = [&] { refusals << topic->put(QStringLiteral("zero"), QStringLiteral("1")).code; };
    window->mnuNDF_Click();
    EXPECT_EQ(refusals, QStringList(4, QStringLiteral("BUSY"))); // caution, 309, the dialog, 310
    EXPECT_NEAR(get(*c, "reader zero").toDouble(), 0.3, 0.005);
}

TEST_F(ReaderLink, NoiseOf15mVIsNeverScatteredAndAnUnsteadyInputIs)
{
    card.setNoiseSigma(0.015);
    zeroNow();
    ASSERT_EQ(zeroStatus(), QStringLiteral("ok"));
    QStringList flagged;
    for (int i = 0; i < 300; ++i) {
        readOnce();
        if (status() != QStringLiteral("ok"))
            flagged << status();
        io.clearLog();
    }
    EXPECT_TRUE(flagged.isEmpty()) << flagged.join(' ').toStdString();

    card.setNoiseSigma(0.05);
    readOnce();
    EXPECT_EQ(status(), QStringLiteral("scattered"));
    zeroNow();
    EXPECT_EQ(zeroStatus(), QStringLiteral("scattered"));
}

TEST_F(ReaderLink, ATimedLedOutlivesItsClientAndAChangeOfPortPutsTheLedOut)
{
    QElapsedTimer clock;
    clock.start();
    auto c = client();
    EXPECT_EQ(put(*c, "reader led", "300"), "OK PUT reader led");
    c.reset(); // gone at once, as kalvor-link put is
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->clientCount() == 0; }, 1000));
    EXPECT_TRUE(card.led()) << "the LED went off with its client";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !card.led(); }, 2000));
    EXPECT_GE(clock.elapsed(), 299);

    auto d = client();
    EXPECT_EQ(get(*d, "reader led"), QStringLiteral("0"));
    EXPECT_EQ(put(*d, "reader led", "1ms"), "OK PUT reader led"); // 1 ms, not "on"
    EXPECT_TRUE(QTest::qWaitFor([&] { return !card.led(); }, 500));

    // Setup > Port accepts another address while the LED is lit: it goes
    // off at the old card first.
    EXPECT_EQ(put(*d, "reader led", "1"), "OK PUT reader led");
    ASSERT_TRUE(card.led());
    reader->setBase(0x280);
    EXPECT_FALSE(card.led());
    EXPECT_EQ(io.writesTo(0x303).back() & 0x20, 0);
    EXPECT_EQ(get(*d, "reader led"), QStringLiteral("0"));
    reader->setBase(0x300);
}

TEST_F(ReaderLink, WriteDuringAHeadTestIsAppliedAfterIt)
{
    int controlWrites = 0;
    bool ledOnInsideTest = false;
    io.onAccess = [&](const PortAccess& a) {
        if (a.kind == PortAccess::Write && a.port == 0x303 && ++controlWrites == 100) {
            EXPECT_TRUE(topic->put(QStringLiteral("led"), QStringLiteral("1")).ok);
            ledOnInsideTest = reader->state.LED;
        }
    };
    EXPECT_EQ(reader->testHead(0x300), 0);
    io.onAccess = nullptr;
    ASSERT_GT(controlWrites, 100);
    EXPECT_FALSE(ledOnInsideTest);
    EXPECT_TRUE(reader->state.LED);
    const std::vector<std::uint8_t> writes = io.writesTo(0x303);
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ(writes[writes.size() - 2], 0x02); // the transfer puts the byte back
    EXPECT_EQ(writes.back(), 0x22);             // and then the LED goes on
}

// ---- Start-up without a head ------------------------------------------------

TEST(ReaderStart, NoHeadWhileTheHeadTestFailsAndZeroingOnceItPasses)
{
    setEndProgramHandler([](int s) { throw ProgramEnded{s}; });
    clearEndProgramSteps();
    for (const bool cardGone : {false, true}) {
        const bool repaired = !cardGone; // the head is plugged in during the port dialog; the card never comes
        SCOPED_TRACE(cardGone ? "card removed" : "head unplugged");
        test::TempSettings tmp;
        tmp.writeFileText("[Properties]\nPort=768\n");
        RecordingMessageSink messages;
        sim::SimulatedCard card;
        cardGone ? card.setCardPresent(false) : card.setHeadConnected(false);
        SettingsStore settings(tmp.filePath());
        std::unique_ptr<LinkTopic> data{createDataTopic(nullptr)};
        Reader reader(card, settings, *data);
        ReaderTopic topic(reader);
        frmKALVOR window(reader);
        QStringList seen; // the status as each message shows, and at the end of the port dialog
        messages.onShow = [&](const QString&) { seen << topic.text(QStringLiteral("status")); };
        window.showPortDialog = [&] {
            reader.testHead(0x300); // the dialog's Test, still failing
            card.setHeadConnected(repaired);
            reader.testHead(0x300);
            seen << topic.text(QStringLiteral("status"));
        };
        if (repaired) {
            window.Form_Load();
            EXPECT_EQ(seen, (QStringList{"no-head", "no-head", "zeroing"}));
            reader.tmrDelayZero.stop();
        } else {
            EXPECT_THROW(window.Form_Load(), ProgramEnded);
            EXPECT_EQ(seen, QStringList(6, QStringLiteral("no-head"))); // the last with message 1006
        }
    }
    setEndProgramHandler({});
}

} // namespace
