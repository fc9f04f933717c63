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

// Applies `pixel(b, g, r, out)` to output pixels [x0, x1).
// Locals throughout: the byte stores may alias anything the compiler would
// otherwise reload.
template <typename Pixel>
void ForEachPixel(const FinishRowArgs& row, std::int32_t x0, std::int32_t x1, Pixel pixel)
{
    const std::uint8_t* const blue = row.blue;
    const std::uint8_t* const green = row.green;
    const std::uint8_t* const red = row.red;
    std::uint8_t* out = row.out + 3 * static_cast<std::ptrdiff_t>(x0);
    if (!row.mirror) {
        for (std::int32_t x = x0; x < x1; ++x, out += 3)
            pixel(blue[x], green[x], red[x], out);
        return;
    }
    for (std::int32_t x = x0, s = row.width - 1 - x0; x < x1; ++x, --s, out += 3)
        pixel(blue[s], green[s], red[s], out);
}

}  // namespace

void FinishSpanPlain(const FinishPlan& plan, const FinishRowArgs& row, std::int32_t x0, std::int32_t x1)
{
    const std::uint8_t* tone = plan.tone->table;
    switch (plan.stage) {
    case ColourStage::Mono:
        ForEachPixel(row, x0, x1, [tone](std::uint32_t b, std::uint32_t g, std::uint32_t r, std::uint8_t* out) {
            out[0] = out[1] = out[2] = tone[(30 * r + 59 * g + 11 * b) / 100];
        });
        break;
    case ColourStage::WhiteBalanceOnly: {
        const std::uint8_t(*t)[256] = plan.channelTables;
        ForEachPixel(row, x0, x1, [t](std::uint32_t b, std::uint32_t g, std::uint32_t r, std::uint8_t* out) {
            out[0] = t[0][b];
            out[1] = t[1][g];
            out[2] = t[2][r];
        });
        break;
    }
    case ColourStage::WhiteBalanceMatrix: {
        if (plan.plainTables) {
            const std::int32_t(*products)[3][256] = plan.products;
            const std::uint8_t* clampTone = plan.clampTone;
            ForEachPixel(row, x0, x1, [products, clampTone](std::uint32_t b, std::uint32_t g, std::uint32_t r,
                                                            std::uint8_t* out) {
                std::uint8_t result[3];
                for (int c = 0; c < 3; ++c) {
                    const std::int32_t v = products[0][c][r] + products[1][c][g] + products[2][c][b];
                    // Arithmetic shift: negative sums land below 0.
                    std::int32_t index = (v >> 14) + FinishPlan::kClampOffset;
                    index = index < 0 ? 0 : index >= FinishPlan::kClampSpan ? FinishPlan::kClampSpan - 1 : index;
                    result[c] = clampTone[index];
                }
                out[0] = result[0];
                out[1] = result[1];
                out[2] = result[2];
            });
            break;
        }
        const WbLut& wb = *plan.wb;
        const ColourMatrix4& p = plan.product;
        ForEachPixel(row, x0, x1, [&wb, &p, tone](std::uint32_t b, std::uint32_t g, std::uint32_t r, std::uint8_t* out) {
            const std::int64_t in[3] = {wb.red[r], wb.green[g], wb.blue[b]};
            for (int j = 0; j < 3; ++j) {
                // Arithmetic shift: a negative sum lands below 0.
                const std::int64_t v = in[0] * p.m[0][j] + in[1] * p.m[1][j] + in[2] * p.m[2][j] + p.m[3][j];
                out[2 - j] = tone[Clamp(v >> 14)];
            }
        });
        break;
    }
    }
}

namespace {

void FinishRowPlain(const FinishPlan& plan, const FinishRowArgs& row) { FinishSpanPlain(plan, row, 0, row.width); }

}  // namespace

std::uint32_t SumBytesPlain(const std::uint8_t* bytes, std::size_t count)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum += bytes[i];
    return sum;
}

const PipelineKernels kPlainKernels = {SimdLevel::Plain, DemosaicRowPlain, FinishRowPlain, SumBytesPlain};

}  // namespace kv20x
