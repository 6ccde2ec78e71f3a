#include "portsetup/DipSwitches.h"

#include <gtest/gtest.h>

#include <set>

namespace kalvor {
namespace {

// Board numbers of the switches that are off for a switch setting.
std::set<int> offBoardNumbers(const DipSwitches& s)
{
    std::set<int> off;
    for (int i = 0; i < DipSwitches::count; ++i) {
        if (!s.isOn(i))
            off.insert(DipSwitches::boardNumber(i));
    }
    return off;
}

struct Example {
    std::int16_t address;
    const char* text;
    std::set<int> off;
    bool testable;
};

TEST(DipSwitches, WorkedExamplesBothWays)
{
    const Example examples[] = {
        {0x300, "300", {4, 3}, true},
        {0x100, "100", {4}, true},
        {0x3E0, "3E0", {7, 6, 5, 4, 3}, true},
        {0x280, "280", {5, 3}, true},
        {0x3F8, "3F8", {9, 8, 7, 6, 5, 4, 3}, false},
        {0x000, "0", {}, false},
    };
    for (const Example& e : examples) {
        SCOPED_TRACE(e.text);
        const DipSwitches s = DipSwitches::fromAddress(e.address);
        EXPECT_EQ(offBoardNumbers(s), e.off);
        EXPECT_EQ(s.address(), e.address);
        EXPECT_EQ(portText(e.address), QString::fromLatin1(e.text));
        EXPECT_EQ(isTestablePort(e.address), e.testable);
    }
}

TEST(DipSwitches, FactoryDefaultHasTheTwoRightmostSwitchesOff)
{
    const DipSwitches s = DipSwitches::fromAddress(DipSwitches::defaultPort);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(s.isOn(i)) << i;
    EXPECT_FALSE(s.isOn(5));
    EXPECT_FALSE(s.isOn(6));
}

TEST(DipSwitches, BitsWithoutASwitchAreDropped)
{
    EXPECT_EQ(DipSwitches::fromAddress(0x302), DipSwitches::fromAddress(0x300));
    EXPECT_EQ(DipSwitches::fromAddress(0x302).address(), 0x300);
    // Bits above bit 9 and below bit 3: every address reads back as address AND 0x3F8.
    for (int a : {0x7FFF, 0x0407, 0x0050, -1, -32768}) {
        const auto addr = static_cast<std::int16_t>(a);
        EXPECT_EQ(DipSwitches::fromAddress(addr).address(), addr & 0x3F8) << a;
    }
}

TEST(DipSwitches, ToggleOneSwitchMovesAddressByItsWeight)
{
    for (int i = 0; i < DipSwitches::count; ++i) {
        DipSwitches s = DipSwitches::fromAddress(0x300);
        const std::int16_t before = s.address();
        const bool wasOn = s.isOn(i);
        s.setOn(i, !wasOn);
        const int expected = before + (wasOn ? DipSwitches::weight(i) : -DipSwitches::weight(i));
        EXPECT_EQ(s.address(), expected) << "index " << i;
    }
    // Switch 3 (index 6) on at 0x300 gives 0x100.
    DipSwitches s = DipSwitches::fromAddress(0x300);
    s.setOn(6, true);
    EXPECT_EQ(s.address(), 0x100);
}

TEST(DipSwitches, SpinStepsByEightAndClampsIntoRange)
{
    EXPECT_EQ(stepPort(0x300, true), 0x308);
    EXPECT_EQ(stepPort(0x300, false), 0x2F8);
    EXPECT_EQ(stepPort(0x3E0, true), 0x3E0);
    EXPECT_EQ(stepPort(0x100, false), 0x100);
    EXPECT_EQ(stepPort(0x3F8, false), 0x3E0);
    EXPECT_EQ(stepPort(0x3F8, true), 0x3E0);
    EXPECT_EQ(stepPort(0x000, true), 0x100);
    EXPECT_EQ(stepPort(0x050, false), 0x100);
    // Hand-edited extremes are clamped, not wrapped.
    EXPECT_EQ(stepPort(32767, true), 0x3E0);
    EXPECT_EQ(stepPort(-32768, false), 0x100);
    // Low bits survive a step inside the range.
    EXPECT_EQ(stepPort(0x302, true), 0x30A);
}

TEST(DipSwitches, TextFormIsUpperCaseHexWithoutLeadingZeros)
{
    EXPECT_EQ(portText(992), QStringLiteral("3E0"));
    EXPECT_EQ(portText(248), QStringLiteral("F8"));
    EXPECT_EQ(portText(0x2A8), QStringLiteral("2A8"));
    EXPECT_EQ(portText(32767), QStringLiteral("7FFF"));
    EXPECT_EQ(portText(-8), QStringLiteral("FFF8"));
}

TEST(DipSwitches, RangeLimitsAreInclusive)
{
    EXPECT_FALSE(isTestablePort(0xF8));
    EXPECT_TRUE(isTestablePort(0x100));
    EXPECT_TRUE(isTestablePort(0x3E0));
    EXPECT_FALSE(isTestablePort(0x3E8));
    EXPECT_FALSE(isTestablePort(-0x300));
}

} // namespace
} // namespace kalvor
