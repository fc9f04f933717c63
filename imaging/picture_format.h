#pragma once
// The picture formats the pipeline writes, where each puts its bytes, and
// the one colour rule of the YUV formats.
//
//   RGB24  bytes blue, green, red; rows bottom-up (the first row in memory
//          is the picture's bottom row).
//   RGB32  bytes blue, green, red, 0xFF; rows bottom-up. The fourth byte is
//          0xFF so that a client that reads it as alpha sees an opaque
//          picture; clients that ignore it lose nothing.
//   YUY2   packed 4:2:2, top-down: each pair of pixels as Y0 U Y1 V.
//   NV12   4:2:0, top-down: the Y plane (width x height), then one plane of
//          U V pairs, one pair per 2 x 2 block (width bytes x height / 2).
//   I420   4:2:0, top-down: the Y plane, then the U plane, then the V plane,
//          each of the chroma planes width / 2 x height / 2.
// Rows are packed: a row's stride is its width times its bytes per pixel
// (width / 2 for the I420 chroma planes), and at the camera's three sizes
// every stride is a multiple of four, as a bitmap's rows must be. The YUV
// formats need an even width, and NV12 and I420 an even height.
//
// The colour rule (BT.601, limited range), from the blue, green and red
// bytes B, G, R that the RGB24 picture holds for the same pixel:
//
//   Y = ((66 R + 129 G + 25 B + 128) >> 8) + 16                       16 .. 235
//   U = ((-38 R' - 74 G' + 112 B' + 128) >> 8) + 128, rounded once     16 .. 240
//   V = ((112 R' - 94 G' - 18 B' + 128) >> 8) + 128, rounded once     16 .. 240
//
// where >> is the floor of the division (of negative sums too), and R', G',
// B' are the exact means of the chroma block, fractions kept: the block is
// a pixel pair for 4:2:2 (YUY2) and 2 x 2 pixels for 4:2:0 (NV12, I420). In
// whole numbers, with sums over the block's pixels:
//   4:2:2  U = ((56 sum B - 19 sum R - 37 sum G + 128) >> 8) + 128
//          V = ((56 sum R - 47 sum G - 9 sum B + 128) >> 8) + 128
//   4:2:0  U = ((56 sum B - 19 sum R - 37 sum G + 256) >> 9) + 128
//          V = ((56 sum R - 47 sum G - 9 sum B + 256) >> 9) + 128
// The chroma sample therefore sits at the centre of its block: between the
// two pixels of a pair, and for 4:2:0 also between the two rows (the siting
// of MPEG-1 and JPEG). Blocks are taken from the picture as it is shown,
// after both flips, starting at its top left pixel. A grey block (R = G = B
// in every pixel), as every block of the monochrome mode is, has
// U = V = 128 exactly.

#include <cstdint>

namespace kv20x {

enum class PictureFormat : std::uint8_t { Rgb24, Rgb32, Yuy2, Nv12, I420 };

inline constexpr int kPictureFormatCount = 5;

// One plane of a picture in memory.
struct PicturePlane {
    std::uint32_t offset = 0;  // of its first row in memory, from the picture's first byte
    std::uint32_t stride = 0;  // from one row to the next in memory
    std::uint32_t rows = 0;
};

struct PictureLayout {
    bool valid = false;           // false: this format cannot be made at this size
    bool bottomUp = false;        // the RGB formats: the first row in memory is the bottom one
    std::uint16_t bitCount = 0;   // bits per pixel, as a bitmap header gives them: 24, 32, 16, 12, 12
    std::uint32_t compression = 0;  // 0 for the RGB formats, else the format's four-character code
    std::uint32_t imageBytes = 0;   // the whole picture: what one sample must hold
    std::uint32_t planeCount = 0;   // RGB and YUY2: 1; NV12: 2 (Y, UV); I420: 3 (Y, U, V)
    PicturePlane planes[3];
    // The YUV pictures are smaller than the colour planes the pipeline keeps
    // between its two passes (3 bytes a pixel), which then need a buffer of
    // their own of this size; 0 for the RGB formats, whose planes fit in the
    // picture itself.
    std::uint32_t planesBytes = 0;
};

// Where the pipeline writes one frame.
struct PictureTarget {
    PictureFormat format = PictureFormat::Rgb24;
    std::uint8_t* picture = nullptr;  // LayoutOf(format, ...).imageBytes
    // The YUV formats: LayoutOf(format, ...).planesBytes of the caller's,
    // kept from frame to frame (its contents need not be kept). Unused by the
    // RGB formats, which may leave it null.
    std::uint8_t* planes = nullptr;
};

// The layout of `format` at width x height; not valid for a width or height
// below 1 or above 16384, or odd where the format's chroma blocks need even.
PictureLayout LayoutOf(PictureFormat format, std::int32_t width, std::int32_t height);

constexpr std::uint32_t FourCharacterCode(char a, char b, char c, char d)
{
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(a)) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(b)) << 8 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(c)) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(d)) << 24;
}

// "rgb24", "rgb32", "yuy2", "nv12", "i420".
const char* PictureFormatName(PictureFormat format);

// The format a name stands for (as PictureFormatName gives it); false for
// an unknown name.
bool ParsePictureFormat(const char* name, PictureFormat& format);

}  // namespace kv20x
