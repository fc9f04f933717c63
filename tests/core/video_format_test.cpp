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

Block GoodBlock(std::int32_t width, std::int32_t height)
{
    Block block(kVideoInfoBytes, 0);
    const std::uint32_t b = kVideoInfoBitmapOffset;
    Put<std::uint32_t>(block, b + 0, kBitmapHeaderBytes);
    Put<std::int32_t>(block, b + 4, width);
    Put<std::int32_t>(block, b + 8, height);
    Put<std::uint16_t>(block, b + 12, 1);
    Put<std::uint16_t>(block, b + 14, 24);
    Put<std::uint32_t>(block, b + 20, static_cast<std::uint32_t>(width * height * 3));
    Put<std::int64_t>(block, kVideoInfoFrameTimeOffset, 666666);
    return block;
}

FormatCheck Check(const Block& block, std::uint32_t bytes)
{
    ProposedFormat format{true, true, true, block.data(), bytes};
    return CheckVideoFormat(format);
}

TEST(VideoFormat, AcceptsExactlyTheThreeBottomUpSizes)
{
    const std::int32_t sizes[3][2] = {{2048, 1536}, {1024, 768}, {640, 480}};
    for (SizeMode s = 0; s < 3; ++s) {
        const Block block = GoodBlock(sizes[s][0], sizes[s][1]);
        const FormatCheck check = Check(block, kVideoInfoBytes);
        ASSERT_TRUE(check.ok());
        EXPECT_EQ(check.size, s);
        EXPECT_EQ(check.bufferBytes, SizeModeImageBytes(s));
        EXPECT_EQ(check.frameTime, 666666);
    }
    EXPECT_EQ(Check(GoodBlock(800, 600), kVideoInfoBytes).problem, FormatProblem::UnsupportedSize);
    EXPECT_EQ(Check(GoodBlock(1024, -768), kVideoInfoBytes).problem, FormatProblem::UnsupportedSize);
}

TEST(VideoFormat, NamesTheFirstProblemOfAType)
{
    Block block = GoodBlock(1024, 768);
    ProposedFormat other{true, false, true, block.data(), kVideoInfoBytes};
    EXPECT_EQ(CheckVideoFormat(other).problem, FormatProblem::NotRgb24Video);
    EXPECT_EQ(Check(block, kVideoInfoBytes - 1).problem, FormatProblem::NoHeader);
    ProposedFormat none{true, true, true, nullptr, kVideoInfoBytes};
    EXPECT_EQ(CheckVideoFormat(none).problem, FormatProblem::NoHeader);

    const std::uint32_t b = kVideoInfoBitmapOffset;
    Put<std::uint32_t>(block, b, 44);
    EXPECT_EQ(Check(block, kVideoInfoBytes).problem, FormatProblem::BadHeaderSize) << "biSize past the block";
    block.resize(kVideoInfoBytes + 4);
    EXPECT_TRUE(Check(block, kVideoInfoBytes + 4).ok()) << "a longer header inside a longer block";

    block = GoodBlock(1024, 768);
    Put<std::uint32_t>(block, b + 16, 0x32595559);  // YUY2
    EXPECT_EQ(Check(block, kVideoInfoBytes).problem, FormatProblem::NotRgb24Bitmap);

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
        const FormatCheck check = Check(block, bytes);
        if (check.ok()) {
            EXPECT_TRUE(IsValidSizeMode(check.size));
            EXPECT_GE(check.bufferBytes, SizeModeImageBytes(check.size));
            EXPECT_LE(check.bufferBytes, 2 * SizeModeImageBytes(check.size));
        }
    }
}

}  // namespace
}  // namespace kv20x
