// Where the player window and its picture go: the full-screen placement table,
// the first window rectangle, the frame allowance and the caption's name.

#include "preview/PreviewPlayer.h"
#include "preview/VideoPlacement.h"

#include <gtest/gtest.h>

using namespace veltrano;

namespace {
QRect Place(int w, int h, int cx, int cy) { return FullScreenVideoRect(w, h, cx, cy); }
}  // namespace

TEST(FullScreenPlacement, TenTimesWhenItFitsCentred) {
    EXPECT_EQ(Place(100, 75, 1280, 1024), QRect(140, 137, 1000, 750));
    // Exactly the screen at ten times: no bars at all.
    EXPECT_EQ(Place(128, 96, 1280, 960), QRect(0, 0, 1280, 960));
    // Odd leftovers: the halves truncate.
    EXPECT_EQ(Place(33, 21, 1001, 801), QRect(335, 295, 330, 210));
}

TEST(FullScreenPlacement, BothTooLargeTakesTheTighterSide) {
    // 4:3 on 5:4: full width, bars of 32 above and below, height cy - 2 x top.
    EXPECT_EQ(Place(320, 240, 1280, 1024), QRect(0, 32, 1280, 960));
    // Same aspect as the screen: the equality takes full height and fills it.
    EXPECT_EQ(Place(640, 480, 1024, 768), QRect(0, 0, 1024, 768));
    // Full height: width is cx - 2 x left, one more than the truncated 1251.
    EXPECT_EQ(Place(352, 288, 1280, 1024), QRect(14, 0, 1252, 1024));
    // 16:9 on 4:3: full width with bars.
    EXPECT_EQ(Place(1920, 1080, 1024, 768), QRect(0, 96, 1024, 576));
}

TEST(FullScreenPlacement, OneSideTooLarge) {
    // Only the width overflows: full width, aspect kept (2000 x 300 -> 1280 x 192).
    EXPECT_EQ(Place(200, 30, 1280, 1024), QRect(0, 416, 1280, 192));
    // Only the height overflows: full height (300 x 1200 at ten times -> 256 x 1024).
    EXPECT_EQ(Place(30, 120, 1280, 1024), QRect(512, 0, 256, 1024));
}

TEST(FullScreenPlacement, PictureWithoutSizeGetsTheScreen) {
    EXPECT_EQ(Place(0, 240, 800, 600), QRect(0, 0, 800, 600));
    EXPECT_EQ(Place(320, 0, 800, 600), QRect(0, 0, 800, 600));
}

TEST(InitialPlayerRect, AboveTheDialogFromTheWorkArea) {
    // Work area from (0, 30); dialog top at 335: h = 300, right = 400.
    EXPECT_EQ(InitialPlayerRect(QRect(0, 30, 1280, 994), QRect(300, 335, 500, 400)), QRect(100, 35, 300, 300));
    // The right edge is counted from the work area's left, not from the player's left.
    EXPECT_EQ(InitialPlayerRect(QRect(60, 0, 1220, 1024), QRect(0, 605, 500, 400)), QRect(160, 5, 700, 600));
}

TEST(NormalWindowSize, NativeSizeScaledPlusFrameAllowance) {
    const FrameMetrics none;
    EXPECT_EQ(NormalWindowSize(320, 240, 1, 1, none), QSize(320, 240));
    const FrameMetrics frame{4, 4, 19};
    EXPECT_EQ(NormalWindowSize(320, 240, 1, 1, frame), QSize(328, 267));
    // Multiplier and divider in integers: 175 * 2 / 3 truncates to 116.
    EXPECT_EQ(NormalWindowSize(175, 99, 2, 3, none), QSize(116, 66));
}

TEST(BareFileName, PartAfterTheLastSlashOrTheWhole) {
    EXPECT_EQ(BareFileName("/home/u/Music/song.mp3"), "song.mp3");
    EXPECT_EQ(BareFileName("song.mp3"), "song.mp3");
    EXPECT_EQ(BareFileName("/music/"), "");
    EXPECT_EQ(BareFileName("/a/AC\\DC.mp3"), "AC\\DC.mp3");  // a backslash is part of a Linux name
}
