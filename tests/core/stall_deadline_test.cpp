// When a silent camera counts as stalled, on a clock the test moves.

#include <gtest/gtest.h>

#include "pin/stall_deadline.h"
#include "settings/camera_settings.h"

namespace kv20x {
namespace {

TEST(StallDeadline, TheReaderMayWaitTheBoundAndNoLonger)
{
    StallDeadline d;
    d.Start(1000);
    EXPECT_FALSE(d.Check(1000, 3000).stalled);
    EXPECT_EQ(d.Check(2500, 3000).waitMs, 1500u);
    EXPECT_FALSE(d.Check(3999, 3000).stalled);
    EXPECT_TRUE(d.Check(4000, 3000).stalled);
}

TEST(StallDeadline, AFrameStartsTheWaitAgain)
{
    StallDeadline d;
    d.Start(0);
    d.FrameArrived(2900);
    EXPECT_FALSE(d.Check(5000, 3000).stalled);
    EXPECT_TRUE(d.Check(5900, 3000).stalled);
}

TEST(StallDeadline, IdleTimeDoesNotCount)
{
    StallDeadline d;
    d.Start(0);
    d.FrameArrived(100);
    d.ReaderIdle();  // every buffer full: the camera is not asked
    EXPECT_FALSE(d.Check(60000, 3000).stalled);
    d.ReaderBusy(60000);
    EXPECT_FALSE(d.Check(62999, 3000).stalled);
    EXPECT_TRUE(d.Check(63000, 3000).stalled);
}

// An exposure of 60,000 rows (frames of about 5.8 s) shortened to 300 rows
// in the middle of a frame: that frame keeps the long bound; the next one
// gets the short bound.
TEST(StallDeadline, AShortenedExposureDoesNotTimeOutTheFrameInFlight)
{
    const std::uint32_t longBound = StallTimeoutMs(kSizeHalf, 0, 60000);
    const std::uint32_t shortBound = StallTimeoutMs(kSizeHalf, 0, 300);
    ASSERT_GT(longBound, 5800u + shortBound);

    StallDeadline d;
    d.Start(0);
    EXPECT_FALSE(d.Check(1000, longBound).stalled);
    // Shortened at 2 s; the frame, exposed long, arrives at 5.8 s.
    EXPECT_FALSE(d.Check(3500, shortBound).stalled);
    EXPECT_FALSE(d.Check(5700, shortBound).stalled);
    d.FrameArrived(5800);
    EXPECT_FALSE(d.Check(5800 + shortBound - 1, shortBound).stalled);
    EXPECT_TRUE(d.Check(5800 + shortBound, shortBound).stalled) << "the next frame has the short bound";

    // A bound that grows during a wait counts at once.
    StallDeadline grows;
    grows.Start(0);
    EXPECT_FALSE(grows.Check(100, shortBound).stalled);
    EXPECT_FALSE(grows.Check(shortBound + 10, longBound).stalled);
}

}  // namespace
}  // namespace kv20x
