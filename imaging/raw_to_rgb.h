#pragma once
// Raw Bayer frame to colour planes: defect repair on the raw frame and
// bilinear colour reconstruction straight into the picture buffer.
//
// Raw layout: width x height bytes, row 0 reads G R G R ..., row 1 B G B G ...
// Picture layout: raw row y becomes picture row y, which starts with width
// blue bytes, then width green, then width red: rows 3 x width bytes apart
// in the RGB24 picture, 4 x width in the RGB32 one, 3 x width in the planes
// buffer of the YUV formats. The finishing pass (finish_picture.h) turns the
// planes into the picture.

#include <cstddef>
#include <cstdint>

#include "imaging/simd_level.h"
#include "settings/defect_table.h"

namespace kv20x {

// Each listed pixel, when 3 <= x < width and 0 <= y < height, takes the value
// of the nearest pixel of its colour to the left, raw(y, x - 2). Entries are
// applied in order, so one may copy a value another has just repaired.
void CorrectDefects(std::uint8_t* raw, std::int32_t width, std::int32_t height, const DefectTable& table);

// Channel sums gathered while the picture is written, so that the exposure
// and white balance measurements need no pass of their own.
struct PictureStats {
    bool gatherWindow = false;  // the centre window: columns [W/4, 3W/4), rows [H/4, 3H/4)
    bool gatherTotal = false;   // every pixel of the picture, black border included
    std::uint32_t window[3] = {0, 0, 0};  // blue, green, red
    std::uint32_t total[3] = {0, 0, 0};   // blue, green, red
};

// Bilinear reconstruction of the interior; row 0, row H - 1, column 0 and
// column W - 1 are black. Width and height must be at least 3. The sums are
// taken from each row's planes while they are still in the cache. Row y's
// planes start planeStride bytes after row y - 1's (at least 3 x width).
void ReconstructColour(const std::uint8_t* raw, std::uint8_t* planes, std::size_t planeStride, std::int32_t width,
                       std::int32_t height, PictureStats* stats = nullptr, SimdLevel level = BestSimdLevel());

// The picture layout above: rows of 3 x width bytes.
inline void ReconstructColour(const std::uint8_t* raw, std::uint8_t* picture, std::int32_t width, std::int32_t height,
                              PictureStats* stats = nullptr, SimdLevel level = BestSimdLevel())
{
    ReconstructColour(raw, picture, static_cast<std::size_t>(width) * 3, width, height, stats, level);
}

}  // namespace kv20x
