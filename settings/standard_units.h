#pragma once
// The camera's settings in the units of the platform's standard camera
// interfaces. Exposure there is log2 of seconds, in whole steps; here it is a
// number of sensor rows of RowTime microseconds each.

#include <cstdint>

namespace kv20x {

inline constexpr std::uint16_t kMinExposureRows = 1;
inline constexpr std::uint16_t kMaxExposureRows = 4000;

struct Log2Range {
    long min;
    long max;
};

// The whole steps of log2 seconds that a set and a get carry unchanged: from
// the shortest exposure of at least two rows (one row is too coarse for the
// nearest step to come back) to the longest that fits in 4000 rows.
Log2Range ExposureLog2Range(std::int32_t rowTimeUs);

// The nearest whole step to `rows` rows, within the range.
long ExposureLog2Seconds(std::uint16_t rows, std::int32_t rowTimeUs);

// The row count nearest to 2^step seconds, within 1 .. 4000.
std::uint16_t ExposureRowsForLog2(long step, std::int32_t rowTimeUs);

}  // namespace kv20x
