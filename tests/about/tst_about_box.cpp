// The About box: its texts, its single instance and the keys that close it.
#include "about/ProgramIcon.h"
#include "about/frmAbout.h"
#include "core/MessageCatalog.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

using namespace kalvor;

namespace {

int aboutBoxesAlive()
{
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<frmAbout*>(w))
            ++n;
    return n;
}

QString labelText(QWidget* box, const char* name)
{
    auto* label = box->findChild<QLabel*>(QLatin1String(name));
    return label ? label->text() : QStringLiteral("<no %1>").arg(QLatin1String(name));
}

} // namespace

class TestAboutBox : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        if (frmAbout* box = frmAbout::instance())
            box->close();
        QTRY_COMPARE(aboutBoxesAlive(), 0);
    }

    void showsTheCatalogueTexts()
    {
        frmAbout::showAbout();
        frmAbout* box = frmAbout::instance();
        QVERIFY(box);
        QVERIFY(box->isVisible());
        QCOMPARE(box->windowTitle(), loadText(400));
        QCOMPARE(labelText(box, "lblTitle"), loadText(401));
        QCOMPARE(labelText(box, "lblVersion"), loadText(402));
        QCOMPARE(labelText(box, "lblDescription"), loadText(403));
        QCOMPARE(labelText(box, "lblDisclaimer"), loadText(404));
        auto* ok = box->findChild<QPushButton*>("cmdOK");
        QVERIFY(ok);
        QCOMPARE(ok->text(), loadText(405));
        QVERIFY(ok->isDefault());
    }

    void isAModelessOwnerlessFixedDialog()
    {
        frmAbout::showAbout();
        frmAbout* box = frmAbout::instance();
        QVERIFY(box);
        QCOMPARE(box->parentWidget(), nullptr);
        QCOMPARE(box->windowModality(), Qt::NonModal);
        QCOMPARE(box->windowType(), Qt::Dialog);
        QVERIFY(!(box->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        const QSize size(twipsToPx(5730, box), twipsToPx(3555, box));
        QCOMPARE(box->size(), size);
        QCOMPARE(box->minimumSize(), size);
        QCOMPARE(box->maximumSize(), size);
        QVERIFY(!box->testAttribute(Qt::WA_QuitOnClose));
    }

    void emblemSitsInASunkenFrameSizedToIt()
    {
        frmAbout::showAbout();
        frmAbout* box = frmAbout::instance();
        auto* pic = box->findChild<QLabel*>("picIcon");
        QVERIFY(pic);
        const QPixmap emblem = pic->pixmap();
        QVERIFY(!emblem.isNull());
        QCOMPARE(emblem.size(), QSize(twipsToPx(480, box), twipsToPx(480, box)));
        QCOMPARE(pic->frameShadow(), QFrame::Sunken);
        QVERIFY(pic->frameWidth() > 0);
        QCOMPARE(pic->size(), emblem.size() + QSize(2, 2) * pic->frameWidth());
        QCOMPARE(pic->pos(), QPoint(twipsToPx(240, box), twipsToPx(240, box)));

        // The artwork itself is 32 x 32 with black lettering on it.
        const QImage art = QImage(frmAbout::emblemPath()).convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(art.size(), QSize(32, 32));
        int black = 0;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 32; ++x)
                black += art.pixel(x, y) == qRgba(0, 0, 0, 255);
        QVERIFY(black > 40);
    }

    void separatorIsEtchedGreyOverWhite()
    {
        frmAbout::showAbout();
        frmAbout* box = frmAbout::instance();
        QVERIFY(QTest::qWaitForWindowExposed(box));
        const QImage shot = box->grab().toImage();
        const qreal ratio = shot.devicePixelRatio();
        const int x = int(box->width() / 2 * ratio);
        const int y = int(twipsToPx(2445, box) * ratio);
        QCOMPARE(QColor(shot.pixel(x, y)), QColor(0x80, 0x80, 0x80));
        QCOMPARE(QColor(shot.pixel(x, y + int(ratio))), QColor(Qt::white));
        QCOMPARE(QColor(shot.pixel(x, y + int(2 * ratio))), QColor(Qt::white));
        QVERIFY(QColor(shot.pixel(x, y + int(3 * ratio))) != QColor(Qt::white));
    }

    void showingAgainBringsUpTheSameBox()
    {
        frmAbout::showAbout();
        frmAbout* first = frmAbout::instance();
        frmAbout::showAbout();
        QCOMPARE(frmAbout::instance(), first);
        QCOMPARE(aboutBoxesAlive(), 1);
        QVERIFY(first->isVisible());
    }

    void enterCloses()
    {
        frmAbout::showAbout();
        QPointer<frmAbout> box = frmAbout::instance();
        QVERIFY(QTest::qWaitForWindowActive(box));
        QTest::keyClick(box, Qt::Key_Return);
        QVERIFY(!frmAbout::instance() || !frmAbout::instance()->isVisible());
        QTRY_VERIFY(box.isNull());
        QCOMPARE(frmAbout::instance(), nullptr);
    }

    void escapeCloses()
    {
        frmAbout::showAbout();
        QPointer<frmAbout> box = frmAbout::instance();
        QVERIFY(QTest::qWaitForWindowActive(box));
        QTest::keyClick(box, Qt::Key_Escape);
        QTRY_VERIFY(box.isNull());
        QCOMPARE(frmAbout::instance(), nullptr);
    }

    void closedBoxIsLoadedAnewNextTime()
    {
        frmAbout::showAbout();
        QPointer<frmAbout> first = frmAbout::instance();
        first->close(); // title bar
        // Asked for again before the old box is gone: a new, visible box.
        frmAbout::showAbout();
        frmAbout* second = frmAbout::instance();
        QVERIFY(second != first.data());
        QVERIFY(second->isVisible());
        QCOMPARE(labelText(second, "lblTitle"), loadText(401));
        QTRY_VERIFY(first.isNull());
        QCOMPARE(frmAbout::instance(), second);
        QCOMPARE(aboutBoxesAlive(), 1);
    }

    void programIconHasAllItsSizes()
    {
        const QIcon icon = programIcon();
        for (int size : {16, 24, 32, 48, 64, 128, 256}) {
            const QImage image(programIconPath(size));
            QCOMPARE(image.size(), QSize(size, size));
            QVERIFY(image.hasAlphaChannel());
            QCOMPARE(icon.pixmap(size).size(), QSize(size, size));
        }
    }
};

QTEST_MAIN(TestAboutBox)
#include "tst_about_box.moc"
