#pragma once
// The one check of a proposed output format that every entry point shares
// (connection, QueryAccept, IAMStreamConfig::SetFormat, buffer sizing). It
// reads the VIDEOINFOHEADER block as bytes at its fixed offsets, so that it
// needs no platform header and can be run on any input natively.

#include <cstdint>

#include "settings/size_mode.h"

namespace kv20x {

// VIDEOINFOHEADER: rcSource, rcTarget, dwBitRate, dwBitErrorRate, then
// AvgTimePerFrame and the BITMAPINFOHEADER. No pointer inside: the same on
// both bitnesses (checked against the platform's header in abi_checks.cpp).
inline constexpr std::uint32_t kVideoInfoFrameTimeOffset = 40;
inline constexpr std::uint32_t kVideoInfoBitmapOffset = 48;
inline constexpr std::uint32_t kBitmapHeaderBytes = 40;
inline constexpr std::uint32_t kVideoInfoBytes = kVideoInfoBitmapOffset + kBitmapHeaderBytes;

// What the media type says around its format block.
struct ProposedFormat {
    bool videoMajorType = false;  // MEDIATYPE_Video
    bool rgb24Subtype = false;    // MEDIASUBTYPE_RGB24
    bool videoInfoFormat = false; // FORMAT_VideoInfo
    const std::uint8_t* block = nullptr;  // pbFormat
    std::uint32_t blockBytes = 0;         // cbFormat
};

enum class FormatProblem {
    None,
    NotRgb24Video,     // another major type, subtype or format type
    NoHeader,          // no block, or one too short for a VIDEOINFOHEADER
    BadHeaderSize,     // biSize under a BITMAPINFOHEADER or past the block
    NotRgb24Bitmap,    // biBitCount, biCompression or biPlanes
    UnsupportedSize,   // not one of the three sizes, or top-down
    BadImageSize,      // biSizeImage neither 0 nor between the picture and twice it
    BadFrameTime,      // AvgTimePerFrame negative or beyond 100 s
};

struct FormatCheck {
    FormatProblem problem = FormatProblem::NotRgb24Video;
    SizeMode size = -1;              // valid when problem is None
    std::uint32_t bufferBytes = 0;   // what one sample must hold: the picture, or the larger biSizeImage
    std::int64_t frameTime = 0;      // AvgTimePerFrame; 0 = no preference
    bool ok() const { return problem == FormatProblem::None; }
};

FormatCheck CheckVideoFormat(const ProposedFormat& format);

}  // namespace kv20x
