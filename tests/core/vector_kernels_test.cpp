// Every instruction-set level the processor has, forced in turn, against the
// plain steps: colour reconstruction and its sums, the finishing pass, and
// whole frames. Levels the processor lacks are reported as skipped.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "imaging/finish_picture.h"
#include "imaging/frame_pipeline.h"
#include "imaging/raw_to_rgb.h"
#include "support/pipeline_oracle.h"

namespace kv20x {
namespace {

using Bytes = std::vector<std::uint8_t>;

class NullHooks final : public FrameHooks {
public:
    void WriteExposure(std::uint16_t, std::uint16_t) override {}
    void ReleaseRaw() override {}
    void LockSettings() override {}
    void UnlockSettings() override {}
};

class EveryLevel : public ::testing::TestWithParam<SimdLevel> {
protected:
    void SetUp() override
    {
        if (!SimdLevelUsable(GetParam()))
            GTEST_SKIP() << "this processor or build has no " << SimdLevelName(GetParam());
    }
    SimdLevel Level() const { return GetParam(); }

    // Mostly the dark-to-middle values of real frames, with some of anything.
    Bytes RandomBytes(std::size_t n)
    {
        Bytes bytes(n);
        for (auto& v : bytes)
            v = static_cast<std::uint8_t>(rng() % 256 < 200 ? rng() % 160 : rng());
        return bytes;
    }
    // The finishing pass at this level on a packed picture.
    Bytes Finished(const Bytes& input, int w, int h, const FinishParams& params) const
    {
        Bytes picture = input;
        oracle::ToPlanes(picture.data(), w, h);
        FinishPicture(picture.data(), w, h, params, Level());
        return picture;
    }
    std::mt19937 rng{20261209};
};

// Widths around every vector length's multiples exercise the overlapping
// last block and the plain tails: 3 to 140 pixels, then the real sizes.
TEST_P(EveryLevel, ReconstructionAndItsSumsMatchThePlainFormulas)
{
    std::vector<std::pair<int, int>> sizes;
    for (int w = 3; w <= 140; ++w)
        sizes.emplace_back(w, 3 + w % 6);
    for (auto size : {std::pair{2048, 1536}, std::pair{1024, 768}, std::pair{640, 480}, std::pair{258, 7}})
        sizes.push_back(size);
    for (auto [w, h] : sizes) {
        const Bytes raw = RandomBytes(static_cast<std::size_t>(w) * h);
        PictureStats stats;
        stats.gatherWindow = true;
        stats.gatherTotal = w % 2 == 0;
        Bytes pic(static_cast<std::size_t>(w) * h * 3, 0xCD);
        ReconstructColour(raw.data(), pic.data(), w, h, &stats, Level());
        oracle::ToPacked(pic.data(), w, h);
        const Bytes expected = oracle::Demosaic(raw, w, h);
        ASSERT_TRUE(pic == expected) << w << "x" << h;
        std::uint32_t window[3], total[3];
        oracle::Sums(expected, w, w / 4, 3 * w / 4, h / 4, 3 * h / 4, window);
        oracle::Sums(expected, w, 0, w, 0, h, total);
        for (int c = 0; c < 3; ++c) {
            ASSERT_EQ(stats.window[c], window[c]) << w << "x" << h << " channel " << c;
            ASSERT_EQ(stats.total[c], stats.gatherTotal ? total[c] : 0) << w << "x" << h << " channel " << c;
        }
    }
}

// Random stages, gains, tone curves (the contrast ramp alone, computed by
// some levels, and any gamma, looked up), saturations on both sides of the
// matrix's 16-bit limit, and all four orientations.
TEST_P(EveryLevel, FinishingMatchesThePlainStepsForEveryStageAndOrientation)
{
    for (int round = 0; round < 600; ++round) {
        // The last rounds are wider than the sensor: scratch from the heap.
        const int w = round < 300 ? 1 + round % 150 : round >= 596 ? 2049 + round % 4 : 1 + static_cast<int>(rng() % 700);
        const int h = 1 + static_cast<int>(rng() % 5);
        const auto stage = static_cast<ColourStage>(rng() % 3);
        const int saturation = static_cast<int>(rng() % 256);
        const int gamma = rng() % 2 ? 100 : 10 + static_cast<int>(rng() % 241);
        const int contrast = static_cast<int>(rng() % 256);
        const WbLut wb = oracle::Gains(static_cast<int>(rng() % 256), static_cast<int>(rng() % 256),
                                       static_cast<int>(rng() % 256));
        const ToneLut tone = oracle::Tone(gamma, contrast);
        const bool reverse = rng() % 2, mirror = rng() % 2;
        const Bytes input = RandomBytes(static_cast<std::size_t>(w) * h * 3);

        Bytes expected = input;
        oracle::FinishSteps(expected, w, h, stage, wb, tone, saturation, reverse, mirror);

        FinishParams params;
        params.stage = stage;
        params.wb = &wb;
        params.tone = &tone;
        params.product = Multiply(FromArray(kColourMatrix), SaturationMatrix(static_cast<std::uint8_t>(saturation)));
        params.reverseRows = reverse;
        params.mirrorRows = mirror;
        ASSERT_TRUE(Finished(input, w, h, params) == expected) << w << "x" << h << " stage " << int(stage) << " saturation " << saturation
                                        << " gamma " << gamma << " contrast " << contrast << " reverse " << reverse
                                        << " mirror " << mirror;
    }
}

// Tables that are not of the shapes the vector forms compute (hand-made
// gains, an arbitrary tone) and matrices far outside the camera's: still the
// plain steps' bytes.
TEST_P(EveryLevel, FinishingOfArbitraryTablesAndMatricesMatchesThePlainSteps)
{
    for (int round = 0; round < 60; ++round) {
        const int w = 1 + static_cast<int>(rng() % 200), h = 2;
        WbLut wb;
        ToneLut tone;
        for (int i = 0; i < 256; ++i) {
            wb.red[i] = static_cast<std::uint8_t>(rng());
            wb.green[i] = static_cast<std::uint8_t>(rng());
            wb.blue[i] = static_cast<std::uint8_t>(rng());
            tone.table[i] = static_cast<std::uint8_t>(rng());
        }
        if (round % 2)
            wb = oracle::Gains(static_cast<int>(rng() % 256), 64, static_cast<int>(rng() % 256));
        ColourMatrix4 product{};
        const int scale = round % 3 == 0 ? 1 << 14 : round % 3 == 1 ? 1 << 20 : 1 << 23;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 3; ++j)
                product.m[i][j] = static_cast<std::int32_t>(rng() % (2 * scale)) - scale;
        const Bytes input = RandomBytes(static_cast<std::size_t>(w) * h * 3);

        for (ColourStage stage : {ColourStage::WhiteBalanceOnly, ColourStage::WhiteBalanceMatrix}) {
            Bytes expected = input;
            if (stage == ColourStage::WhiteBalanceOnly) {
                oracle::WhiteBalanceOnly(expected, wb);
            } else {
                oracle::WhiteBalanceWithProduct(expected, wb, product);
            }
            oracle::ApplyTone(expected, tone);
            oracle::MirrorRows(expected, w, h);

            FinishParams params;
            params.stage = stage;
            params.wb = &wb;
            params.tone = &tone;
            params.product = product;
            params.mirrorRows = true;
            ASSERT_TRUE(Finished(input, w, h, params) == expected) << "round " << round << " stage " << int(stage);
        }
    }
}

// Whole frames with random settings (auto exposure and one-shot white
// balance on and off, monochrome, both flips) and defect tables with entries
// on and beyond every border.
TEST_P(EveryLevel, WholeFramesMatchThePlainSteps)
{
    const std::pair<int, int> sizes[] = {{2048, 1536}, {1024, 768}, {640, 480}, {98, 6}, {130, 9}, {6, 4}};
    for (auto [w, h] : sizes) {
        for (int round = 0; round < 3; ++round) {
            const Bytes raw = RandomBytes(static_cast<std::size_t>(w) * h);
            DefectTable defects;
            defects.count = rng() % 24;
            for (std::uint32_t i = 0; i < defects.count; ++i) {
                const int x = i % 4 == 0 ? 3 : i % 4 == 1 ? w - 1 : static_cast<int>(rng() % (w + 4));
                const int y = i % 3 == 0 ? 0 : i % 3 == 1 ? h - 1 : static_cast<int>(rng() % h);
                defects.entries[i] = {static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)};
            }
            CameraSettings settings;
            oracle::RandomSettings(settings, rng);
            CameraSettings expectedSettings = settings;
            FrameTables tables, expectedTables;
            BuildFrameTables(settings, tables);
            BuildFrameTables(settings, expectedTables);
            const Bytes expected = oracle::Frame(raw, w, h, expectedSettings, defects, expectedTables);

            Bytes rawCopy = raw;
            Bytes picture(static_cast<std::size_t>(w) * h * 3, 0xAB);
            NullHooks hooks;
            RunFramePipeline(rawCopy.data(), picture.data(), w, h, settings, defects, tables, hooks, Level());
            ASSERT_TRUE(picture == expected) << w << "x" << h << " round " << round;
            EXPECT_EQ(settings.AnalogGain, expectedSettings.AnalogGain);
            EXPECT_EQ(settings.AeExposure, expectedSettings.AeExposure);
            EXPECT_EQ(settings.r, expectedSettings.r);
            EXPECT_EQ(settings.b, expectedSettings.b);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, EveryLevel,
                         ::testing::Values(SimdLevel::Plain, SimdLevel::Sse2, SimdLevel::Ssse3, SimdLevel::Avx2,
                                           SimdLevel::Avx512),
                         [](const ::testing::TestParamInfo<SimdLevel>& level) {
                             return std::string(SimdLevelName(level.param));
                         });

// The exactness tests above pass just as well when everything falls back to
// the plain form; these pin down which form each kind of setting gets.
TEST(FinishPlan, TheDefaultSettingsAndTheirNeighboursGetTheFastForms)
{
    const auto plan = [](int saturation, int gamma, int contrast, const WbLut& wb) {
        static ToneLut tone;
        tone = oracle::Tone(gamma, contrast);
        FinishPlan p;
        p.stage = ColourStage::WhiteBalanceMatrix;
        p.wb = &wb;
        p.tone = &tone;
        p.product = Multiply(FromArray(kColourMatrix), SaturationMatrix(static_cast<std::uint8_t>(saturation)));
        PrepareFinishPlan(p, false);
        return p;
    };
    const CameraSettings defaults;
    const WbLut wb = oracle::Gains(defaults.r, defaults.g, defaults.b);

    const FinishPlan standard = plan(defaults.Saturation, defaults.Gamma, defaults.Contrast, wb);
    EXPECT_TRUE(standard.vectorForm);
    EXPECT_TRUE(standard.narrowMatrix);
    EXPECT_TRUE(standard.toneIsContrast);
    EXPECT_EQ(standard.contrast, defaults.Contrast);
    EXPECT_EQ(standard.gain[0], defaults.b);
    EXPECT_EQ(standard.gain[2], defaults.r);
    EXPECT_FALSE(standard.plainTables) << "the plain form's tables are built only when it runs";

    EXPECT_TRUE(plan(114, 100, 30, wb).narrowMatrix);
    const FinishPlan vivid = plan(115, 100, 30, wb);
    EXPECT_FALSE(vivid.narrowMatrix);
    EXPECT_TRUE(vivid.wideMatrix);
    EXPECT_TRUE(plan(255, 100, 255, wb).wideMatrix);

    const FinishPlan curved = plan(100, 150, 30, wb);
    EXPECT_TRUE(curved.vectorForm);
    EXPECT_FALSE(curved.toneIsContrast);

    WbLut handMade = wb;
    handMade.green[200] ^= 1;
    const FinishPlan odd = plan(100, 100, 30, handMade);
    EXPECT_FALSE(odd.vectorForm);
    EXPECT_TRUE(odd.plainTables);
}

TEST(SimdLevel, TheBestLevelIsUsableAndEveryLevelAboveItIsNot)
{
    const SimdLevel best = BestSimdLevel();
    EXPECT_TRUE(SimdLevelUsable(SimdLevel::Plain));
    EXPECT_TRUE(SimdLevelUsable(best));
    EXPECT_LE(static_cast<int>(best), static_cast<int>(DetectSimdLevel()));
    for (int i = static_cast<int>(best) + 1; i < kSimdLevelCount; ++i)
        EXPECT_FALSE(SimdLevelUsable(static_cast<SimdLevel>(i))) << SimdLevelName(static_cast<SimdLevel>(i));
    SimdLevel parsed;
    for (int i = 0; i < kSimdLevelCount; ++i) {
        ASSERT_TRUE(ParseSimdLevel(SimdLevelName(static_cast<SimdLevel>(i)), parsed));
        EXPECT_EQ(static_cast<int>(parsed), i);
    }
    EXPECT_FALSE(ParseSimdLevel("avx3", parsed));
    EXPECT_FALSE(ParseSimdLevel(nullptr, parsed));
}

}  // namespace
}  // namespace kv20x
