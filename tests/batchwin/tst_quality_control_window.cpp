// The Quality Control window over a store with a drifting filter: it opens on
// the chart that calls for attention, with the run rules as series of their
// own, lists every result, and takes in a check as it is recorded; the batch
// window judges a recorded check in its status bar.
#include "batch/BatchSession.h"
#include "batch/QualityControl.h"
#include "batchwin/BatchWindow.h"
#include "batchwin/QualityControlWindow.h"
#include "records/QualityRecords.h"

#include <QChart>
#include <QChartView>
#include <QListWidget>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using namespace kalvor;
using namespace kalvor::batch;
using namespace kalvor::records;

class TestQualityControlWindow : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    RecordStore store;
    std::unique_ptr<BatchSession> session;

    FilterCheckRecord check(const QString& filter, double value, const QDateTime& at)
    {
        FilterCheckRecord c;
        c.timeUtc = at.toUTC().toString(Qt::ISODateWithMs);
        c.item = QStringLiteral("nc");
        c.filter = filter;
        c.value = value;
        c.shown = QString::number(value, 'f', 3);
        c.wavelength = QStringLiteral("510 nm");
        c.readerSerial = QStringLiteral("1500");
        return c;
    }

private slots:
    void initTestCase()
    {
        QString why;
        QCOMPARE(store.open(dir.path() + QStringLiteral("/records.sqlite"), RecordStore::OpenMode::CreateIfMissing, &why),
                 RecordStore::OpenError::None);
        ReferenceSet s;
        s.readerSerial = QStringLiteral("1500");
        s.wavelength = QStringLiteral("510 nm");
        s.light = 0.3;
        s.medium = 0.8;
        s.dark = 1.5;
        s.certificate = QStringLiteral("C-1");
        s.certificateDate = QDate(2026, 1, 1);
        QVERIFY2(recordReferenceSet(store, s, QStringLiteral("qa"), &why), qPrintable(why));
        // The dark filter: 20 checks scattering about 1.500, then 1.505, 1.506.
        for (int n = 0; n < 22; ++n) {
            const double value = n < 20 ? 1.5 + (n % 2 ? 0.001 : -0.001) : 1.505 + 0.001 * (n - 20);
            QVERIFY(store.appendFilterCheck(check(QStringLiteral("dark"), value, QDateTime(QDate(2026, 3, 1).addDays(n), QTime(8, 0))), &why));
        }
        session = std::make_unique<BatchSession>(store, dir.path() + QStringLiteral("/link.sock"));
    }

    void showsTheChartThatCallsForAttention()
    {
        batchwin::QualityControlWindow window(*session);
        auto* series = window.findChild<QListWidget*>(QStringLiteral("series"));
        QCOMPARE(series->count(), 1);
        QCOMPARE(series->currentRow(), 0);
        QVERIFY(series->item(0)->text().contains(QStringLiteral("dark")));
        QStringList names;
        for (QAbstractSeries* s : window.findChild<QChartView*>(QStringLiteral("individuals"))->chart()->series())
            names << s->name();
        QVERIFY2(names.contains(QStringLiteral("rule 1")) && names.contains(QStringLiteral("rule 2")), qPrintable(names.join(", ")));
        auto* results = window.findChild<QTableWidget*>(QStringLiteral("results"));
        QCOMPARE(results->rowCount(), 22);
        QCOMPARE(results->item(21, 8)->text(), QStringLiteral("1+2"));

        QString why;
        FilterCheckRecord c = check(QStringLiteral("dark"), 1.531, QDateTime(QDate(2026, 3, 30), QTime(8, 0)));
        c.seq = *store.appendFilterCheck(c, &why);
        emit session->filterCheckStored(c);
        QCOMPARE(results->rowCount(), 23);
        QCOMPARE(results->item(22, 7)->text(), QStringLiteral("NO"));
    }

    void theBatchWindowJudgesARecordedCheck()
    {
        batchwin::BatchWindow window(*session);
        emit session->filterCheckStored(check(QStringLiteral("dark"), 1.531, QDateTime::currentDateTime()));
        const QString shown = window.statusBar()->currentMessage();
        QVERIFY2(shown.contains(QStringLiteral("1.531 against 1.500 ± 0.010: +0.031, OUTSIDE TOLERANCE")), qPrintable(shown));
    }

    void cleanupTestCase() { session.reset(); }
};

QTEST_MAIN(TestQualityControlWindow)
#include "tst_quality_control_window.moc"
