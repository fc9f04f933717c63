#include "pin/video_format.h"

#include <cstring>

namespace kv20x {

namespace {

template <typename T>
T ReadField(const std::uint8_t* block, std::uint32_t offset)
{
    T value;
    std::memcpy(&value, block + offset, sizeof value);
    return value;
}

// No preference is 0; beyond 100 s per frame a stated rate is nonsense.
constexpr std::int64_t kLongestFrameTime = 1'000'000'000;

// A rectangle of the header: empty (the whole picture, by convention) or
// exactly the whole picture. Anything else asks for a part of the picture,
// or for rows of another stride, which the pin does not write.
bool WholePicture(const std::uint8_t* block, std::uint32_t offset, std::int32_t width, std::int32_t height)
{
    const auto left = ReadField<std::int32_t>(block, offset);
    const auto top = ReadField<std::int32_t>(block, offset + 4);
    const auto right = ReadField<std::int32_t>(block, offset + 8);
    const auto bottom = ReadField<std::int32_t>(block, offset + 12);
    const bool empty = left == 0 && top == 0 && right == 0 && bottom == 0;
    return empty || (left == 0 && top == 0 && right == width && bottom == height);
}

}  // namespace

FormatCheck CheckVideoFormat(const ProposedFormat& format)
{
    FormatCheck check;
    if (!format.videoMajorType || !format.knownSubtype || !format.videoInfoFormat)
        return check;
    check.problem = FormatProblem::NoHeader;
    if (!format.block || format.blockBytes < kVideoInfoBytes)
        return check;

    const std::uint8_t* bitmap = format.block + kVideoInfoBitmapOffset;
    const auto biSize = ReadField<std::uint32_t>(bitmap, 0);
    check.problem = FormatProblem::BadHeaderSize;
    if (biSize < kBitmapHeaderBytes || biSize > format.blockBytes - kVideoInfoBitmapOffset)
        return check;

    const auto width = ReadField<std::int32_t>(bitmap, 4);
    const auto height = ReadField<std::int32_t>(bitmap, 8);
    const auto planes = ReadField<std::uint16_t>(bitmap, 12);
    const auto bitCount = ReadField<std::uint16_t>(bitmap, 14);
    const auto compression = ReadField<std::uint32_t>(bitmap, 16);
    const auto imageBytes = ReadField<std::uint32_t>(bitmap, 20);
    // Every size has the same bit count and code for a format.
    const PictureLayout expected = SizeModeLayout(format.subtype, kSizeHalf);
    // I420 is also known as IYUV, under either code.
    const bool compressionMatches =
        compression == expected.compression ||
        (format.subtype == PictureFormat::I420 && compression == FourCharacterCode('I', 'Y', 'U', 'V'));
    check.problem = FormatProblem::WrongBitmap;
    if (bitCount != expected.bitCount || !compressionMatches || planes != 1)
        return check;

    // A negative height (a top-down bitmap for RGB; for YUV, which is always
    // top-down, a sign the platform asks never to be given) is none of the
    // pin's sizes.
    SizeMode size = -1;
    for (SizeMode s = 0; s < kSizeModeCount; ++s)
        if (width == SizeModeWidth(s) && height == SizeModeHeight(s))
            size = s;
    check.problem = FormatProblem::UnsupportedSize;
    if (size < 0)
        return check;

    // biSizeImage may be 0 for RGB; anything stated must hold the picture,
    // and a few bytes of slack are all a buffer is allowed beyond it.
    const std::uint32_t picture = SizeModeLayout(format.subtype, size).imageBytes;
    check.problem = FormatProblem::BadImageSize;
    if (imageBytes != 0 && (imageBytes < picture || imageBytes > 2ull * picture))
        return check;

    check.problem = FormatProblem::BadRectangles;
    if (!WholePicture(format.block, kVideoInfoSourceOffset, width, height) ||
        !WholePicture(format.block, kVideoInfoTargetOffset, width, height))
        return check;

    const auto frameTime = ReadField<std::int64_t>(format.block, kVideoInfoFrameTimeOffset);
    check.problem = FormatProblem::BadFrameTime;
    if (frameTime < 0 || frameTime > kLongestFrameTime)
        return check;

    check.problem = FormatProblem::None;
    check.format = format.subtype;
    check.size = size;
    check.bufferBytes = imageBytes > picture ? imageBytes : picture;
    check.frameTime = frameTime;
    return check;
}

}  // namespace kv20x
