#pragma once
// One film at a time, from insertion to a stored and confirmed record:
//
//   Empty --film sensed / Capture key--> Settling --stable--> store --> Held
//   Settling --time-out, fault, store failed--> Refused
//   Held --film removed--> Empty (the next ID)      Held --button/key--> Settling (re-read)
//   Refused --button/key--> Settling (same ID)      Refused --film removed--> Empty
//   (any start of Settling) --capture not allowed now--> Blocked
//   Settling --capture no longer allowed--> Blocked
//   Blocked --allowed again, film still in--> Settling    Blocked --film removed--> Empty
//
// Capture is not allowed while the session says why not (the reader's zero
// is not usable, the empty head does not read zero, a refused film's ID
// waits for a decision). A film that was already in when the link came up is
// Unknown until it is removed or read on purpose, or until the session
// recognises it as the film of a stored record (then Held, as if just
// stored). Without a sensor the Capture key stands for an insertion: each
// press reads the next film, and the head's button re-reads the last one.
// The store hook commits the record before `confirmed` is emitted, so a
// confirmation always names a committed row.
#include "batch/Stability.h"

#include <QObject>
#include <QTimer>
#include <functional>

namespace kalvor::batch {

enum class CaptureState { Empty, Settling, Held, Refused, Unknown, Blocked };
enum class Trigger { Sensor, Button, Key };

QString triggerName(Trigger trigger);  // sensor, button, key

struct Capture {
    QString dosimeterId;
    Trigger trigger = Trigger::Sensor;
    std::optional<qint64> repeats;  // the stored reading this one reads again
    QList<Reading> readings;
    double median = 0;
    double spread = 0;
    QString shown;
};

class CaptureMachine : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        // The ID the next new film gets; nothing (with the reason) when there is none.
        std::function<std::optional<QString>(QString* why)> nextId;
        // Commits the record; its seq, or nothing with the reason.
        std::function<std::optional<qint64>(const Capture&, QString* why)> store;
        // Why no reading may start now (a re-read of the film in the head, or
        // a new film); empty when it may. Optional.
        std::function<QString(bool reread)> blocked = nullptr;
    };

    explicit CaptureMachine(Hooks hooks, QObject* parent = nullptr);

    void setRule(const StabilityRule& rule);
    const StabilityRule& rule() const { return window_.rule(); }

    // ---- what happens at the head
    // `fresh`: the first value after the link came (back) up. `time`: when the
    // reader sensed it; a reading set in the same reading cycle, just before,
    // already counts for the film.
    void setDosimeter(bool in, bool fresh, const QDateTime& time = {});
    // `fresh`: the first value after the link came (back) up, taken as is.
    void setButton(bool down, bool fresh = false);
    void requestCapture();  // the window's Capture button or key
    void addReading(const Reading& reading);
    // The zero or the wavelength changed: readings so far do not count.
    void restartWindow();
    void linkLost();
    // What the blocked hook says may have changed: a settling film stops, a
    // blocked one starts (or, with nothing in the head, waits as Empty).
    void reconsider();
    // The film in the head at link-up is that of stored record `seq`: Held.
    void recognise(qint64 seq, const QString& id);

    CaptureState state() const { return state_; }
    bool filmSensed() const { return sensed_; }
    QString currentId() const { return id_; }
    // Why the film waits, while Blocked.
    const QString& blockedBecause() const { return blockedBecause_; }
    std::optional<qint64> heldSeq() const { return heldSeq_; }
    const StabilityWindow& window() const { return window_; }

signals:
    void stateChanged(kalvor::batch::CaptureState state);
    void settling(const QString& id, bool reread);
    // Committed; now light the LED and give the short beep.
    void confirmed(const kalvor::batch::Capture& capture, qint64 seq);
    // Nothing stored; give the long beep and show why.
    void refused(const QString& id, const QString& reason);
    // The film is gone (or, without a sensor, the next one is asked for): LED off.
    void released();
    // A film waits: capture is not allowed now, for the reason given.
    void blocked(const QString& reason);

private:
    void startSettle(Trigger trigger, bool reread);
    // The reason from the blocked hook, or empty.
    QString blockReason(bool reread) const;
    void block(const QString& reason);
    void finish();
    void refuse(const QString& reason);
    void release();
    void setState(CaptureState state);

    Hooks hooks_;
    StabilityWindow window_;
    QTimer timeout_;
    CaptureState state_ = CaptureState::Empty;
    bool sensed_ = false;
    bool button_ = false;
    QString id_;
    Trigger trigger_ = Trigger::Sensor;
    std::optional<qint64> repeats_;
    bool reread_ = false;  // the film waiting in Blocked is a re-read
    QString blockedBecause_;
    std::optional<qint64> heldSeq_;
    std::optional<Reading> lastReading_;
};

} // namespace kalvor::batch
