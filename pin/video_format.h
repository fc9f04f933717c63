#pragma once
// The pin's output types, and the one check of a proposed output format
// that every entry point shares (connection, QueryAccept,
// IAMStreamConfig::SetFormat, buffer sizing). It reads the VIDEOINFOHEADER
// block as bytes at its fixed offsets, so that it needs no platform header
// and can be run on any input natively.

#include <cstdint>

#include "imaging/picture_format.h"
#include "settings/size_mode.h"

namespace kv20x {

// VIDEOINFOHEADER: rcSource, rcTarget, dwBitRate, dwBitErrorRate, then
// AvgTimePerFrame and the BITMAPINFOHEADER. No pointer inside: the same on
// both bitnesses (checked against the platform's header in abi_checks.cpp).
inline constexpr std::uint32_t kVideoInfoSourceOffset = 0;
inline constexpr std::uint32_t kVideoInfoTargetOffset = 16;
inline constexpr std::uint32_t kVideoInfoFrameTimeOffset = 40;
inline constexpr std::uint32_t kVideoInfoBitmapOffset = 48;
inline constexpr std::uint32_t kBitmapHeaderBytes = 40;
inline constexpr std::uint32_t kVideoInfoBytes = kVideoInfoBitmapOffset + kBitmapHeaderBytes;

// The types the pin offers, in the order it offers them: each format at the
// three sizes, RGB24 first so that clients that take the first type get
// what they always got.
inline constexpr PictureFormat kOfferedFormats[] = {PictureFormat::Rgb24, PictureFormat::Yuy2, PictureFormat::Nv12,
                                                    PictureFormat::I420, PictureFormat::Rgb32};
inline constexpr int kOfferedFormatCount = 5;
inline constexpr int kOfferedTypeCount = kOfferedFormatCount * kSizeModeCount;

struct OfferedType {
    PictureFormat format;
    SizeMode size;
};

// The type at `position`, 0 .. kOfferedTypeCount - 1.
constexpr OfferedType OfferedTypeAt(int position)
{
    return {kOfferedFormats[position / kSizeModeCount], position % kSizeModeCount};
}

// The picture of a format at a size.
inline PictureLayout SizeModeLayout(PictureFormat format, SizeMode size)
{
    return LayoutOf(format, SizeModeWidth(size), SizeModeHeight(size));
}

// What the media type says around its format block.
struct ProposedFormat {
    bool videoMajorType = false;   // MEDIATYPE_Video
    bool knownSubtype = false;     // one of the subtypes of kOfferedFormats (IYUV counting as I420)
    PictureFormat subtype = PictureFormat::Rgb24;  // which, when known
    bool videoInfoFormat = false;  // FORMAT_VideoInfo
    const std::uint8_t* block = nullptr;  // pbFormat
    std::uint32_t blockBytes = 0;         // cbFormat
};

enum class FormatProblem {
    None,
    NotOurVideo,       // another major type, subtype or format type
    NoHeader,          // no block, or one too short for a VIDEOINFOHEADER
    BadHeaderSize,     // biSize under a BITMAPINFOHEADER or past the block
    WrongBitmap,       // biBitCount, biCompression or biPlanes not those of the subtype
    UnsupportedSize,   // not one of the three sizes, or a negative height
    BadImageSize,      // biSizeImage neither 0 nor between the picture and twice it
    BadRectangles,     // rcSource or rcTarget neither empty nor the whole picture
    BadFrameTime,      // AvgTimePerFrame negative or beyond 100 s
};

struct FormatCheck {
    FormatProblem problem = FormatProblem::NotOurVideo;
    PictureFormat format = PictureFormat::Rgb24;  // valid when problem is None
    SizeMode size = -1;              // valid when problem is None
    std::uint32_t bufferBytes = 0;   // what one sample must hold: the picture, or the larger biSizeImage
    std::int64_t frameTime = 0;      // AvgTimePerFrame; 0 = no preference
    bool ok() const { return problem == FormatProblem::None; }
};

FormatCheck CheckVideoFormat(const ProposedFormat& format);

}  // namespace kv20x
