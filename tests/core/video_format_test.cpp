// The shared check of proposed output formats, on raw format blocks: what it
// accepts, and that it never reads outside the block it is given.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "pin/video_format.h"

namespace kv20x {
namespace {

using Block = std::vector<std::uint8_t>;

template <typename T>
void Put(Block& block, std::uint32_t offset, T value)
{
    std::memcpy(block.data() + offset, &value, sizeof value);
}

constexpr std::uint32_t kBiSizeImage = kVideoInfoBitmapOffset + 20;

// A well-formed block of `format`; a picture size is written only where the
// format has a layout at that size.
Block GoodBlock(std::int32_t width, std::int32_t height, PictureFormat format = PictureFormat::Rgb24)
{
    const PictureLayout layout = LayoutOf(format, width, height < 0 ? -height : height);
    const PictureLayout any = LayoutOf(format, 640, 480);
    Block block(kVideoInfoBytes, 0);
    const std::uint32_t b = kVideoInfoBitmapOffset;
    Put<std::uint32_t>(block, b + 0, kBitmapHeaderBytes);
    Put<std::int32_t>(block, b + 4, width);
    Put<std::int32_t>(block, b + 8, height);
    Put<std::uint16_t>(block, b + 12, 1);
    Put<std::uint16_t>(block, b + 14, any.bitCount);
    Put<std::uint32_t>(block, b + 16, any.compression);
    Put<std::uint32_t>(block, b + 20, layout.imageBytes);
    Put<std::int64_t>(block, kVideoInfoFrameTimeOffset, 666666);
    return block;
}

FormatCheck Check(const Block& block, std::uint32_t bytes, PictureFormat format = PictureFormat::Rgb24)
{
    ProposedFormat proposed{true, true, format, true, block.data(), bytes};
    return CheckVideoFormat(proposed);
}

constexpr PictureFormat kFormats[] = {PictureFormat::Rgb24, PictureFormat::Rgb32, PictureFormat::Yuy2,
                                      PictureFormat::Nv12, PictureFormat::I420};

TEST(VideoFormat, AcceptsExactlyTheThreeSizesOfEveryFormat)
{
    const std::int32_t sizes[3][2] = {{2048, 1536}, {1024, 768}, {640, 480}};
    for (const PictureFormat format : kFormats) {
        for (SizeMode s = 0; s < 3; ++s) {
            SCOPED_TRACE(testing::Message() << PictureFormatName(format) << " " << s);
            const Block block = GoodBlock(sizes[s][0], sizes[s][1], format);
            const FormatCheck check = Check(block, kVideoInfoBytes, format);
            ASSERT_TRUE(check.ok());
            EXPECT_EQ(check.format, format);
            EXPECT_EQ(check.size, s);
            EXPECT_EQ(check.bufferBytes, SizeModeLayout(format, s).imageBytes);
            EXPECT_EQ(check.frameTime, 666666);
        }
        EXPECT_EQ(Check(GoodBlock(800, 600, format), kVideoInfoBytes, format).problem, FormatProblem::UnsupportedSize);
        // Top-down RGB, and YUV with the sign the platform asks never to be given.
        EXPECT_EQ(Check(GoodBlock(1024, -768, format), kVideoInfoBytes, format).problem,
                  FormatProblem::UnsupportedSize);
        EXPECT_EQ(Check(GoodBlock(641, 481, format), kVideoInfoBytes, format).problem, FormatProblem::UnsupportedSize);
    }
    EXPECT_EQ(SizeModeLayout(PictureFormat::Rgb24, kSizeFull).imageBytes, SizeModeImageBytes(kSizeFull));
}

// The offered types: RGB24 at positions 0 to 2, then each other format.
TEST(VideoFormat, OffersRgb24FirstThenEveryFormatAtTheThreeSizes)
{
    for (int p = 0; p < kOfferedTypeCount; ++p) {
        const OfferedType t = OfferedTypeAt(p);
        EXPECT_EQ(t.size, p % 3);
        EXPECT_EQ(t.format, kOfferedFormats[p / 3]);
        EXPECT_TRUE(SizeModeLayout(t.format, t.size).valid);
    }
    EXPECT_EQ(OfferedTypeAt(0).format, PictureFormat::Rgb24);
    EXPECT_EQ(OfferedTypeAt(2).format, PictureFormat::Rgb24);
    EXPECT_EQ(kOfferedTypeCount, 15);
}

// Each way a header can disagree with its subtype.
TEST(VideoFormat, ABitmapMustBeThatOfItsSubtype)
{
    const std::uint32_t b = kVideoInfoBitmapOffset;
    const struct {
        PictureFormat format;
        std::uint16_t bitCount;
        std::uint32_t compression;
        bool ok;
    } cases[] = {
        {PictureFormat::Rgb24, 24, 0, true},
        {PictureFormat::Rgb24, 32, 0, false},
        {PictureFormat::Rgb32, 32, 0, true},
        {PictureFormat::Rgb32, 24, 0, false},
        {PictureFormat::Rgb32, 32, 3, false},  // BI_BITFIELDS
        {PictureFormat::Yuy2, 16, FourCharacterCode('Y', 'U', 'Y', '2'), true},
        {PictureFormat::Yuy2, 12, FourCharacterCode('Y', 'U', 'Y', '2'), false},
        {PictureFormat::Yuy2, 16, FourCharacterCode('U', 'Y', 'V', 'Y'), false},
        {PictureFormat::Yuy2, 16, 0, false},
        {PictureFormat::Nv12, 12, FourCharacterCode('N', 'V', '1', '2'), true},
        {PictureFormat::Nv12, 12, FourCharacterCode('I', '4', '2', '0'), false},
        {PictureFormat::Nv12, 16, FourCharacterCode('N', 'V', '1', '2'), false},
        {PictureFormat::I420, 12, FourCharacterCode('I', '4', '2', '0'), true},
        {PictureFormat::I420, 12, FourCharacterCode('I', 'Y', 'U', 'V'), true},
        {PictureFormat::I420, 12, FourCharacterCode('Y', 'V', '1', '2'), false},
        {PictureFormat::I420, 24, FourCharacterCode('I', '4', '2', '0'), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << PictureFormatName(c.format) << " " << c.bitCount << " " << c.compression);
        Block block = GoodBlock(640, 480, c.format);
        Put<std::uint16_t>(block, b + 14, c.bitCount);
        Put<std::uint32_t>(block, b + 16, c.compression);
        EXPECT_EQ(Check(block, kVideoInfoBytes, c.format).problem,
                  c.ok ? FormatProblem::None : FormatProblem::WrongBitmap);
    }
    // The image size is that of the subtype's picture: an RGB24 size is too
    // small for RGB32, and far above an NV12 one.
    for (const PictureFormat format : kFormats) {
        SCOPED_TRACE(PictureFormatName(format));
        const std::uint32_t picture = SizeModeLayout(format, kSizeVga).imageBytes;
        Block block = GoodBlock(640, 480, format);
        for (const auto& [bytes, ok] : {std::pair{picture - 1, false}, {picture, true}, {2 * picture, true},
                                         {2 * picture + 1, false}, {0u, true}}) {
            Put<std::uint32_t>(block, kBiSizeImage, bytes);
            EXPECT_EQ(Check(block, kVideoInfoBytes, format).ok(), ok) << bytes;
        }
    }
}

// A source or target rectangle asks for part of the picture or for rows of
// another stride; only none or the whole picture is written.
TEST(VideoFormat, RectanglesMustBeEmptyOrTheWholePicture)
{
    const struct {
        std::uint32_t offset;
        std::int32_t rect[4];
        bool ok;
    } cases[] = {
        {kVideoInfoSourceOffset, {0, 0, 0, 0}, true},      {kVideoInfoSourceOffset, {0, 0, 640, 480}, true},
        {kVideoInfoTargetOffset, {0, 0, 640, 480}, true},  {kVideoInfoTargetOffset, {0, 0, 320, 240}, false},
        {kVideoInfoTargetOffset, {0, 0, 1280, 480}, false}, {kVideoInfoSourceOffset, {10, 0, 650, 480}, false},
        {kVideoInfoSourceOffset, {0, 0, 640, -480}, false},
    };
    for (const PictureFormat format : kFormats)
        for (const auto& c : cases) {
            Block block = GoodBlock(640, 480, format);
            for (int i = 0; i < 4; ++i)
                Put<std::int32_t>(block, c.offset + 4 * i, c.rect[i]);
            EXPECT_EQ(Check(block, kVideoInfoBytes, format).problem,
                      c.ok ? FormatProblem::None : FormatProblem::BadRectangles)
                << PictureFormatName(format) << " " << c.offset << " " << c.rect[2];
        }
}

TEST(VideoFormat, NamesTheFirstProblemOfAType)
{
    Block block = GoodBlock(1024, 768);
    ProposedFormat other{true, false, PictureFormat::Rgb24, true, block.data(), kVideoInfoBytes};
    EXPECT_EQ(CheckVideoFormat(other).problem, FormatProblem::NotOurVideo);
    EXPECT_EQ(Check(block, kVideoInfoBytes - 1).problem, FormatProblem::NoHeader);
    ProposedFormat none{true, true, PictureFormat::Rgb24, true, nullptr, kVideoInfoBytes};
    EXPECT_EQ(CheckVideoFormat(none).problem, FormatProblem::NoHeader);

    const std::uint32_t b = kVideoInfoBitmapOffset;
    Put<std::uint32_t>(block, b, 44);
    EXPECT_EQ(Check(block, kVideoInfoBytes).problem, FormatProblem::BadHeaderSize) << "biSize past the block";
    block.resize(kVideoInfoBytes + 4);
    EXPECT_TRUE(Check(block, kVideoInfoBytes + 4).ok()) << "a longer header inside a longer block";

    block = GoodBlock(1024, 768);
    Put<std::uint32_t>(block, b + 16, 0x32595559);  // YUY2
    EXPECT_EQ(Check(block, kVideoInfoBytes).problem, FormatProblem::WrongBitmap);

    block = GoodBlock(1024, 768);
    Put<std::uint32_t>(block, b + 20, 0xFFFFFFFF);
    EXPECT_EQ(Check(block, kVideoInfoBytes).problem, FormatProblem::BadImageSize);
    Put<std::uint32_t>(block, b + 20, 2 * 1024 * 768 * 3);
    EXPECT_EQ(Check(block, kVideoInfoBytes).bufferBytes, 2u * 1024 * 768 * 3);
    Put<std::uint32_t>(block, b + 20, 0);
    EXPECT_EQ(Check(block, kVideoInfoBytes).bufferBytes, 1024u * 768 * 3) << "0: the picture decides";

    Put<std::int64_t>(block, kVideoInfoFrameTimeOffset, -1);
    EXPECT_EQ(Check(block, kVideoInfoBytes).problem, FormatProblem::BadFrameTime);
}

TEST(VideoFormat, ArbitraryBlocksAreReadOnlyWithinTheirLength)
{
    // Under AddressSanitizer each block is its own allocation of exactly the
    // length given, so any read past it is reported.
    std::mt19937 rng(7);
    for (int round = 0; round < 20000; ++round) {
        const std::uint32_t bytes = rng() % 160;
        Block block(bytes);
        for (auto& byte : block)
            byte = static_cast<std::uint8_t>(rng());
        if (bytes >= kVideoInfoBytes && rng() % 2) {
            const Block good = GoodBlock(640, 480);
            std::memcpy(block.data(), good.data(), kVideoInfoBytes);
            block[rng() % bytes] = static_cast<std::uint8_t>(rng());
        }
        const PictureFormat format = kFormats[rng() % 5];
        const FormatCheck check = Check(block, bytes, format);
        if (check.ok()) {
            EXPECT_TRUE(IsValidSizeMode(check.size));
            EXPECT_EQ(check.format, format);
            const std::uint32_t picture = SizeModeLayout(format, check.size).imageBytes;
            EXPECT_GE(check.bufferBytes, picture);
            EXPECT_LE(check.bufferBytes, 2 * picture);
        }
    }
}

}  // namespace
}  // namespace kv20x
