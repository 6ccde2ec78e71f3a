// The batch window over a link server that the test drives as KALVOR would:
// it shows the link, the reading and its status, the next ID (also a scanned
// one), what the capture does, the stored records and the chart's readings;
// F5 captures a film on a head without a sensor; File > Report writes the
// batch's report and records it.
#include "batch/BatchSession.h"
#include "records/RecordStore.h"
#include "batchwin/BatchWindow.h"
#include "core/MessageSink.h"
#include "link/LinkServer.h"
#include "link/LinkTopic.h"

#include <QLabel>
#include <QLineEdit>
#include <QFrame>
#include <QPushButton>
#include <QTableView>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace kalvor;
using namespace kalvor::batch;
using namespace kalvor::records;

namespace {

class ReaderTopic : public LinkTopic {
public:
    ReaderTopic()
        : LinkTopic(QStringLiteral("reader"),
                    {QStringLiteral("model"), QStringLiteral("serial"), QStringLiteral("gain"), QStringLiteral("wavelength"),
                     QStringLiteral("zero"), QStringLiteral("zeroTime"), QStringLiteral("status"), QStringLiteral("dosimeter"),
                     QStringLiteral("button"), QStringLiteral("led"), QStringLiteral("beep")})
    {
    }
    PutResult put(const QString& item, const QString& text) override
    {
        set(item, text);
        return {};
    }
};

} // namespace

class TestBatchWindow : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    LinkTopic data{QStringLiteral("data"), {QStringLiteral("A"), QStringLiteral("na"), QStringLiteral("nb"), QStringLiteral("nc")}};
    ReaderTopic reader;
    std::unique_ptr<LinkServer> server;
    RecordStore store;
    std::unique_ptr<BatchSession> session;
    std::unique_ptr<batchwin::BatchWindow> window;
    RecordingMessageSink messages;

    template <class T>
    T* child(const char* name) { return window->findChild<T*>(QLatin1String(name)); }
    QString text(const char* name) { return child<QLabel>(name)->text(); }
    void reading(const char* a)
    {
        reader.set(QStringLiteral("status"), QStringLiteral("ok"));
        data.set(QStringLiteral("A"), QLatin1String(a));
        QTest::qWait(40);
    }

private slots:
    void initTestCase()
    {
        server = std::make_unique<LinkServer>(QList<LinkTopic*>{&data, &reader});
        QString why;
        QVERIFY2(server->listen(dir.path() + QStringLiteral("/link.sock"), &why), qPrintable(why));
        reader.set(QStringLiteral("model"), QStringLiteral("1500"));
        reader.set(QStringLiteral("wavelength"), QStringLiteral("510 nm"));
        reader.set(QStringLiteral("dosimeter"), QStringLiteral("0"));
        QCOMPARE(store.open(dir.path() + QStringLiteral("/records.sqlite"), RecordStore::OpenMode::CreateIfMissing, &why),
                 RecordStore::OpenError::None);
        session = std::make_unique<BatchSession>(store, dir.path() + QStringLiteral("/link.sock"));
        BatchOptions o;
        o.name = QStringLiteral("w1");
        o.idPrefix = QStringLiteral("F-");
        QVERIFY2(session->openBatch(o, &why), qPrintable(why));
        window = std::make_unique<batchwin::BatchWindow>(*session);
        window->show();
        session->start();
        QTRY_VERIFY(text("linkState").contains(QStringLiteral("connected")));
    }

    void showsEachFilmFromInsertionToItsRecord()
    {
        QCOMPARE(text("nextId"), QStringLiteral("F-001"));
        reader.set(QStringLiteral("dosimeter"), QStringLiteral("1"));
        reading(" 0.612");
        QCOMPARE(text("absorbance"), QStringLiteral("0.612"));
        QVERIFY(text("status").contains(QStringLiteral("ok")));
        QVERIFY2(window->captureText().startsWith(QStringLiteral("Reading F-001")), qPrintable(window->captureText()));
        reading(" 0.613");
        reading(" 0.612");
        QTRY_COMPARE(child<QTableView>("records")->model()->rowCount(), 1);
        const QAbstractItemModel* model = child<QTableView>("records")->model();
        QCOMPARE(model->index(0, batchwin::RecordTableModel::Dosimeter).data().toString(), QStringLiteral("F-001"));
        QCOMPARE(model->index(0, batchwin::RecordTableModel::Absorbance).data().toString(), QStringLiteral("0.612"));
        QVERIFY2(window->captureText().startsWith(QStringLiteral("Stored F-001: 0.612")), qPrintable(window->captureText()));
        QCOMPARE(text("nextId"), QStringLiteral("F-001"));  // still in the head
        QCOMPARE(session->history().points().size(), 3);
        QTRY_COMPARE(reader.text(QStringLiteral("led")), QStringLiteral("1"));

        reader.set(QStringLiteral("dosimeter"), QStringLiteral("0"));
        QTRY_COMPARE(reader.text(QStringLiteral("led")), QStringLiteral("0"));
        QCOMPARE(text("nextId"), QStringLiteral("F-002"));
        QVERIFY2(window->captureText().startsWith(QStringLiteral("Insert the next film")), qPrintable(window->captureText()));
    }

    void takesAScannedIdAndCapturesWithF5()
    {
        auto* scan = child<QLineEdit>("scan");
        scan->setFocus();
        QTest::keyClicks(scan, QStringLiteral("LOT9-17"));
        QTest::keyClick(scan, Qt::Key_Return);
        QCOMPARE(text("nextId"), QStringLiteral("LOT9-17"));
        QTest::keyClick(window.get(), Qt::Key_F5);
        QCOMPARE(session->machine().state(), CaptureState::Settling);
        reading(" 1.002");
        reading(" 1.001");
        reading(" 1.001");
        QTRY_COMPARE(child<QTableView>("records")->model()->rowCount(), 2);
        QCOMPARE(session->records().last().dosimeterId, QStringLiteral("LOT9-17"));
        QCOMPARE(session->records().last().trigger, QStringLiteral("key"));
        QCOMPARE(session->nextId(), QStringLiteral("F-002"));
        QVERIFY(messages.messages.isEmpty());
    }

    void asksWhatBecomesOfARefusedFilmsIdUntilAnswered()
    {
        reader.set(QStringLiteral("dosimeter"), QStringLiteral("1"));
        for (int i = 0; i < 3; ++i) {
            reader.set(QStringLiteral("status"), QStringLiteral("over-range"));
            data.set(QStringLiteral("A"), QStringLiteral(">3.0"));
            QTest::qWait(40);
        }
        reader.set(QStringLiteral("dosimeter"), QStringLiteral("0"));
        auto* readAgain = child<QPushButton>("readAgain");
        QTRY_VERIFY(child<QFrame>("attention")->isVisible());
        QCOMPARE(readAgain->text().remove(QLatin1Char('&')), QStringLiteral("Read F-002 Again"));
        QVERIFY(text("attentionText").contains(QStringLiteral("over-range")));
        QVERIFY2(window->captureText().contains(QStringLiteral("over-range")), qPrintable(window->captureText()));
        readAgain->click();
        QVERIFY(!child<QFrame>("attention")->isVisible());
        QCOMPARE(text("nextId"), QStringLiteral("F-002"));
    }

    void reportsTheBatchAndRecordsTheReport()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        const QString pdf = dir.filePath(QStringLiteral("w1.pdf"));
        QVERIFY(window->reportTo(pdf));
        QProcess text;
        text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
        QVERIFY(text.waitForFinished(30000));
        const QString out = QString::fromUtf8(text.readAllStandardOutput());
        QVERIFY2(out.contains(QStringLiteral("Absorbance report")), qPrintable(out));
        QVERIFY2(out.contains(QRegularExpression(QStringLiteral("F-001 .* 0\\.612"))), qPrintable(out));
        QCOMPARE(store.events().constLast().kind, event::Report);
        QVERIFY(messages.messages.isEmpty());
    }

    void cleanupTestCase()
    {
        window.reset();
        session.reset();
        server.reset();
    }
};

QTEST_MAIN(TestBatchWindow)
#include "tst_batch_window.moc"
