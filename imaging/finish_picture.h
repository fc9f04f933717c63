#pragma once
// The last stages of every frame, in one pass over the picture: the colour
// stage (grey, white balance only, or white balance with the colour and
// saturation matrix), then the tone curve, then the vertical flip and the
// horizontal mirror. Each pixel is read once and written once, straight to
// its place after the flips, so no temporary row is needed.

#include <cstdint>

#include "imaging/colour_tables.h"

namespace kv20x {

enum class ColourStage {
    Mono,                // grey = (30 R + 59 G + 11 B) / 100, no white balance
    WhiteBalanceOnly,    // each channel through its gain table
    WhiteBalanceMatrix,  // gain tables, then colour x saturation matrix
};

struct FinishParams {
    ColourStage stage = ColourStage::WhiteBalanceOnly;
    const WbLut* wb = nullptr;
    const ToneLut* tone = nullptr;
    ColourMatrix4 product{};  // WhiteBalanceMatrix: colour x saturation, scale 2^14
    bool reverseRows = false;  // VFlip == 0
    bool mirrorRows = false;   // HFlip != 0
};

void FinishPicture(std::uint8_t* picture, std::int32_t width, std::int32_t height, const FinishParams& params);

}  // namespace kv20x
