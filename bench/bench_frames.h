#pragma once
// Synthetic input for the benchmarks: a raw frame of the simulated camera's
// test chart at a size, and the default settings with their tables.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "camera_model.h"
#include "imaging/frame_pipeline.h"
#include "settings/camera_settings.h"

namespace kv20x::bench {

struct BenchFrame {
    int width;
    int height;
    std::vector<std::uint8_t> raw;
    std::vector<std::uint8_t> picture;
};

inline BenchFrame MakeFrame(int width, int height)
{
    BenchFrame frame{width, height, {}, {}};
    auto model = std::make_unique<simcam::CameraModel>();
    std::vector<std::uint8_t> scene(simcam::kSceneBytes);
    simcam::ModelInit(model.get(), scene.data());
    simcam::BuildScene(model.get(), scene.data(), static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
    std::uint8_t lut[256];
    simcam::BuildResponse(300, 28, lut);
    frame.raw.resize(static_cast<size_t>(width) * height);
    simcam::FillFrameBytes(scene.data(), lut, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), 0,
                           0, frame.raw.data(), static_cast<std::uint32_t>(frame.raw.size()));
    frame.picture.resize(frame.raw.size() * 3);
    return frame;
}

// The best usable level at or below KV20X_SIMD, or the best level when it is
// unset; false, with a message, for an unknown name.
inline bool CappedLevel(SimdLevel& level)
{
    level = BestSimdLevel();
    const char* name = std::getenv("KV20X_SIMD");
    if (!name)
        return true;
    SimdLevel cap;
    if (!ParseSimdLevel(name, cap)) {
        std::fprintf(stderr, "KV20X_SIMD: unknown level %s\n", name);
        return false;
    }
    while (static_cast<int>(cap) > 0 && !SimdLevelUsable(cap))
        cap = static_cast<SimdLevel>(static_cast<int>(cap) - 1);
    if (static_cast<int>(cap) < static_cast<int>(level))
        level = cap;
    return true;
}

// Hooks of a pump with nothing to write to and no lock contention.
class NullHooks final : public FrameHooks {
public:
    void WriteExposure(std::uint16_t, std::uint16_t) override {}
    void ReleaseRaw() override {}
    void LockSettings() override {}
    void UnlockSettings() override {}
};

}  // namespace kv20x::bench
