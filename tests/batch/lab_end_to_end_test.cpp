// A lab of three readers on one PostgreSQL store, as processes: three
// `kalvor --simulate` (four times faster than life) and three kalvor-batch,
// each reading 30 films into the same database at once. One kalvor-batch is
// killed with SIGKILL in the middle of a film and started again; the server
// is restarted in the middle of the batches. Films refused meanwhile are read
// again with the head's button. After: every film a head confirmed is its
// batch's current record exactly once, with its value; the chain verifies;
// each batch's export is what its kalvor-batch confirmed.
#include "batch/BatchProcessSupport.h"

#include "records/ChainVerifier.h"
#include "records/Csv.h"
#include "records/RecordStore.h"
#include "support/PostgresServer.h"

#include <atomic>
#include <cmath>
#include <random>
#include <thread>

using namespace kalvor;
using namespace kalvor::batchtest;

namespace {

constexpr int kReaders = 3;
constexpr int kFilms = 30;

struct Confirmed {
    QString id;
    double absorbance = 0;
};

struct Reader {
    int n = 0;
    Sandbox box;
    std::unique_ptr<Child> kalvor;
    std::unique_ptr<Child> batch;
    Hand hand;
    QList<Confirmed> confirmed;
    QString failure;  // what went wrong in the reader's thread
    int refusals = 0;
    // The reader's thread asks, the test's thread (which owns the processes)
    // kills kalvor-batch and starts it again.
    std::atomic<bool> killAsked{false};
    std::atomic<bool> killDone{false};

    QString name() const { return QStringLiteral("lab-%1").arg(n); }
    QString id(int film) const { return QStringLiteral("L%1-%2").arg(n).arg(film + 1, 3, 10, QLatin1Char('0')); }
};

double known(int reader, int film)
{
    std::mt19937 random(unsigned(100 * reader + film));
    return std::uniform_int_distribution<int>(50, 2500)(random) / 1000.0;
}

// One film from insertion to removal, read again after each refusal; what
// went wrong, or nothing.
std::optional<QString> readFilm(Reader& r, int film, bool killMidFilm)
{
    const QByteArray value = QByteArray::number(known(r.n, film), 'f', 3);
    if (!r.hand.put("film", value))
        return QStringLiteral("the film could not be slid in");
    if (killMidFilm) {
        r.killAsked = true;
        while (!r.killDone)
            QThread::msleep(20);
        // The film left in is not read by itself: out, and in again.
        if (!r.hand.put("dosimeter", "none") || (QThread::msleep(1000), !r.hand.put("film", value)))
            return QStringLiteral("the film could not be slid in again after the restart");
    }
    for (int attempt = 0; attempt < 40; ++attempt) {
        const Hand::Outcome outcome = r.hand.waitOutcome(15000);
        if (outcome == Hand::Outcome::Confirmed) {
            r.confirmed.append({r.id(film), known(r.n, film)});
            if (!r.hand.put("dosimeter", "none") || !r.hand.waitLed(false, 5000))
                return QStringLiteral("the LED stayed on after the film was taken out");
            return std::nullopt;
        }
        if (outcome == Hand::Outcome::Nothing)
            return QStringLiteral("neither confirmed nor refused within 15 s (attempt %1)").arg(attempt + 1);
        ++r.refusals;
        QThread::msleep(300);
        if (!r.hand.pressButton())
            return QStringLiteral("the head's button could not be pressed");
    }
    return QStringLiteral("refused 40 times");
}

int runTool(const Sandbox& box, const QStringList& args, QByteArray* said)
{
    Child tool(box, "kalvor-batch", args, QStringLiteral("tool"));
    const std::optional<int> status = tool.waitExit(60000);
    *said = tool.standardError() + tool.standardOutput();
    return status.value_or(-1);
}

} // namespace

TEST(BatchLab, ThreeReadersOnOnePostgresStoreThroughAKilledProgramAndAServerRestart)
{
    if (!faulttest::isBuilt("kalvor") || !faulttest::isBuilt("kalvor-batch"))
        GTEST_SKIP() << "kalvor and kalvor-batch are not built in " KALVOR_BIN_DIR;
    test::PostgresServer server;
    if (!server.isRunning())
        GTEST_SKIP() << "PostgreSQL cannot be started here: " << server.whyNot().toStdString();
    const QString store = server.uri();

    std::vector<std::unique_ptr<Reader>> readers;
    for (int n = 1; n <= kReaders; ++n) {
        auto r = std::make_unique<Reader>();
        r->n = n;
        ASSERT_TRUE(r->box.isValid());
        r->kalvor = std::make_unique<Child>(r->box, "kalvor",
                                            QStringList{QStringLiteral("--simulate=seed=%1,speed=4,identity=KALVOR%2")
                                                                            .arg(n)
                                                                            .arg(QStringLiteral("150") + QString::number(n) + QStringLiteral("1.9510600"))},
                                            QStringLiteral("kalvor"));
        ASSERT_TRUE(faulttest::waitServing(*r->kalvor, r->box.socketPath())) << r->kalvor->standardError().toStdString();
        ASSERT_TRUE(r->hand.open(r->box.socketPath()));
        readers.push_back(std::move(r));
    }
    // Started together: they find the database empty and make the store once.
    for (auto& r : readers)
        r->batch = std::make_unique<Child>(r->box, "kalvor-batch",
                                           QStringList{"--batch", r->name(), "--prefix", QStringLiteral("L%1-").arg(r->n),
                                                       "--store", store},
                                           QStringLiteral("batch"));
    for (auto& r : readers)
        ASSERT_TRUE(waitForOutput(*r->batch, "connected to KALVOR", 15000)) << r->batch->standardError().toStdString();

    std::atomic<int> done{0};      // films read
    std::atomic<int> finished{0};  // readers' threads at their end
    std::vector<std::thread> hands;
    for (auto& r : readers)
        hands.emplace_back([&, reader = r.get()] {
            for (int film = 0; film < kFilms; ++film) {
                QThread::msleep(unsigned(film * 37 % 150));  // a hand is not in step with the reader
                if (const std::optional<QString> failed = readFilm(*reader, film, reader->n == 2 && film == 8)) {
                    reader->failure = QStringLiteral("film %1: %2; kalvor-batch said: %3")
                                          .arg(reader->id(film), *failed,
                                               QString::fromLocal8Bit(reader->batch->standardError().right(2000)));
                    break;
                }
                done++;
            }
            finished++;
        });
    // One kalvor-batch is killed while a film settles (no reading of it is
    // stored yet) and started again; the server goes away and comes back
    // while the films are being read.
    Reader& killed = *readers[1];
    bool restarted = false, restartFailed = false;
    while (finished < kReaders) {
        if (killed.killAsked && !killed.killDone) {
            QThread::msleep(150);
            killed.batch->killNow();
            killed.batch = startBatch(killed.box, store, QStringLiteral("batch-again"), killed.name(), QStringLiteral("L2-"));
            killed.killDone = true;
        }
        if (!restarted && done >= kReaders * kFilms / 2) {
            restartFailed = !server.restart();
            restarted = true;
        }
        QThread::msleep(20);
    }
    for (std::thread& t : hands)
        t.join();
    ASSERT_TRUE(restarted && !restartFailed) << server.log().toStdString();
    EXPECT_TRUE(killed.killDone);
    {  // DEBUG
        records::RecordStore dbg;
        QString w;
        if (dbg.open(store, records::RecordStore::OpenMode::ReadOnly, &w) == records::RecordStore::OpenError::None)
            for (const records::EventRecord& e : dbg.events())
                std::printf("EV %lld %s %lld %s\n", e.seq, qPrintable(e.kind), e.batch.value_or(0), qPrintable(e.detail));
    }
    for (auto& r : readers) {
        ASSERT_TRUE(r->failure.isEmpty()) << r->name().toStdString() << ": " << r->failure.toStdString();
        r->hand.drain();
        EXPECT_EQ(r->batch->terminate(), std::optional<int>(0)) << r->batch->standardError().toStdString();
    }

    records::RecordStore check;
    QString why;
    ASSERT_EQ(check.open(store, records::RecordStore::OpenMode::ReadOnly, &why), records::RecordStore::OpenError::None)
        << why.toStdString();
    const records::ChainReport report = records::verifyChain(check);
    EXPECT_TRUE(report.ok()) << report.summary().toStdString();
    int storeBack = 0;
    for (const records::EventRecord& e : check.events())
        storeBack += e.kind == records::event::StoreBack;
    EXPECT_GE(storeBack, 1) << "the restart is in the audit trail";
    QByteArray said;
    EXPECT_EQ(runTool(readers[0]->box, {"verify", "--store", store}, &said), 0) << said.toStdString();

    int refusals = 0;
    for (auto& r : readers) {
        refusals += r->refusals;
        ASSERT_EQ(r->confirmed.size(), kFilms);
        const QString csvPath = r->box.dir() + QStringLiteral("/export.csv");
        ASSERT_EQ(runTool(r->box, {"export", "--batch", r->name(), "--csv", csvPath, "--store", store}, &said), 0)
            << said.toStdString();
        QList<QStringList> rows;
        ASSERT_TRUE(records::csv::parse(QString::fromUtf8(Sandbox::readAll(csvPath)), &rows, &why)) << why.toStdString();
        const QStringList header = rows.takeFirst();
        const int id = int(header.indexOf(QStringLiteral("dosimeter_id"))), a = int(header.indexOf(QStringLiteral("absorbance"))),
                  current = int(header.indexOf(QStringLiteral("current")));
        rows.removeIf([&](const QStringList& row) { return row.value(current) != QLatin1String("1"); });
        ASSERT_EQ(rows.size(), r->confirmed.size()) << r->name().toStdString() << ": one current record per confirmed film";
        for (qsizetype i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i][id], r->confirmed[i].id);
            EXPECT_NEAR(rows[i][a].toDouble(), r->confirmed[i].absorbance, 0.0015) << r->confirmed[i].id.toStdString();
        }
    }
    std::printf("[ lab      ] %d readers x %d films, %d refused while the server was away (read again)\n", kReaders, kFilms,
                refusals);
}
