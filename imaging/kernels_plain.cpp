// The plain forms of the row kernels: the reference the vector forms must
// match, the fallback on processors without them, and the vector kernels'
// tails. Compiled for the build's baseline processor only.

#include "imaging/pipeline_kernels.h"

namespace kv20x {

// Sites in the two kinds of row, with U, D the pixels above and below, L, R
// left and right, and the four diagonals:
//
//   even row:  G R G R ...     green site: B = (U+D)/2   G = (C+UR)/2  R = (L+R)/2
//   odd row:   B G B G ...     red site:   B = diag/4    G = cross/4   R = C
//                              blue site:  B = C         G = cross/4   R = diag/4
//                              green site: B = (L+R)/2   G = (C+UR)/2  R = (U+D)/2
namespace {

// One pixel of either row kind at any column.
void DemosaicPixel(const DemosaicRowArgs& row, std::int32_t x)
{
    const std::uint8_t* up = row.up;
    const std::uint8_t* cur = row.cur;
    const std::uint8_t* down = row.down;
    const std::uint32_t c = cur[x], hs = cur[x - 1] + cur[x + 1];
    const std::uint32_t vs = up[x] + down[x];
    std::uint32_t b, g, r;
    if (row.evenRow == ((x & 1) != 0)) {
        // A red site (even row) or a blue site (odd row).
        const std::uint32_t diag = (up[x - 1] + up[x + 1] + down[x - 1] + down[x + 1]) >> 2;
        b = row.evenRow ? diag : c;
        g = (hs + vs) >> 2;
        r = row.evenRow ? c : diag;
    } else {
        // A green site: the row's own colour from the left and right.
        g = (c + up[x + 1]) >> 1;
        b = row.evenRow ? vs >> 1 : hs >> 1;
        r = row.evenRow ? hs >> 1 : vs >> 1;
    }
    row.blue[x] = static_cast<std::uint8_t>(b);
    row.green[x] = static_cast<std::uint8_t>(g);
    row.red[x] = static_cast<std::uint8_t>(r);
}

// Columns in pairs from an odd x: a red or green site, then a green or blue
// one. Written without branches so that the compiler can vectorise it.
template <bool kEvenRow>
void DemosaicPairs(const DemosaicRowArgs& row, std::int32_t x0, std::int32_t pairs)
{
    const std::uint8_t* up = row.up;
    const std::uint8_t* cur = row.cur;
    const std::uint8_t* down = row.down;
    for (std::int32_t i = 0; i < pairs; ++i) {
        const std::int32_t x = x0 + 2 * i, x2 = x + 1;
        // Odd column: a red site in an even row, a green site in an odd one.
        const std::uint32_t vs1 = up[x] + down[x], hs1 = cur[x - 1] + cur[x + 1];
        // Even column: a green site in an even row, a blue site in an odd one.
        const std::uint32_t vs2 = up[x2] + down[x2], hs2 = cur[x2 - 1] + cur[x2 + 1];
        if constexpr (kEvenRow) {
            row.blue[x] = static_cast<std::uint8_t>((up[x - 1] + up[x + 1] + down[x - 1] + down[x + 1]) >> 2);
            row.green[x] = static_cast<std::uint8_t>((hs1 + vs1) >> 2);
            row.red[x] = cur[x];
            row.blue[x2] = static_cast<std::uint8_t>(vs2 >> 1);
            row.green[x2] = static_cast<std::uint8_t>((cur[x2] + up[x2 + 1]) >> 1);
            row.red[x2] = static_cast<std::uint8_t>(hs2 >> 1);
        } else {
            row.blue[x] = static_cast<std::uint8_t>(hs1 >> 1);
            row.green[x] = static_cast<std::uint8_t>((cur[x] + up[x + 1]) >> 1);
            row.red[x] = static_cast<std::uint8_t>(vs1 >> 1);
            row.blue[x2] = cur[x2];
            row.green[x2] = static_cast<std::uint8_t>((hs2 + vs2) >> 2);
            row.red[x2] = static_cast<std::uint8_t>((up[x2 - 1] + up[x2 + 1] + down[x2 - 1] + down[x2 + 1]) >> 2);
        }
    }
}

}  // namespace

// Sites in the two kinds of row, with U, D the pixels above and below, L, R
// left and right, and the four diagonals:
//
//   even row:  G R G R ...     green site: B = (U+D)/2   G = (C+UR)/2  R = (L+R)/2
//   odd row:   B G B G ...     red site:   B = diag/4    G = cross/4   R = C
//                              blue site:  B = C         G = cross/4   R = diag/4
//                              green site: B = (L+R)/2   G = (C+UR)/2  R = (U+D)/2
void DemosaicSpanPlain(const DemosaicRowArgs& row, std::int32_t x0, std::int32_t x1)
{
    std::int32_t x = x0;
    if (x < x1 && x % 2 == 0)
        DemosaicPixel(row, x++);
    const std::int32_t pairs = (x1 - x) / 2;
    if (row.evenRow)
        DemosaicPairs<true>(row, x, pairs);
    else
        DemosaicPairs<false>(row, x, pairs);
    for (x += 2 * pairs; x < x1; ++x)
        DemosaicPixel(row, x);
}

namespace {

void DemosaicRowPlain(const DemosaicRowArgs& row) { DemosaicSpanPlain(row, 1, row.width - 1); }

std::uint8_t Clamp(std::int64_t v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// Where the colour stage's pixels go, one after another: Put writes the
// current pixel, Next moves to the next.
struct PackedPixels {  // RGB24
    std::uint8_t* p;
    void Put(std::uint8_t b, std::uint8_t g, std::uint8_t r) const
    {
        p[0] = b;
        p[1] = g;
        p[2] = r;
    }
    void Next() { p += 3; }
};

struct OpaquePixels {  // RGB32
    std::uint8_t* p;
    void Put(std::uint8_t b, std::uint8_t g, std::uint8_t r) const
    {
        p[0] = b;
        p[1] = g;
        p[2] = r;
        p[3] = 0xFF;
    }
    void Next() { p += 4; }
};

// Three planes kStride bytes apart, within one array.
template <std::ptrdiff_t kStride>
struct PlanePixels {
    std::uint8_t* blue;
    void Put(std::uint8_t b, std::uint8_t g, std::uint8_t r) const
    {
        blue[0] = b;
        blue[kStride] = g;
        blue[2 * kStride] = r;
    }
    void Next() { ++blue; }
};

// Applies `pixel(b, g, r, out)` to output pixels [x0, x1), `out` at the
// output pixel. Locals throughout: the byte stores may alias anything the
// compiler would otherwise reload.
template <typename Out, typename Pixel>
void ForEachPixel(const FinishRowArgs& row, std::int32_t x0, std::int32_t x1, Out out, Pixel pixel)
{
    const std::uint8_t* const blue = row.blue;
    const std::uint8_t* const green = row.green;
    const std::uint8_t* const red = row.red;
    if (!row.mirror) {
        for (std::int32_t x = x0; x < x1; ++x, out.Next())
            pixel(blue[x], green[x], red[x], out);
        return;
    }
    for (std::int32_t x = x0, s = row.width - 1 - x0; x < x1; ++x, --s, out.Next())
        pixel(blue[s], green[s], red[s], out);
}

// The colour stage and the tone of output pixels [x0, x1), written to `out`
// (at pixel x0).
template <typename Out>
void ColourSpan(const FinishPlan& plan, const FinishRowArgs& row, std::int32_t x0, std::int32_t x1, Out out)
{
    const std::uint8_t* tone = plan.tone->table;
    switch (plan.stage) {
    case ColourStage::Mono:
        ForEachPixel(row, x0, x1, out, [tone](std::uint32_t b, std::uint32_t g, std::uint32_t r, const Out& o) {
            const std::uint8_t grey = tone[(30 * r + 59 * g + 11 * b) / 100];
            o.Put(grey, grey, grey);
        });
        break;
    case ColourStage::WhiteBalanceOnly: {
        const std::uint8_t(*t)[256] = plan.channelTables;
        ForEachPixel(row, x0, x1, out, [t](std::uint32_t b, std::uint32_t g, std::uint32_t r, const Out& o) {
            o.Put(t[0][b], t[1][g], t[2][r]);
        });
        break;
    }
    case ColourStage::WhiteBalanceMatrix: {
        if (plan.plainTables) {
            const std::int32_t(*products)[3][256] = plan.products;
            const std::uint8_t* clampTone = plan.clampTone;
            ForEachPixel(row, x0, x1, out, [products, clampTone](std::uint32_t b, std::uint32_t g, std::uint32_t r,
                                                                 const Out& o) {
                std::uint8_t result[3];
                for (int c = 0; c < 3; ++c) {
                    const std::int32_t v = products[0][c][r] + products[1][c][g] + products[2][c][b];
                    // Arithmetic shift: negative sums land below 0.
                    std::int32_t index = (v >> 14) + FinishPlan::kClampOffset;
                    index = index < 0 ? 0 : index >= FinishPlan::kClampSpan ? FinishPlan::kClampSpan - 1 : index;
                    result[c] = clampTone[index];
                }
                o.Put(result[0], result[1], result[2]);
            });
            break;
        }
        const WbLut& wb = *plan.wb;
        const ColourMatrix4& p = plan.product;
        ForEachPixel(row, x0, x1, out, [&wb, &p, tone](std::uint32_t b, std::uint32_t g, std::uint32_t r,
                                                       const Out& o) {
            const std::int64_t in[3] = {wb.red[r], wb.green[g], wb.blue[b]};
            std::uint8_t result[3];
            for (int j = 0; j < 3; ++j) {
                // Arithmetic shift: a negative sum lands below 0.
                const std::int64_t v = in[0] * p.m[0][j] + in[1] * p.m[1][j] + in[2] * p.m[2][j] + p.m[3][j];
                result[2 - j] = tone[Clamp(v >> 14)];
            }
            o.Put(result[0], result[1], result[2]);
        });
        break;
    }
    }
}

// A piece of a row after the colour stage, as three planes in output
// order, for the formats that combine neighbouring pixels.
constexpr std::int32_t kChunk = 512;

// The blue plane, then the green one, then the red one.
struct Chunk {
    alignas(16) std::uint8_t planes[3 * kChunk];
    const std::uint8_t* blue() const { return planes; }
    const std::uint8_t* green() const { return planes + kChunk; }
    const std::uint8_t* red() const { return planes + 2 * kChunk; }
};

void ColourChunk(const FinishPlan& plan, const FinishRowArgs& row, std::int32_t x0, std::int32_t x1, Chunk& chunk)
{
    ColourSpan(plan, row, x0, x1, PlanePixels<kChunk>{chunk.planes});
}

// The colour rule (picture_format.h) in plain loops the compiler can
// vectorise: Y of pixel i; the U or V sum of the pixel pair at i, plus a
// bias, in 0..65535 so that 16-bit arithmetic holds it whole. A pair's U or
// V is its sum with bias 128 + 128 x 256 shifted down by 8; a 2 x 2 block's,
// the two rows' sums with biases of that and one less, added, plus one,
// shifted down by 9.
constexpr std::uint16_t kPairBias = 128 + 128 * 256;

inline std::uint8_t Luma(const Chunk& c, std::int32_t i)
{
    return static_cast<std::uint8_t>(
        static_cast<std::uint16_t>(66 * c.red()[i] + 129 * c.green()[i] + 25 * c.blue()[i] + 128 + 16 * 256) >> 8);
}

inline std::uint16_t PairU(const Chunk& c, std::int32_t i, std::uint16_t bias)
{
    return static_cast<std::uint16_t>(56 * (c.blue()[i] + c.blue()[i + 1]) + bias - 19 * (c.red()[i] + c.red()[i + 1]) -
                                      37 * (c.green()[i] + c.green()[i + 1]));
}

inline std::uint16_t PairV(const Chunk& c, std::int32_t i, std::uint16_t bias)
{
    return static_cast<std::uint16_t>(56 * (c.red()[i] + c.red()[i + 1]) + bias - 47 * (c.green()[i] + c.green()[i + 1]) -
                                      9 * (c.blue()[i] + c.blue()[i + 1]));
}

inline std::uint8_t BlockChroma(std::uint16_t top, std::uint16_t bottom)
{
    return static_cast<std::uint8_t>((static_cast<std::uint32_t>(top) + bottom + 1) >> 9);
}

void FinishRowPlain(const FinishPlan& plan, const FinishRowArgs& row) { FinishSpanPlain(plan, row, 0, row.width); }

// 4:2:0 rows in pairs; `kInterleaved`: NV12's U V pairs, else I420's planes.
template <bool kInterleaved>
void FinishPairPlain(const FinishPlan& plan, const FinishPairArgs& pair)
{
    const std::int32_t width = pair.rows[0].width;
    Chunk top, bottom;
    for (std::int32_t x0 = 0; x0 < width; x0 += kChunk) {
        const std::int32_t n = width - x0 < kChunk ? width - x0 : kChunk;
        ColourChunk(plan, pair.rows[0], x0, x0 + n, top);
        ColourChunk(plan, pair.rows[1], x0, x0 + n, bottom);
        std::uint8_t* const ya = pair.rows[0].out + x0;
        std::uint8_t* const yb = pair.rows[1].out + x0;
        for (std::int32_t i = 0; i < n; ++i)
            ya[i] = Luma(top, i);
        for (std::int32_t i = 0; i < n; ++i)
            yb[i] = Luma(bottom, i);
        std::uint8_t* const u = kInterleaved ? pair.u + x0 : pair.u + x0 / 2;
        std::uint8_t* const v = kInterleaved ? pair.u + x0 + 1 : pair.v + x0 / 2;
        constexpr std::int32_t step = kInterleaved ? 2 : 1;
        for (std::int32_t k = 0; k < n / 2; ++k) {
            u[step * k] = BlockChroma(PairU(top, 2 * k, kPairBias), PairU(bottom, 2 * k, kPairBias - 1));
            v[step * k] = BlockChroma(PairV(top, 2 * k, kPairBias), PairV(bottom, 2 * k, kPairBias - 1));
        }
    }
}

}  // namespace

void FinishSpanPlain(const FinishPlan& plan, const FinishRowArgs& row, std::int32_t x0, std::int32_t x1)
{
    ColourSpan(plan, row, x0, x1, PackedPixels{row.out + 3 * static_cast<std::ptrdiff_t>(x0)});
}

void FinishRow32Plain(const FinishPlan& plan, const FinishRowArgs& row)
{
    ColourSpan(plan, row, 0, row.width, OpaquePixels{row.out});
}

void FinishRowYuy2Plain(const FinishPlan& plan, const FinishRowArgs& row)
{
    Chunk chunk;
    for (std::int32_t x0 = 0; x0 < row.width; x0 += kChunk) {
        const std::int32_t n = row.width - x0 < kChunk ? row.width - x0 : kChunk;
        ColourChunk(plan, row, x0, x0 + n, chunk);
        std::uint8_t* const out = row.out + 2 * static_cast<std::ptrdiff_t>(x0);
        for (std::int32_t k = 0; k < n / 2; ++k) {
            out[4 * k] = Luma(chunk, 2 * k);
            out[4 * k + 1] = static_cast<std::uint8_t>(PairU(chunk, 2 * k, kPairBias) >> 8);
            out[4 * k + 2] = Luma(chunk, 2 * k + 1);
            out[4 * k + 3] = static_cast<std::uint8_t>(PairV(chunk, 2 * k, kPairBias) >> 8);
        }
    }
}

void FinishPairNv12Plain(const FinishPlan& plan, const FinishPairArgs& pair) { FinishPairPlain<true>(plan, pair); }

void FinishPairI420Plain(const FinishPlan& plan, const FinishPairArgs& pair) { FinishPairPlain<false>(plan, pair); }

std::uint32_t SumBytesPlain(const std::uint8_t* bytes, std::size_t count)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum += bytes[i];
    return sum;
}

const PipelineKernels kPlainKernels = {SimdLevel::Plain,     DemosaicRowPlain,    FinishRowPlain,
                                       SumBytesPlain,        FinishRow32Plain,    FinishRowYuy2Plain,
                                       FinishPairNv12Plain,  FinishPairI420Plain};

}  // namespace kv20x
