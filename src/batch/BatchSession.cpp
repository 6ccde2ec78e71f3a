#include "batch/BatchSession.h"

#include "records/RecordStore.h"

#include <QLoggingCategory>

#include <pwd.h>
#include <unistd.h>

namespace kalvor::batch {

namespace {

Q_LOGGING_CATEGORY(lcBatch, "kalvor.batch")

const QString kReader = QStringLiteral("reader");
const QString kData = QStringLiteral("data");

QString filterName(const QString& item)
{
    if (item == QLatin1String("na"))
        return QStringLiteral("light");
    if (item == QLatin1String("nb"))
        return QStringLiteral("medium");
    return QStringLiteral("dark");
}

QString version() { return QStringLiteral(KALVOR_VERSION); }

} // namespace

QString BatchSession::loginName()
{
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    const QString user = qEnvironmentVariable("USER");
    return user.isEmpty() ? QStringLiteral("uid %1").arg(::getuid()) : user;
}

QList<link::ItemName> BatchSession::linkedItems()
{
    // Identity and status first: a reading (data A) that arrives after them
    // finds the status that belongs to it; the sensor after the reading.
    QList<link::ItemName> items;
    for (const char* item : {"model", "serial", "gain", "wavelength", "zero", "zeroTime", "status"})
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
                                     [this](const Capture& c, QString* why) { return this->store(c, why); }})
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
    connect(&machine_, &CaptureMachine::stateChanged, this, &BatchSession::captureStateChanged);
    connect(&machine_, &CaptureMachine::settling, this, &BatchSession::settling);
    connect(&machine_, &CaptureMachine::confirmed, this, [this](const Capture&, qint64) {
        putHead(QStringLiteral("led"), QStringLiteral("1"));
        putHead(QStringLiteral("beep"), QString::number(kShortBeepMs));
    });
    connect(&machine_, &CaptureMachine::refused, this, [this](const QString& id, const QString& reason) {
        putHead(QStringLiteral("beep"), QString::number(kLongBeepMs));
        event(event::Refused, id.isEmpty() ? reason : QStringLiteral("%1: %2").arg(id, reason));
        emit refused(id, reason);
    });
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
    if (!store_.appendEvent(e, &why))
        emit problem(QStringLiteral("could not record the event %1: %2").arg(kind, why));
}

bool BatchSession::openBatch(const BatchOptions& o, QString* why)
{
    const QString name = o.name.trimmed();
    if (name.isEmpty() || name.size() > 200) {
        *why = QStringLiteral("a batch needs a name of 1 to 200 characters");
        return false;
    }
    if (o.ids)
        for (const QString& id : *o.ids)
            if (!IdPlan::isValidId(id)) {
                *why = QStringLiteral("\"%1\" is not a usable dosimeter ID").arg(id.left(80));
                return false;
            }
    if (hasBatch() && batch_.name != name && !closeBatch(why))
        return false;
    operator_ = o.operatorName.trimmed().isEmpty() ? loginName() : o.operatorName.trimmed();

    QString kind;
    QString detail = QStringLiteral("operator %1").arg(operator_);
    std::optional<BatchRecord> existing = store_.batchNamed(name);
    if (existing) {
        kind = store_.isClosed(existing->seq) ? event::BatchReopened : event::BatchResumed;
        if (!o.lot.isEmpty() && o.lot != existing->lot)
            detail += QStringLiteral("; lot %1 was asked, the batch keeps its lot %2").arg(o.lot, existing->lot);
    } else {
        BatchRecord b;
        b.name = name;
        b.operatorName = operator_;
        b.lot = o.lot;
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
        if (!o.lot.isEmpty())
            detail += QStringLiteral("; lot %1").arg(o.lot);
    }
    batch_ = *existing;
    records_ = store_.readings(batch_.seq);
    plan_ = IdPlan(batch_.idPrefix, batch_.idFirst);
    plan_.setList(store_.idList(batch_.seq));
    scanned_.clear();
    wavelengthWarning_.clear();
    lastWavelength_ = records_.isEmpty() ? reader_.wavelength : records_.constLast().wavelength;
    event(kind, detail);
    if (o.ids && !setIdList(*o.ids, why))
        return false;
    used_.clear();
    QSet<qint64> corrected;
    for (const ReadingRecord& r : std::as_const(records_))
        if (r.corrects)
            corrected.insert(*r.corrects);
    for (const ReadingRecord& r : std::as_const(records_))
        if (!corrected.contains(r.seq))
            used_.insert(r.dosimeterId);
    if (!reader_.wavelength.isEmpty())
        onWavelength(reader_.wavelength);
    emit batchChanged();
    emit nextIdChanged(nextId());
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
    used_.clear();
    plan_ = IdPlan();
    scanned_.clear();
    wavelengthWarning_.clear();
    emit batchChanged();
    emit nextIdChanged(QString());
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

bool BatchSession::setIdList(const QStringList& ids, QString* why)
{
    if (!hasBatch()) {
        *why = QStringLiteral("no batch is open");
        return false;
    }
    for (const QString& id : ids)
        if (!IdPlan::isValidId(id)) {
            *why = QStringLiteral("\"%1\" is not a usable dosimeter ID").arg(id.left(80));
            return false;
        }
    plan_.setList(ids);
    const EventRecord e = newEvent(event::IdList, plan_.list().join(QLatin1Char('\n')), utcNow());
    if (!store_.appendEvent(e, why))
        return false;
    emit nextIdChanged(nextId());
    return true;
}

void BatchSession::setScannedId(const QString& id)
{
    scanned_ = IdPlan::isValidId(id.trimmed()) ? id.trimmed() : QString();
    emit nextIdChanged(nextId());
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

std::optional<qint64> BatchSession::store(const Capture& c, QString* why)
{
    if (!hasBatch()) {
        *why = QStringLiteral("no batch is open");
        return std::nullopt;
    }
    ReadingRecord r;
    r.batch = batch_.seq;
    r.dosimeterId = c.dosimeterId;
    r.timeUtc = utcNow();
    r.shown = c.shown;
    r.absorbance = c.median;
    r.spread = c.spread;
    r.count = int(c.readings.size());
    r.wavelength = reader_.wavelength;
    r.zero = reader_.zero;
    r.zeroUtc = reader_.zeroTime;
    r.readerModel = reader_.model;
    r.readerSerial = reader_.serial;
    r.readerGain = reader_.gain;
    r.status = c.readings.isEmpty() ? reader_.status : c.readings.constLast().status;
    r.operatorName = operator_;
    r.programVersion = version();
    r.trigger = triggerName(c.trigger);
    r.repeats = c.repeats;
    const EventRecord e = newEvent(c.repeats ? event::ReRead : event::Capture,
                                   c.repeats ? QStringLiteral("%1 read again (repeats row %2)").arg(c.dosimeterId).arg(*c.repeats)
                                             : c.dosimeterId,
                                   r.timeUtc);
    const std::optional<qint64> seq = store_.appendReading(r, e, why);
    if (!seq)
        return std::nullopt;
    r.seq = *seq;
    records_.append(r);
    used_.insert(r.dosimeterId);
    if (scanned_ == r.dosimeterId)
        scanned_.clear();
    emit recordStored(r);
    emit nextIdChanged(nextId());
    return seq;
}

std::optional<qint64> BatchSession::correctId(qint64 readingSeq, const QString& newId, QString* why)
{
    const auto it = std::find_if(records_.cbegin(), records_.cend(), [&](const ReadingRecord& r) { return r.seq == readingSeq; });
    if (it == records_.cend()) {
        *why = QStringLiteral("row %1 is no reading of this batch").arg(readingSeq);
        return std::nullopt;
    }
    const QString id = newId.trimmed();
    if (!IdPlan::isValidId(id)) {
        *why = QStringLiteral("\"%1\" is not a usable dosimeter ID").arg(id.left(80));
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
    const EventRecord e = newEvent(event::Correction,
                                   QStringLiteral("row %1: dosimeter %2 is %3").arg(readingSeq).arg(oldId, id), r.timeUtc);
    const std::optional<qint64> seq = store_.appendReading(r, e, why);
    if (!seq)
        return std::nullopt;
    r.seq = *seq;
    records_.append(r);
    // The old ID is free again unless another reading still carries it.
    QSet<qint64> corrected;
    for (const ReadingRecord& x : std::as_const(records_))
        if (x.corrects)
            corrected.insert(*x.corrects);
    used_.clear();
    for (const ReadingRecord& x : std::as_const(records_))
        if (!corrected.contains(x.seq))
            used_.insert(x.dosimeterId);
    emit recordStored(r);
    emit nextIdChanged(nextId());
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
    }
    linkUp_ = up;
    qCInfo(lcBatch).noquote() << text;
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
        f.seq = *seq;
        emit filterCheckStored(f);
    } else {
        emit problem(QStringLiteral("could not record the filter check result: %1").arg(why));
    }
}

void BatchSession::onItem(const QString& topic, const QString& item, const ItemValue& value, bool fresh)
{
    if (topic == kReader) {
        if (item == QLatin1String("dosimeter")) {
            machine_.setDosimeter(value.text == QLatin1String("1"), fresh, value.time);
            return;
        }
        if (item == QLatin1String("button")) {
            machine_.setButton(value.text == QLatin1String("1"), fresh);
            return;
        }
        const QString before = item == QLatin1String("zero") ? reader_.zero : reader_.zeroTime;
        if (!reader_.set(item, value.text))
            return;
        if (item == QLatin1String("wavelength")) {
            onWavelength(value.text);
            machine_.restartWindow();
        } else if ((item == QLatin1String("zero") || item == QLatin1String("zeroTime")) && before != value.text) {
            machine_.restartWindow();
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
        emit readingArrived(r);
        return;
    }
    if (item == QLatin1String("na") || item == QLatin1String("nb") || item == QLatin1String("nc"))
        onFilterCheck(item, value, fresh);
}

} // namespace kalvor::batch
