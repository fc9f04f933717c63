// The same raw frames and settings give the same pictures in every build and
// at every instruction-set level: the native build, the 64-bit module and the
// 32-bit one (whose x87 floating point once made the default tone curve one
// level darker), each against the fingerprints below. A fingerprint covers
// the picture and what the frame wrote back to the settings.
//
// The fingerprints were taken from the native 64-bit build, whose pictures
// the other tests check against the plain steps. A deliberate change to the
// pipeline's output changes them; anything else that does is a fault.

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <functional>
#include <random>
#include <string>

#include "imaging/frame_pipeline.h"
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

struct Fnv1a {
    std::uint64_t value = 0xcbf29ce484222325u;
    void Add(const std::uint8_t* bytes, std::size_t n)
    {
        for (std::size_t i = 0; i < n; ++i)
            value = (value ^ bytes[i]) * 0x100000001b3u;
    }
    void Add(std::uint32_t word)
    {
        const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8),
                                       static_cast<std::uint8_t>(word >> 16), static_cast<std::uint8_t>(word >> 24)};
        Add(bytes, 4);
    }
};

struct FingerprintCase {
    const char* name;
    int width, height;
    std::function<void(CameraSettings&, std::mt19937&)> settings;
    std::uint64_t fingerprint;
};

void AutoExposureOff(CameraSettings& s, std::mt19937&) { s.AutoExposure = 0; }

const FingerprintCase kCases[] = {
    {"defaults 2048x1536", 2048, 1536, AutoExposureOff, 0xa4fc931f64332768u},
    {"defaults 1024x768", 1024, 768, AutoExposureOff, 0x872daf5fb7e8784cu},
    {"defaults 640x480", 640, 480, AutoExposureOff, 0x6ca9b13cc0116e1fu},
    {"auto exposure on", 1024, 768, [](CameraSettings&, std::mt19937&) {}, 0x644da5ceabccff53u},
    {"flips off", 1024, 768,
     [](CameraSettings& s, std::mt19937& r) { AutoExposureOff(s, r), s.VFlip = 0, s.HFlip = 0; }, 0x99532efd7996c31bu},
    {"saturation 0", 1024, 768, [](CameraSettings& s, std::mt19937& r) { AutoExposureOff(s, r), s.Saturation = 0; },
     0xf6bf84d45d47cda2u},
    {"grey", 640, 480, [](CameraSettings& s, std::mt19937& r) { AutoExposureOff(s, r), s.WhiteBlack = 1; }, 0xf9ebc3d125e62ccdu},
    {"white balance only", 640, 480,
     [](CameraSettings& s, std::mt19937& r) { AutoExposureOff(s, r), s.EnableSaturation = 0; }, 0xcd2797f037416024u},
    {"long exposure", 1024, 768,
     [](CameraSettings& s, std::mt19937&) { s.ExposureTime = 4000, s.AeExposure = 4000; }, 0x9b5a52c3274d4775u},
    {"gamma 150", 640, 480, [](CameraSettings& s, std::mt19937& r) { AutoExposureOff(s, r), s.Gamma = 150; }, 0x41bf7793f56b6249u},
    {"gamma 45, no contrast", 640, 480,
     [](CameraSettings& s, std::mt19937& r) { AutoExposureOff(s, r), s.Gamma = 45, s.Contrast = 0; }, 0x9147e6616b7ce21du},
    {"one-shot white balance", 640, 480, [](CameraSettings& s, std::mt19937&) { s.bAutoWB = 1; }, 0x77c918b6e67b86c2u},
    {"random settings", 640, 480, [](CameraSettings& s, std::mt19937& r) { oracle::RandomSettings(s, r); }, 0x49708186ff90305u},
    {"random settings, odd size", 130, 9, [](CameraSettings& s, std::mt19937& r) { oracle::RandomSettings(s, r); },
     0x294c0ce15d9145e4u},
};

class Fingerprints : public ::testing::TestWithParam<SimdLevel> {};

TEST_P(Fingerprints, EveryCaseGivesTheSamePictureInEveryBuild)
{
    if (!SimdLevelUsable(GetParam()))
        GTEST_SKIP() << "this processor or build has no " << SimdLevelName(GetParam());
    std::mt19937 rng{20261209};
    for (const FingerprintCase& c : kCases) {
        Fnv1a hash;
        for (int round = 0; round < 3; ++round) {
            Bytes raw(static_cast<std::size_t>(c.width) * c.height);
            for (auto& v : raw)
                v = static_cast<std::uint8_t>(rng() % 256 < 200 ? rng() % 160 : rng());
            DefectTable defects;
            defects.count = 3;
            defects.entries[0] = {5, 1};
            defects.entries[1] = {static_cast<std::int16_t>(c.width - 1), 2};
            defects.entries[2] = {7, static_cast<std::int16_t>(c.height - 1)};
            CameraSettings settings;
            c.settings(settings, rng);
            FrameTables tables;
            BuildFrameTables(settings, tables);
            Bytes picture(raw.size() * 3);
            NullHooks hooks;
            RunFramePipeline(raw.data(), picture.data(), c.width, c.height, settings, defects, tables, hooks,
                             GetParam());
            hash.Add(picture.data(), picture.size());
            for (std::uint32_t v : {std::uint32_t{settings.AnalogGain}, std::uint32_t{settings.AeExposure},
                                    std::uint32_t{settings.ExposureTime}, std::uint32_t{settings.r},
                                    std::uint32_t{settings.g}, std::uint32_t{settings.b}})
                hash.Add(v);
        }
        EXPECT_EQ(hash.value, c.fingerprint) << c.name << ": fingerprint 0x" << std::hex << hash.value;
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, Fingerprints,
                         ::testing::Values(SimdLevel::Plain, SimdLevel::Sse2, SimdLevel::Ssse3, SimdLevel::Avx2,
                                           SimdLevel::Avx512),
                         [](const ::testing::TestParamInfo<SimdLevel>& level) {
                             return std::string(SimdLevelName(level.param));
                         });

}  // namespace
}  // namespace kv20x
