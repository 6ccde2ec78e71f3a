#pragma once
// A 93C46 three-wire serial EEPROM in 16-bit organisation (64 registers), driven
// line by line. Only the READ instruction is carried out; other instructions
// are clocked in and ignored. Line levels here are logical: the card's
// inversion of data in and data out belongs to the card, not to the chip.
#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

namespace kalvor::sim {

class Eeprom93C46 {
public:
    static constexpr int kRegisters = 64;
    static constexpr std::uint16_t kErased = 0xFFFF;

    Eeprom93C46() { words_.fill(kErased); }

    std::uint16_t word(int reg) const { return words_[static_cast<std::size_t>(reg & 63)]; }
    void setWord(int reg, std::uint16_t value) { words_[static_cast<std::size_t>(reg & 63)] = value; }

    // 128 bytes: register r holds bytes 2r (bits 15..8) and 2r+1 (bits 7..0).
    // Missing bytes read as erased (0xFF); bytes past 128 are dropped.
    void loadRaw(const QByteArray& bytes);
    QByteArray raw() const;

    // The 64-character identity image as the reader software assembles it
    // from the even registers: register r (even) holds characters r and r+1
    // (0-based). The odd registers, which it never reads, are left erased.
    // Shorter images are padded with blanks; characters above 255 become '?'.
    void loadImage(const QString& image);

    // One change of the three input lines (one write of the card's control
    // register). Data in is sampled on the rising clock edge while selected.
    void drive(bool select, bool clock, bool dataIn);
    // The bit on data out: true = 1. False while the chip does not drive the
    // line (deselected, idle, taking a command) and for the dummy 0 bit.
    bool dataOut() const { return out_; }

    // Back to power-up state of the serial logic (the memory keeps its data).
    void resetLink();

private:
    enum class Phase { WaitStart, Command, Reading, Ignoring };

    std::array<std::uint16_t, kRegisters> words_{};
    Phase phase_ = Phase::WaitStart;
    bool clock_ = false;
    int bits_ = 0;           // command bits taken so far (opcode + address)
    unsigned command_ = 0;
    int address_ = 0;
    int outBit_ = -1;        // bit of word being shown: 15..0, -1 = dummy 0
    bool out_ = false;
};

} // namespace kalvor::sim
