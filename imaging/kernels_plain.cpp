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
void DemosaicSpanPlain(const DemosaicRowArgs& row, std::int32_t x0, std::int32_t x1)
{
    const std::uint8_t* up = row.up;
    const std::uint8_t* cur = row.cur;
    const std::uint8_t* down = row.down;
    for (std::int32_t x = x0; x < x1; ++x) {
        const std::uint32_t c = cur[x], hs = cur[x - 1] + cur[x + 1];
        const std::uint32_t vs = up[x] + down[x];
        const std::uint32_t gd = (c + up[x + 1]) >> 1;
        std::uint32_t b, g, r;
        const bool oddColumn = (x & 1) != 0;
        if (row.evenRow == oddColumn) {
            // A red site (even row) or a blue site (odd row).
            const std::uint32_t diag = (up[x - 1] + up[x + 1] + down[x - 1] + down[x + 1]) >> 2;
            const std::uint32_t cross = (hs + vs) >> 2;
            b = row.evenRow ? diag : c;
            g = cross;
            r = row.evenRow ? c : diag;
        } else {
            // A green site: the row's own colour from the left and right.
            g = gd;
            b = row.evenRow ? vs >> 1 : hs >> 1;
            r = row.evenRow ? hs >> 1 : vs >> 1;
        }
        row.blue[x] = static_cast<std::uint8_t>(b);
        row.green[x] = static_cast<std::uint8_t>(g);
        row.red[x] = static_cast<std::uint8_t>(r);
    }
}

namespace {

void DemosaicRowPlain(const DemosaicRowArgs& row) { DemosaicSpanPlain(row, 1, row.width - 1); }

std::uint8_t Clamp(std::int64_t v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// Applies `pixel(b, g, r, out)` to output pixels [x0, x1).
template <typename Pixel>
void ForEachPixel(const FinishRowArgs& row, std::int32_t x0, std::int32_t x1, Pixel pixel)
{
    for (std::int32_t x = x0; x < x1; ++x) {
        const std::int32_t s = row.mirror ? row.width - 1 - x : x;
        pixel(row.blue[s], row.green[s], row.red[s], row.out + 3 * static_cast<std::ptrdiff_t>(x));
    }
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
