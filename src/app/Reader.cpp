#include "app/Reader.h"

#include "app/ProgramEnd.h"
#include "core/MessageCatalog.h"
#include "core/MessageSink.h"
#include "core/PrintableText.h"
#include "core/SettingsStore.h"
#include "hw/Registers.h"

#include <QScopedValueRollback>

namespace kalvor {

LinkTopic* createDataTopic(QObject* parent)
{
    auto* topic = new LinkTopic(QStringLiteral("data"),
                                {item::A, item::WL, item::lblA1, item::lblA2, item::na, item::nb, item::nc},
                                parent);
    topic->set(item::A, QStringLiteral("Zeroing"));
    topic->set(item::WL, QString());
    topic->set(item::lblA1, QString());
    topic->set(item::lblA2, QString());
    topic->set(item::na, QStringLiteral(" "));
    topic->set(item::nb, QStringLiteral(" "));
    topic->set(item::nc, QStringLiteral(" "));
    return topic;
}

Reader::Reader(PortIo& io, SettingsStore& settings, LinkTopic& data, QObject* parent)
    : QObject(parent),
      head(state, io),
      acquisition(
          state, io,
          [this] {
              if (formUnload)
                  formUnload(1007);
          },
          [this](double value) { readingNotFinite(value); }),
      absorbance(state, acquisition, head,
                 AbsorbanceHooks{[this](bool on) {
                                     if (on)
                                         tmrRead.start();
                                     else
                                         tmrRead.stop();
                                 },
                                 [this](const QString& text) { data_.set(item::A, text); },
                                 [this] {
                                     zeroJudge.zeroTaken(secondaryChecked_, absorbance.zeroSawDosimeter(),
                                                         acquisition.lastSpread(), state.z1);
                                     emit zeroTaken();
                                 },
                                 [this](double a) { emit readingTaken(a); }}),
      zeroJudge(settings),
      settings_(settings),
      data_(data)
{
    head.tested = [this](int result) { emit headTested(result == 0); };
    tmrRead.setInterval(600);
    tmrDelayZero.setInterval(500);
    // The reading timer is restarted by each reading at its end, so the
    // interval runs from the end of one reading to the start of the next.
    tmrRead.setTimerType(Qt::PreciseTimer);
    tmrDelayZero.setTimerType(Qt::PreciseTimer);
    acquisition.timedOut = [this] { emit converterTimedOut(); };
    connect(&tmrRead, &QTimer::timeout, this, [this] { guarded([this] { tmrRead_Timer(); }); });
    connect(&tmrDelayZero, &QTimer::timeout, this, [this] { guarded([this] { tmrDelayZero_Timer(); }); });
}

void Reader::guarded(const std::function<void()>& step)
{
    try {
        step();
    } catch (const ReadingAbandoned&) {
        // The shut-down has already run; nothing of the reading remains to do.
    }
}

void Reader::tmrDelayZero_Timer()
{
    if (state.Control & ctlSecondaryPulse) {
        head.clearControlBits(state.base, ctlSecondaryPulse);
        // Stays armed: the zero waits one more interval.
        armDelayZero();
        return;
    }
    tmrDelayZero.stop();
    {
        const QScopedValueRollback<bool> running(zeroRunning_, true);
        absorbance.zero();
    }
    tmrRead.start();
}

void Reader::tmrRead_Timer()
{
    tmrRead.stop();
    absorbance.getA();
    emit readingDone();
}

void Reader::selectWavelength(bool secondary)
{
    tmrRead.stop();
    if (secondary)
        head.setControlBits(state.base, ctlSecondary | ctlSecondaryPulse);
    else
        head.clearControlBits(state.base, ctlSecondary | ctlSecondaryPulse);
    data_.set(item::WL, data_.text(secondary ? item::lblA2 : item::lblA1));
    primaryChecked_ = !secondary;
    secondaryChecked_ = secondary;
    emit menuChanged();
    settings_.setDisplay(secondary ? QStringLiteral("Secondary") : QStringLiteral("Primary"));
    armDelayZero();
}

void Reader::mnuPrimary_Click() { selectWavelength(false); }

void Reader::mnuSecondary_Click() { selectWavelength(true); }

void Reader::armDelayZero()
{
    if (!tmrDelayZero.isActive())
        tmrDelayZero.start();
    emit zeroOrdered();
}

void Reader::mnuZero_Click()
{
    tmrRead.stop();
    armDelayZero();
}

void Reader::parseEEPROM()
{
    const IdentityCaptions c = kalvor::parseEEPROM(state, settings_);
    zeroJudge.useHead(state.rdrSN, state.rdrWL1, state.rdrWL2);
    data_.set(item::lblA1, c.lblA1);
    data_.set(item::lblA2, c.lblA2);
    mnuPrimaryCaption_ = c.mnuPrimary;
    mnuSecondaryCaption_ = c.mnuSecondary;
    emit menuChanged();
    emit identityRead();
}

void Reader::storePort(std::int16_t port) { settings_.setPort(port); }

void Reader::setBase(std::int16_t base)
{
    if (base != state.base && (state.LED || state.buzzer)) {
        if (state.LED)
            head.LedOff();
        if (state.buzzer)
            head.buzzerOff();
        emit headOutputsOff();
    }
    state.base = base;
}

void Reader::readingNotFinite(double value)
{
    showMessage(QStringLiteral("A reading came out as %1, which is no usable number: the head's gain %2 "
                               "(setting \"%3\" in %4) is far too small. KALVOR ends now; correct the gain "
                               "and start KALVOR again.")
                    .arg(QString::number(value), SettingsStore::formatDouble(state.rdrGain),
                         printableText(keys::GainSNPrefix + state.rdrSN), printableText(settings_.filePath())));
    noteEndFault(exitcode::ReadingNotFinite);
    if (formUnload)
        formUnload(0);
}

} // namespace kalvor
