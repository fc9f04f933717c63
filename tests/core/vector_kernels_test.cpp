// Every instruction-set level the processor has, forced in turn, against the
// plain steps: colour reconstruction and its sums, the finishing pass in
// every picture format, and whole frames. Levels the processor lacks are
// reported as skipped.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "camera_model.h"

#include "imaging/finish_picture.h"
#include "imaging/frame_pipeline.h"
#include "imaging/picture_format.h"
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
    // The same in any format: the planes of the packed picture's rows where
    // the format keeps them, the rest of the picture and of the planes
    // buffer holding leftovers that must not show.
    Bytes FinishedAs(PictureFormat format, const Bytes& input, int w, int h, const FinishParams& params)
    {
        const PictureLayout layout = LayoutOf(format, w, h);
        Bytes planes = input;
        oracle::ToPlanes(planes.data(), w, h);
        Bytes picture = RandomBytes(layout.imageBytes);
        if (layout.planesBytes == 0) {
            for (int y = 0; y < h; ++y)
                std::memcpy(&picture[y * layout.planes[0].stride], &planes[y * w * 3u], w * 3u);
            planes.clear();
        }
        FinishPicture(PictureTarget{format, picture.data(), planes.empty() ? nullptr : planes.data()}, w, h, params,
                      Level());
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

constexpr PictureFormat kFormats[] = {PictureFormat::Rgb24, PictureFormat::Rgb32, PictureFormat::Yuy2,
                                      PictureFormat::Nv12, PictureFormat::I420};

bool TopDown(PictureFormat format) { return format != PictureFormat::Rgb24 && format != PictureFormat::Rgb32; }

// Every format at every stage and in all four orientations: the RGB24
// steps' picture, converted by the documented rule. Every even width to
// 160 (around each vector length's multiples and the overlapping last
// block), then random ones, and the last few wider than the sensor; every
// tenth round has hand-made tables, which only the plain form computes.
TEST_P(EveryLevel, EveryFormatMatchesTheConvertedRgb24Picture)
{
    for (int round = 0; round < 320; ++round) {
        const int w = round < 80 ? 2 + 2 * round : round >= 316 ? 2050 + 2 * (round % 4) : 2 + 2 * static_cast<int>(rng() % 400);
        const int h = 2 + 2 * static_cast<int>(rng() % 3);
        const auto stage = static_cast<ColourStage>(round % 3);
        const bool reverse = round / 3 % 2, mirror = round / 6 % 2;
        const int saturation = static_cast<int>(rng() % 256);
        const int gamma = rng() % 2 ? 100 : 10 + static_cast<int>(rng() % 241);
        const int contrast = static_cast<int>(rng() % 256);
        WbLut wb = oracle::Gains(static_cast<int>(rng() % 256), static_cast<int>(rng() % 256),
                                 static_cast<int>(rng() % 256));
        if (round % 10 == 9)
            for (auto& v : wb.green)
                v = static_cast<std::uint8_t>(rng());
        const ToneLut tone = oracle::Tone(gamma, contrast);
        const Bytes input = RandomBytes(static_cast<std::size_t>(w) * h * 3);

        FinishParams params;
        params.stage = stage;
        params.wb = &wb;
        params.tone = &tone;
        params.product = Multiply(FromArray(kColourMatrix), SaturationMatrix(static_cast<std::uint8_t>(saturation)));
        params.reverseRows = reverse;
        params.mirrorRows = mirror;
        for (PictureFormat format : kFormats) {
            // The RGB24 picture that shows the same: the top-down formats
            // store their rows the other way round.
            Bytes rgb = input;
            oracle::FinishSteps(rgb, w, h, stage, wb, tone, saturation, TopDown(format) ? !reverse : reverse, mirror);
            ASSERT_TRUE(FinishedAs(format, input, w, h, params) == oracle::Convert(rgb, w, h, format))
                << PictureFormatName(format) << " " << w << "x" << h << " round " << round << " stage " << int(stage)
                << " saturation " << saturation << " gamma " << gamma << " contrast " << contrast << " reverse "
                << reverse << " mirror " << mirror;
        }
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

// The simulated camera's chart, as the camera sends it at this size.
Bytes ChartFrame(int w, int h)
{
    auto model = std::make_unique<simcam::CameraModel>();
    Bytes scene(simcam::kSceneBytes);
    simcam::ModelInit(model.get(), scene.data());
    simcam::BuildScene(model.get(), scene.data(), static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h));
    std::uint8_t response[256];
    simcam::BuildResponse(300, 28, response);
    Bytes raw(static_cast<std::size_t>(w) * h);
    simcam::FillFrameBytes(scene.data(), response, static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), 0, 0,
                           raw.data(), static_cast<std::uint32_t>(raw.size()));
    return raw;
}

// Whole frames in every format, of random bytes and of the chart, with
// random settings (auto exposure and one-shot white balance on and off,
// every stage and both flips in turn) and defect tables with entries on
// and beyond every border; the YUV formats' planes buffer starts with
// leftovers.
TEST_P(EveryLevel, WholeFramesMatchThePlainSteps)
{
    // The chart at the camera's sizes in the second round; the small sizes
    // take the most rounds, so that every stage meets every orientation.
    const struct {
        int w, h, rounds;
    } sizes[] = {{2048, 1536, 2}, {1024, 768, 2}, {640, 480, 3}, {98, 6, 6}, {130, 10, 6}, {6, 4, 5}};
    int frame = 0;
    for (auto [w, h, rounds] : sizes) {
        for (int round = 0; round < rounds; ++round, ++frame) {
            const bool chart = round == 1 && w >= 640;
            const Bytes raw = chart ? ChartFrame(w, h) : RandomBytes(static_cast<std::size_t>(w) * h);
            DefectTable defects;
            defects.count = rng() % 24;
            for (std::uint32_t i = 0; i < defects.count; ++i) {
                const int x = i % 4 == 0 ? 3 : i % 4 == 1 ? w - 1 : static_cast<int>(rng() % (w + 4));
                const int y = i % 3 == 0 ? 0 : i % 3 == 1 ? h - 1 : static_cast<int>(rng() % h);
                defects.entries[i] = {static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)};
            }
            CameraSettings settings;
            oracle::RandomSettings(settings, rng);
            settings.WhiteBlack = frame % 3 == 0;
            settings.EnableSaturation = frame % 3 == 1;
            settings.VFlip = frame / 3 % 2;
            settings.HFlip = frame / 6 % 2;
            CameraSettings expectedSettings = settings;
            FrameTables expectedTables;
            BuildFrameTables(settings, expectedTables);
            const Bytes rgb = oracle::Frame(raw, w, h, expectedSettings, defects, expectedTables);

            for (PictureFormat format : kFormats) {
                const PictureLayout layout = LayoutOf(format, w, h);
                CameraSettings formatSettings = settings;
                FrameTables tables;
                BuildFrameTables(formatSettings, tables);
                Bytes rawCopy = raw;
                Bytes picture(layout.imageBytes, 0xAB);
                Bytes planes(layout.planesBytes, 0xCD);
                NullHooks hooks;
                ASSERT_TRUE(RunFramePipeline(rawCopy.data(), PictureTarget{format, picture.data(), planes.data()}, w,
                                             h, formatSettings, defects, tables, hooks, Level()));
                ASSERT_TRUE(picture == oracle::Convert(rgb, w, h, format))
                    << PictureFormatName(format) << " " << w << "x" << h << " round " << round;
                EXPECT_EQ(formatSettings.AnalogGain, expectedSettings.AnalogGain);
                EXPECT_EQ(formatSettings.AeExposure, expectedSettings.AeExposure);
                EXPECT_EQ(formatSettings.r, expectedSettings.r);
                EXPECT_EQ(formatSettings.b, expectedSettings.b);
            }
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
