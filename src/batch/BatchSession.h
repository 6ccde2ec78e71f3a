#pragma once
// A batch being read: the link to KALVOR, the capture of each film, the
// record store and the dosimeter IDs, wired together. It stores each record
// before it lights the head's LED and beeps, keeps the audit trail of events,
// and records every filter check result that the reader serves meanwhile.
// Knows nothing of windows: the batch window shows what it signals.
#include "batch/CaptureMachine.h"
#include "batch/IdPlan.h"
#include "batch/LinkSession.h"
#include "batch/ReaderInfo.h"
#include "batch/ReadingHistory.h"
#include "records/Records.h"
#include "records/RecordStore.h"

#include <QHash>
#include <QObject>
#include <QSet>

namespace kalvor::batch {

// Batch reading works on the rows of the record store.
using namespace kalvor::records;


struct BatchOptions {
    QString name;
    QString operatorName;  // default: the login name
    QString lot;
    QString idPrefix;      // default: the batch name and "-"
    QString idFirst;       // default: 001
    std::optional<QStringList> ids;  // given: the batch's list from now on
};

// Beep lengths on the head's buzzer, in milliseconds.
inline constexpr int kShortBeepMs = 100;
inline constexpr int kLongBeepMs = 1000;

class BatchSession : public QObject {
    Q_OBJECT
public:
    static QString loginName();

    // The store must stay open for the life of the session.
    BatchSession(RecordStore& store, QString socketPath, QObject* parent = nullptr);
    ~BatchSession() override;

    // Opens the batch of that name: a new one, the open one going on, or a
    // closed one opened again. Returns false (nothing changed) with the reason.
    bool openBatch(const BatchOptions& options, QString* why);
    bool closeBatch(QString* why);
    bool hasBatch() const { return batch_.seq != 0; }
    const BatchRecord& batch() const { return batch_; }
    const QString& operatorName() const { return operator_; }

    // Starts the link (program-start event); stop() ends it (program-stop
    // event, LED off).
    void start();
    void stop();

    bool setIdList(const QStringList& ids, QString* why);
    const IdPlan& idPlan() const { return plan_; }
    // The next film gets this ID (a barcode scanned or typed).
    void setScannedId(const QString& id);
    const QString& scannedId() const { return scanned_; }
    // The ID the next new film gets; empty when there is none.
    QString nextId() const;
    int remainingIds() const { return plan_.remaining(used_); }

    void setRule(const StabilityRule& rule) { machine_.setRule(rule); }
    const StabilityRule& rule() const { return machine_.rule(); }
    void requestCapture() { machine_.requestCapture(); }
    // A reading stored earlier gets another dosimeter ID: a new row naming it.
    std::optional<qint64> correctId(qint64 readingSeq, const QString& newId, QString* why);

    const QList<ReadingRecord>& records() const { return records_; }
    const CaptureMachine& machine() const { return machine_; }
    const ReaderInfo& reader() const { return reader_; }
    const ReadingHistory& history() const { return history_; }
    std::optional<Reading> lastReading() const { return lastReading_; }
    LinkSession& link() { return link_; }
    RecordStore& store() { return store_; }
    // The wavelength changed during the batch: "510 nm -> 600 nm"; empty if not.
    const QString& wavelengthWarning() const { return wavelengthWarning_; }

    // Every item the session links, in the order it links them.
    static QList<link::ItemName> linkedItems();

signals:
    void linkStateChanged(kalvor::batch::LinkSession::State state, const QString& text);
    void readingArrived(const kalvor::batch::Reading& reading);
    void readerChanged();
    void recordStored(const kalvor::records::ReadingRecord& record);
    void filterCheckStored(const kalvor::records::FilterCheckRecord& check);
    void captureStateChanged(kalvor::batch::CaptureState state);
    void settling(const QString& id, bool reread);
    void refused(const QString& id, const QString& reason);
    void nextIdChanged(const QString& id);
    void wavelengthChanged(const QString& from, const QString& to);
    // Something the user should know that is no refusal (a store failure, a link refusal).
    void problem(const QString& text);
    void batchChanged();

private:
    void onItem(const QString& topic, const QString& item, const ItemValue& value, bool fresh);
    void onLinkState(LinkSession::State state, const QString& text);
    void onFilterCheck(const QString& item, const ItemValue& value, bool fresh);
    void onWavelength(const QString& wavelength);
    std::optional<QString> idForNextFilm(QString* why) const;
    std::optional<qint64> store(const Capture& capture, QString* why);
    void event(const QString& kind, const QString& detail);
    // An event of this session: its time, kind and detail, with the open batch, operator and version.
    EventRecord newEvent(const QString& kind, const QString& detail, const QString& timeUtc) const;
    void putHead(const QString& item, const QString& value);

    RecordStore& store_;
    LinkSession link_;
    CaptureMachine machine_;
    BatchRecord batch_;
    QString operator_;
    IdPlan plan_;
    QSet<QString> used_;
    QString scanned_;
    QList<ReadingRecord> records_;
    ReaderInfo reader_;
    ReadingHistory history_;
    std::optional<Reading> lastReading_;
    quint64 lastASeq_ = 0;
    QString lastWavelength_;
    QString wavelengthWarning_;
    bool everConnected_ = false;
    bool linkUp_ = false;
    bool started_ = false;
    QDateTime startedAt_;
    QHash<QString, QDateTime> filterSeen_;  // per item: the time of the last result recorded or seen
};

} // namespace kalvor::batch
