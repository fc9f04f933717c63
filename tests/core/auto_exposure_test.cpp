#include <gtest/gtest.h>

#include "imaging/auto_exposure.h"

namespace kv20x {
namespace {

struct Step {
    AutoExposureState state;
    AutoExposureResult result;
};

Step StepFrom(std::uint8_t target, std::uint8_t smoothed, std::uint16_t exposure, std::uint16_t step, std::uint16_t gain,
         std::uint16_t height, std::uint8_t luma)
{
    Step s{{target, gain, exposure, smoothed, step, height}, {}};
    s.result = AutoExposureStep(s.state, luma);
    return s;
}

TEST(AutoExposure, WithinTheDeadBandNothingChanges)
{
    const Step s = StepFrom(100, 100, 300, 87, 10, 768, 105);
    EXPECT_FALSE(s.result.write);
    EXPECT_EQ(s.state.smoothed, 100);
    EXPECT_EQ(s.state.gain, 10);
    EXPECT_EQ(s.state.exposure, 300);
}

TEST(AutoExposure, SlightlyBrightLowersTheGain)
{
    const Step s = StepFrom(100, 100, 300, 87, 10, 768, 150);
    EXPECT_TRUE(s.result.write);
    EXPECT_EQ(s.state.smoothed, 88);
    EXPECT_EQ(s.result.gain, 7);
    EXPECT_EQ(s.state.exposure, 300);
    EXPECT_EQ(s.result.exposureRows, 261);
}

TEST(AutoExposure, SlightlyDarkRaisesTheGain)
{
    const Step s = StepFrom(100, 100, 300, 87, 10, 768, 60);
    EXPECT_EQ(s.state.smoothed, 110);
    EXPECT_EQ(s.result.gain, 11);
    EXPECT_EQ(s.state.exposure, 300);
    EXPECT_EQ(s.result.exposureRows, 261);
}

TEST(AutoExposure, BlackPictureLengthensTheExposureToTheFrameThenRaisesTheGain)
{
    const Step s = StepFrom(100, 40, 1000, 87, 20, 768, 10);
    EXPECT_EQ(s.state.smoothed, 125);
    EXPECT_EQ(s.result.gain, 32);
    EXPECT_EQ(s.state.exposure, 768);
    EXPECT_EQ(s.result.exposureRows, 696);
}

TEST(AutoExposure, SaturatedPictureCutsExposureAndTradesItForGain)
{
    const Step s = StepFrom(100, 230, 500, 116, 4, 768, 234);
    EXPECT_EQ(s.state.smoothed, 75);
    EXPECT_EQ(s.result.gain, 8);
    EXPECT_EQ(s.state.exposure, 325);
    EXPECT_EQ(s.result.exposureRows, 232);
}

TEST(AutoExposure, ExposuresBelowOneFlickerStepAreWrittenUnrounded)
{
    // Too dark with a short exposure: X grows by one row below 30.
    const Step dark = StepFrom(100, 100, 20, 87, 10, 768, 60);
    EXPECT_EQ(dark.state.exposure, 21);
    EXPECT_EQ(dark.result.exposureRows, 21);
    // Saturated at the shortest exposure with no gain left: 0 is written as 1.
    const Step bright = StepFrom(100, 200, 1, 87, 0, 768, 234);
    EXPECT_EQ(bright.state.exposure, 0);
    EXPECT_EQ(bright.result.exposureRows, 1);
}

TEST(AutoExposure, SmoothedLuminanceNeverWrapsAboveAByte)
{
    // L and S near 255 sum past a byte; E must be their true mean.
    // L = 230 is above 2T's cap of 210 and counts as 255: E = 252, D = 52,
    // h = 26, too bright, S = T - h.
    const Step s = StepFrom(200, 250, 300, 87, 20, 768, 230);
    EXPECT_EQ(s.state.smoothed, 174);
}

TEST(MeasureLuma, WeightsTheCentreWindowMeans)
{
    // A 8 x 4 picture: the window is 4 x 2 pixels, an eighth of it.
    const std::uint32_t grey[3] = {100 * 8, 100 * 8, 100 * 8};
    EXPECT_EQ(MeasureLuma(grey, 8, 4), ((16425 + 8432 + 3176) * 100 >> 15) + 16);
    const std::uint32_t black[3] = {0, 0, 0};
    EXPECT_EQ(MeasureLuma(black, 8, 4), 16);
    EXPECT_EQ(MeasureLuma(black, 0, 0), 16);
    const std::uint32_t white[3] = {255 * 8, 255 * 8, 255 * 8};
    EXPECT_EQ(MeasureLuma(white, 8, 4), 234);
}

TEST(WhiteBalance, GreyGivesUnityGains)
{
    WhiteBalanceGains gains{1, 2, 3};
    const std::uint32_t multiple[3] = {6400, 6400, 6400};
    EXPECT_TRUE(MeasureWhiteBalance(multiple, gains));
    EXPECT_EQ(gains.red, 64);
    EXPECT_EQ(gains.green, 64);
    EXPECT_EQ(gains.blue, 64);
    // Sums that are not multiples of 64: the divisor rounds down.
    const std::uint32_t uneven[3] = {6463, 6463, 6463};
    EXPECT_TRUE(MeasureWhiteBalance(uneven, gains));
    EXPECT_EQ(gains.green, 64);
    EXPECT_GE(gains.red, 64);
    EXPECT_LE(gains.red, 65);
}

TEST(WhiteBalance, WeakRedAndBlueAreLiftedToGreen)
{
    WhiteBalanceGains gains{};
    const std::uint32_t sums[3] = {5000, 10000, 6000};  // blue, green, red
    EXPECT_TRUE(MeasureWhiteBalance(sums, gains));
    EXPECT_EQ(gains.red, 10000 / (6000 >> 6));
    EXPECT_EQ(gains.blue, 10000 / (5000 >> 6));
    EXPECT_EQ(gains.green, 64);
}

TEST(WhiteBalance, GainsAboveTheRangeAreScaledSoTheLargestIs255)
{
    WhiteBalanceGains gains{};
    const std::uint32_t redless[3] = {409600, 64000, 8192};  // kR = 500, kB = 10
    EXPECT_TRUE(MeasureWhiteBalance(redless, gains));
    EXPECT_EQ(gains.red, 255);
    EXPECT_EQ(gains.green, 16320 / 500);
    EXPECT_EQ(gains.blue, 10 * 255 / 500);
    const std::uint32_t blueless[3] = {8192, 64000, 409600};
    EXPECT_TRUE(MeasureWhiteBalance(blueless, gains));
    EXPECT_EQ(gains.blue, 255);
    EXPECT_EQ(gains.red, 10 * 255 / 500);
}

TEST(WhiteBalance, PictureWithoutRedOrBlueKeepsTheGains)
{
    WhiteBalanceGains gains{105, 64, 122};
    const std::uint32_t noRed[3] = {1000, 1000, 63};
    EXPECT_FALSE(MeasureWhiteBalance(noRed, gains));
    const std::uint32_t noBlue[3] = {0, 1000, 1000};
    EXPECT_FALSE(MeasureWhiteBalance(noBlue, gains));
    const std::uint32_t noGreen[3] = {1000, 0, 1000};
    EXPECT_FALSE(MeasureWhiteBalance(noGreen, gains));
    EXPECT_EQ(gains.red, 105);
    EXPECT_EQ(gains.blue, 122);
}

}  // namespace
}  // namespace kv20x
