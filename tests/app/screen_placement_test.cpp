// Where the main window goes: the keep-on-screen rule on its outer size, and
// the test that tells a window the user moved from one left where it was put.
#include "app/ScreenPlacement.h"

#include <gtest/gtest.h>

using namespace kalvor;

TEST(KeepOnScreen, AFarOffPositionPutsTheWholeFrameOnTheScreen)
{
    // 1280 x 1024 at 96 dpi is 19200 x 15360 twips. The window's outer size:
    // client 194 x 71 px, menu bar 19 px, frame 1 px at the sides and bottom
    // and 20 px of title bar: 196 x 111 px, 2940 x 1665 twips.
    EXPECT_EQ(keepOnScreen({30000, 30000}, 2940, 1665, 19200, 15360), (TwipsPosition{16260, 13695}));
    // Only the edge that is off the screen moves.
    EXPECT_EQ(keepOnScreen({30000, 100}, 2940, 1665, 19200, 15360), (TwipsPosition{16260, 100}));
}

TEST(KeepOnScreen, EqualityAndTheLeftAndTopEdgesGetNoCorrection)
{
    EXPECT_EQ(keepOnScreen({16260, 13695}, 2940, 1665, 19200, 15360), (TwipsPosition{16260, 13695}));
    EXPECT_EQ(keepOnScreen({16261, 13696}, 2940, 1665, 19200, 15360), (TwipsPosition{16260, 13695}));
    EXPECT_EQ(keepOnScreen({-500, -30000}, 2940, 1665, 19200, 15360), (TwipsPosition{-500, -30000}));
}

TEST(StandsWherePlaced, OnePixelOfSlackOnlyOnAFractionallyScaledScreen)
{
    // At 144 dpi (scale 1.5) a frame placed at 7,7 comes back as 7,8.
    EXPECT_TRUE(standsWherePlaced({7, 7}, {7, 8}, 1.5));
    EXPECT_FALSE(standsWherePlaced({7, 7}, {7, 9}, 1.5));
    EXPECT_TRUE(standsWherePlaced({7, 7}, {7, 7}, 1.0));
    EXPECT_FALSE(standsWherePlaced({7, 7}, {8, 7}, 1.0));
    EXPECT_FALSE(standsWherePlaced({7, 7}, {7, 6}, 2.0));
}
