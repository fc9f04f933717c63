#pragma once
// Defective sensor pixels of the current size, read from the camera's
// configuration memory at device start and repaired in every raw frame.

#include <cstdint>

namespace kv20x {

struct DefectPixel {
    std::int16_t x;  // column
    std::int16_t y;  // row
};

struct DefectTable {
    static constexpr std::uint32_t kCapacity = 99;
    DefectPixel entries[kCapacity] = {};
    std::uint32_t count = 0;
};

}  // namespace kv20x
