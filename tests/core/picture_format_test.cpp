// The picture formats at their interfaces: the layouts a pin builds its media
// types from, the colour rule on colours whose values are worked out by hand
// from the documented formula, and the pipeline's refusals.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "imaging/finish_picture.h"
#include "imaging/frame_pipeline.h"
#include "imaging/picture_format.h"
#include "support/pipeline_oracle.h"

namespace kv20x {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct LayoutCase {
    PictureFormat format;
    int width, height;
    std::uint16_t bitCount;
    const char* code;  // four-character code, or "" for the RGB formats
    std::uint32_t imageBytes;
    bool bottomUp;
    std::vector<PicturePlane> planes;
    std::uint32_t planesBytes;
};

const LayoutCase kLayouts[] = {
    {PictureFormat::Rgb24, 2048, 1536, 24, "", 9437184, true, {{0, 6144, 1536}}, 0},
    {PictureFormat::Rgb24, 640, 480, 24, "", 921600, true, {{0, 1920, 480}}, 0},
    {PictureFormat::Rgb32, 2048, 1536, 32, "", 12582912, true, {{0, 8192, 1536}}, 0},
    {PictureFormat::Rgb32, 1024, 768, 32, "", 3145728, true, {{0, 4096, 768}}, 0},
    {PictureFormat::Yuy2, 2048, 1536, 16, "YUY2", 6291456, false, {{0, 4096, 1536}}, 9437184},
    {PictureFormat::Yuy2, 640, 480, 16, "YUY2", 614400, false, {{0, 1280, 480}}, 921600},
    {PictureFormat::Nv12, 2048, 1536, 12, "NV12", 4718592, false, {{0, 2048, 1536}, {3145728, 2048, 768}}, 9437184},
    {PictureFormat::Nv12, 1024, 768, 12, "NV12", 1179648, false, {{0, 1024, 768}, {786432, 1024, 384}}, 2359296},
    {PictureFormat::I420, 2048, 1536, 12, "I420", 4718592, false,
     {{0, 2048, 1536}, {3145728, 1024, 768}, {3932160, 1024, 768}}, 9437184},
    {PictureFormat::I420, 640, 480, 12, "I420", 460800, false, {{0, 640, 480}, {307200, 320, 240}, {384000, 320, 240}},
     921600},
    // Any even size, and the RGB formats at odd ones.
    {PictureFormat::I420, 6, 4, 12, "I420", 36, false, {{0, 6, 4}, {24, 3, 2}, {30, 3, 2}}, 72},
    {PictureFormat::Rgb24, 7, 3, 24, "", 63, true, {{0, 21, 3}}, 0},
    {PictureFormat::Yuy2, 6, 5, 16, "YUY2", 60, false, {{0, 12, 5}}, 90},
};

TEST(PictureLayout, EachFormatPutsItsBytesWhereItsMediaTypeSays)
{
    for (const LayoutCase& c : kLayouts) {
        const std::string name = std::string(PictureFormatName(c.format)) + " " + std::to_string(c.width) + "x" +
                                 std::to_string(c.height);
        const PictureLayout layout = LayoutOf(c.format, c.width, c.height);
        ASSERT_TRUE(layout.valid) << name;
        EXPECT_EQ(layout.bitCount, c.bitCount) << name;
        const std::uint32_t code = *c.code ? FourCharacterCode(c.code[0], c.code[1], c.code[2], c.code[3]) : 0;
        EXPECT_EQ(layout.compression, code) << name;
        EXPECT_EQ(layout.imageBytes, c.imageBytes) << name;
        EXPECT_EQ(layout.imageBytes, static_cast<std::uint32_t>(c.width) * c.height * c.bitCount / 8) << name;
        EXPECT_EQ(layout.bottomUp, c.bottomUp) << name;
        EXPECT_EQ(layout.planesBytes, c.planesBytes) << name;
        ASSERT_EQ(layout.planeCount, c.planes.size()) << name;
        for (std::size_t i = 0; i < c.planes.size(); ++i) {
            EXPECT_EQ(layout.planes[i].offset, c.planes[i].offset) << name << " plane " << i;
            EXPECT_EQ(layout.planes[i].stride, c.planes[i].stride) << name << " plane " << i;
            EXPECT_EQ(layout.planes[i].rows, c.planes[i].rows) << name << " plane " << i;
        }
    }
    EXPECT_EQ(FourCharacterCode('Y', 'U', 'Y', '2'), 0x32595559u) << "as a bitmap header's biCompression";
}

TEST(PictureLayout, TheCameraSizesGiveRowsOfWholeDoubleWords)
{
    for (PictureFormat format : {PictureFormat::Rgb24, PictureFormat::Rgb32, PictureFormat::Yuy2, PictureFormat::Nv12,
                                 PictureFormat::I420})
        for (SizeMode size = 0; size < kSizeModeCount; ++size) {
            const PictureLayout layout = LayoutOf(format, SizeModeWidth(size), SizeModeHeight(size));
            ASSERT_TRUE(layout.valid);
            for (std::uint32_t i = 0; i < layout.planeCount; ++i)
                EXPECT_EQ(layout.planes[i].stride % 4, 0u) << PictureFormatName(format) << " size " << size;
        }
    EXPECT_EQ(LayoutOf(PictureFormat::Rgb24, 2048, 1536).imageBytes, SizeModeImageBytes(kSizeFull));
}

struct Refusal {
    PictureFormat format;
    int width, height;
};

const Refusal kRefusals[] = {
    {PictureFormat::Yuy2, 7, 4},   {PictureFormat::Nv12, 7, 4},      {PictureFormat::Nv12, 8, 5},
    {PictureFormat::I420, 641, 480}, {PictureFormat::I420, 640, 481}, {PictureFormat::Rgb24, 0, 480},
    {PictureFormat::Rgb32, 640, -480}, {PictureFormat::Nv12, 16386, 2}, {static_cast<PictureFormat>(5), 640, 480},
};

TEST(PictureLayout, SizesAFormatCannotTakeAreRefused)
{
    for (const Refusal& r : kRefusals)
        EXPECT_FALSE(LayoutOf(r.format, r.width, r.height).valid)
            << static_cast<int>(r.format) << " " << r.width << "x" << r.height;
}

TEST(PictureLayout, NamesGoBothWays)
{
    for (int i = 0; i < kPictureFormatCount; ++i) {
        PictureFormat parsed;
        ASSERT_TRUE(ParsePictureFormat(PictureFormatName(static_cast<PictureFormat>(i)), parsed));
        EXPECT_EQ(static_cast<int>(parsed), i);
    }
    PictureFormat parsed;
    EXPECT_FALSE(ParsePictureFormat("NV12", parsed));
    EXPECT_FALSE(ParsePictureFormat(nullptr, parsed));
}

// ---- The colour rule, by hand ------------------------------------------------

// A picture of 2 x 2 blocks through the finishing pass with identity
// tables, not flipped, not mirrored: each pixel as given.
class ColourRule : public ::testing::Test {
protected:
    static constexpr int kW = 64, kH = 4;
    // Planes (rows of blue, green, red) of a picture of one colour.
    static Bytes Uniform(int b, int g, int r)
    {
        Bytes planes(kW * kH * 3u);
        for (int y = 0; y < kH; ++y)
            for (int c = 0; c < 3; ++c)
                std::memset(&planes[(y * 3 + c) * kW], c == 0 ? b : c == 1 ? g : r, kW);
        return planes;
    }
    Bytes Finish(PictureFormat format, Bytes planes, bool reverse = false, bool mirror = false)
    {
        FinishParams params;
        params.stage = ColourStage::WhiteBalanceOnly;
        params.wb = &wb;
        params.tone = &tone;
        params.reverseRows = reverse;
        params.mirrorRows = mirror;
        const PictureLayout layout = LayoutOf(format, kW, kH);
        Bytes picture(layout.imageBytes, 0xAB);
        // The RGB formats find each row's planes at the start of its row.
        if (layout.planesBytes == 0)
            for (int y = 0; y < kH; ++y)
                std::memcpy(&picture[y * layout.planes[0].stride], &planes[y * kW * 3], kW * 3);
        FinishPicture(PictureTarget{format, picture.data(), planes.data()}, kW, kH, params);
        return picture;
    }
    WbLut wb = oracle::Gains(64, 64, 64);
    ToneLut tone = oracle::Tone(100, 0);
};

struct Colour {
    const char* name;
    int b, g, r;
    int y, u, v;
};

// Y = ((66 R + 129 G + 25 B + 128) >> 8) + 16, and so on, worked out by hand.
const Colour kColours[] = {
    {"black", 0, 0, 0, 16, 128, 128},   {"white", 255, 255, 255, 235, 128, 128},
    {"grey", 128, 128, 128, 126, 128, 128}, {"red", 0, 0, 255, 82, 90, 240},
    {"green", 0, 255, 0, 144, 54, 34},  {"blue", 255, 0, 0, 41, 240, 110},
    {"skin", 120, 150, 220, 160, 104, 161},
};

TEST_F(ColourRule, UniformColoursGiveTheirYuvInEveryByteOfEveryFormat)
{
    for (const Colour& c : kColours) {
        const Bytes yuy2 = Finish(PictureFormat::Yuy2, Uniform(c.b, c.g, c.r));
        for (std::size_t i = 0; i < yuy2.size(); i += 4)
            ASSERT_EQ(yuy2[i] * 0x1000000u + yuy2[i + 1] * 0x10000u + yuy2[i + 2] * 0x100u + yuy2[i + 3],
                      c.y * 0x1000000u + c.u * 0x10000u + c.y * 0x100u + c.v)
                << c.name << " YUY2 byte " << i;
        for (PictureFormat format : {PictureFormat::Nv12, PictureFormat::I420}) {
            const Bytes picture = Finish(format, Uniform(c.b, c.g, c.r));
            const std::size_t luma = kW * kH;
            for (std::size_t i = 0; i < picture.size(); ++i) {
                const bool isU = format == PictureFormat::Nv12 ? i % 2 == 0 : i < luma + luma / 4;
                ASSERT_EQ(picture[i], i < luma ? c.y : isU ? c.u : c.v) << c.name << " " << PictureFormatName(format)
                                                                         << " byte " << i;
            }
        }
        const Bytes rgb32 = Finish(PictureFormat::Rgb32, Uniform(c.b, c.g, c.r));
        for (std::size_t i = 0; i < rgb32.size(); i += 4)
            ASSERT_TRUE(rgb32[i] == c.b && rgb32[i + 1] == c.g && rgb32[i + 2] == c.r && rgb32[i + 3] == 0xFF)
                << c.name << " RGB32 byte " << i;
    }
}

// One coloured pixel at the top left of the shown picture, the rest black:
// its pair's chroma in YUY2 and its block's in 4:2:0, from the exact mean
// red (a half or a quarter of the pixel's), every other block black.
// Flipped and mirrored planes put the same pixel at the top left.
struct CornerPixel {
    int red;
    int y;
    int pairU, pairV;    // ((-19 R + 128) >> 8) + 128, ((56 R + 128) >> 8) + 128
    int blockU, blockV;  // ((-19 R + 256) >> 9) + 128, ((56 R + 256) >> 9) + 128
};

const CornerPixel kCorners[] = {
    {255, 82, 109, 184, 119, 156},
    // The pair's mean red, 16.5, rounded first would give U 125.
    {33, 25, 126, 135, 127, 132},
};

TEST_F(ColourRule, ChromaComesFromThePairOrBlockAtTheTopLeftOfTheShownPicture)
{
    for (const CornerPixel& c : kCorners)
        for (int flips = 0; flips < 4; ++flips) {
            const bool reverse = flips & 1, mirror = flips & 2;
            Bytes planes = Uniform(0, 0, 0);
            const int row = reverse ? kH - 1 : 0, column = mirror ? kW - 1 : 0;
            planes[(row * 3 + 2) * kW + column] = static_cast<std::uint8_t>(c.red);
            const std::string name = "red " + std::to_string(c.red) + " flips " + std::to_string(flips);

            const Bytes yuy2 = Finish(PictureFormat::Yuy2, planes, reverse, mirror);
            EXPECT_EQ((std::vector<int>{yuy2[0], yuy2[1], yuy2[2], yuy2[3], yuy2[4], yuy2[5]}),
                      (std::vector<int>{c.y, c.pairU, 16, c.pairV, 16, 128}))
                << name;
            EXPECT_EQ(yuy2[2 * kW + 1], 128) << name << ": the second row's first pair is black";

            const Bytes nv12 = Finish(PictureFormat::Nv12, planes, reverse, mirror);
            const std::size_t luma = kW * kH;
            EXPECT_EQ((std::vector<int>{nv12[0], nv12[1], nv12[kW], nv12[luma], nv12[luma + 1], nv12[luma + 2]}),
                      (std::vector<int>{c.y, 16, 16, c.blockU, c.blockV, 128}))
                << name;
            const Bytes i420 = Finish(PictureFormat::I420, planes, reverse, mirror);
            EXPECT_EQ((std::vector<int>{i420[luma], i420[luma + 1], i420[luma + luma / 4], i420[luma + luma / 4 + 1]}),
                      (std::vector<int>{c.blockU, 128, c.blockV, 128}))
                << name;
        }
}

// ---- The pipeline's refusals ---------------------------------------------------

class CountingHooks final : public FrameHooks {
public:
    void WriteExposure(std::uint16_t, std::uint16_t) override { ++calls; }
    void ReleaseRaw() override { ++calls; }
    void LockSettings() override { ++calls; }
    void UnlockSettings() override { ++calls; }
    int calls = 0;
};

struct PipelineRefusal {
    const char* name;
    PictureFormat format;
    int width, height;
    bool planes;
};

const PipelineRefusal kPipelineRefusals[] = {
    {"YUY2 of odd width", PictureFormat::Yuy2, 63, 8, true},
    {"NV12 of odd height", PictureFormat::Nv12, 64, 7, true},
    {"I420 of odd width", PictureFormat::I420, 63, 8, true},
    {"NV12 without planes", PictureFormat::Nv12, 64, 8, false},
    {"YUY2 without planes", PictureFormat::Yuy2, 64, 8, false},
    {"RGB24 too narrow", PictureFormat::Rgb24, 2, 8, false},
    {"I420 too short", PictureFormat::I420, 64, 2, true},
};

TEST(PipelineFormats, ASizeOrBufferTheFormatCannotUseLeavesEverythingAsItWas)
{
    for (const PipelineRefusal& r : kPipelineRefusals) {
        const std::size_t pixels = static_cast<std::size_t>(r.width) * r.height;
        Bytes raw(pixels, 77), picture(pixels * 4, 0xAB), planes(pixels * 3, 0xCD);
        CameraSettings settings;
        settings.bAutoWB = 1;
        const CameraSettings before = settings;
        FrameTables tables;
        BuildFrameTables(settings, tables);
        DefectTable defects;
        defects.count = 1;
        defects.entries[0] = {5, 1};
        CountingHooks hooks;
        EXPECT_FALSE(RunFramePipeline(raw.data(), PictureTarget{r.format, picture.data(), r.planes ? planes.data() : nullptr},
                                      r.width, r.height, settings, defects, tables, hooks))
            << r.name;
        EXPECT_EQ(hooks.calls, 0) << r.name;
        EXPECT_EQ(raw, Bytes(pixels, 77)) << r.name;
        EXPECT_EQ(picture, Bytes(pixels * 4, 0xAB)) << r.name;
        EXPECT_EQ(planes, Bytes(pixels * 3, 0xCD)) << r.name;
        EXPECT_EQ(settings.bAutoWB, before.bAutoWB) << r.name;
        EXPECT_EQ(settings.AeExposure, before.AeExposure) << r.name;
    }
}

// The RGB formats need no planes buffer: the RGB24 call the pin makes and
// the same through the format's call give the same picture.
TEST(PipelineFormats, Rgb24ThroughEitherCallIsTheSame)
{
    constexpr int kW = 66, kH = 10;
    Bytes raw(kW * kH);
    for (std::size_t i = 0; i < raw.size(); ++i)
        raw[i] = static_cast<std::uint8_t>(i * 37 % 251);
    const auto run = [&](bool formatCall) {
        CameraSettings settings;
        FrameTables tables;
        BuildFrameTables(settings, tables);
        DefectTable defects;
        CountingHooks hooks;
        Bytes rawCopy = raw, picture(kW * kH * 3);
        if (formatCall)
            EXPECT_TRUE(RunFramePipeline(rawCopy.data(), PictureTarget{PictureFormat::Rgb24, picture.data(), nullptr}, kW,
                                         kH, settings, defects, tables, hooks));
        else
            RunFramePipeline(rawCopy.data(), picture.data(), kW, kH, settings, defects, tables, hooks);
        return picture;
    };
    EXPECT_EQ(run(true), run(false));
}

}  // namespace
}  // namespace kv20x
