#include "batch/CaptureMachine.h"

namespace kalvor::batch {

namespace {
// A reading the reader set this long before it sensed the film belongs to the
// same reading cycle: the head senses right after each reading.
constexpr qint64 kSameCycleMs = 200;
} // namespace

QString triggerName(Trigger trigger)
{
    switch (trigger) {
    case Trigger::Sensor:
        return QStringLiteral("sensor");
    case Trigger::Button:
        return QStringLiteral("button");
    case Trigger::Key:
        break;
    }
    return QStringLiteral("key");
}

CaptureMachine::CaptureMachine(Hooks hooks, QObject* parent) : QObject(parent), hooks_(std::move(hooks))
{
    timeout_.setSingleShot(true);
    timeout_.setInterval(window_.rule().timeoutMs);
    connect(&timeout_, &QTimer::timeout, this, [this] {
        if (state_ == CaptureState::Settling)
            refuse(QStringLiteral("not stable within %1 s: %2")
                       .arg(QString::number(window_.rule().timeoutMs / 1000.0, 'g', 3), window_.describe()));
    });
}

void CaptureMachine::setRule(const StabilityRule& rule)
{
    window_.setRule(rule);
    timeout_.setInterval(rule.timeoutMs);
}

void CaptureMachine::setState(CaptureState state)
{
    if (state_ == state)
        return;
    state_ = state;
    emit stateChanged(state);
}

void CaptureMachine::setDosimeter(bool in, bool fresh, const QDateTime& time)
{
    const bool was = sensed_;
    sensed_ = in;
    if (in && !was) {
        switch (state_) {
        case CaptureState::Empty:
            if (fresh) {
                id_.clear();
                setState(CaptureState::Unknown);
                return;
            }
            break;
        case CaptureState::Held:  // a manual capture's film, or a sensor that missed the removal
            release();
            break;
        case CaptureState::Settling:
        case CaptureState::Refused:
        case CaptureState::Unknown:
        case CaptureState::Blocked:
            break;
        }
        if (state_ == CaptureState::Settling) {
            window_.clear();  // now sensed: the readings count from here
            trigger_ = Trigger::Sensor;
        } else {
            startSettle(Trigger::Sensor, false);
        }
        if (state_ == CaptureState::Settling && lastReading_ && time.isValid() && lastReading_->time.isValid()) {
            const qint64 before = lastReading_->time.msecsTo(time);
            if (before >= 0 && before <= kSameCycleMs) {
                window_.add(*lastReading_);
                if (window_.stable())
                    finish();
            }
        }
    } else if (!in && was) {
        if (state_ == CaptureState::Settling)
            refuse(QStringLiteral("the film was removed before its reading settled"));
        release();
        blockedBecause_.clear();
        setState(CaptureState::Empty);
    }
}

void CaptureMachine::setButton(bool down, bool fresh)
{
    const bool pressed = down && !button_;
    button_ = down;
    if (!pressed || fresh)
        return;
    switch (state_) {
    case CaptureState::Empty:
        return;  // no film to read
    case CaptureState::Settling:
        window_.clear();
        return;
    case CaptureState::Held:
        startSettle(Trigger::Button, true);
        return;
    case CaptureState::Refused:
    case CaptureState::Unknown:
        startSettle(Trigger::Button, false);
        return;
    case CaptureState::Blocked:
        reconsider();
        return;
    }
}

void CaptureMachine::requestCapture()
{
    switch (state_) {
    case CaptureState::Settling:
        window_.clear();
        return;
    case CaptureState::Held:
        if (sensed_) {
            startSettle(Trigger::Key, true);
            return;
        }
        release();  // without a sensor: the next film
        break;
    case CaptureState::Blocked:
        reconsider();
        return;
    case CaptureState::Empty:
    case CaptureState::Refused:
    case CaptureState::Unknown:
        break;
    }
    startSettle(Trigger::Key, false);
}

void CaptureMachine::addReading(const Reading& reading)
{
    lastReading_ = reading;
    if (state_ != CaptureState::Settling)
        return;
    window_.add(reading);
    if (window_.stable())
        finish();
    else if (const std::optional<QString> fault = window_.persistentFault())
        refuse(QStringLiteral("the reader reports %1 (%2 readings in a row)").arg(*fault).arg(window_.rule().count));
}

void CaptureMachine::restartWindow()
{
    if (state_ == CaptureState::Settling)
        window_.clear();
}

void CaptureMachine::reconsider()
{
    if (state_ == CaptureState::Settling) {
        const QString why = blockReason(repeats_.has_value());
        if (!why.isEmpty()) {
            // Not the film's fault: it waits, and is read from the start once allowed.
            timeout_.stop();
            window_.clear();
            reread_ = repeats_.has_value();
            block(why);
        }
        return;
    }
    if (state_ != CaptureState::Blocked)
        return;
    const QString why = blockReason(reread_);
    if (!why.isEmpty()) {
        if (why != blockedBecause_)
            block(why);
        return;
    }
    blockedBecause_.clear();
    if (!sensed_ && trigger_ != Trigger::Key) {
        setState(CaptureState::Empty);
        return;
    }
    startSettle(trigger_, reread_);
}

void CaptureMachine::recognise(qint64 seq, const QString& id)
{
    if (state_ != CaptureState::Unknown || !sensed_)
        return;
    id_ = id;
    heldSeq_ = seq;
    setState(CaptureState::Held);
}

QString CaptureMachine::blockReason(bool reread) const { return hooks_.blocked ? hooks_.blocked(reread) : QString(); }

void CaptureMachine::block(const QString& reason)
{
    blockedBecause_ = reason;
    setState(CaptureState::Blocked);
    emit blocked(reason);
}

void CaptureMachine::linkLost()
{
    lastReading_.reset();
    if (state_ == CaptureState::Settling)
        refuse(QStringLiteral("the link to KALVOR was lost"));
}

void CaptureMachine::startSettle(Trigger trigger, bool reread)
{
    trigger_ = trigger;
    repeats_.reset();
    reread = reread && heldSeq_.has_value();
    if (const QString why = blockReason(reread); !why.isEmpty()) {
        reread_ = reread;
        block(why);
        return;
    }
    if (reread && heldSeq_) {
        repeats_ = heldSeq_;  // same film, same ID
    } else {
        QString why;
        const std::optional<QString> id = hooks_.nextId ? hooks_.nextId(&why) : std::nullopt;
        if (!id) {
            id_.clear();
            refuse(why.isEmpty() ? QStringLiteral("there is no dosimeter ID for this film") : why);
            return;
        }
        id_ = *id;
    }
    window_.clear();
    timeout_.start();
    setState(CaptureState::Settling);
    emit settling(id_, repeats_.has_value());
}

void CaptureMachine::finish()
{
    timeout_.stop();
    Capture c;
    c.dosimeterId = id_;
    c.trigger = trigger_;
    c.repeats = repeats_;
    c.readings = window_.readings();
    c.median = window_.median();
    c.spread = window_.spread();
    c.shown = window_.medianText();
    QString why;
    const std::optional<qint64> seq = hooks_.store ? hooks_.store(c, &why) : std::nullopt;
    if (!seq) {
        refuse(QStringLiteral("the record could not be stored: %1").arg(why));
        return;
    }
    heldSeq_ = seq;
    setState(CaptureState::Held);
    emit confirmed(c, *seq);
}

void CaptureMachine::refuse(const QString& reason)
{
    timeout_.stop();
    window_.clear();
    setState(CaptureState::Refused);
    emit refused(id_, reason);
}

void CaptureMachine::release()
{
    heldSeq_.reset();
    emit released();
}

} // namespace kalvor::batch
