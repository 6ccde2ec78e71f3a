#include "batchwin/BatchProgram.h"

#include "batch/BatchSettings.h"
#include "records/RecordStore.h"
#include "batchwin/BatchWindow.h"
#include "core/MessageSink.h"
#include "core/PrintableText.h"
#include "core/UnixSignals.h"
#include "link/LinkPaths.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QTimer>
#include <cstdio>

namespace kalvor::batchwin {

using namespace kalvor::batch;

namespace {

QIcon windowIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/kalvor/icons/kalvor-%1.png").arg(size));
    return icon;
}

// One batch window per reader: a second one would capture every film twice.
// The lock is named after the reader's serial number (not after the link's
// socket, which can be reached under other names), in the user's runtime
// folder, and taken as soon as the reader tells its serial, before any reading.
class ReaderLock {
public:
    bool claim(const QString& serial, QString* why)
    {
        const QString dir = LinkPaths::socketDir();
        if (!LinkPaths::prepareDir(dir, why))
            return false;
        QString safe;
        for (const QChar c : serial)
            safe += c.isLetterOrNumber() && c.unicode() < 128 ? QString(c) : QStringLiteral("_%1").arg(c.unicode(), 0, 16);
        InstanceLock::Status status = InstanceLock::Status::Failed;
        QString detail;
        std::optional<InstanceLock> lock =
            InstanceLock::acquire(dir + QStringLiteral("/batch-SN%1.lock").arg(safe), &status, &detail);
        if (!lock) {
            alreadyRunning = status == InstanceLock::Status::AlreadyRunning;
            *why = alreadyRunning ? QStringLiteral("kalvor-batch is already running for reader %1.").arg(serial)
                                  : QStringLiteral("kalvor-batch cannot take its lock for reader %1: %2").arg(serial, detail);
            return false;
        }
        lock_ = std::move(lock);  // a reader of another serial lets the first one go
        return true;
    }
    bool alreadyRunning = false;

private:
    std::optional<InstanceLock> lock_;
};

// One batch window per link socket as well, taken before anything is
// opened, so that the usual second start ends at once.
std::optional<InstanceLock> lockSocket(const CommandLine& cl, int* exitStatus)
{
    const QString dir = QFileInfo(cl.socketPath).absolutePath();
    QString why;
    if (!LinkPaths::prepareDir(dir, &why)) {
        std::fprintf(stderr, "kalvor-batch: %s\n", qPrintable(terminalText(why)));
        *exitStatus = exitcode::StoreError;
        return std::nullopt;
    }
    InstanceLock::Status status = InstanceLock::Status::Failed;
    std::optional<InstanceLock> lock = InstanceLock::acquire(dir + QStringLiteral("/batch.lock"), &status, &why);
    if (!lock) {
        showMessage(status == InstanceLock::Status::AlreadyRunning
                        ? QStringLiteral("kalvor-batch is already running for this reader.")
                        : QStringLiteral("kalvor-batch cannot take its lock: %1").arg(why));
        *exitStatus = status == InstanceLock::Status::AlreadyRunning ? exitcode::AlreadyRunning : exitcode::StoreError;
    }
    return lock;
}

} // namespace

int runBatchWindow(const CommandLine& cl)
{
    QApplication::setWindowIcon(windowIcon());
    int status = exitcode::Ok;
    const std::optional<InstanceLock> socketLock = lockSocket(cl, &status);
    if (!socketLock)
        return status;
    ReaderLock readerLock;
    RecordStore store;
    QString why;
    if (store.open(cl.storePath, RecordStore::OpenMode::CreateIfMissing, &why) != RecordStore::OpenError::None) {
        showMessage(QStringLiteral("The record store cannot be opened: %1").arg(why));
        return exitcode::StoreError;
    }

    BatchSession session(store, cl.socketPath);
    session.setRule(cl.rule.value_or(BatchSettings::rule()));
    const DailyCheckSetting dailyCheck = dailyCheckSetting();
    if (!dailyCheck.problem.isEmpty() && !cl.dailyCheck)
        showMessage(dailyCheck.problem);
    session.dailyCheck().setMode(cl.dailyCheck.value_or(dailyCheck.mode));
    BatchOptions options = cl.batch;
    if (!cl.idsFile.isEmpty()) {
        const std::optional<QList<IdEntry>> ids = readIdFile(cl.idsFile, &why);
        if (!ids) {
            std::fprintf(stderr, "kalvor-batch: %s\n", qPrintable(terminalText(why)));
            return exitcode::Usage;
        }
        options.ids = *ids;
    }
    if (cl.batchGiven && !session.openBatch(options, &why)) {
        showMessage(QStringLiteral("The batch %1 cannot be opened: %2").arg(options.name, why));
        return exitcode::StoreError;
    }

    session.claimReader = [&readerLock](const QString& serial, QString* why) { return readerLock.claim(serial, why); };
    QObject::connect(&session, &BatchSession::readerTaken, qApp, [&](const QString& why) {
        std::fprintf(stderr, "kalvor-batch: %s\n", qPrintable(terminalText(why)));
        status = readerLock.alreadyRunning ? exitcode::AlreadyRunning : exitcode::StoreError;
        showMessage(why);
        QTimer::singleShot(0, qApp, [&status] { QApplication::exit(status); });
    });

    BatchWindow window(session);
    UnixSignals unixSignals;
    QObject::connect(&unixSignals, &UnixSignals::terminationRequested, &window, &QWidget::close);
    session.start();
    window.show();
    if (!cl.batchGiven)
        QTimer::singleShot(0, &window, [&window] { window.newBatch(); });
    QObject::connect(qApp, &QApplication::lastWindowClosed, qApp, &QApplication::quit);
    const int result = QApplication::exec();
    session.stop();
    return status != exitcode::Ok ? status : result == 0 ? exitcode::Ok : result;
}

} // namespace kalvor::batchwin
