#pragma once
// The row kernels of the image pipeline, one set per instruction-set level,
// and what they share: the row arguments and the per-frame plan of the
// finishing stage. The drivers (raw_to_rgb.cpp, finish_picture.cpp) walk the
// rows; the kernels do the pixels.
//
// Intermediate layout between the two passes: raw row y becomes picture row
// y, which holds three planes of `width` bytes each: blue, green, red.

#include <cstddef>
#include <cstdint>

#include "imaging/colour_tables.h"
#include "imaging/simd_level.h"

namespace kv20x {

enum class ColourStage {
    Mono,                // grey = (30 R + 59 G + 11 B) / 100, no white balance
    WhiteBalanceOnly,    // each channel through its gain table
    WhiteBalanceMatrix,  // gain tables, then colour x saturation matrix
};

// One interior row of the colour reconstruction.
struct DemosaicRowArgs {
    const std::uint8_t* up;    // raw rows y - 1, y and y + 1
    const std::uint8_t* cur;
    const std::uint8_t* down;
    std::uint8_t* blue;        // the three planes of picture row y
    std::uint8_t* green;
    std::uint8_t* red;
    std::int32_t width;
    bool evenRow;              // y even: G R G R ...; odd: B G B G ...
};

// Everything the finishing stage needs per frame, derived once from the
// tables and the matrix.
struct FinishPlan {
    ColourStage stage = ColourStage::WhiteBalanceOnly;
    const WbLut* wb = nullptr;
    const ToneLut* tone = nullptr;
    ColourMatrix4 product{};

    // The vector forms compute instead of looking up where that is exact.
    // vectorForm is false when the tables are not of the kinds below (the
    // plain form then runs).
    bool vectorForm = false;
    std::uint16_t gain[3] = {64, 64, 64};  // blue, green, red: wb table = min(v x gain >> 6, 255)
    bool toneIsContrast = false;           // the tone table is the contrast ramp of `contrast`
    std::int16_t contrast = 0;
    // Matrix, per output channel (blue, green, red). Narrow: every entry fits
    // 16 bits and the sum is red x rg[0] + green x rg[1] + blue x b1[0] +
    // b1[1], shifted down by 14. Wide: each entry split as hi x 128 + lo
    // with lo in [0, 128), and the constant added in 32 bits.
    bool narrowMatrix = true;
    bool wideMatrix = false;
    std::int16_t rg[3][2] = {};
    std::int16_t b1[3][2] = {};
    std::int16_t rgLow[3][2] = {};
    std::int16_t b1Low[3][2] = {};
    std::int32_t constant[3] = {};
    // The plain form's matrix: products[in][out][v] = wb_in(v) x entry (red
    // also adding the constant), for inputs red, green, blue and outputs in
    // picture order; the sum shifted down by 14 indexes clampTone at
    // kClampOffset, which clamps to 0..255 and applies the tone. Filled when
    // plainTables is set (the plain level, and matrices small enough for
    // 32-bit sums); otherwise the plain form computes in 64 bits.
    static constexpr std::int32_t kClampSpan = 16384;
    static constexpr std::int32_t kClampOffset = kClampSpan / 2;
    bool plainTables = false;
    std::int32_t products[3][3][256];
    std::uint8_t clampTone[kClampSpan];
    // White balance only: tone of white balance, per channel (blue, green, red).
    std::uint8_t channelTables[3][256] = {};
};

// Fills the rest of the plan from `stage`, the tables and the product
// matrix; the plain form's tables only when `forPlainForm`.
void PrepareFinishPlan(FinishPlan& plan, bool forPlainForm);

// One output row of the finishing stage: planes in, the row of the picture
// out (not overlapping the planes): RGB24 3 x width bytes, RGB32 4 x width,
// YUY2 2 x width (width even). Mirrored, output pixel x is made from input
// pixel width - 1 - x.
struct FinishRowArgs {
    const std::uint8_t* blue;
    const std::uint8_t* green;
    const std::uint8_t* red;
    std::uint8_t* out;
    std::int32_t width;
    bool mirror;
};

// Two output rows of a 4:2:0 picture (width even): each row's planes and its
// Y row (rows[i].out), and the chroma row of the pair: NV12 `u` takes
// width bytes of U V pairs (`v` unused), I420 `u` and `v` width / 2 bytes
// each. Both rows share width and mirror.
struct FinishPairArgs {
    FinishRowArgs rows[2];
    std::uint8_t* u;
    std::uint8_t* v;
};

using DemosaicRowFn = void (*)(const DemosaicRowArgs& row);
using FinishRowFn = void (*)(const FinishPlan& plan, const FinishRowArgs& row);
using FinishPairFn = void (*)(const FinishPlan& plan, const FinishPairArgs& pair);
using SumBytesFn = std::uint32_t (*)(const std::uint8_t* bytes, std::size_t count);

struct PipelineKernels {
    SimdLevel level;
    DemosaicRowFn demosaicRow;  // interior pixels 1 .. width - 2 only
    FinishRowFn finishRow;      // RGB24
    SumBytesFn sumBytes;
    FinishRowFn finishRow32;     // RGB32
    FinishRowFn finishRowYuy2;   // YUY2
    FinishPairFn finishPairNv12; // NV12
    FinishPairFn finishPairI420; // I420
};

// The kernels of a level, or nullptr when this build has none for it or the
// processor cannot run them.
const PipelineKernels* KernelsFor(SimdLevel level);

// The kernels of `level`, or of the best level when it cannot run here.
const PipelineKernels& UsableKernels(SimdLevel level);

// The plain forms, also the vector kernels' tails: pixels [x0, x1) only.
void DemosaicSpanPlain(const DemosaicRowArgs& row, std::int32_t x0, std::int32_t x1);
void FinishSpanPlain(const FinishPlan& plan, const FinishRowArgs& row, std::int32_t x0, std::int32_t x1);
std::uint32_t SumBytesPlain(const std::uint8_t* bytes, std::size_t count);
// The plain forms of the other formats, whole rows: the vector kernels'
// fallback for rows narrower than a register or tables they cannot compute.
void FinishRow32Plain(const FinishPlan& plan, const FinishRowArgs& row);
void FinishRowYuy2Plain(const FinishPlan& plan, const FinishRowArgs& row);
void FinishPairNv12Plain(const FinishPlan& plan, const FinishPairArgs& pair);
void FinishPairI420Plain(const FinishPlan& plan, const FinishPairArgs& pair);

// Each level's table (defined only where the build holds that level).
extern const PipelineKernels kPlainKernels;
extern const PipelineKernels kSse2Kernels;
extern const PipelineKernels kSsse3Kernels;
extern const PipelineKernels kAvx2Kernels;
extern const PipelineKernels kAvx512Kernels;

}  // namespace kv20x
