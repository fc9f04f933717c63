#include <gtest/gtest.h>

#include <random>

#include "imaging/colour_tables.h"
#include "imaging/finish_picture.h"
#include "support/pipeline_oracle.h"

namespace kv20x {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(WbLut, GainsScaleBySixtyFourthsAndSaturate)
{
    WbLut lut;
    BuildWbLut(0, 64, 128, lut);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(lut.red[i], 0);
        EXPECT_EQ(lut.green[i], i);
    }
    EXPECT_EQ(lut.blue[127], 254);
    EXPECT_EQ(lut.blue[128], 255);
    EXPECT_EQ(lut.blue[255], 255);
}

TEST(ToneLut, GammaOneWithoutContrastIsTheIdentity)
{
    ToneLut lut;
    BuildToneLut(100, 0, lut);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(lut.table[i], i);
}

TEST(ToneLut, FullContrastPushesValuesAwayFromTheMiddle)
{
    ToneLut lut;
    BuildToneLut(100, 100, lut);
    EXPECT_EQ(lut.table[0], 0);
    EXPECT_EQ(lut.table[64], 14);
    EXPECT_EQ(lut.table[127], 127);
    EXPECT_EQ(lut.table[128], 128);
    EXPECT_EQ(lut.table[192], 242);
    EXPECT_EQ(lut.table[255], 255);
}

TEST(ToneLut, AgreesWithTheFormulaForEveryGammaAndSomeContrasts)
{
    for (int gamma = 0; gamma < 256; ++gamma)
        for (int contrast : {0, 30, 100, 255}) {
            ToneLut lut;
            BuildToneLut(static_cast<std::uint8_t>(gamma), static_cast<std::uint8_t>(contrast), lut);
            const ToneLut expected = oracle::Tone(gamma, contrast);
            ASSERT_EQ(0, std::memcmp(lut.table, expected.table, 256)) << "gamma " << gamma << " contrast " << contrast;
        }
    ToneLut white;
    BuildToneLut(0, 30, white);
    EXPECT_EQ(white.table[0], 255) << "exponent 0 gives an all-white curve";
}

TEST(SaturationMatrix, KnownSaturations)
{
    const ColourMatrix4 unchanged = SaturationMatrix(128);
    const ColourMatrix4 identity{{{128, 0, 0, 0}, {0, 128, 0, 0}, {0, 0, 128, 0}, {0, 0, 0, 1}}};
    EXPECT_EQ(0, std::memcmp(&unchanged, &identity, sizeof identity));

    const ColourMatrix4 grey = SaturationMatrix(0);
    EXPECT_EQ(grey.m[0][0], 39);
    EXPECT_EQ(grey.m[0][1], 39);
    EXPECT_EQ(grey.m[1][2], 78);
    EXPECT_EQ(grey.m[2][0], 10);

    const ColourMatrix4 vivid = SaturationMatrix(255);
    EXPECT_EQ(vivid.m[0][1], -40);
    EXPECT_EQ(vivid.m[1][0], -78);
    EXPECT_EQ(vivid.m[2][2], 255 - 11);
    for (int s = 0; s < 256; ++s) {
        const ColourMatrix4 m = SaturationMatrix(static_cast<std::uint8_t>(s));
        const ColourMatrix4 o = oracle::Saturation(s);
        ASSERT_EQ(0, std::memcmp(&m, &o, sizeof m)) << s;
    }
}

// The finishing pass against the plain steps in their order: colour stage,
// tone, flip, mirror.
class FinishPictureTest : public ::testing::Test {
protected:
    Bytes RandomPicture(int w, int h)
    {
        Bytes pic(static_cast<size_t>(w) * h * 3);
        for (auto& v : pic)
            v = static_cast<std::uint8_t>(rng());
        return pic;
    }
    std::mt19937 rng{11};
};

TEST_F(FinishPictureTest, EveryStageAndOrientationMatchesThePlainSteps)
{
    for (auto [w, h] : {std::pair{640, 480}, std::pair{7, 5}, std::pair{1, 1}, std::pair{2, 3}}) {
        for (ColourStage stage : {ColourStage::Mono, ColourStage::WhiteBalanceOnly, ColourStage::WhiteBalanceMatrix}) {
            for (int orientation = 0; orientation < 4; ++orientation) {
                const int saturation = static_cast<int>(rng() % 256);
                const int r = static_cast<int>(rng() % 256), g = static_cast<int>(rng() % 256),
                          b = static_cast<int>(rng() % 256);
                const int gamma = 10 + static_cast<int>(rng() % 241), contrast = static_cast<int>(rng() % 101);
                const WbLut wb = oracle::Gains(r, g, b);
                const ToneLut tone = oracle::Tone(gamma, contrast);
                const Bytes input = RandomPicture(w, h);

                const bool reverse = orientation & 1, mirror = orientation & 2;
                Bytes expected = input;
                oracle::FinishSteps(expected, w, h, stage, wb, tone, saturation, reverse, mirror);

                Bytes actual = input;
                FinishParams params;
                params.stage = stage;
                params.wb = &wb;
                params.tone = &tone;
                params.product = Multiply(FromArray(kColourMatrix), SaturationMatrix(static_cast<std::uint8_t>(saturation)));
                params.reverseRows = reverse;
                params.mirrorRows = mirror;
                oracle::ToPlanes(actual.data(), w, h);
                FinishPicture(actual.data(), w, h, params);
                ASSERT_TRUE(actual == expected) << w << "x" << h << " stage " << int(stage) << " orientation "
                                                << orientation << " saturation " << saturation;
            }
        }
    }
}

TEST_F(FinishPictureTest, MonoOfPurePrimaries)
{
    const ToneLut identity = oracle::Tone(100, 0);
    Bytes pic = {255, 0, 0, 0, 255, 0, 0, 0, 255};  // blue, green, red pixels
    FinishParams params;
    params.stage = ColourStage::Mono;
    params.tone = &identity;
    oracle::ToPlanes(pic.data(), 3, 1);
    FinishPicture(pic.data(), 3, 1, params);
    EXPECT_EQ(pic, (Bytes{28, 28, 28, 150, 150, 150, 76, 76, 76}));
}

TEST_F(FinishPictureTest, SaturationZeroTurnsColoursGrey)
{
    const WbLut unity = oracle::Gains(64, 64, 64);
    const ToneLut identity = oracle::Tone(100, 0);
    Bytes pic = RandomPicture(32, 2);
    FinishParams params;
    params.stage = ColourStage::WhiteBalanceMatrix;
    params.wb = &unity;
    params.tone = &identity;
    params.product = Multiply(FromArray(kColourMatrix), SaturationMatrix(0));
    oracle::ToPlanes(pic.data(), 32, 2);
    FinishPicture(pic.data(), 32, 2, params);
    for (size_t i = 0; i < pic.size(); i += 3) {
        EXPECT_NEAR(pic[i], pic[i + 1], 1);
        EXPECT_NEAR(pic[i + 1], pic[i + 2], 1);
    }
}

}  // namespace
}  // namespace kv20x
