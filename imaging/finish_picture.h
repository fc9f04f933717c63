#pragma once
// The last stages of every frame, in one pass over the picture: the colour
// stage (grey, white balance only, or white balance with the colour and
// saturation matrix), then the tone curve, then the vertical flip and the
// horizontal mirror. The pass reads the planes the colour reconstruction
// left in each row and writes packed blue-green-red pixels in their place,
// each row straight to its row after the flips, through one row of scratch.

#include <cstdint>

#include "imaging/colour_tables.h"
#include "imaging/pipeline_kernels.h"
#include "imaging/simd_level.h"

namespace kv20x {

struct FinishParams {
    ColourStage stage = ColourStage::WhiteBalanceOnly;
    const WbLut* wb = nullptr;
    const ToneLut* tone = nullptr;
    ColourMatrix4 product{};  // WhiteBalanceMatrix: colour x saturation, scale 2^14
    bool reverseRows = false;  // VFlip == 0
    bool mirrorRows = false;   // HFlip != 0
};

// Rows up to this width (the sensor's) are finished through scratch on the
// stack, so frames allocate nothing; wider ones, which only tests make,
// through the heap.
inline constexpr std::int32_t kStackScratchWidth = 2048;

// `picture`: height rows of 3 x width bytes, each holding the blue, green and
// red planes of its row; on return, packed pixels.
void FinishPicture(std::uint8_t* picture, std::int32_t width, std::int32_t height, const FinishParams& params,
                   SimdLevel level = BestSimdLevel());

}  // namespace kv20x
