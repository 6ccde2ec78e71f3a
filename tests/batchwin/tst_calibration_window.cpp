// The calibration windows on a real record store: the Lots dialog adds a lot
// whose background is the mean of a batch of unirradiated films; the
// Calibration window fits the model chosen in its comparison table, stores
// it as a draft and approves it with a reason, and the store then has the
// approval in its intact chain.
#include "batch/Lots.h"
#include "batchwin/CalibrationWindow.h"
#include "batchwin/LotsDialog.h"
#include "core/MessageSink.h"
#include "records/ChainVerifier.h"
#include "records/RecordStore.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QDoubleSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cmath>

using namespace kalvor;
using namespace kalvor::records;

namespace {

// The lot's films: A0 0.15, 0.1 mm, response 20·(1 − e^(−0.02·D)) mm⁻¹.
double absorbance(double kGy) { return 0.15 + 0.1 * 20.0 * (1.0 - std::exp(-0.02 * kGy)); }

} // namespace

class TestCalibrationWindow : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    RecordStore store;
    RecordingMessageSink messages;

    void addBatch(const QString& name, const QList<std::pair<QString, double>>& films)
    {
        QString why;
        BatchRecord b;
        b.name = name;
        b.openedUtc = utcNow();
        const std::optional<qint64> batch = store.appendBatch(b, &why);
        QVERIFY2(batch, qPrintable(why));
        for (const auto& [id, a] : films) {
            ReadingRecord r;
            r.batch = *batch;
            r.dosimeterId = id;
            r.timeUtc = utcNow();
            r.shown = QString::number(a, 'f', 3);
            r.absorbance = a;
            r.count = 3;
            r.wavelength = QStringLiteral("510 nm");
            r.readerSerial = QStringLiteral("1500");
            r.status = QStringLiteral("ok");
            r.trigger = QStringLiteral("sensor");
            EventRecord e;
            e.timeUtc = r.timeUtc;
            e.kind = event::Capture;
            e.batch = batch;
            QVERIFY2(store.appendReading(r, e, &why), qPrintable(why));
        }
    }

private slots:
    void initTestCase()
    {
        QString why;
        QCOMPARE(store.open(dir.path() + QStringLiteral("/records.sqlite"), RecordStore::OpenMode::CreateIfMissing, &why),
                 RecordStore::OpenError::None);
        addBatch(QStringLiteral("bg"), {{QStringLiteral("B-1"), 0.148}, {QStringLiteral("B-2"), 0.152}, {QStringLiteral("B-3"), 0.150}});
        QList<std::pair<QString, double>> films;
        QFile doses(dir.path() + QStringLiteral("/doses.csv"));
        QVERIFY(doses.open(QIODevice::WriteOnly));
        doses.write("id,dose_kGy\n");
        int n = 0;
        for (double d : {5.0, 10.0, 20.0, 40.0, 60.0})
            for (int i = 0; i < 3; ++i) {
                const QString id = QStringLiteral("C-%1").arg(++n);
                films.append({id, absorbance(d) + 0.002 * (i - 1)});
                doses.write(QStringLiteral("%1,%2\n").arg(id).arg(d).toUtf8());
            }
        doses.write("C-99,80\n");  // a dose without a film
        addBatch(QStringLiteral("cal"), films);
    }

    void addsALotWithTheBackgroundOfABatch()
    {
        batchwin::LotsDialog dialog(store, QStringLiteral("ann"));
        dialog.findChild<QLineEdit*>(QStringLiteral("name"))->setText(QStringLiteral("L1"));
        dialog.findChild<QDoubleSpinBox*>(QStringLiteral("thickness"))->setValue(0.1);
        dialog.findChild<QDoubleSpinBox*>(QStringLiteral("thicknessU"))->setValue(0.002);
        auto* batch = dialog.findChild<QComboBox*>(QStringLiteral("backgroundBatch"));
        batch->setCurrentIndex(batch->findData(QStringLiteral("bg")));
        QVERIFY(dialog.findChild<QRadioButton*>(QStringLiteral("batchBackground"))->isChecked());
        dialog.findChild<QPushButton*>(QStringLiteral("storeLot"))->click();
        QVERIFY2(messages.messages.isEmpty(), qPrintable(messages.messages.join('\n')));

        const std::optional<LotRecord> lot = currentLot(store, QStringLiteral("L1"));
        QVERIFY(lot);
        QCOMPARE(lot->operatorName, QStringLiteral("ann"));
        const std::optional<LotBackground> a0 = lot->background(QStringLiteral("510"));
        QVERIFY(a0);
        QVERIFY(std::abs(a0->a0 - 0.150) < 1e-12);
        QCOMPARE(a0->films, 3);
        QCOMPARE(a0->batch, QStringLiteral("bg"));
        auto* lots = dialog.findChild<QTableWidget*>(QStringLiteral("lots"));
        QCOMPARE(lots->rowCount(), 1);
        QVERIFY2(lots->item(0, 3)->text().contains(QStringLiteral("mean of 3 films of bg")), qPrintable(lots->item(0, 3)->text()));

        // A change is a new row that supersedes the old one; the background stays.
        dialog.findChild<QLineEdit*>(QStringLiteral("notes"))->setText(QStringLiteral("received 2026-12"));
        dialog.findChild<QRadioButton*>(QStringLiteral("keepBackground"))->setChecked(true);
        dialog.findChild<QPushButton*>(QStringLiteral("storeLot"))->click();
        const std::optional<LotRecord> changed = currentLot(store, QStringLiteral("L1"));
        QCOMPARE(changed->supersedes.value_or(0), lot->seq);
        QCOMPARE(changed->notes, QStringLiteral("received 2026-12"));
        QVERIFY(changed->background(QStringLiteral("510 nm")));
    }

    void fitsTheChosenModelStoresADraftAndApprovesIt()
    {
        batchwin::CalibrationWindow window(store, QStringLiteral("ann"));
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        window.show();
        window.chooseLot(QStringLiteral("L1"));
        window.chooseBatch(QStringLiteral("cal"));
        window.loadDoses(dir.path() + QStringLiteral("/doses.csv"));
        QVERIFY2(window.findChild<QLabel*>(QStringLiteral("unmatched"))->text().contains(QStringLiteral("C-99")),
                 "the dose without a film is named");

        auto* compare = window.findChild<QTableWidget*>(QStringLiteral("comparison"));
        QCOMPARE(compare->rowCount(), 12);  // six models, each also through zero
        int poly3 = -1;
        for (int row = 0; row < compare->rowCount(); ++row)
            if (compare->item(row, 0)->text() == QLatin1String("poly3"))
                poly3 = row;
        QVERIFY(poly3 >= 0);
        compare->selectRow(poly3);
        QCOMPARE(window.findChild<QComboBox*>(QStringLiteral("model"))->currentText(), QStringLiteral("poly3"));
        QCOMPARE(window.findChild<QTableWidget*>(QStringLiteral("parameters"))->rowCount(), 4);  // a0..a3

        window.findChild<QPushButton*>(QStringLiteral("storeDraft"))->click();
        QList<CalibrationRecord> stored = calibrations(store, QStringLiteral("L1"));
        QCOMPARE(stored.size(), 1);
        QCOMPARE(stored[0].model, QStringLiteral("poly3"));
        QCOMPARE(stored[0].operatorName, QStringLiteral("ann"));
        QVERIFY(window.findChild<QLabel*>(QStringLiteral("storedText"))->text().contains(QString::number(stored[0].seq)));
        auto* list = window.findChild<QTableWidget*>(QStringLiteral("stored"));
        QCOMPARE(list->item(0, 9)->text(), QStringLiteral("draft"));

        QTimer::singleShot(0, this, [] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->findChild<QComboBox*>(QStringLiteral("reason"))->setEditText(QStringLiteral("calibration of lot L1"));
            dialog->findChild<QLineEdit*>(QStringLiteral("approverName"))->setText(QStringLiteral("Ann QA"));
            dialog->accept();
        });
        window.findChild<QPushButton*>(QStringLiteral("approve"))->click();
        const QList<ApprovalRecord> approved = approvals(store, stored[0].seq);
        QCOMPARE(approved.size(), 1);
        QCOMPARE(approved[0].reason, QStringLiteral("calibration of lot L1"));
        QCOMPARE(approved[0].approverName, QStringLiteral("Ann QA"));
        QVERIFY(!approved[0].approverLogin.isEmpty());
        QCOMPARE(approvedCalibration(store, QStringLiteral("L1"), QStringLiteral("1500"), QStringLiteral("510"))->seq,
                 stored[0].seq);
        QCOMPARE(list->item(0, 9)->text(), QStringLiteral("approved"));
        QVERIFY(!window.findChild<QPushButton*>(QStringLiteral("approve"))->isEnabled());
        QVERIFY2(messages.messages.isEmpty(), qPrintable(messages.messages.join('\n')));
        QVERIFY(verifyChain(store).ok());
    }
};

QTEST_MAIN(TestCalibrationWindow)
#include "tst_calibration_window.moc"
