// When a silent camera counts as stalled, on a clock the test moves.

#include <gtest/gtest.h>

#include "pin/stall_deadline.h"
#include "settings/camera_settings.h"

namespace kv20x {
namespace {

TEST(StallDeadline, TheReaderMayWaitTheBoundAndNoLonger)
{
    StallDeadline d;
    d.Start(1000, 3000);
    EXPECT_FALSE(d.Check(1000, 3000).stalled);
    EXPECT_EQ(d.Check(2500, 3000).waitMs, 1500u);
    EXPECT_FALSE(d.Check(3999, 3000).stalled);
    EXPECT_TRUE(d.Check(4000, 3000).stalled);
}

TEST(StallDeadline, AFrameStartsTheWaitAgain)
{
    StallDeadline d;
    d.Start(0, 3000);
    d.FrameArrived(2900, 3000);
    EXPECT_FALSE(d.Check(5000, 3000).stalled);
    EXPECT_TRUE(d.Check(5900, 3000).stalled);
}

TEST(StallDeadline, IdleTimeDoesNotCount)
{
    StallDeadline d;
    d.Start(0, 3000);
    d.FrameArrived(100, 3000);
    d.ReaderIdle();  // every buffer full: the camera is not asked
    EXPECT_FALSE(d.Check(60000, 3000).stalled);
    d.ReaderBusy(60000, 3000);
    EXPECT_FALSE(d.Check(62999, 3000).stalled);
    EXPECT_TRUE(d.Check(63000, 3000).stalled);
}

// An exposure of 60,000 rows (frames of about 5.8 s) shortened to 300 rows
// in the middle of a frame: that frame keeps the long bound, whenever the
// watchdog looks; the next one gets the short bound.
TEST(StallDeadline, AShortenedExposureDoesNotTimeOutTheFrameInFlight)
{
    const std::uint32_t longBound = StallTimeoutMs(kSizeHalf, 0, 60000);
    const std::uint32_t shortBound = StallTimeoutMs(kSizeHalf, 0, 300);
    ASSERT_GT(longBound, 5800u + shortBound);

    // The watchdog looks often.
    StallDeadline d;
    d.Start(0, longBound);
    EXPECT_FALSE(d.Check(1000, longBound).stalled);
    d.BoundChanged(shortBound);  // shortened at 2 s; the frame, exposed long, arrives at 5.8 s
    EXPECT_FALSE(d.Check(3500, shortBound).stalled);
    EXPECT_FALSE(d.Check(5700, shortBound).stalled);
    d.FrameArrived(5800, shortBound);
    EXPECT_FALSE(d.Check(5800 + shortBound - 1, shortBound).stalled);
    EXPECT_TRUE(d.Check(5800 + shortBound, shortBound).stalled) << "the next frame has the short bound";

    // The watchdog sleeps through the whole change and first looks when the
    // bound is already short: the frame still keeps the long one.
    StallDeadline asleep;
    asleep.Start(0, shortBound);
    asleep.FrameArrived(100, longBound);  // the long frame starts
    asleep.BoundChanged(shortBound);      // shortened 0.4 s later
    EXPECT_FALSE(asleep.Check(1500, shortBound).stalled);
    EXPECT_FALSE(asleep.Check(3200, shortBound).stalled);
    EXPECT_FALSE(asleep.Check(5800, shortBound).stalled);
    EXPECT_TRUE(asleep.Check(100 + longBound, shortBound).stalled);

    // A bound that grows during a wait counts at once, seen or not.
    StallDeadline grows;
    grows.Start(0, shortBound);
    grows.BoundChanged(longBound);
    EXPECT_FALSE(grows.Check(shortBound + 10, shortBound).stalled);
    StallDeadline looked;
    looked.Start(0, shortBound);
    EXPECT_FALSE(looked.Check(shortBound + 10, longBound).stalled);
}

}  // namespace
}  // namespace kv20x
