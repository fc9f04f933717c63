#include "imaging/raw_to_rgb.h"

#include <cstring>

#include "imaging/pipeline_kernels.h"

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

void ReconstructColour(const std::uint8_t* raw, std::uint8_t* picture, std::size_t stride, std::int32_t width,
                       std::int32_t height, PictureStats* stats, SimdLevel level)
{
    const PipelineKernels& kernels = UsableKernels(level);
    const std::size_t planesBytes = static_cast<std::size_t>(width) * 3;
    std::memset(picture, 0, planesBytes);
    std::memset(picture + (height - 1) * stride, 0, planesBytes);

    const bool window = stats && stats->gatherWindow;
    const bool total = stats && stats->gatherTotal;
    const std::int32_t windowTop = height / 4, windowBottom = 3 * height / 4;
    const std::int32_t windowLeft = width / 4, windowRight = 3 * width / 4;

    for (std::int32_t y = 1; y < height - 1; ++y) {
        const std::uint8_t* cur = raw + static_cast<std::ptrdiff_t>(y) * width;
        std::uint8_t* planes[3];
        planes[0] = picture + y * stride;
        planes[1] = planes[0] + width;
        planes[2] = planes[1] + width;
        for (std::uint8_t* plane : planes)
            plane[0] = plane[width - 1] = 0;
        const DemosaicRowArgs row{cur - width, cur, cur + width, planes[0], planes[1], planes[2], width, (y & 1) == 0};
        kernels.demosaicRow(row);

        if (window && y >= windowTop && y < windowBottom)
            for (int c = 0; c < 3; ++c)
                stats->window[c] += kernels.sumBytes(planes[c] + windowLeft, windowRight - windowLeft);
        if (total)
            for (int c = 0; c < 3; ++c)
                stats->total[c] += kernels.sumBytes(planes[c], width);
    }
}

}  // namespace kv20x
