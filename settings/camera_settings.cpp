#include "settings/camera_settings.h"

namespace kv20x {

namespace {

// Pixel clocks of one sensor row, blanking included, per output size.
std::int32_t RowClocks(SizeMode size)
{
    switch (size) {
    case kSizeFull: return 2753;
    case kSizeVga: return 1989;
    default: return 2055;
    }
}

// Pixel clocks per line as the frame duration counts them; the half size
// reads the full window, so it shares the full size's line length.
std::int32_t LineClocks(SizeMode size, bool fast)
{
    if (size == kSizeVga)
        return fast ? 2432 : 2176;
    return fast ? 2560 : 2304;
}

}  // namespace

CameraSettings::CameraSettings()
{
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col)
            ColourMatrix[row][col] = kColourMatrix[row][col];
    const ExposureTiming timing = ComputeExposureTiming(eKV20XSize, Speed, HZ);
    FlickerStep = timing.flickerStep;
    RowTime = timing.rowTime;
}

ExposureTiming ComputeExposureTiming(SizeMode size, std::uint8_t speed, std::int32_t hz)
{
    const std::int32_t rowClocks = RowClocks(size);
    const std::int32_t pixelMHz = speed != 0 ? 48 : 24;
    const std::int32_t step = hz != 0 ? pixelMHz * 10000 / rowClocks : pixelMHz * 100000 / (rowClocks * 12);
    return {static_cast<std::uint16_t>(step), rowClocks / pixelMHz};
}

void UpdateExposureTiming(CameraSettings& settings)
{
    const ExposureTiming timing = ComputeExposureTiming(settings.eKV20XSize, settings.Speed, settings.HZ);
    settings.FlickerStep = timing.flickerStep;
    settings.AeExposure = settings.ExposureTime.Get();
    settings.RowTime = timing.rowTime;
}

std::int64_t FrameDuration100ns(SizeMode size, std::uint8_t speed, std::uint16_t exposureRows)
{
    const bool fast = speed != 0;
    const std::int32_t height = SizeModeHeight(IsValidSizeMode(size) ? size : kSizeHalf);
    const std::int32_t lines = height + 25 > exposureRows ? height + 25 : exposureRows;
    const std::int32_t ms = lines * LineClocks(size, fast) / (fast ? 48000 : 24000);
    return static_cast<std::int64_t>(ms) * 10000;
}

}  // namespace kv20x

namespace kv20x {

std::int64_t ShortestFrameDuration100ns(SizeMode size)
{
    return FrameDuration100ns(size, 1, 1);
}

std::int64_t LongestFrameDuration100ns(SizeMode size)
{
    return FrameDuration100ns(size, 0, 4000);
}

FrameIntervalRange OfferedFrameIntervals(SizeMode size, bool autoExposure, std::uint16_t exposureRows)
{
    const std::uint16_t rows = autoExposure ? 1 : exposureRows;
    const std::int64_t shortest = FrameDuration100ns(size, 1, rows);
    const std::int64_t normal = FrameDuration100ns(size, 0, rows);
    const std::int64_t longest = LongestFrameDuration100ns(size);
    return {shortest, longest > normal ? longest : normal};
}

int SpeedForFrameInterval(SizeMode size, bool autoExposure, std::uint16_t exposureRows, std::int64_t requested100ns)
{
    const FrameIntervalRange range = OfferedFrameIntervals(size, autoExposure, exposureRows);
    if (requested100ns * 100 < range.shortest * (100 - kFrameIntervalSlackPercent) ||
        requested100ns * 100 > range.longest * (100 + kFrameIntervalSlackPercent))
        return -1;
    const std::uint16_t rows = autoExposure ? 1 : exposureRows;
    return FrameDuration100ns(size, 0, rows) <= requested100ns ? 0 : 1;
}

std::uint32_t StallTimeoutMs(SizeMode size, std::uint8_t speed, std::uint16_t exposureRows)
{
    constexpr std::int64_t kFloorMs = 3000;
    constexpr std::int64_t kFrames = 5;
    const std::int64_t frames = kFrames * FrameDuration100ns(size, speed, exposureRows) / 10000;
    return static_cast<std::uint32_t>(frames > kFloorMs ? frames : kFloorMs);
}

}  // namespace kv20x
