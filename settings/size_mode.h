#pragma once
// The three picture sizes the camera delivers. The index is the stored
// setting "eKV20XSize"; every size is 8-bit Bayer raw on the wire and any of
// the output formats (imaging/picture_format.h) on output.

#include <cstdint>

namespace kv20x {

using SizeMode = std::int32_t;

inline constexpr SizeMode kSizeFull = 0;     // 2048 x 1536
inline constexpr SizeMode kSizeHalf = 1;     // 1024 x 768, the default
inline constexpr SizeMode kSizeVga = 2;      // 640 x 480
inline constexpr SizeMode kSizeModeCount = 3;

constexpr bool IsValidSizeMode(SizeMode mode) { return mode >= 0 && mode < kSizeModeCount; }

// Width and height of a size; 0 for an index that names no size.
constexpr std::int32_t SizeModeWidth(SizeMode mode)
{
    switch (mode) {
    case kSizeFull: return 2048;
    case kSizeHalf: return 1024;
    case kSizeVga: return 640;
    default: return 0;
    }
}

constexpr std::int32_t SizeModeHeight(SizeMode mode)
{
    switch (mode) {
    case kSizeFull: return 1536;
    case kSizeHalf: return 768;
    case kSizeVga: return 480;
    default: return 0;
    }
}

// Bytes of one bottom-up RGB24 bitmap row, padded to 32 bits as a bitmap
// header describes it. None of the three widths needs padding.
constexpr std::uint32_t BitmapRowBytes(std::int32_t width, std::int32_t bitCount)
{
    return (static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(bitCount) + 31u) / 32u * 4u;
}

constexpr std::uint32_t SizeModeImageBytes(SizeMode mode)
{
    return BitmapRowBytes(SizeModeWidth(mode), 24) * static_cast<std::uint32_t>(SizeModeHeight(mode));
}

constexpr std::uint32_t SizeModeRawBytes(SizeMode mode)
{
    return static_cast<std::uint32_t>(SizeModeWidth(mode)) * static_cast<std::uint32_t>(SizeModeHeight(mode));
}

// The largest raw frame, which every raw buffer must be able to hold.
inline constexpr std::uint32_t kMaxRawFrameBytes = 2048u * 1536u;

}  // namespace kv20x
