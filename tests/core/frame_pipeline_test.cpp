#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "imaging/frame_pipeline.h"
#include "support/pipeline_oracle.h"

namespace kv20x {
namespace {

using Bytes = std::vector<std::uint8_t>;

class RecordingHooks final : public FrameHooks {
public:
    void WriteExposure(std::uint16_t gain, std::uint16_t rows) override
    {
        events.push_back("write " + std::to_string(gain) + " " + std::to_string(rows));
    }
    void ReleaseRaw() override { events.push_back("release"); }
    void LockSettings() override
    {
        // A setter that gets the lock just before this frame does.
        if (auto setter = std::exchange(beforeFirstLock, nullptr))
            setter();
        EXPECT_FALSE(locked);
        locked = true;
        events.push_back("lock");
    }
    void UnlockSettings() override
    {
        EXPECT_TRUE(locked);
        locked = false;
        events.push_back("unlock");
    }
    std::vector<std::string> events;
    bool locked = false;
    std::function<void()> beforeFirstLock;
};

TEST(FramePipeline, MatchesThePlainStepsOnRandomFramesAndSettings)
{
    std::mt19937 rng(2024);
    for (auto [w, h] : {std::pair{2048, 1536}, std::pair{1024, 768}, std::pair{640, 480}}) {
        for (int round = 0; round < 4; ++round) {
            Bytes raw(static_cast<size_t>(w) * h);
            for (auto& v : raw)
                v = static_cast<std::uint8_t>(rng() % 256 < 200 ? rng() % 160 : rng());
            DefectTable defects;
            defects.count = rng() % 20;
            for (std::uint32_t i = 0; i < defects.count; ++i)
                defects.entries[i] = {static_cast<std::int16_t>(rng() % (w + 4)), static_cast<std::int16_t>(rng() % h)};
            CameraSettings settings;
            oracle::RandomSettings(settings, rng);
            CameraSettings expectedSettings = settings;
            FrameTables tables, expectedTables;
            BuildFrameTables(settings, tables);
            BuildFrameTables(settings, expectedTables);

            const Bytes expected = oracle::Frame(raw, w, h, expectedSettings, defects, expectedTables);
            Bytes picture(static_cast<size_t>(w) * h * 3, 0xAB);
            RecordingHooks hooks;
            RunFramePipeline(raw.data(), picture.data(), w, h, settings, defects, tables, hooks);

            ASSERT_TRUE(picture == expected) << w << "x" << h << " round " << round;
            EXPECT_EQ(settings.AnalogGain, expectedSettings.AnalogGain);
            EXPECT_EQ(settings.ExposureTime, expectedSettings.ExposureTime);
            EXPECT_EQ(settings.AeExposure, expectedSettings.AeExposure);
            EXPECT_EQ(settings.AeSmoothedLuma, expectedSettings.AeSmoothedLuma);
            EXPECT_EQ(settings.r, expectedSettings.r);
            EXPECT_EQ(settings.g, expectedSettings.g);
            EXPECT_EQ(settings.b, expectedSettings.b);
            EXPECT_EQ(settings.bAutoWB, 0);
            EXPECT_EQ(0, std::memcmp(&tables.wb, &expectedTables.wb, sizeof tables.wb));
            EXPECT_FALSE(hooks.locked);
        }
    }
}

class PipelineOrder : public ::testing::Test {
protected:
    void RunFrame()
    {
        picture.assign(static_cast<size_t>(kW) * kH * 3, 0);
        hooks.events.clear();
        RunFramePipeline(raw.data(), picture.data(), kW, kH, settings, defects, tables, hooks);
    }
    static constexpr int kW = 64, kH = 48;
    Bytes raw = Bytes(kW * kH, 40);  // a dark, even frame
    Bytes picture;
    CameraSettings settings;
    DefectTable defects;
    FrameTables tables;
    RecordingHooks hooks;

    void SetUp() override
    {
        settings.FlickerStep = 116;
        settings.AeExposure = 300;
        BuildFrameTables(settings, tables);
    }
};

TEST_F(PipelineOrder, ExposureIsWrittenUnderTheLockBeforeTheRawFrameIsReleased)
{
    RunFrame();
    EXPECT_EQ(hooks.events, (std::vector<std::string>{"lock",
                                                      "write " + std::to_string(settings.AnalogGain) + " " +
                                                          std::to_string(settings.ExposureTime),
                                                      "unlock", "release", "lock", "unlock"}));
}

TEST_F(PipelineOrder, ManualExposureSetDuringTheFrameIsNotUndoneByItsStep)
{
    // The frame gathered its statistics with auto exposure on; the user
    // switches to manual before the step's result is applied.
    hooks.beforeFirstLock = [this] {
        settings.AutoExposure = 0;
        settings.ExposureTime = 1234;
        settings.AnalogGain = 7;
    };
    const std::uint8_t smoothed = settings.AeSmoothedLuma;
    RunFrame();
    EXPECT_EQ(settings.ExposureTime, 1234);
    EXPECT_EQ(settings.AnalogGain, 7);
    EXPECT_EQ(settings.AeSmoothedLuma, smoothed) << "no step was taken";
    EXPECT_EQ(hooks.events, (std::vector<std::string>{"lock", "unlock", "release", "lock", "unlock"}))
        << "nothing reached the sensor";
}

TEST_F(PipelineOrder, WithdrawnOneShotWhiteBalanceLeavesTheHandSetGains)
{
    settings.AutoExposure = 0;
    settings.bAutoWB = 1;
    BuildFrameTables(settings, tables);
    hooks.beforeFirstLock = [this] {
        settings.bAutoWB = 0;
        settings.r = 99;
        settings.g = 64;
        settings.b = 30;
        BuildFrameTables(settings, tables);
    };
    RunFrame();
    EXPECT_EQ(settings.r, 99);
    EXPECT_EQ(settings.b, 30);
    EXPECT_EQ(tables.wb.red[64], 99) << "the hand-set table stays";
}

TEST_F(PipelineOrder, WithAutoExposureOffNothingIsWritten)
{
    settings.AutoExposure = 0;
    RunFrame();
    EXPECT_EQ(hooks.events, (std::vector<std::string>{"release", "lock", "unlock"}));
    EXPECT_EQ(settings.ExposureTime, 300);
}

TEST_F(PipelineOrder, OneShotWhiteBalanceServesThisFrameBeforeItsColourStage)
{
    settings.AutoExposure = 0;
    settings.EnableSaturation = 0;
    settings.bAutoWB = 1;
    settings.Contrast = 0;
    BuildFrameTables(settings, tables);
    RunFrame();
    EXPECT_EQ(settings.bAutoWB, 0);
    // An even grey frame: every gain becomes unity, and this very frame is
    // balanced with them.
    EXPECT_EQ(settings.r, 64);
    EXPECT_EQ(settings.b, 64);
    EXPECT_EQ(tables.wb.red[100], 100);
    EXPECT_EQ(picture[(kH / 2 * kW + kW / 2) * 3 + 2], 40);
    EXPECT_EQ(hooks.events, (std::vector<std::string>{"lock", "unlock", "release", "lock", "unlock"}));
}

TEST_F(PipelineOrder, MonoOutputIgnoresTheGains)
{
    settings.AutoExposure = 0;
    settings.WhiteBlack = 1;
    RunFrame();
    const Bytes first = picture;
    settings.r = 200;
    settings.b = 10;
    BuildFrameTables(settings, tables);
    RunFrame();
    EXPECT_TRUE(picture == first);
}

}  // namespace
}  // namespace kv20x
