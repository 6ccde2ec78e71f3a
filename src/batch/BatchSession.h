#pragma once
// A batch being read: the link to KALVOR, the capture of each film, the
// record store and the dosimeter IDs, wired together. It stores each record
// before it lights the head's LED and beeps, keeps the audit trail of events,
// and records every filter check result that the reader serves meanwhile.
//
// A green light means a right record: no film is read while the reader's
// zero is not usable or the empty head does not read zero, and a refused
// film's ID is never handed to the next film without a decision (read it
// again, or void the ID with a reason). Every dosimeter has one current
// record: a re-read, a correction or a void names the record it supersedes
// and says why.
// Knows nothing of windows: the batch window shows what it signals.
#include "batch/CaptureMachine.h"
#include "batch/DailyCheck.h"
#include "batch/Dosimetry.h"
#include "records/Doses.h"
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
    std::optional<QList<IdEntry>> ids;  // given: the batch's list from now on
    // The terms the batch is read under; each given one replaces the batch's.
    std::optional<QDateTime> irradiated;              // end of irradiation
    std::optional<std::pair<double, double>> limits;  // kGy
    std::optional<bool> guardBand;                    // decision rule: guard band of U, or simple acceptance
};

// Beep lengths on the head's buzzer, in milliseconds.
inline constexpr int kShortBeepMs = 100;
inline constexpr int kLongBeepMs = 1000;
// Names of batches, operators and lots, and reasons: at most this long.
inline constexpr int kMaxNameLength = 200;
inline constexpr int kMaxReasonLength = 500;
// An empty head reads zero within this (absorbance); two empty-head readings
// in a row beyond it stop capture until the reader is zeroed again.
inline constexpr double kEmptyHeadTolerance = 0.010;
inline constexpr int kEmptyHeadRun = 2;

// What the window shows in large type until it is dealt with.
struct Attention {
    enum class Kind { None, Blocked, Refused, Held };  // Held: the day's filter check (DailyCheck.h)
    Kind kind = Kind::None;
    QString text;       // what is wrong and what to do
    QString refusedId;  // Refused: the ID that waits for a decision
};

class BatchSession : public QObject {
    Q_OBJECT
public:
    static QString loginName();
    // Why a name (batch, operator, lot) or a reason cannot be used; empty when it can.
    static QString nameProblem(const QString& what, const QString& text, int maxLength = kMaxNameLength);

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
    // Called with the reader's serial as soon as it is known; false (with the
    // reason) when another batch window already reads that reader: the
    // session then stops linking and signals readerTaken.
    std::function<bool(const QString& serial, QString* why)> claimReader;

    bool setIdList(const QList<IdEntry>& ids, QString* why);
    const IdPlan& idPlan() const { return plan_; }
    // The next film gets this ID (a barcode scanned or typed). An ID that
    // already has a current record needs a reason: the new reading supersedes it.
    bool setScannedId(const QString& id, const QString& reason, QString* why);
    void setScannedId(const QString& id);
    const QString& scannedId() const { return scanned_; }
    // The ID the next new film gets; empty when there is none.
    QString nextId() const;
    int remainingIds() const { return plan_.remaining(used_); }

    void setRule(const StabilityRule& rule) { machine_.setRule(rule); }
    const StabilityRule& rule() const { return machine_.rule(); }
    void requestCapture() { machine_.requestCapture(); }
    // Reads the film in the head again (its record is held), for this reason.
    void requestReread(const QString& reason);
    // A reading stored earlier gets another dosimeter ID: a new row naming it.
    std::optional<qint64> correctId(qint64 readingSeq, const QString& newId, const QString& reason, QString* why);
    // The ID is given up: a void record with the reason (superseding its
    // current record, if any).
    std::optional<qint64> voidId(const QString& id, const QString& reason, QString* why);
    // The refused film will be read again under its ID.
    void readRefusedAgain();
    // Orders a zero of the reader (refused by KALVOR while a film is in).
    void zeroReader();

    const QList<ReadingRecord>& records() const { return records_; }
    // The batch's terms (irradiation, limits, rule), if it has any.
    const std::optional<BatchTermsRecord>& terms() const { return terms_; }
    // The current dose of each stored reading that has one, by reading.
    const QHash<qint64, DoseRecord>& doses() const { return doses_; }
    // The dose a reading now would give, from the batch's lot and its approved
    // calibration for the reader and wavelength; nothing (why says why) when
    // the batch is read for absorbance only.
    std::optional<FilmDose> doseOf(double absorbance, QString* why) const;
    // The dosimeter's current record; nothing when it has none.
    std::optional<ReadingRecord> currentRecord(const QString& id) const;
    bool isCurrent(qint64 seq) const { return !superseded_.contains(seq); }
    const CaptureMachine& machine() const { return machine_; }
    const ReaderInfo& reader() const { return reader_; }
    const ReadingHistory& history() const { return history_; }
    std::optional<Reading> lastReading() const { return lastReading_; }
    LinkSession& link() { return link_; }
    RecordStore& store() { return store_; }
    DailyCheckGuard& dailyCheck() { return dailyCheck_; }
    // The wavelength changed during the batch: "510 nm -> 600 nm"; empty if not.
    const QString& wavelengthWarning() const { return wavelengthWarning_; }
    Attention attention() const;

    // Every item the session links, in the order it links them.
    static QList<link::ItemName> linkedItems();

signals:
    void linkStateChanged(kalvor::batch::LinkSession::State state, const QString& text);
    void readingArrived(const kalvor::batch::Reading& reading);
    void readerChanged();
    void recordStored(const kalvor::records::ReadingRecord& record);
    // Stored with the reading, in the same transaction, before recordStored.
    void doseStored(const kalvor::records::DoseRecord& dose);
    void filterCheckStored(const kalvor::records::FilterCheckRecord& check);
    void captureStateChanged(kalvor::batch::CaptureState state);
    void settling(const QString& id, bool reread);
    void refused(const QString& id, const QString& reason);
    void nextIdChanged(const QString& id);
    void wavelengthChanged(const QString& from, const QString& to);
    // What attention() says has changed.
    void attentionChanged();
    // Something the user should know that is no refusal (a store failure, a link refusal).
    void problem(const QString& text);
    void batchChanged();
    // Another batch window reads this reader; this one stopped linking.
    void readerTaken(const QString& why);

private:
    void onItem(const QString& topic, const QString& item, const ItemValue& value, bool fresh);
    void onLinkState(LinkSession::State state, const QString& text);
    void onFilterCheck(const QString& item, const ItemValue& value, bool fresh);
    void onWavelength(const QString& wavelength);
    void onReading(const Reading& r);
    void onZeroChanged(bool fresh);
    std::optional<QString> idForNextFilm(QString* why) const;
    QString blockReason(bool reread) const;
    QString zeroProblem() const;
    void attentionMayHaveChanged();
    std::optional<qint64> store(const Capture& capture, QString* why);
    std::optional<qint64> appendRecord(ReadingRecord r, const EventRecord& e, QString* why);
    bool setTerms(const BatchOptions& options, QString* why);
    void recount();
    void recognise();
    void event(const QString& kind, const QString& detail);
    // An append failed / worked: after failures (or a connection made again)
    // the first that works records a store-back event and says so.
    void storeFailed(const QString& why);
    void storeWorked();
    // An event of this session: its time, kind and detail, with the open batch, operator and version.
    EventRecord newEvent(const QString& kind, const QString& detail, const QString& timeUtc) const;
    void putHead(const QString& item, const QString& value);
    ReadingRecord readerRecord() const;

    RecordStore& store_;
    LinkSession link_;
    CaptureMachine machine_;
    BatchRecord batch_;
    QString operator_;
    IdPlan plan_;
    QSet<QString> used_;        // IDs with a current record (a void one too)
    QHash<qint64, qint64> superseded_;  // records that a later one replaced, and by which
    QString scanned_;
    QString scannedReason_;
    QString rereadReason_;
    QList<ReadingRecord> records_;
    std::optional<BatchTermsRecord> terms_;
    QHash<qint64, DoseRecord> doses_;
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

    // The refused film whose ID waits for a decision.
    std::optional<std::pair<QString, QString>> refusal_;  // ID, reason
    // Readings of the empty head: the last one waits for the sensor's word
    // that the head stayed empty after it.
    std::optional<double> emptyCandidate_;
    int driftRun_ = 0;
    bool sensorWorks_ = false;  // the head's sensor has sensed a film
    QString drift_;  // why capture stopped: the empty head does not read zero
    QString claimedSerial_;
    bool readerLost_ = false;
    DailyCheckGuard dailyCheck_{*this};
    QString storeTrouble_;  // since when and why appends fail; empty while they work
};

} // namespace kalvor::batch
