#pragma once
// The reader as the main window drives it, without any widget: the reader
// state, the head operations, the measurement, the two timers of the reading
// cycle with their handlers, and the data items served to other programs.
// The window shows what this holds and forwards its menu commands here.
#include "link/LinkTopic.h"
#include "core/ReaderState.h"
#include "hw/HeadLink.h"
#include "hw/IdentityRecord.h"
#include "measure/Absorbance.h"
#include "measure/Acquisition.h"
#include "measure/ZeroCheck.h"
#include "ndf/NdfHost.h"
#include "portsetup/PortDialogHost.h"

#include <QObject>
#include <QTimer>
#include <functional>

namespace kalvor {

class SettingsStore;

namespace item {
inline const QString A = QStringLiteral("A");
inline const QString WL = QStringLiteral("WL");
inline const QString lblA1 = QStringLiteral("lblA1");
inline const QString lblA2 = QStringLiteral("lblA2");
inline const QString na = QStringLiteral("na");
inline const QString nb = QStringLiteral("nb");
inline const QString nc = QStringLiteral("nc");
} // namespace item

// The data topic with the main window's labels and their texts at creation.
LinkTopic* createDataTopic(QObject* parent);

class Reader : public QObject, public PortDialogHost, public NdfHost {
    Q_OBJECT
public:
    Reader(PortIo& io, SettingsStore& settings, LinkTopic& data, QObject* parent = nullptr);

    ReaderState state;
    HeadLink head;
    Acquisition acquisition;
    Absorbance absorbance;
    ZeroJudge zeroJudge; // judges each zero as it is taken
    QTimer tmrRead;
    QTimer tmrDelayZero;
    // Set by the window while Setup > Neutral Density Filter Check runs (its
    // messages and its dialog): no zero may be ordered from outside then.
    bool filterCheckOpen = false;

    LinkTopic& data() { return data_; }
    SettingsStore& settings() { return settings_; }

    // The orderly shut-down (Form_Unload); set by the window. It ends the program.
    std::function<void(int cancel)> formUnload;

    // Timer and menu handlers of the reading cycle.
    void tmrDelayZero_Timer();
    void tmrRead_Timer();
    void mnuPrimary_Click();
    void mnuSecondary_Click();
    void mnuZero_Click();

    // Enables tmrDelayZero; when it runs already, its interval goes on as it is.
    void armDelayZero();
    // True while a zero is ordered and waits for its timer, or is being taken
    // (its caution messages included).
    bool zeroBusy() const { return tmrDelayZero.isActive() || zeroRunning_; }

    // Reads the identity record and puts the wavelength captions in place.
    void parseEEPROM();

    // Menu state shown by the window.
    QString mnuPrimaryCaption() const { return mnuPrimaryCaption_; }
    QString mnuSecondaryCaption() const { return mnuSecondaryCaption_; }
    bool primaryChecked() const { return primaryChecked_; }
    bool secondaryChecked() const { return secondaryChecked_; }

    // PortDialogHost
    std::int16_t base() const override { return state.base; }
    // A new address: the LED and the buzzer of the card at the old one are
    // switched off first (they would stay on there, and the next write of
    // the control byte would carry them to the new card).
    void setBase(std::int16_t base) override;
    int testHead(std::int16_t testPort) override { return head.testHead(testPort); }
    void storePort(std::int16_t port) override;

    // NdfHost
    void getVoltages() override { acquisition.getVoltages(); }
    double v1() const override { return state.v1; }
    QString wlCaption() const override { return data_.text(item::WL); }
    void setFilterItem(const QString& name, const QString& text) override { data_.set(name, text); }

signals:
    void menuChanged();
    // For the reader topic; none of these touches a port.
    void identityRead();                 // parseEEPROM has filled the identity
    void zeroOrdered();                  // a zero is armed (start, Zero, wavelength, filter check)
    void zeroTaken();                    // z1 holds a new zero, judged in zeroJudge
    void headTested(bool passed);        // a head test (start, port dialog) has ended, before its message
    void readingTaken(double absorbance); // a reading is taken; label A is set next
    void readingDone();                  // the reading has ended and label A is set
    void converterTimedOut();            // before the time-out is reported
    void headOutputsOff();               // LED and buzzer off before a change of port

private:
    void selectWavelength(bool secondary);
    // A reading that is no finite number: reported, then the orderly end.
    void readingNotFinite(double value);
    void guarded(const std::function<void()>& step);

    SettingsStore& settings_;
    LinkTopic& data_;
    QString mnuPrimaryCaption_;
    QString mnuSecondaryCaption_;
    bool primaryChecked_ = false;
    bool secondaryChecked_ = false;
    bool zeroRunning_ = false;
};

} // namespace kalvor
