#pragma once
// Auto exposure: keep the mean brightness of the picture's centre near the
// target by changing exposure (sensor rows) and gain, in whole flicker steps
// once the exposure reaches one mains half-period. And the one-shot white
// balance that sets the red and blue gains so that their means match green.

#include <cstdint>

namespace kv20x {

// Luminance of the centre window from its channel sums (blue, green, red):
// channel means over a quarter of the picture, weighted at scale 2^15, plus
// 16. Between 16 and 234.
std::uint8_t MeasureLuma(const std::uint32_t windowSums[3], std::int32_t width, std::int32_t height);

// Everything one auto exposure step reads and changes.
struct AutoExposureState {
    std::uint8_t target;        // T, AETarget
    std::uint16_t gain;         // G, AnalogGain
    std::uint16_t exposure;     // X, the working exposure in rows, not rounded
    std::uint8_t smoothed;      // S, smoothed luminance
    std::uint16_t flickerStep;  // Q, rows per mains half-period
    std::uint16_t height;       // H, rows of the frame
};

struct AutoExposureResult {
    bool write;                 // false: within +-9 of the target, nothing changes
    std::uint16_t gain;         // the new AnalogGain
    std::uint16_t exposureRows; // the new ExposureTime, a whole number of flicker steps when >= Q
};

// One step for the picture's luminance; updates `state` in place.
AutoExposureResult AutoExposureStep(AutoExposureState& state, std::uint8_t luma);

struct WhiteBalanceGains {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
};

// Gains from the channel sums of the whole picture (blue, green, red). False,
// leaving `gains` as they are, when the picture has no red, green or blue.
bool MeasureWhiteBalance(const std::uint32_t totalSums[3], WhiteBalanceGains& gains);

}  // namespace kv20x
