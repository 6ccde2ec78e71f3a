#pragma once
// Topic "reader": what a linked program needs to trust and record a reading
// (the head's identity, the zero and its status, a status per reading, a
// reading count), the head's dosimeter sensor and push button, its LED and
// buzzer to drive, and a zero to order.
//
// Nothing here touches a port unless a client asks: the dosimeter and the
// button are sensed (one status read) after each reading only while a client
// links to either of them, and when a client GETs or links one of them or
// PUTs a zero; the LED changes only on a client's PUT and when the last client
// that switched it on disconnects, or when the time a client gave it runs out;
// a beep sounds for its time (at most 2 s), also when the client that asked
// for it is gone.
//
// At each zero, zeroStatus is set first, then zero, then zeroTime, all in the
// same turn: a client that sees a new zeroTime finds its zeroStatus set.
#include "link/LinkTopic.h"
#include "measure/ReadingCheck.h"

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <functional>
#include <optional>

namespace kalvor {

class Reader;

class ReaderTopic : public LinkTopic {
    Q_OBJECT
public:
    static const QStringList& itemNames();
    static constexpr int kMinBeepMs = 10;
    static constexpr int kMaxBeepMs = 2000;
    // A lit LED's time: a bare number from 2 ms (1 is "on"), or 1ms and up.
    static constexpr int kMinLedMs = 2;
    static constexpr int kMaxLedMs = 600000;

    explicit ReaderTopic(Reader& reader, QObject* parent = nullptr);
    ~ReaderTopic() override;

    // led: "1" on while the client that put it stays connected, "0" off, a
    // number of milliseconds (2..600000, or 1ms..600000ms) lit that long,
    // also when its client has gone; each put replaces what the LED did
    // before. beep: milliseconds 10..2000, a new beep replacing one that
    // sounds. zero: "1" orders a zero as Setup > Zero does, refused with
    // BUSY while a zero is ordered or taken, the filter check runs or the
    // sensor (read once for it) sees a dosimeter. Other items: NOT_SUPPORTED;
    // before the head has passed its test at start: NOT_READY.
    PutResult put(const QString& item, const QString& text) override;
    PutResult putFrom(LinkClient client, const QString& item, const QString& text) override;
    void aboutToGet(const QString& item) override;
    void linked(LinkClient client, const QString& item) override;
    void unlinked(LinkClient client, const QString& item) override;
    void clientGone(LinkClient client) override;

    // True while some client links to dosimeter or button.
    bool sensing() const { return !sensingLinks_.isEmpty(); }

private:
    void setIfChanged(const QString& item, const QString& text);
    void sense();
    PutResult orderZero(const QString& text);
    // Runs `change` of the control register now, or after the EEPROM transfer
    // that holds the control byte.
    void whenHeadFree(std::function<void()> change);
    void runDeferred();
    void setLed(bool on);
    void lightLedFor(int ms);
    void startBeep(int ms);
    void endBeep();

    void onIdentityRead();
    void onHeadTested(bool passed);
    void onZeroTaken();
    void onReadingTaken(double absorbance);
    void onReadingDone();

    QPointer<Reader> reader_;
    bool ready_ = false; // the head passed its test and its identity is read
    quint64 readings_ = 0;
    std::optional<bool> sensedEmpty_; // the sensor's last answer: no dosimeter in the head
    // Of the reading in progress, for the sensor read that follows it.
    bool emptyBeforeReading_ = false;
    double readingAbsorbance_ = 0;
    ReadingStatus readingConversion_ = ReadingStatus::Ok;
    QHash<LinkClient, QSet<QString>> sensingLinks_; // links to dosimeter / button, by client
    QSet<LinkClient> ledOwners_;  // clients that switched the LED on since it was last off
    QTimer beepTimer_;
    QTimer ledTimer_;
    QList<std::function<void()>> deferred_;
};

} // namespace kalvor
