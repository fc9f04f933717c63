#pragma once
// The capture tool's view of the camera's output formats: each format's
// subtype and sample size, and a picture of any of them turned back into
// top-down blue-green-red rows for a snapshot. YUV turns back by the
// inverse of the camera's documented colour rule (BT.601, limited range),
// each chroma sample applied to the pixels of its block.

#include <windows.h>
#include <dshow.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace kv20x::tools {

enum class SampleFormat { Rgb24, Rgb32, Yuy2, Nv12, I420 };

struct SampleFormatInfo {
    SampleFormat format;
    const char* name;  // as --format takes it
    DWORD code;        // biCompression: BI_RGB or the four-character code
    WORD bitCount;
};

inline constexpr SampleFormatInfo kSampleFormats[] = {
    {SampleFormat::Rgb24, "rgb24", BI_RGB, 24},
    {SampleFormat::Rgb32, "rgb32", BI_RGB, 32},
    {SampleFormat::Yuy2, "yuy2", MAKEFOURCC('Y', 'U', 'Y', '2'), 16},
    {SampleFormat::Nv12, "nv12", MAKEFOURCC('N', 'V', '1', '2'), 12},
    {SampleFormat::I420, "i420", MAKEFOURCC('I', '4', '2', '0'), 12},
};

inline const SampleFormatInfo* FindSampleFormat(const char* name)
{
    for (const SampleFormatInfo& info : kSampleFormats)
        if (std::strcmp(info.name, name) == 0)
            return &info;
    return nullptr;
}

// The subtype of a format: the four-character-code GUID for YUV.
inline GUID SubtypeOf(const SampleFormatInfo& info)
{
    if (info.format == SampleFormat::Rgb24)
        return MEDIASUBTYPE_RGB24;
    if (info.format == SampleFormat::Rgb32)
        return MEDIASUBTYPE_RGB32;
    return GUID{info.code, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

inline size_t SampleBytes(SampleFormat format, int width, int height)
{
    const size_t pixels = static_cast<size_t>(width) * height;
    switch (format) {
    case SampleFormat::Rgb24: return pixels * 3;
    case SampleFormat::Rgb32: return pixels * 4;
    case SampleFormat::Yuy2: return pixels * 2;
    default: return pixels + pixels / 2;
    }
}

namespace detail {

inline std::uint8_t Clamp(int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// One pixel from Y, U, V (BT.601, limited range), in 16-bit fixed point.
inline void YuvToBgr(int y, int u, int v, std::uint8_t* bgr)
{
    const int c = 76309 * (y - 16), d = u - 128, e = v - 128;
    bgr[0] = Clamp((c + 132201 * d + 32768) >> 16);
    bgr[1] = Clamp((c - 25675 * d - 53279 * e + 32768) >> 16);
    bgr[2] = Clamp((c + 104597 * e + 32768) >> 16);
}

}  // namespace detail

// `sample` of `format` as top-down blue-green-red rows (width x 3 bytes
// each); false when the sample is too short.
inline bool SampleToTopDownBgr(SampleFormat format, const std::vector<BYTE>& sample, int width, int height,
                               std::vector<std::uint8_t>& bgr)
{
    if (width <= 0 || height <= 0 || sample.size() < SampleBytes(format, width, height))
        return false;
    bgr.assign(static_cast<size_t>(width) * height * 3, 0);
    const size_t w = static_cast<size_t>(width), pixels = w * height;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* out = bgr.data() + static_cast<size_t>(y) * w * 3;
        for (int x = 0; x < width; ++x) {
            // RGB rows are bottom-up; YUV rows top-down.
            const size_t bottomUp = static_cast<size_t>(height - 1 - y) * w + x;
            const size_t topDown = static_cast<size_t>(y) * w + x;
            switch (format) {
            case SampleFormat::Rgb24: std::memcpy(out + 3 * x, &sample[bottomUp * 3], 3); break;
            case SampleFormat::Rgb32: std::memcpy(out + 3 * x, &sample[bottomUp * 4], 3); break;
            case SampleFormat::Yuy2: {
                const size_t pair = (static_cast<size_t>(y) * w + (x & ~1)) * 2;
                detail::YuvToBgr(sample[topDown * 2], sample[pair + 1], sample[pair + 3], out + 3 * x);
                break;
            }
            case SampleFormat::Nv12: {
                const size_t uv = pixels + static_cast<size_t>(y / 2) * w + (x & ~1);
                detail::YuvToBgr(sample[topDown], sample[uv], sample[uv + 1], out + 3 * x);
                break;
            }
            case SampleFormat::I420: {
                const size_t c = static_cast<size_t>(y / 2) * (w / 2) + x / 2;
                detail::YuvToBgr(sample[topDown], sample[pixels + c], sample[pixels + pixels / 4 + c], out + 3 * x);
                break;
            }
            }
        }
    }
    return true;
}

}  // namespace kv20x::tools
