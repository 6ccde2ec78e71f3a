#include "hw/sim/Eeprom93C46.h"

namespace kalvor::sim {

namespace {
constexpr unsigned kOpRead = 0b10;
constexpr int kCommandBits = 8; // 2 opcode bits + 6 address bits
} // namespace

void Eeprom93C46::loadRaw(const QByteArray& bytes)
{
    for (int reg = 0; reg < kRegisters; ++reg) {
        const auto byteAt = [&](int i) -> unsigned {
            return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0xFFu;
        };
        words_[static_cast<std::size_t>(reg)] =
            static_cast<std::uint16_t>((byteAt(2 * reg) << 8) | byteAt(2 * reg + 1));
    }
}

QByteArray Eeprom93C46::raw() const
{
    QByteArray bytes;
    bytes.reserve(2 * kRegisters);
    for (std::uint16_t w : words_) {
        bytes.append(static_cast<char>(w >> 8));
        bytes.append(static_cast<char>(w & 0xFF));
    }
    return bytes;
}

void Eeprom93C46::loadImage(const QString& image)
{
    QString padded = image.left(kRegisters);
    padded.append(QString(kRegisters - padded.size(), QLatin1Char(' ')));
    const QByteArray latin = padded.toLatin1();
    words_.fill(kErased);
    for (int reg = 0; reg < kRegisters; reg += 2) {
        const auto hi = static_cast<unsigned char>(latin[reg]);
        const auto lo = static_cast<unsigned char>(latin[reg + 1]);
        words_[static_cast<std::size_t>(reg)] = static_cast<std::uint16_t>((hi << 8) | lo);
    }
}

void Eeprom93C46::resetLink()
{
    phase_ = Phase::WaitStart;
    bits_ = 0;
    command_ = 0;
    outBit_ = -1;
    out_ = false;
}

void Eeprom93C46::drive(bool select, bool clock, bool dataIn)
{
    const bool rising = clock && !clock_;
    clock_ = clock;
    if (!select) {
        resetLink();
        return;
    }
    if (!rising)
        return;

    switch (phase_) {
    case Phase::WaitStart:
        // Leading 0 bits are ignored; the first 1 is the start bit.
        if (dataIn) {
            phase_ = Phase::Command;
            bits_ = 0;
            command_ = 0;
        }
        break;
    case Phase::Command:
        command_ = (command_ << 1) | (dataIn ? 1u : 0u);
        if (++bits_ == kCommandBits) {
            address_ = static_cast<int>(command_ & 0x3F);
            if ((command_ >> 6) == kOpRead) {
                phase_ = Phase::Reading;
                outBit_ = -1; // the dummy 0 precedes the data
                out_ = false;
            } else {
                phase_ = Phase::Ignoring;
            }
        }
        break;
    case Phase::Reading:
        // Each further rising edge shows the next bit, MSB first; past bit 0
        // the read runs on into the next register.
        if (outBit_ <= 0) {
            if (outBit_ == 0)
                address_ = (address_ + 1) & 63;
            outBit_ = 15;
        } else {
            --outBit_;
        }
        out_ = (words_[static_cast<std::size_t>(address_)] >> outBit_) & 1u;
        break;
    case Phase::Ignoring:
        break;
    }
}

} // namespace kalvor::sim
