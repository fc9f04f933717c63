#pragma once
// Every tunable value of the camera, one record per filter instance, held by
// the capture pin.
//
// Locking: multi-field groups (white balance, exposure, colour enhancement),
// RowTime and the rebuilding of the tone and white-balance tables are guarded
// by the pin's device lock. Every other field is a single aligned word that is
// read and written whole without a lock (see relaxed.h); the frame pump sees a
// change at its next frame.

#include <cstdint>

#include "settings/relaxed.h"
#include "settings/size_mode.h"

namespace kv20x {

// Colour correction of the sensor's filters, scale 128. Rows are the input
// (red, green, blue, constant), columns the output (red, green, blue, and a
// fourth that takes part in matrix products only). Each output column sums to
// 128 or 127 over the three colour rows so that grey stays grey.
inline constexpr std::int32_t kColourMatrix[4][4] = {
    {205, -63, -34, 0},
    {-65, 222, -125, 0},
    {-12, -32, 286, 0},
    {0, 0, 0, 0},
};

struct CameraSettings {
    Relaxed<std::int32_t> eKV20XSize{kSizeHalf};
    Relaxed<std::uint8_t> ParaTeam{0};
    Relaxed<std::int32_t> bAutoWB{0};
    Relaxed<std::uint8_t> r{105};
    Relaxed<std::uint8_t> g{64};
    Relaxed<std::uint8_t> b{122};
    std::int32_t ColourMatrix[4][4];  // fixed at construction from kColourMatrix
    Relaxed<std::int32_t> AutoExposure{1};
    Relaxed<std::uint16_t> ExposureTime{300};
    Relaxed<std::uint16_t> AnalogGain{20};
    Relaxed<std::uint8_t> AETarget{100};
    Relaxed<std::uint8_t> Gamma{100};
    Relaxed<std::uint8_t> Contrast{30};
    Relaxed<std::int32_t> EnableSaturation{1};
    Relaxed<std::uint8_t> Saturation{100};
    Relaxed<std::int32_t> WhiteBlack{0};
    Relaxed<std::int32_t> VFlip{1};
    Relaxed<std::int32_t> HFlip{1};
    Relaxed<std::int32_t> HZ{1};
    Relaxed<std::uint8_t> Speed{0};
    Relaxed<std::int32_t> RowTime{0};

    // Working values of the auto exposure, derived and never stored.
    Relaxed<std::uint16_t> AeExposure{94};      // exposure in rows, not rounded to the flicker step
    Relaxed<std::uint8_t> AeSmoothedLuma{100};  // smoothed luminance, kept across streaming runs
    Relaxed<std::uint16_t> FlickerStep{0};      // sensor rows per half-period of the mains

    // A record with every default of a first run; RowTime and FlickerStep
    // already follow the default size, speed and mains frequency so that
    // GetRowTime never reports an undefined value.
    CameraSettings();
};

// Row clocks, pixel clock and the flicker step for one combination of size,
// clock and mains frequency.
struct ExposureTiming {
    std::uint16_t flickerStep;  // rows per 10 ms (50 Hz) or per 1/120 s (60 Hz)
    std::int32_t rowTime;       // microseconds per sensor row
};

// Any non-zero speed selects the fast (48 MHz) clock, as it does for the
// sensor register and the frame duration.
ExposureTiming ComputeExposureTiming(SizeMode size, std::uint8_t speed, std::int32_t hz);

// The exposure timing update: flicker step, RowTime, and the auto exposure's
// working exposure reset to ExposureTime.
void UpdateExposureTiming(CameraSettings& settings);

// Duration of one frame in 100 ns units for the programmed size, clock and
// exposure: max(height + 25, exposure) lines at the line length of the size.
std::int64_t FrameDuration100ns(SizeMode size, std::uint8_t speed, std::uint16_t exposureRows);

// The shortest frame of a size (the fast clock, an exposure inside the
// readout) and the longest (the normal clock at the longest exposure).
std::int64_t ShortestFrameDuration100ns(SizeMode size);
std::int64_t LongestFrameDuration100ns(SizeMode size);

// The frame intervals the pin keeps at a size, which IAMStreamConfig
// advertises: from the fast clock's frame at the exposure in force to the
// normal clock's at the longest exposure. With auto exposure on, the
// exposure never goes past the readout (the auto exposure stops at the
// frame's height), so the shortest is the fast clock's readout; a manual
// exposure longer than the readout lengthens it. The pin delivers any
// interval in between by running the slowest clock that is fast enough and
// holding back frames (FramePacer).
struct FrameIntervalRange {
    std::int64_t shortest;  // 100 ns units
    std::int64_t longest;
};
FrameIntervalRange OfferedFrameIntervals(SizeMode size, bool autoExposure, std::uint16_t exposureRows);

// Requested intervals this close outside the range (rounding of a frame rate
// turned into an interval and back) count as its ends.
inline constexpr std::int64_t kFrameIntervalSlackPercent = 1;

// The clock that serves a requested interval: the normal clock (0) when its
// frame at the exposure in force is no longer than the request, else the
// fast one (1); -1 when the request lies outside the offered range.
int SpeedForFrameInterval(SizeMode size, bool autoExposure, std::uint16_t exposureRows, std::int64_t requested100ns);

// How long a streaming camera may send no whole frame before it counts as
// stalled: five frames of the current settings, and never under 3 s.
std::uint32_t StallTimeoutMs(SizeMode size, std::uint8_t speed, std::uint16_t exposureRows);

}  // namespace kv20x
