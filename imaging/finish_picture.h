#pragma once
// The last stages of every frame, in one pass over the picture: the colour
// stage (grey, white balance only, or white balance with the colour and
// saturation matrix), then the tone curve, then the vertical flip and the
// horizontal mirror, and the picture format's packing or its conversion to
// YUV. The pass reads the planes the colour reconstruction left and writes
// each row of the picture straight to its row after the flips. The RGB
// formats keep the planes in the picture itself: each row's in the first
// 3 x width bytes of its own row, overwritten through one row of scratch.
// The YUV formats, smaller than the planes, read them from a buffer of their
// own and convert in the same pass: there is no RGB picture in between.

#include <cstdint>

#include "imaging/colour_tables.h"
#include "imaging/picture_format.h"
#include "imaging/pipeline_kernels.h"
#include "imaging/simd_level.h"

namespace kv20x {

struct FinishParams {
    ColourStage stage = ColourStage::WhiteBalanceOnly;
    const WbLut* wb = nullptr;
    const ToneLut* tone = nullptr;
    ColourMatrix4 product{};  // WhiteBalanceMatrix: colour x saturation, scale 2^14
    // Memory row i of the picture is made from planes row height - 1 - i
    // (VFlip == 0 for the bottom-up RGB formats, VFlip != 0 for the top-down
    // YUV ones).
    bool reverseRows = false;
    bool mirrorRows = false;   // HFlip != 0
};

// Rows up to this width (the sensor's) are finished through scratch on the
// stack, so frames allocate nothing; wider ones, which only tests make,
// through the heap.
inline constexpr std::int32_t kStackScratchWidth = 2048;

// `picture`: height rows of 3 x width bytes, each holding the blue, green and
// red planes of its row; on return, RGB24 pixels.
void FinishPicture(std::uint8_t* picture, std::int32_t width, std::int32_t height, const FinishParams& params,
                   SimdLevel level = BestSimdLevel());

// Any format. RGB24 and RGB32: target.picture holds each row's planes at the
// start of its row (the format's stride apart); YUV: target.planes holds
// them, height rows of 3 x width bytes, and is only read. Does nothing when
// the format cannot be made at this size (LayoutOf) or a buffer is missing.
void FinishPicture(const PictureTarget& target, std::int32_t width, std::int32_t height, const FinishParams& params,
                   SimdLevel level = BestSimdLevel());

}  // namespace kv20x
