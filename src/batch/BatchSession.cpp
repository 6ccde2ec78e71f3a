#include "batch/BatchSession.h"

#include "batch/DoseAssessment.h"
#include "core/PrintableText.h"
#include "records/CurrentRecords.h"

#include <QLoggingCategory>

#include <cmath>
#include <pwd.h>
#include <unistd.h>

namespace kalvor::batch {

namespace {

Q_LOGGING_CATEGORY(lcBatch, "kalvor.batch")

const QString kReader = QStringLiteral("reader");
const QString kData = QStringLiteral("data");
const QString kOk = QStringLiteral("ok");
const QString kVoid = QStringLiteral("void");
const QString kButtonReread = QStringLiteral("read again with the head's button");

QString filterName(const QString& item)
{
    if (item == QLatin1String("na"))
        return QStringLiteral("light");
    if (item == QLatin1String("nb"))
        return QStringLiteral("medium");
    return QStringLiteral("dark");
}

QString version() { return QStringLiteral(KALVOR_VERSION); }

bool hasControl(const QString& text)
{
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return true;
    return false;
}

} // namespace

QString BatchSession::loginName()
{
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    const QString user = qEnvironmentVariable("USER");
    return user.isEmpty() ? QStringLiteral("uid %1").arg(::getuid()) : user;
}

QString BatchSession::nameProblem(const QString& what, const QString& text, int maxLength)
{
    if (text.size() > maxLength)
        return QStringLiteral("the %1 is %2 characters long; at most %3 are kept").arg(what).arg(text.size()).arg(maxLength);
    if (hasControl(text))
        return QStringLiteral("the %1 holds control characters (a line break, a tab, an escape)").arg(what);
    return {};
}

QList<link::ItemName> BatchSession::linkedItems()
{
    // Identity and status first: a reading (data A) that arrives after them
    // finds the status that belongs to it; the sensor after the reading.
    QList<link::ItemName> items;
    for (const char* item : {"model", "serial", "gain", "wavelength", "zero", "zeroTime", "zeroStatus", "status"})
        items.append({kReader, QLatin1String(item)});
    items.append({kData, QStringLiteral("A")});
    items.append({kReader, QStringLiteral("dosimeter")});
    items.append({kReader, QStringLiteral("button")});
    for (const char* item : {"na", "nb", "nc"})
        items.append({kData, QLatin1String(item)});
    return items;
}

BatchSession::BatchSession(RecordStore& store, QString socketPath, QObject* parent)
    : QObject(parent),
      store_(store),
      link_(std::move(socketPath), linkedItems()),
      machine_(CaptureMachine::Hooks{[this](QString* why) { return idForNextFilm(why); },
                                     [this](const Capture& c, QString* why) { return this->store(c, why); },
                                     [this](bool reread) { return blockReason(reread); }})
{
    operator_ = loginName();
    connect(&link_, &LinkSession::itemUpdated, this, &BatchSession::onItem);
    connect(&link_, &LinkSession::stateChanged, this, &BatchSession::onLinkState);
    connect(&link_, &LinkSession::linkRefused, this, [this](const QString& topic, const QString& item, const QString& error) {
        emit problem(QStringLiteral("KALVOR does not serve %1!%2 (%3); is it older than this program?").arg(topic, item, error));
    });
    connect(&link_, &LinkSession::putDone, this, [this](const QString& topic, const QString& item, bool ok, const QString& error) {
        if (!ok)
            emit problem(QStringLiteral("KALVOR refused to set %1!%2: %3").arg(topic, item, error));
    });
    connect(&machine_, &CaptureMachine::stateChanged, this, [this](CaptureState state) {
        emit captureStateChanged(state);
        attentionMayHaveChanged();
    });
    connect(&machine_, &CaptureMachine::settling, this, [this](const QString& id, bool reread) {
        // Reading the refused film again is the decision its ID waited for.
        if (refusal_ && refusal_->first == id)
            refusal_.reset();
        emit settling(id, reread);
        attentionMayHaveChanged();
    });
    connect(&machine_, &CaptureMachine::confirmed, this, [this](const Capture&, qint64) {
        putHead(QStringLiteral("led"), QStringLiteral("1"));
        putHead(QStringLiteral("beep"), QString::number(kShortBeepMs));
    });
    connect(&machine_, &CaptureMachine::refused, this, [this](const QString& id, const QString& reason) {
        putHead(QStringLiteral("beep"), QString::number(kLongBeepMs));
        event(event::Refused, id.isEmpty() ? reason : QStringLiteral("%1: %2").arg(id, reason));
        // A new film's ID stays open until someone decides; a re-read keeps
        // the record it was to repeat.
        if (!id.isEmpty() && !used_.contains(id))
            refusal_ = std::make_pair(id, reason);
        emit refused(id, reason);
        attentionMayHaveChanged();
    });
    connect(&machine_, &CaptureMachine::blocked, this, [this](const QString& reason) {
        putHead(QStringLiteral("beep"), QString::number(kLongBeepMs));
        event(event::Blocked, reason);
        attentionMayHaveChanged();
    });
    connect(&dailyCheck_, &DailyCheckGuard::changed, this, &BatchSession::attentionMayHaveChanged);
    connect(&machine_, &CaptureMachine::released, this, [this] {
        putHead(QStringLiteral("led"), QStringLiteral("0"));
        emit nextIdChanged(nextId());
    });
}

BatchSession::~BatchSession() { stop(); }

void BatchSession::putHead(const QString& item, const QString& value) { link_.put(kReader, item, value); }

EventRecord BatchSession::newEvent(const QString& kind, const QString& detail, const QString& timeUtc) const
{
    EventRecord e;
    e.timeUtc = timeUtc;
    e.kind = kind;
    if (hasBatch())
        e.batch = batch_.seq;
    e.detail = detail;
    e.operatorName = operator_;
    e.programVersion = version();
    return e;
}

void BatchSession::event(const QString& kind, const QString& detail)
{
    EventRecord e = newEvent(kind, detail, utcNow());
    QString why;
    if (!store_.appendEvent(e, &why)) {
        storeFailed(why);
        emit problem(QStringLiteral("could not record the event %1: %2").arg(kind, why));
        return;
    }
    storeWorked();
}

void BatchSession::storeFailed(const QString& why)
{
    if (storeTrouble_.isEmpty())
        storeTrouble_ = QStringLiteral("since %1: %2").arg(utcNow(), why);
}

void BatchSession::storeWorked()
{
    const QString reconnection = store_.takeReconnection();
    if (storeTrouble_.isEmpty() && reconnection.isEmpty())
        return;
    QStringList what;
    if (!storeTrouble_.isEmpty())
        what << QStringLiteral("the record store refused appends %1").arg(storeTrouble_);
    if (!reconnection.isEmpty())
        what << reconnection;
    storeTrouble_.clear();
    const QString text = what.join(QStringLiteral("; "));
    emit problem(QStringLiteral("The record store takes records again (%1).").arg(text));
    event(event::StoreBack, text);
}

bool BatchSession::openBatch(const BatchOptions& o, QString* why)
{
    const QString name = o.name.trimmed();
    if (name.isEmpty()) {
        *why = QStringLiteral("a batch needs a name");
        return false;
    }
    for (const auto& [what, text] : {std::pair{QStringLiteral("batch name"), name},
                                     std::pair{QStringLiteral("operator's name"), o.operatorName.trimmed()},
                                     std::pair{QStringLiteral("lot"), o.lot.trimmed()},
                                     std::pair{QStringLiteral("ID prefix"), o.idPrefix}})
        if (const QString problem = nameProblem(what, text); !problem.isEmpty()) {
            *why = problem;
            return false;
        }
    if (o.ids && !IdPlan::checkList(*o.ids, why))
        return false;
    if (hasBatch() && batch_.name != name && !closeBatch(why))
        return false;
    operator_ = o.operatorName.trimmed().isEmpty() ? loginName() : o.operatorName.trimmed();

    QString kind;
    QString detail = QStringLiteral("operator %1").arg(operator_);
    std::optional<BatchRecord> existing = store_.batchNamed(name);
    if (existing) {
        kind = store_.isClosed(existing->seq) ? event::BatchReopened : event::BatchResumed;
        if (!o.lot.isEmpty() && o.lot.trimmed() != existing->lot)
            detail += QStringLiteral("; lot %1 was asked, the batch keeps its lot %2").arg(o.lot.trimmed(), existing->lot);
    } else {
        BatchRecord b;
        b.name = name;
        b.operatorName = operator_;
        b.lot = o.lot.trimmed();
        b.idPrefix = o.idPrefix.isEmpty() ? name + QLatin1Char('-') : o.idPrefix;
        b.idFirst = o.idFirst.isEmpty() ? QStringLiteral("001") : o.idFirst;
        b.openedUtc = utcNow();
        b.programVersion = version();
        const std::optional<qint64> seq = store_.appendBatch(b, why);
        if (!seq)
            return false;
        b.seq = *seq;
        existing = b;
        kind = event::BatchOpened;
        if (!b.lot.isEmpty())
            detail += QStringLiteral("; lot %1").arg(b.lot);
    }
    batch_ = *existing;
    records_ = store_.readings(batch_.seq);
    terms_ = batchTerms(store_, batch_.seq);
    doses_ = currentDoses(store_, batch_.seq);
    plan_ = IdPlan(batch_.idPrefix, batch_.idFirst);
    plan_.setEntries(IdPlan::fromStored(store_.idListText(batch_.seq)));
    scanned_.clear();
    scannedReason_.clear();
    refusal_.reset();
    wavelengthWarning_.clear();
    lastWavelength_ = records_.isEmpty() ? reader_.wavelength : records_.constLast().wavelength;
    event(kind, detail);
    if (o.ids && !setIdList(*o.ids, why))
        return false;
    if (!setTerms(o, why))
        return false;
    recount();
    if (!reader_.wavelength.isEmpty())
        onWavelength(reader_.wavelength);
    emit batchChanged();
    emit nextIdChanged(nextId());
    attentionMayHaveChanged();
    return true;
}

bool BatchSession::closeBatch(QString* why)
{
    if (!hasBatch()) {
        *why = QStringLiteral("no batch is open");
        return false;
    }
    event(event::BatchClosed, QStringLiteral("%1 readings").arg(records_.size()));
    batch_ = BatchRecord{};
    records_.clear();
    terms_.reset();
    doses_.clear();
    used_.clear();
    superseded_.clear();
    plan_ = IdPlan();
    scanned_.clear();
    scannedReason_.clear();
    refusal_.reset();
    wavelengthWarning_.clear();
    emit batchChanged();
    emit nextIdChanged(QString());
    attentionMayHaveChanged();
    return true;
}

void BatchSession::start()
{
    if (started_)
        return;
    started_ = true;
    startedAt_ = QDateTime::currentDateTimeUtc();
    event(event::ProgramStart, QStringLiteral("kalvor-batch %1, store %2, link %3")
                                   .arg(version(), store_.path(), link_.socketPath()));
    link_.start();
}

void BatchSession::stop()
{
    if (!started_)
        return;
    started_ = false;
    putHead(QStringLiteral("led"), QStringLiteral("0"));
    link_.stop();
    event(event::ProgramStop, QString());
}

bool BatchSession::setTerms(const BatchOptions& o, QString* why)
{
    if (!o.irradiated && !o.limits && !o.guardBand)
        return true;
    BatchTermsRecord t = terms_.value_or(BatchTermsRecord{});
    t.seq = 0;
    t.batch = batch_.seq;
    if (o.irradiated)
        t.irradiatedUtc = o.irradiated->toUTC().toString(Qt::ISODateWithMs);
    if (o.limits) {
        t.limitLowKGy = o.limits->first;
        t.limitHighKGy = o.limits->second;
    }
    if (o.guardBand)
        t.decisionRule = *o.guardBand ? kGuardBand : kSimpleAcceptance;
    if (t.decisionRule.isEmpty())
        t.decisionRule = kSimpleAcceptance;
    t.timeUtc = utcNow();
    t.operatorName = operator_;
    t.programVersion = version();
    const std::optional<qint64> seq = appendBatchTerms(store_, t, why);
    if (!seq)
        return false;
    t.seq = *seq;
    terms_ = t;
    return true;
}

std::optional<FilmDose> BatchSession::doseOf(double absorbance, QString* why) const
{
    if (!hasBatch() || batch_.lot.isEmpty()) {
        *why = QStringLiteral("the batch names no lot");
        return std::nullopt;
    }
    const std::optional<DoseBasis> basis = doseBasis(store_, batch_.lot, reader_.serial, reader_.wavelength, why);
    if (!basis)
        return std::nullopt;
    return doseFromAbsorbance(*basis, reader_.wavelength, absorbance, std::nullopt);
}

bool BatchSession::setIdList(const QList<IdEntry>& ids, QString* why)
{
    if (!hasBatch()) {
        *why = QStringLiteral("no batch is open");
        return false;
    }
    if (!IdPlan::checkList(ids, why))
        return false;
    const EventRecord e = newEvent(event::IdList, IdPlan::toStored(ids), utcNow());
    if (!store_.appendEvent(e, why))
        return false;
    plan_.setEntries(ids);
    emit nextIdChanged(nextId());
    return true;
}

void BatchSession::setScannedId(const QString& id)
{
    QString why;
    setScannedId(id, QString(), &why);
}

bool BatchSession::setScannedId(const QString& raw, const QString& reason, QString* why)
{
    const QString id = raw.trimmed();
    if (const QString problem = IdPlan::idProblem(id); !problem.isEmpty()) {
        *why = QStringLiteral("this is not a usable dosimeter ID: %1").arg(problem);
        return false;
    }
    if (const std::optional<ReadingRecord> current = currentRecord(id)) {
        if (reason.trimmed().isEmpty()) {
            *why = QStringLiteral("%1 already has record %2; reading it again needs a reason").arg(id).arg(current->seq);
            return false;
        }
        if (const QString problem = nameProblem(QStringLiteral("reason"), reason.trimmed(), kMaxReasonLength); !problem.isEmpty()) {
            *why = problem;
            return false;
        }
    }
    scanned_ = id;
    scannedReason_ = reason.trimmed();
    // Scanning the refused film's ID is the decision to read it again.
    if (refusal_ && refusal_->first == id)
        refusal_.reset();
    emit nextIdChanged(nextId());
    attentionMayHaveChanged();
    return true;
}

QString BatchSession::nextId() const
{
    QString why;
    return idForNextFilm(&why).value_or(QString());
}

std::optional<QString> BatchSession::idForNextFilm(QString* why) const
{
    if (!hasBatch()) {
        *why = QStringLiteral("no batch is open");
        return std::nullopt;
    }
    if (!scanned_.isEmpty())
        return scanned_;
    if (std::optional<QString> id = plan_.next(used_))
        return id;
    *why = QStringLiteral("every ID of the batch's list has a reading: add IDs or scan one");
    return std::nullopt;
}

QString BatchSession::zeroProblem() const
{
    const QString& z = reader_.zeroStatus;
    if (z.isEmpty() || z == kOk)
        return {};
    if (z == QLatin1String("zeroing"))
        return QStringLiteral("the reader is zeroing; wait for its zero");
    if (z == QLatin1String("film"))
        return QStringLiteral("the reader was zeroed with a film in the head: take the film out and zero the reader");
    if (z == QLatin1String("dark"))
        return QStringLiteral("the reader's zero is far below this head's last good zero: check the lamp and the light "
                              "path, then zero the reader");
    if (z == QLatin1String("stale"))
        return QStringLiteral("the empty head no longer reads zero (the lamp drifted, or the zero was taken on "
                              "something): take any film out and zero the reader");
    return QStringLiteral("the reader's zero reading was %1: check the head, then zero the reader").arg(z);
}

QString BatchSession::blockReason(bool reread) const
{
    if (!dailyCheck_.holdReason().isEmpty())
        return dailyCheck_.holdReason();
    if (const QString zero = zeroProblem(); !zero.isEmpty())
        return QStringLiteral("Not read: %1.").arg(zero);
    if (!drift_.isEmpty())
        return QStringLiteral("Not read: %1.").arg(drift_);
    // The refused film itself, still in the head, may be read again (the
    // head's button or Capture): that is the decision its ID waits for.
    if (!reread && refusal_ && scanned_.isEmpty() && machine_.state() != CaptureState::Refused)
        return QStringLiteral("Not read: film %1 was not stored (%2). Decide first: read %1 again, or void it.")
            .arg(refusal_->first, refusal_->second);
    return {};
}

Attention BatchSession::attention() const
{
    Attention a;
    if (!hasBatch())
        return a;
    if (!dailyCheck_.holdReason().isEmpty()) {
        a.kind = Attention::Kind::Held;
        a.text = dailyCheck_.holdReason();
    } else if (const QString zero = zeroProblem(); !zero.isEmpty()) {
        a.kind = Attention::Kind::Blocked;
        a.text = QStringLiteral("No film is read: %1.").arg(zero);
    } else if (!drift_.isEmpty()) {
        a.kind = Attention::Kind::Blocked;
        a.text = QStringLiteral("No film is read: %1.").arg(drift_);
    } else if (refusal_) {
        a.kind = Attention::Kind::Refused;
        a.refusedId = refusal_->first;
        a.text = QStringLiteral("Film %1 was not stored: %2. Will it be read again as %1, or is %1 void?")
                     .arg(refusal_->first, refusal_->second);
    }
    return a;
}

void BatchSession::attentionMayHaveChanged()
{
    machine_.reconsider();
    emit attentionChanged();
}

void BatchSession::readRefusedAgain()
{
    if (!refusal_)
        return;
    event(event::Decision, QStringLiteral("%1 will be read again").arg(refusal_->first));
    refusal_.reset();
    emit nextIdChanged(nextId());
    attentionMayHaveChanged();
}

void BatchSession::requestReread(const QString& reason)
{
    rereadReason_ = reason.trimmed();
    machine_.requestCapture();
}

void BatchSession::zeroReader()
{
    if (!link_.put(kReader, QStringLiteral("zero"), QStringLiteral("1")))
        emit problem(QStringLiteral("KALVOR is not linked: the reader cannot be zeroed from here"));
}

std::optional<ReadingRecord> BatchSession::currentRecord(const QString& id) const
{
    for (auto it = records_.crbegin(); it != records_.crend(); ++it)
        if (it->dosimeterId == id && !superseded_.contains(it->seq))
            return *it;
    return std::nullopt;
}

void BatchSession::recount()
{
    superseded_ = supersededBy(records_);
    used_.clear();
    for (const ReadingRecord& r : std::as_const(records_))
        if (!superseded_.contains(r.seq))
            used_.insert(r.dosimeterId);
}

ReadingRecord BatchSession::readerRecord() const
{
    ReadingRecord r;
    r.batch = batch_.seq;
    r.timeUtc = utcNow();
    r.wavelength = reader_.wavelength;
    r.zero = reader_.zero;
    r.zeroUtc = reader_.zeroTime;
    r.readerModel = reader_.model;
    r.readerSerial = reader_.serial;
    r.readerGain = reader_.gain;
    r.operatorName = operator_;
    r.programVersion = version();
    return r;
}

std::optional<qint64> BatchSession::appendRecord(ReadingRecord r, const EventRecord& e, QString* why)
{
    if (const std::optional<IdEntry> entry = plan_.entry(r.dosimeterId)) {
        r.thicknessMm = entry->thicknessMm;
        r.position = entry->position;
    }
    // A batch of a lot with an approved calibration for this reader and
    // wavelength: the reading's dose goes into the store with it.
    std::optional<DoseRecord> dose;
    if (!batch_.lot.isEmpty() && !r.isVoid() && r.absorbance) {
        QString noDose;
        if (const std::optional<DoseBasis> basis = doseBasis(store_, batch_.lot, r.readerSerial, r.wavelength, &noDose))
            dose = doseRecord(doseFromAbsorbance(*basis, r.wavelength, *r.absorbance, r.thicknessMm, r.spread, r.count), r,
                              terms_);
    }
    const std::optional<qint64> seq = store_.appendReading(
        r, e,
        [&](qint64 readingSeq) {
            if (!dose)
                return QList<std::pair<QString, QVariantList>>();
            dose->reading = readingSeq;
            return doseRow(*dose);
        },
        why);
    if (!seq) {
        storeFailed(*why);
        return std::nullopt;
    }
    storeWorked();
    r.seq = *seq;
    records_.append(r);
    recount();
    if (dose) {
        dose->seq = *seq + 2;  // after the reading and its event
        doses_.insert(r.seq, *dose);
        emit doseStored(*dose);
    }
    emit recordStored(r);
    emit nextIdChanged(nextId());
    return seq;
}

std::optional<qint64> BatchSession::store(const Capture& c, QString* why)
{
    if (!hasBatch()) {
        *why = QStringLiteral("no batch is open");
        return std::nullopt;
    }
    if (!storeTrouble_.isEmpty()) {
        // After appends failed, the batch's rows as the store has them: a
        // record whose commit met a lost connection may be there after all,
        // and its dose with it.
        records_ = store_.readings(batch_.seq);
        doses_ = currentDoses(store_, batch_.seq);
        recount();
    }
    ReadingRecord r = readerRecord();
    r.dosimeterId = c.dosimeterId;
    r.shown = c.shown;
    r.absorbance = c.median;
    r.spread = c.spread;
    r.count = int(c.readings.size());
    r.status = c.readings.isEmpty() ? reader_.status : c.readings.constLast().status;
    r.trigger = triggerName(c.trigger);
    r.repeats = c.repeats;
    const std::optional<ReadingRecord> current = currentRecord(c.dosimeterId);
    if (current)
        r.supersedes = current->seq;
    if (c.repeats) {
        r.reason = !rereadReason_.isEmpty() ? rereadReason_
                   : c.trigger == Trigger::Button ? kButtonReread
                                                  : QStringLiteral("read again");
    } else if (current) {
        r.reason = scanned_ == c.dosimeterId && !scannedReason_.isEmpty() ? scannedReason_
                                                                           : QStringLiteral("read again under its ID");
    }
    QString detail = c.dosimeterId;
    if (c.repeats)
        detail = QStringLiteral("%1 read again (repeats row %2): %3").arg(c.dosimeterId).arg(*c.repeats).arg(r.reason);
    else if (current)
        detail = QStringLiteral("%1 read again (supersedes row %2): %3").arg(c.dosimeterId).arg(current->seq).arg(r.reason);
    const EventRecord e = newEvent(c.repeats ? event::ReRead : event::Capture, detail, r.timeUtc);
    const std::optional<qint64> seq = appendRecord(r, e, why);
    if (!seq)
        return std::nullopt;
    rereadReason_.clear();
    if (scanned_ == r.dosimeterId) {
        scanned_.clear();
        scannedReason_.clear();
    }
    emit nextIdChanged(nextId());
    return seq;
}

std::optional<qint64> BatchSession::correctId(qint64 readingSeq, const QString& newId, const QString& reasonText, QString* why)
{
    const auto it = std::find_if(records_.cbegin(), records_.cend(), [&](const ReadingRecord& r) { return r.seq == readingSeq; });
    if (it == records_.cend()) {
        *why = QStringLiteral("row %1 is no reading of this batch").arg(readingSeq);
        return std::nullopt;
    }
    if (superseded_.contains(readingSeq)) {
        *why = QStringLiteral("row %1 is no longer current: a later record replaced it").arg(readingSeq);
        return std::nullopt;
    }
    if (it->isVoid()) {
        *why = QStringLiteral("row %1 is a void record; it holds no reading to move").arg(readingSeq);
        return std::nullopt;
    }
    const QString id = newId.trimmed();
    if (const QString problem = IdPlan::idProblem(id); !problem.isEmpty()) {
        *why = QStringLiteral("this is not a usable dosimeter ID: %1").arg(problem);
        return std::nullopt;
    }
    if (id == it->dosimeterId) {
        *why = QStringLiteral("row %1 already belongs to %2").arg(readingSeq).arg(id);
        return std::nullopt;
    }
    const QString reason = reasonText.trimmed();
    if (reason.isEmpty()) {
        *why = QStringLiteral("a correction needs a reason");
        return std::nullopt;
    }
    if (const QString problem = nameProblem(QStringLiteral("reason"), reason, kMaxReasonLength); !problem.isEmpty()) {
        *why = problem;
        return std::nullopt;
    }
    ReadingRecord r = *it;
    const QString oldId = r.dosimeterId;
    r.seq = 0;
    r.dosimeterId = id;
    r.timeUtc = utcNow();
    r.operatorName = operator_;
    r.programVersion = version();
    r.repeats.reset();
    r.corrects = readingSeq;
    r.reason = reason;
    r.supersedes.reset();
    r.thicknessMm.reset();
    r.position.clear();
    QString detail = QStringLiteral("row %1: dosimeter %2 is %3").arg(readingSeq).arg(oldId, id);
    if (const std::optional<ReadingRecord> current = currentRecord(id)) {
        r.supersedes = current->seq;
        detail += QStringLiteral(" (its record %1 is superseded)").arg(current->seq);
    }
    const EventRecord e = newEvent(event::Correction, detail + QStringLiteral(": ") + reason, r.timeUtc);
    return appendRecord(r, e, why);
}

std::optional<qint64> BatchSession::voidId(const QString& rawId, const QString& reasonText, QString* why)
{
    if (!hasBatch()) {
        *why = QStringLiteral("no batch is open");
        return std::nullopt;
    }
    const QString id = rawId.trimmed();
    if (const QString problem = IdPlan::idProblem(id); !problem.isEmpty()) {
        *why = QStringLiteral("this is not a usable dosimeter ID: %1").arg(problem);
        return std::nullopt;
    }
    const QString reason = reasonText.trimmed();
    if (reason.isEmpty()) {
        *why = QStringLiteral("voiding an ID needs a reason");
        return std::nullopt;
    }
    if (const QString problem = nameProblem(QStringLiteral("reason"), reason, kMaxReasonLength); !problem.isEmpty()) {
        *why = problem;
        return std::nullopt;
    }
    const std::optional<ReadingRecord> current = currentRecord(id);
    if (current && current->isVoid()) {
        *why = QStringLiteral("%1 is void already (record %2)").arg(id).arg(current->seq);
        return std::nullopt;
    }
    const CaptureState state = machine_.state();
    if (machine_.currentId() == id && (state == CaptureState::Settling)) {
        *why = QStringLiteral("%1 is being read now").arg(id);
        return std::nullopt;
    }
    ReadingRecord r = readerRecord();
    r.dosimeterId = id;
    r.status = kVoid;
    r.trigger = triggerName(Trigger::Key);
    r.reason = reason;
    if (current)
        r.supersedes = current->seq;
    const EventRecord e = newEvent(event::Void, QStringLiteral("%1 is void: %2").arg(id, reason), r.timeUtc);
    const std::optional<qint64> seq = appendRecord(r, e, why);
    if (!seq)
        return std::nullopt;
    if (refusal_ && refusal_->first == id)
        refusal_.reset();
    if (scanned_ == id) {
        scanned_.clear();
        scannedReason_.clear();
    }
    emit nextIdChanged(nextId());
    attentionMayHaveChanged();
    return seq;
}

void BatchSession::onLinkState(LinkSession::State state, const QString& text)
{
    const bool up = state == LinkSession::State::Connected;
    if (up && !linkUp_) {
        if (everConnected_)
            event(event::LinkBack, text);
        everConnected_ = true;
        lastASeq_ = 0;
    } else if (!up && linkUp_) {
        event(event::LinkLost, text);
        machine_.linkLost();
        emptyCandidate_.reset();
        driftRun_ = 0;
    }
    linkUp_ = up;
    qCInfo(lcBatch).noquote() << terminalText(text);
    emit linkStateChanged(state, text);
}

void BatchSession::onWavelength(const QString& wavelength)
{
    if (wavelength.isEmpty())
        return;
    const QString before = lastWavelength_;
    lastWavelength_ = wavelength;
    if (before.isEmpty() || before == wavelength || !hasBatch())
        return;
    wavelengthWarning_ = QStringLiteral("%1 -> %2").arg(before, wavelength);
    event(event::WavelengthChange, QStringLiteral("from %1 to %2").arg(before, wavelength));
    emit wavelengthChanged(before, wavelength);
}

void BatchSession::onFilterCheck(const QString& item, const ItemValue& value, bool fresh)
{
    const QDateTime seen = filterSeen_.value(item);
    filterSeen_.insert(item, value.time);
    if (value.seq == 0 || !value.time.isValid())
        return;
    // The first value after linking is the last result, however old: it is
    // new only when it was set while this program ran and was not yet seen.
    if (fresh && (value.time < startedAt_ || value.time == seen))
        return;
    FilterCheckRecord f;
    f.timeUtc = value.time.toUTC().toString(Qt::ISODateWithMs);
    f.item = item;
    f.filter = filterName(item);
    f.shown = value.text;
    bool ok = false;
    const double v = value.text.trimmed().toDouble(&ok);
    if (ok)
        f.value = v;
    f.wavelength = reader_.wavelength;
    f.readerModel = reader_.model;
    f.readerSerial = reader_.serial;
    f.readerGain = reader_.gain;
    if (hasBatch())
        f.batch = batch_.seq;
    f.operatorName = operator_;
    f.programVersion = version();
    QString why;
    if (const std::optional<qint64> seq = store_.appendFilterCheck(f, &why)) {
        storeWorked();
        f.seq = *seq;
        emit filterCheckStored(f);
    } else {
        storeFailed(why);
        emit problem(QStringLiteral("could not record the filter check result: %1").arg(why));
    }
}

void BatchSession::onZeroChanged(bool fresh)
{
    // A new zero that is good clears a stop for an empty head that drifted.
    if (!drift_.isEmpty() && zeroProblem().isEmpty()) {
        drift_.clear();
        event(event::Zero, QStringLiteral("capture goes on after a new zero"));
    }
    driftRun_ = 0;
    emptyCandidate_.reset();
    if (!fresh && hasBatch())
        event(event::Zero, QStringLiteral("zero %1 V at %2, %3")
                               .arg(reader_.zero, reader_.zeroTime,
                                    reader_.zeroStatus.isEmpty() ? QStringLiteral("not judged") : reader_.zeroStatus));
    attentionMayHaveChanged();
}

void BatchSession::recognise()
{
    // After a restart, a film still in the head that reads like the batch's
    // last stored film is that film: it is not read again unless asked.
    if (machine_.state() != CaptureState::Unknown || !lastReading_ || !lastReading_->value
        || lastReading_->status != kOk)
        return;
    for (auto it = records_.crbegin(); it != records_.crend(); ++it) {
        if (superseded_.contains(it->seq))
            continue;
        if (it->isVoid() || !it->absorbance)
            return;
        if (std::abs(*it->absorbance - *lastReading_->value) <= machine_.rule().band + 1e-9
            && it->readerSerial == reader_.serial && it->wavelength == reader_.wavelength) {
            machine_.recognise(it->seq, it->dosimeterId);
            putHead(QStringLiteral("led"), QStringLiteral("1"));
            event(event::Recognised, QStringLiteral("the film in the head at link-up reads %1, as %2 stored in row %3")
                                         .arg(lastReading_->text.trimmed(), it->dosimeterId)
                                         .arg(it->seq));
        }
        return;
    }
}

void BatchSession::onReading(const Reading& r)
{
    // The reading before this one was of the empty head if the sensor has
    // said nothing since: the head stayed empty around it. Only on a head
    // whose sensor is seen to work, and with no film read by the Capture key.
    if (machine_.filmSensed() || !sensorWorks_ || machine_.state() != CaptureState::Empty) {
        emptyCandidate_.reset();
        driftRun_ = 0;
    } else {
        if (emptyCandidate_) {
            driftRun_ = std::abs(*emptyCandidate_) > kEmptyHeadTolerance + 1e-9 ? driftRun_ + 1 : 0;
            if (driftRun_ >= kEmptyHeadRun && drift_.isEmpty()) {
                drift_ = QStringLiteral("the empty head reads %1, not zero (within ±%2): take any film out and "
                                        "zero the reader")
                             .arg(QString::number(*emptyCandidate_, 'f', 3), QString::number(kEmptyHeadTolerance, 'f', 3));
                if (hasBatch())
                    event(event::Blocked, drift_);
                attentionMayHaveChanged();
            }
        }
        emptyCandidate_ = r.value;
    }
    recognise();
}

void BatchSession::onItem(const QString& topic, const QString& item, const ItemValue& value, bool fresh)
{
    if (topic == kReader) {
        if (item == QLatin1String("dosimeter")) {
            const bool in = value.text == QLatin1String("1");
            if (in) {
                emptyCandidate_.reset();
                sensorWorks_ = true;
            }
            machine_.setDosimeter(in, fresh, value.time);
            return;
        }
        if (item == QLatin1String("button")) {
            machine_.setButton(value.text == QLatin1String("1"), fresh);
            return;
        }
        const QString before = item == QLatin1String("zero")         ? reader_.zero
                               : item == QLatin1String("zeroTime")   ? reader_.zeroTime
                               : item == QLatin1String("zeroStatus") ? reader_.zeroStatus
                                                                     : QString();
        if (!reader_.set(item, value.text))
            return;
        if (item == QLatin1String("serial") && !value.text.isEmpty() && value.text != claimedSerial_ && claimReader) {
            QString why;
            if (!claimReader(value.text, &why)) {
                readerLost_ = true;
                link_.stop();
                emit readerTaken(why);
                return;
            }
            claimedSerial_ = value.text;
        }
        if (item == QLatin1String("wavelength")) {
            onWavelength(value.text);
            machine_.restartWindow();
        } else if (item == QLatin1String("zeroTime") && before != value.text) {
            machine_.restartWindow();
            onZeroChanged(fresh);
        } else if (item == QLatin1String("zeroStatus") && before != value.text) {
            if (!fresh && hasBatch() && value.text != kOk)
                event(event::Zero, QStringLiteral("the reader judges its zero: %1").arg(value.text));
            attentionMayHaveChanged();
        }
        emit readerChanged();
        return;
    }
    if (topic != kData)
        return;
    if (item == QLatin1String("A")) {
        if (value.seq == 0 || value.seq <= lastASeq_ || value.text == QLatin1String("Zeroing"))
            return;
        lastASeq_ = value.seq;
        const QDateTime time = value.time.isValid() ? value.time : QDateTime::currentDateTimeUtc();
        const Reading r = makeReading(value.text, reader_.status, time);
        lastReading_ = r;
        if (r.value)
            history_.add(time, *r.value);
        machine_.addReading(r);
        onReading(r);
        emit readingArrived(r);
        return;
    }
    if (item == QLatin1String("na") || item == QLatin1String("nb") || item == QLatin1String("nc"))
        onFilterCheck(item, value, fresh);
}

} // namespace kalvor::batch
