#include "imaging/raw_to_rgb.h"

#include <cstring>

namespace kv20x {

void CorrectDefects(std::uint8_t* raw, std::int32_t width, std::int32_t height, const DefectTable& table)
{
    const std::uint32_t count = table.count < DefectTable::kCapacity ? table.count : DefectTable::kCapacity;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::int32_t x = table.entries[i].x;
        const std::int32_t y = table.entries[i].y;
        // Never outside the row: an entry past the right edge must not wrap
        // into the next row.
        if (x < 3 || x >= width || y < 0 || y >= height)
            continue;
        std::uint8_t* row = raw + static_cast<std::ptrdiff_t>(y) * width;
        row[x] = row[x - 2];
    }
}

namespace {

// One interior row. Sites in the two kinds of row, with U, D the pixels
// above and below, L, R left and right, and the four diagonals:
//
//   even row:  G R G R ...     green site: B = (U+D)/2   G = (C+UR)/2  R = (L+R)/2
//   odd row:   B G B G ...     red site:   B = diag/4    G = cross/4   R = C
//                              blue site:  B = C         G = cross/4   R = diag/4
//                              green site: B = (L+R)/2   G = (C+UR)/2  R = (U+D)/2
//
// Columns come in pairs from x = 1: an odd column, then an even one.
template <bool kEvenRow, bool kGather>
void ReconstructRow(const std::uint8_t* up, const std::uint8_t* cur, const std::uint8_t* down, std::uint8_t* out,
                    std::int32_t width, std::int32_t gatherFrom, std::int32_t gatherTo, std::uint32_t* sums)
{
    std::uint32_t sumB = 0, sumG = 0, sumR = 0;
    for (std::int32_t x = 1; x < width - 1; x += 2) {
        // Odd column: a red site in an even row, a green site in an odd one.
        std::uint32_t b1, g1, r1;
        {
            const std::uint32_t c = cur[x], l = cur[x - 1], r = cur[x + 1];
            const std::uint32_t u = up[x], d = down[x];
            const std::uint32_t ur = up[x + 1];
            if constexpr (kEvenRow) {
                b1 = (up[x - 1] + ur + down[x - 1] + down[x + 1]) >> 2;
                g1 = (l + r + u + d) >> 2;
                r1 = c;
            } else {
                b1 = (l + r) >> 1;
                g1 = (c + ur) >> 1;
                r1 = (u + d) >> 1;
            }
        }
        // Even column: a green site in an even row, a blue site in an odd one.
        std::uint32_t b2, g2, r2;
        {
            const std::int32_t x2 = x + 1;
            const std::uint32_t c = cur[x2], l = cur[x2 - 1], r = cur[x2 + 1];
            const std::uint32_t u = up[x2], d = down[x2];
            if constexpr (kEvenRow) {
                b2 = (u + d) >> 1;
                g2 = (c + up[x2 + 1]) >> 1;
                r2 = (l + r) >> 1;
            } else {
                b2 = c;
                g2 = (l + r + u + d) >> 2;
                r2 = (up[x2 - 1] + up[x2 + 1] + down[x2 - 1] + down[x2 + 1]) >> 2;
            }
        }
        std::uint8_t* p = out + x * 3;
        p[0] = static_cast<std::uint8_t>(b1);
        p[1] = static_cast<std::uint8_t>(g1);
        p[2] = static_cast<std::uint8_t>(r1);
        p[3] = static_cast<std::uint8_t>(b2);
        p[4] = static_cast<std::uint8_t>(g2);
        p[5] = static_cast<std::uint8_t>(r2);
        if constexpr (kGather) {
            if (x >= gatherFrom && x < gatherTo) {
                sumB += b1;
                sumG += g1;
                sumR += r1;
            }
            if (x + 1 >= gatherFrom && x + 1 < gatherTo) {
                sumB += b2;
                sumG += g2;
                sumR += r2;
            }
        }
    }
    if constexpr (kGather) {
        sums[0] += sumB;
        sums[1] += sumG;
        sums[2] += sumR;
    }
}

void ClearPixel(std::uint8_t* p) { p[0] = p[1] = p[2] = 0; }

}  // namespace

void ReconstructColour(const std::uint8_t* raw, std::uint8_t* picture, std::int32_t width, std::int32_t height,
                       PictureStats* stats)
{
    const std::size_t stride = static_cast<std::size_t>(width) * 3;
    std::memset(picture, 0, stride);
    std::memset(picture + (height - 1) * stride, 0, stride);

    const bool window = stats && stats->gatherWindow;
    const bool total = stats && stats->gatherTotal;
    const std::int32_t windowTop = height / 4, windowBottom = 3 * height / 4;
    const std::int32_t windowLeft = width / 4, windowRight = 3 * width / 4;
    std::uint32_t rowSums[3];

    for (std::int32_t y = 1; y < height - 1; ++y) {
        const std::uint8_t* cur = raw + static_cast<std::ptrdiff_t>(y) * width;
        std::uint8_t* out = picture + y * stride;
        ClearPixel(out);
        ClearPixel(out + stride - 3);
        const bool inWindow = window && y >= windowTop && y < windowBottom;
        const bool gather = inWindow || total;
        // A row in the window and a total both wanted: gather the whole row,
        // then the window part, from the same output.
        const std::int32_t from = total ? 0 : windowLeft;
        const std::int32_t to = total ? width : windowRight;
        rowSums[0] = rowSums[1] = rowSums[2] = 0;
        if ((y & 1) == 0) {
            if (gather)
                ReconstructRow<true, true>(cur - width, cur, cur + width, out, width, from, to, rowSums);
            else
                ReconstructRow<true, false>(cur - width, cur, cur + width, out, width, 0, 0, nullptr);
        } else {
            if (gather)
                ReconstructRow<false, true>(cur - width, cur, cur + width, out, width, from, to, rowSums);
            else
                ReconstructRow<false, false>(cur - width, cur, cur + width, out, width, 0, 0, nullptr);
        }
        if (total) {
            for (int c = 0; c < 3; ++c)
                stats->total[c] += rowSums[c];
            if (inWindow) {
                const std::uint8_t* p = out + windowLeft * 3;
                for (std::int32_t x = windowLeft; x < windowRight; ++x, p += 3) {
                    stats->window[0] += p[0];
                    stats->window[1] += p[1];
                    stats->window[2] += p[2];
                }
            }
        } else if (inWindow) {
            for (int c = 0; c < 3; ++c)
                stats->window[c] += rowSums[c];
        }
    }
}

}  // namespace kv20x
