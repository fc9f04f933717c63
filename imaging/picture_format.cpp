#include "imaging/picture_format.h"

#include <cstring>

namespace kv20x {

namespace {

constexpr std::int32_t kLargestSide = 16384;

constexpr const char* kNames[kPictureFormatCount] = {"rgb24", "rgb32", "yuy2", "nv12", "i420"};

}  // namespace

PictureLayout LayoutOf(PictureFormat format, std::int32_t width, std::int32_t height)
{
    PictureLayout layout;
    if (width < 1 || height < 1 || width > kLargestSide || height > kLargestSide)
        return layout;
    const bool evenWidth = width % 2 == 0, evenHeight = height % 2 == 0;
    const auto w = static_cast<std::uint32_t>(width), h = static_cast<std::uint32_t>(height);
    const std::uint32_t pixels = w * h;
    switch (format) {
    case PictureFormat::Rgb24:
    case PictureFormat::Rgb32: {
        const std::uint32_t bytesPerPixel = format == PictureFormat::Rgb24 ? 3 : 4;
        layout.bottomUp = true;
        layout.bitCount = static_cast<std::uint16_t>(8 * bytesPerPixel);
        layout.planeCount = 1;
        layout.planes[0] = {0, w * bytesPerPixel, h};
        layout.imageBytes = pixels * bytesPerPixel;
        break;
    }
    case PictureFormat::Yuy2:
        if (!evenWidth)
            return layout;
        layout.bitCount = 16;
        layout.compression = FourCharacterCode('Y', 'U', 'Y', '2');
        layout.planeCount = 1;
        layout.planes[0] = {0, 2 * w, h};
        layout.imageBytes = 2 * pixels;
        break;
    case PictureFormat::Nv12:
    case PictureFormat::I420:
        if (!evenWidth || !evenHeight)
            return layout;
        layout.bitCount = 12;
        layout.planes[0] = {0, w, h};
        if (format == PictureFormat::Nv12) {
            layout.compression = FourCharacterCode('N', 'V', '1', '2');
            layout.planeCount = 2;
            layout.planes[1] = {pixels, w, h / 2};
        } else {
            layout.compression = FourCharacterCode('I', '4', '2', '0');
            layout.planeCount = 3;
            layout.planes[1] = {pixels, w / 2, h / 2};
            layout.planes[2] = {pixels + pixels / 4, w / 2, h / 2};
        }
        layout.imageBytes = pixels + pixels / 2;
        break;
    default:
        return layout;
    }
    if (!layout.bottomUp)
        layout.planesBytes = 3 * pixels;
    layout.valid = true;
    return layout;
}

const char* PictureFormatName(PictureFormat format)
{
    const auto i = static_cast<int>(format);
    return i >= 0 && i < kPictureFormatCount ? kNames[i] : "unknown";
}

bool ParsePictureFormat(const char* name, PictureFormat& format)
{
    if (!name)
        return false;
    for (int i = 0; i < kPictureFormatCount; ++i)
        if (std::strcmp(name, kNames[i]) == 0) {
            format = static_cast<PictureFormat>(i);
            return true;
        }
    return false;
}

}  // namespace kv20x
