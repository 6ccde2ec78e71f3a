#include "hw/HeadLink.h"

#include "core/MessageCatalog.h"
#include "core/MessageSink.h"
#include "hw/Registers.h"

namespace kalvor {

namespace {
const QString kModel = QStringLiteral("KALVOR");
}

QString hexAddress(int address) { return QString::number(address, 16).toUpper(); }

void HeadLink::writeControl(std::int16_t base, std::uint8_t value)
{
    s_.Control = value;
    io_.writePort(port(base, regControl), value);
}

void HeadLink::bumpSK()
{
    clearControlBits(s_.testBase, ctlClock);
    setControlBits(s_.testBase, ctlClock);
}

void HeadLink::sendByte(std::uint8_t b)
{
    setControlBits(s_.testBase, ctlClock);
    for (unsigned mask = 0x80; mask != 0; mask >>= 1) {
        if (b & mask)
            clearControlBits(s_.testBase, ctlData);
        else
            setControlBits(s_.testBase, ctlData);
        bumpSK();
    }
    setControlBits(s_.testBase, ctlData);
}

QChar HeadLink::getByte()
{
    unsigned value = 0;
    for (int bit = 0; bit < 8; ++bit) {
        bumpSK();
        value *= 2;
        if (!(readStatus(s_.testBase) & stsDataOut))
            value += 1;
    }
    return QChar(static_cast<char16_t>(value));
}

void HeadLink::sendOpcode(std::uint8_t code)
{
    clearControlBits(s_.testBase, ctlDeselect);
    bumpSK();
    clearControlBits(s_.testBase, ctlData);
    bumpSK();
    sendByte(code);
}

QString HeadLink::readEeprom(int reg)
{
    setControlBits(s_.testBase, ctlDeselect);
    setControlBits(s_.testBase, ctlData);
    setControlBits(s_.testBase, ctlClock);
    sendOpcode(static_cast<std::uint8_t>(reg + 128));
    QString result;
    result.append(getByte());
    result.append(getByte());
    setControlBits(s_.testBase, ctlDeselect);
    return result;
}

QString HeadLink::getEEPROM()
{
    const std::uint8_t saved = s_.Control;
    ++transfers_;
    QString image;
    image.reserve(64);
    for (int reg = 0; reg <= 62; reg += 2) {
        image += readEeprom(reg);
        clearControlBits(s_.testBase, ctlClock);
    }
    writeControl(s_.testBase, saved);
    --transfers_;
    if (afterTransfer && !transferring())
        afterTransfer();
    return image;
}

int HeadLink::testHead(std::int16_t testPort)
{
    QString message;
    const int result = probeHead(testPort, &message);
    if (tested)
        tested(result);
    if (result != 0)
        showMessage(message);
    return result;
}

int HeadLink::probeHead(std::int16_t testPort, QString* message)
{
    s_.status = io_.readPort(port(testPort, regStatus));
    const QString where = QStringLiteral(" &H") + hexAddress(static_cast<std::uint16_t>(testPort));
    if (!(s_.status & stsAdcDone)) {
        *message = loadText(1005) + where;
        return 1005;
    }
    s_.testBase = testPort;
    s_.rdrEEPROM = getEEPROM();
    if (s_.rdrEEPROM.left(3) != kModel.left(3)) {
        *message = loadText(1003) + QStringLiteral("  ") + loadText(1005) + where;
        return 1003;
    }
    if (s_.rdrEEPROM.mid(3, 3) != kModel.mid(3, 3)) {
        *message = loadText(1004);
        return 1004;
    }
    return 0;
}

bool HeadLink::present() { return !(readStatus(s_.base) & stsNoDosimeter); }

bool HeadLink::pushButton() { return (readStatus(s_.base) & stsButton) != 0; }

void HeadLink::LedOn()
{
    setControlBits(s_.base, ctlData);
    s_.LED = true;
}

void HeadLink::LedOff()
{
    clearControlBits(s_.base, ctlData);
    s_.LED = false;
}

void HeadLink::buzzerOn()
{
    setControlBits(s_.base, ctlClock);
    s_.buzzer = true;
}

void HeadLink::buzzerOff()
{
    clearControlBits(s_.base, ctlClock);
    s_.buzzer = false;
}

void HeadLink::clearControlRegister()
{
    if (s_.base == 0)
        return;
    io_.writePort(port(s_.base, regControl), 0);
}

} // namespace kalvor
