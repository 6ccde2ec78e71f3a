// The filter check dialog against a scripted main window.
#include "core/MessageCatalog.h"
#include "core/MessageSink.h"
#include "ui/Twips.h"
#include "ndf/NdfHost.h"
#include "ndf/frmNDF.h"

#include <QLabel>
#include <QMap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QtTest>

using namespace kalvor;

namespace {

// Hands out the scripted voltages one reading at a time and records the data
// items the dialog writes.
class FakeHost : public NdfHost {
public:
    QList<double> voltages;
    int readings = 0;
    double last = 0.0;
    QString wl = QStringLiteral("660 nm");
    QMap<QString, QString> items;
    QStringList itemOrder;

    void getVoltages() override
    {
        QVERIFY2(!voltages.isEmpty(), "the dialog took more readings than scripted");
        last = voltages.takeFirst();
        ++readings;
    }
    double v1() const override { return last; }
    QString wlCaption() const override { return wl; }
    void setFilterItem(const QString& item, const QString& text) override
    {
        items[item] = text;
        itemOrder << item;
    }
};

template <typename T>
T* child(QWidget& w, const char* name)
{
    T* c = w.findChild<T*>(QLatin1String(name));
    if (!c)
        qFatal("no control %s", name);
    return c;
}

} // namespace

class TestNdfDialog : public QObject {
    Q_OBJECT

private:
    struct Controls {
        QPushButton *zero, *light, *medium, *dark, *save, *ok;
        QLabel *a, *b, *c, *wl, *hdr, *instructions;
    };
    static Controls controls(frmNDF& d)
    {
        return {child<QPushButton>(d, "cmdZero"),   child<QPushButton>(d, "cmdLight"),
                child<QPushButton>(d, "cmdMedium"), child<QPushButton>(d, "cmdDark"),
                child<QPushButton>(d, "cmdSaveNDF"), child<QPushButton>(d, "OKButton"),
                child<QLabel>(d, "ndfA"),           child<QLabel>(d, "ndfB"),
                child<QLabel>(d, "ndfC"),           child<QLabel>(d, "lblWL"),
                child<QLabel>(d, "lblHdr"),         child<QLabel>(d, "lblInstructions")};
    }

    static void expectOpeningState(frmNDF& d, const FakeHost& host)
    {
        const Controls c = controls(d);
        QVERIFY(c.zero->isEnabled());
        QVERIFY(c.ok->isEnabled());
        QVERIFY(!c.light->isEnabled());
        QVERIFY(!c.medium->isEnabled());
        QVERIFY(!c.dark->isEnabled());
        QVERIFY(!c.save->isEnabled());
        for (QLabel* result : {c.a, c.b, c.c}) {
            QVERIFY(result->isHidden());
            QVERIFY(result->text().isEmpty());
        }
        QCOMPARE(c.wl->text(), host.wl);
        QCOMPARE(d.focusWidget(), c.zero);
    }

private slots:
    void opensWithOnlyZeroAndCloseEnabled()
    {
        FakeHost host;
        host.wl = QStringLiteral("585 nm");
        frmNDF d(host);
        expectOpeningState(d, host);
        QCOMPARE(host.readings, 0);
        QVERIFY(host.items.isEmpty());
    }

    void captionsComeFromTheCatalogue()
    {
        FakeHost host;
        frmNDF d(host);
        const Controls c = controls(d);
        QCOMPARE(d.windowTitle(), loadText(300));
        QCOMPARE(c.instructions->text(), loadText(301));
        QCOMPARE(c.ok->text(), loadText(302));
        QCOMPARE(c.zero->text(), loadText(303));
        QCOMPARE(c.light->text(), loadText(304));
        QCOMPARE(c.medium->text(), loadText(305));
        QCOMPARE(c.dark->text(), loadText(306));
        QCOMPARE(c.save->text(), loadText(307));
        QCOMPARE(c.hdr->text(), loadText(308));
        QVERIFY(c.hdr->font().bold());
        QCOMPARE(c.hdr->font().pointSizeF(), 14.25);
        QVERIFY(c.hdr->alignment() & Qt::AlignHCenter);
    }

    void windowIsFixedAndPlacedInTwips()
    {
        FakeHost host;
        frmNDF d(host);
        const QSize size(twipsToPx(5520, &d), twipsToPx(4635, &d));
        QCOMPARE(d.size(), size);
        QCOMPARE(d.minimumSize(), size);
        QCOMPARE(d.maximumSize(), size);
        const QPoint origin = d.screen()->geometry().topLeft();
        QCOMPARE(d.geometry().topLeft(), origin + QPoint(twipsToPx(2760, &d), twipsToPx(3750, &d)));
        QVERIFY(!(d.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(d.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(d.isModal());
        // Each filter button shares its row with its result label.
        const Controls c = controls(d);
        QCOMPARE(c.light->y(), c.a->y());
        QCOMPARE(c.medium->y(), c.b->y());
        QCOMPARE(c.dark->y(), c.c->y());
        QCOMPARE(c.wl->x(), c.a->x());
    }

    void tabOrderFollowsTheButtons()
    {
        FakeHost host;
        frmNDF d(host);
        const Controls c = controls(d);
        QList<QWidget*> chain;
        QWidget* w = c.zero;
        do {
            if (w->focusPolicy() & Qt::TabFocus)
                chain << w;
            w = w->nextInFocusChain();
        } while (w != c.zero);
        const QList<QWidget*> expected{c.zero, c.light, c.medium, c.dark, c.save, c.ok};
        QCOMPARE(chain, expected);
    }

    void zeroEnablesTheFilterButtons()
    {
        FakeHost host;
        host.voltages = {2.5};
        frmNDF d(host);
        const Controls c = controls(d);
        c.zero->click();
        QCOMPARE(host.readings, 1);
        QCOMPARE(d.zNDF(), 2.5);
        QVERIFY(c.light->isEnabled());
        QVERIFY(c.medium->isEnabled());
        QVERIFY(c.dark->isEnabled());
        QVERIFY(!c.save->isEnabled());
        QCOMPARE(d.focusWidget(), c.light);
        QVERIFY(c.a->isHidden());
        QVERIFY(host.items.isEmpty());
    }

    void filterReadingsShowAndPublishTheResults()
    {
        FakeHost host;
        //                zero  light  medium dark
        host.voltages = {4.0, 3.5, 2.8, 0.4};
        frmNDF d(host);
        const Controls c = controls(d);
        c.zero->click();

        c.light->click();
        QCOMPARE(host.readings, 2);
        QCOMPARE(c.a->text(), QStringLiteral("0.500"));
        QVERIFY(!c.a->isHidden());
        QCOMPARE(host.items.value("na"), c.a->text());
        QVERIFY(c.save->isEnabled());
        QCOMPARE(d.focusWidget(), c.medium);
        QVERIFY(c.b->isHidden());

        c.medium->click();
        QCOMPARE(c.b->text(), QStringLiteral("1.200"));
        QCOMPARE(host.items.value("nb"), c.b->text());
        QCOMPARE(d.focusWidget(), c.dark);

        // Above 3 absorbance units the number itself is shown.
        c.dark->click();
        QCOMPARE(c.c->text(), QStringLiteral("3.600"));
        QCOMPARE(host.items.value("nc"), c.c->text());
        QCOMPARE(d.focusWidget(), c.save);
        QCOMPARE(d.aDark(), 4.0 - 0.4);

        QCOMPARE(host.itemOrder, (QStringList{"na", "nb", "nc"}));
        for (QPushButton* b : {c.zero, c.light, c.medium, c.dark, c.save, c.ok})
            QVERIFY(b->isEnabled());
    }

    void readingAboveTheZeroGivesANegativeResult()
    {
        FakeHost host;
        host.voltages = {1.0, 1.25, 1.0002};
        frmNDF d(host);
        const Controls c = controls(d);
        c.zero->click();
        c.medium->click();
        QCOMPARE(c.b->text(), QStringLiteral("-0.250"));
        QCOMPARE(host.items.value("nb"), QStringLiteral("-0.250"));
        // Nothing in the holder: a result near nothing, without a minus.
        c.medium->click();
        QCOMPARE(c.b->text(), QStringLiteral("0.000"));
        QCOMPARE(host.items.value("nb"), QStringLiteral("0.000"));
        QVERIFY(c.a->isHidden());
        QVERIFY(!host.items.contains("na"));
    }

    void newZeroKeepsTheResultsShown()
    {
        FakeHost host;
        host.voltages = {2.0, 1.0, 3.0, 2.5};
        frmNDF d(host);
        const Controls c = controls(d);
        c.zero->click();
        c.light->click();
        QCOMPARE(c.a->text(), QStringLiteral("1.000"));
        c.zero->click();
        QCOMPARE(d.zNDF(), 3.0);
        QCOMPARE(c.a->text(), QStringLiteral("1.000"));
        QVERIFY(!c.a->isHidden());
        QVERIFY(c.save->isEnabled());
        c.light->click();
        QCOMPARE(c.a->text(), QStringLiteral("0.500"));
    }

    void saveShowsTheMessageAndMovesToClose()
    {
        RecordingMessageSink sink;
        FakeHost host;
        host.voltages = {2.0, 1.5};
        frmNDF d(host);
        const Controls c = controls(d);
        c.zero->click();
        c.light->click();
        const auto itemsBefore = host.items;
        c.save->click();
        QCOMPARE(sink.messages, QStringList{loadText(1002)});
        QCOMPARE(d.focusWidget(), c.ok);
        QCOMPARE(host.readings, 2);
        QCOMPARE(host.items, itemsBefore);
        QCOMPARE(c.a->text(), QStringLiteral("0.500"));
    }

    void aNewOpeningStartsAfresh()
    {
        FakeHost host;
        host.voltages = {2.0, 1.0};
        {
            frmNDF first(host);
            auto c = controls(first);
            c.zero->click();
            c.light->click();
        }
        frmNDF second(host);
        expectOpeningState(second, host);
        // The items of the main window keep the last results.
        QCOMPARE(host.items.value("na"), QStringLiteral("1.000"));

        // The same dialog shown again after closing starts afresh too.
        host.voltages = {2.0, 1.0};
        second.show();
        auto c = controls(second);
        c.zero->click();
        c.light->click();
        c.ok->click();
        QVERIFY(!second.isVisible());
        host.wl = QStringLiteral("585 nm");
        second.show();
        expectOpeningState(second, host);
    }

    void escapeDoesNotCloseButCloseAndTitleBarDo()
    {
        FakeHost host;
        frmNDF d(host);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QTest::keyClick(&d, Qt::Key_Escape);
        QVERIFY(d.isVisible());

        d.close(); // the title bar's close box
        QVERIFY(!d.isVisible());

        // OK ends the modal run.
        QTimer::singleShot(0, &d, [&] { controls(d).ok->click(); });
        d.exec();
        QVERIFY(!d.isVisible());
    }

    void enterPressesTheFocusedButtonOnly()
    {
        FakeHost host;
        host.voltages = {2.0};
        frmNDF d(host);
        const Controls c = controls(d);
        for (QPushButton* b : {c.zero, c.light, c.medium, c.dark, c.save, c.ok})
            QVERIFY(!b->isDefault());
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QTest::keyClick(&d, Qt::Key_Return);
        QCOMPARE(host.readings, 1);
        QCOMPARE(d.focusWidget(), c.light);
        QVERIFY(d.isVisible());
    }

    void accessKeysPressTheButtons()
    {
        FakeHost host;
        host.voltages = {2.0, 1.9, 1.8, 1.7};
        frmNDF d(host);
        const Controls c = controls(d);
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));

        // A disabled button's key does nothing.
        QTest::keyClick(&d, Qt::Key_L, Qt::AltModifier);
        QTest::qWait(200);
        QCOMPARE(host.readings, 0);

        QTest::keyClick(&d, Qt::Key_Z, Qt::AltModifier);
        QTRY_COMPARE(host.readings, 1);
        QTest::keyClick(&d, Qt::Key_L, Qt::AltModifier);
        QTRY_COMPARE(c.a->text(), QStringLiteral("0.100"));
        QTest::keyClick(&d, Qt::Key_M, Qt::AltModifier);
        QTRY_COMPARE(c.b->text(), QStringLiteral("0.200"));
        QTest::keyClick(&d, Qt::Key_D, Qt::AltModifier);
        QTRY_COMPARE(c.c->text(), QStringLiteral("0.300"));
        QTRY_COMPARE(d.focusWidget(), c.save);

        RecordingMessageSink sink;
        QTest::keyClick(&d, Qt::Key_S, Qt::AltModifier);
        QTRY_COMPARE(sink.messages.size(), 1);
        QTest::keyClick(&d, Qt::Key_C, Qt::AltModifier);
        QTRY_VERIFY(!d.isVisible());
    }
};

QTEST_MAIN(TestNdfDialog)
#include "tst_ndf_dialog.moc"
