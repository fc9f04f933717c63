#include "settings/standard_units.h"

#include <cmath>

namespace kv20x {

namespace {

double Seconds(double rows, std::int32_t rowTimeUs)
{
    return rows * rowTimeUs / 1e6;
}

}  // namespace

Log2Range ExposureLog2Range(std::int32_t rowTimeUs)
{
    if (rowTimeUs <= 0)
        return {0, 0};
    // The shortest step whose nearest row count is two rows or more (2^step
    // at least 1.5 rows), and the longest within the row limit.
    return {static_cast<long>(std::ceil(std::log2(Seconds(1.5, rowTimeUs)))),
            static_cast<long>(std::floor(std::log2(Seconds(kMaxExposureRows, rowTimeUs))))};
}

long ExposureLog2Seconds(std::uint16_t rows, std::int32_t rowTimeUs)
{
    if (rowTimeUs <= 0)
        return 0;
    const Log2Range range = ExposureLog2Range(rowTimeUs);
    const long step = std::lround(std::log2(Seconds(rows < kMinExposureRows ? kMinExposureRows : rows, rowTimeUs)));
    return step < range.min ? range.min : step > range.max ? range.max : step;
}

std::uint16_t ExposureRowsForLog2(long step, std::int32_t rowTimeUs)
{
    if (rowTimeUs <= 0)
        return kMinExposureRows;
    const double rows = std::round(std::ldexp(1e6 / rowTimeUs, static_cast<int>(step < -64 ? -64 : step > 64 ? 64 : step)));
    if (rows < kMinExposureRows)
        return kMinExposureRows;
    if (rows > kMaxExposureRows)
        return kMaxExposureRows;
    return static_cast<std::uint16_t>(rows);
}

}  // namespace kv20x
