#include <gtest/gtest.h>

#include "settings/camera_settings.h"

namespace kv20x {
namespace {

TEST(CameraSettings, FreshRecordHoldsTheFirstRunDefaults)
{
    const CameraSettings s;
    EXPECT_EQ(s.eKV20XSize, 1);
    EXPECT_EQ(s.ParaTeam, 0);
    EXPECT_EQ(s.bAutoWB, 0);
    EXPECT_EQ(s.r, 105);
    EXPECT_EQ(s.g, 64);
    EXPECT_EQ(s.b, 122);
    EXPECT_EQ(s.AutoExposure, 1);
    EXPECT_EQ(s.ExposureTime, 300);
    EXPECT_EQ(s.AnalogGain, 20);
    EXPECT_EQ(s.AETarget, 100);
    EXPECT_EQ(s.Gamma, 100);
    EXPECT_EQ(s.Contrast, 30);
    EXPECT_EQ(s.EnableSaturation, 1);
    EXPECT_EQ(s.Saturation, 100);
    EXPECT_EQ(s.WhiteBlack, 0);
    EXPECT_EQ(s.VFlip, 1);
    EXPECT_EQ(s.HFlip, 1);
    EXPECT_EQ(s.HZ, 1);
    EXPECT_EQ(s.Speed, 0);
    EXPECT_EQ(s.AeSmoothedLuma, 100);
    EXPECT_EQ(s.AeExposure, 94);
    // Known before any device start: 1024 x 768 at 24 MHz.
    EXPECT_EQ(s.RowTime, 85);
    EXPECT_EQ(s.FlickerStep, 116);
}

TEST(CameraSettings, ColourMatrixColumnsKeepGreyNearlyGrey)
{
    const CameraSettings s;
    int sums[3] = {0, 0, 0};
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            sums[col] += s.ColourMatrix[row][col];
    EXPECT_EQ(sums[0], 128);
    EXPECT_EQ(sums[1], 127);
    EXPECT_EQ(sums[2], 127);
    for (int col = 0; col < 4; ++col)
        EXPECT_EQ(s.ColourMatrix[3][col], 0);
}

TEST(CameraSettings, FlickerStepAndRowTimeForEveryClockMainsAndSize)
{
    struct Case {
        SizeMode size;
        std::uint8_t speed;
        std::int32_t hz;
        std::uint16_t step;
        std::int32_t rowTime;
    };
    const Case cases[] = {
        {0, 0, 1, 87, 114},  {1, 0, 1, 116, 85}, {2, 0, 1, 120, 82}, {0, 0, 0, 72, 114},
        {1, 0, 0, 97, 85},   {2, 0, 0, 100, 82}, {0, 1, 1, 174, 57}, {1, 1, 1, 233, 42},
        {2, 1, 1, 241, 41},  {0, 1, 0, 145, 57}, {1, 1, 0, 194, 42}, {2, 1, 0, 201, 41},
    };
    for (const Case& c : cases) {
        const ExposureTiming t = ComputeExposureTiming(c.size, c.speed, c.hz);
        EXPECT_EQ(t.flickerStep, c.step) << "size " << c.size << " speed " << int(c.speed) << " hz " << c.hz;
        EXPECT_EQ(t.rowTime, c.rowTime) << "size " << c.size << " speed " << int(c.speed);
    }
}

TEST(CameraSettings, AnyNonZeroSpeedSelectsTheFastClock)
{
    const ExposureTiming two = ComputeExposureTiming(1, 2, 1);
    const ExposureTiming one = ComputeExposureTiming(1, 1, 1);
    EXPECT_EQ(two.flickerStep, one.flickerStep);
    EXPECT_EQ(two.rowTime, one.rowTime);
    EXPECT_EQ(FrameDuration100ns(1, 2, 300), FrameDuration100ns(1, 1, 300));
}

TEST(CameraSettings, TimingUpdateResetsTheWorkingExposure)
{
    CameraSettings s;
    s.ExposureTime = 777;
    s.AeExposure = 5;
    s.HZ = 0;
    UpdateExposureTiming(s);
    EXPECT_EQ(s.AeExposure, 777);
    EXPECT_EQ(s.FlickerStep, 97);
    EXPECT_EQ(s.RowTime, 85);
}

TEST(CameraSettings, FrameDurationFollowsSizeClockAndExposure)
{
    EXPECT_EQ(FrameDuration100ns(1, 0, 300), 760000);
    EXPECT_EQ(FrameDuration100ns(1, 0, 2000), 1920000);
    EXPECT_EQ(FrameDuration100ns(0, 1, 300), 830000);
    EXPECT_EQ(FrameDuration100ns(0, 0, 300), 1490000);
    EXPECT_EQ(FrameDuration100ns(2, 0, 300), 450000);
    EXPECT_EQ(FrameDuration100ns(1, 1, 300), 420000);
    EXPECT_EQ(FrameDuration100ns(2, 1, 300), 250000);
    // An exposure longer than the window stretches the frame: 1561 rows.
    EXPECT_EQ(FrameDuration100ns(0, 1, 1561), 830000);
    EXPECT_EQ(FrameDuration100ns(0, 0, 4000), 3840000);
}

// What IAMStreamConfig offers and keeps. 1024 x 768: 42 ms (fast clock,
// readout) to 384 ms (normal clock, 4000 rows); the normal clock's readout
// is 76 ms. 640 x 480: 25 ms fast, 45 ms normal.
TEST(CameraSettings, EveryOfferedFrameIntervalIsServedByAClock)
{
    const struct {
        SizeMode size;
        bool autoExposure;
        std::uint16_t rows;
        std::int64_t shortest, longest;
    } ranges[] = {
        {0, true, 300, 830000, 3840000},  {1, true, 300, 420000, 3840000},  {2, true, 300, 250000, 3620000},
        {1, true, 4000, 420000, 3840000},  // auto exposure never goes past the readout
        {1, false, 300, 420000, 3840000},  {1, false, 800, 420000, 3840000},
        {2, false, 800, 400000, 3620000},  // a manual exposure past the readout lengthens the shortest
        {1, false, 60000, 32000000, 57600000},
    };
    for (const auto& r : ranges) {
        SCOPED_TRACE(testing::Message() << "size " << r.size << ", auto " << r.autoExposure << ", " << r.rows);
        const FrameIntervalRange range = OfferedFrameIntervals(r.size, r.autoExposure, r.rows);
        EXPECT_EQ(range.shortest, r.shortest);
        EXPECT_EQ(range.longest, r.longest);
        // Both ends and every interval between are served; beyond the 1 %
        // slack nothing is.
        for (std::int64_t t = range.shortest; t <= range.longest; t += (range.longest - range.shortest) / 97) {
            const int speed = SpeedForFrameInterval(r.size, r.autoExposure, r.rows, t);
            ASSERT_GE(speed, 0) << t;
            // The chosen clock is fast enough, and the slower one would not be.
            const std::uint16_t rows = r.autoExposure ? 1 : r.rows;
            EXPECT_LE(FrameDuration100ns(r.size, static_cast<std::uint8_t>(speed), rows), t);
            if (speed == 1) {
                EXPECT_GT(FrameDuration100ns(r.size, 0, rows), t);
            }
        }
        EXPECT_GE(SpeedForFrameInterval(r.size, r.autoExposure, r.rows, range.longest), 0);
        EXPECT_GE(SpeedForFrameInterval(r.size, r.autoExposure, r.rows, range.shortest * 99 / 100), 0);
        EXPECT_EQ(SpeedForFrameInterval(r.size, r.autoExposure, r.rows, range.shortest * 98 / 100), -1);
        EXPECT_GE(SpeedForFrameInterval(r.size, r.autoExposure, r.rows, range.longest * 101 / 100), 0);
        EXPECT_EQ(SpeedForFrameInterval(r.size, r.autoExposure, r.rows, range.longest * 102 / 100), -1);
    }
    const struct {
        SizeMode size;
        std::int64_t requested;
        int speed;
    } choices[] = {
        {2, 10000000 / 40, 1}, {2, 10000000 / 30, 1}, {2, 10000000 / 22, 0}, {2, 10000000 / 15, 0},
        {1, 10000000 / 24, 1}, {1, 10000000 / 15, 1}, {1, 10000000 / 13, 0}, {0, 10000000 / 12, 1},
        {0, 10000000 / 6, 0},  {1, 1, -1},            {1, 0, -1},            {1, -5, -1},
    };
    for (const auto& c : choices)
        EXPECT_EQ(SpeedForFrameInterval(c.size, true, 300, c.requested), c.speed) << c.size << ", " << c.requested;
}

}  // namespace
}  // namespace kv20x

namespace kv20x {
namespace {

TEST(StallTimeout, TheLongestFrameIsFarInsideTheBound)
{
    for (SizeMode size = 0; size < kSizeModeCount; ++size) {
        // The longest frame: the normal clock at 4000 rows, e.g. 4000 lines of
        // 2304 clocks at 24 MHz = 384 ms at 1024 x 768.
        const std::int64_t longestMs = LongestFrameDuration100ns(size) / 10000;
        EXPECT_LE(longestMs, 400);
        EXPECT_EQ(StallTimeoutMs(size, 0, 4000), 3000u) << "five frames (at most 2 s) stay under the 3 s floor";
        EXPECT_LT(5 * longestMs, 3000 * 2 / 3) << "a third of the bound to spare even then";
        EXPECT_EQ(StallTimeoutMs(size, 1, 1), 3000u);
    }
    EXPECT_EQ(LongestFrameDuration100ns(kSizeHalf), 384 * 10000);
    // Exposures beyond the stored range (setters store any value) lengthen
    // the bound with the frame: 60000 rows at 96 us = 5.76 s a frame.
    EXPECT_EQ(StallTimeoutMs(kSizeHalf, 0, 60000), 5u * 5760u);
}

}  // namespace
}  // namespace kv20x
