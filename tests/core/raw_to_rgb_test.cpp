#include <gtest/gtest.h>

#include <random>

#include "imaging/raw_to_rgb.h"
#include "support/pipeline_oracle.h"

namespace kv20x {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Rgb {
    int b, g, r;
    bool operator==(const Rgb&) const = default;
};

Rgb At(const Bytes& pic, int w, int y, int x)
{
    const std::uint8_t* p = &pic[(static_cast<size_t>(y) * w + x) * 3];
    return {p[0], p[1], p[2]};
}

Bytes Reconstruct(const Bytes& raw, int w, int h, PictureStats* stats = nullptr)
{
    Bytes pic(static_cast<size_t>(w) * h * 3, 0xCD);
    ReconstructColour(raw.data(), pic.data(), w, h, stats);
    oracle::ToPacked(pic.data(), w, h);
    return pic;
}

TEST(ReconstructColour, UniformFrameGivesItsValueInsideABlackBorder)
{
    const int w = 16, h = 12;
    const Bytes pic = Reconstruct(Bytes(w * h, 77), w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool border = y == 0 || y == h - 1 || x == 0 || x == w - 1;
            EXPECT_EQ(At(pic, w, y, x), (border ? Rgb{0, 0, 0} : Rgb{77, 77, 77})) << y << "," << x;
        }
}

TEST(ReconstructColour, ASingleRedSiteSpreadsToItsNeighbours)
{
    const int w = 10, h = 8, C = 200;
    Bytes raw(w * h, 0);
    raw[2 * w + 3] = C;  // row 2, column 3: a red site
    const Bytes pic = Reconstruct(raw, w, h);
    EXPECT_EQ(At(pic, w, 2, 3), (Rgb{0, 0, C}));
    for (auto [y, x] : {std::pair{2, 2}, std::pair{2, 4}, std::pair{1, 3}, std::pair{3, 3}})
        EXPECT_EQ(At(pic, w, y, x), (Rgb{0, 0, C >> 1})) << y << "," << x;
    for (auto [y, x] : {std::pair{1, 2}, std::pair{1, 4}, std::pair{3, 2}, std::pair{3, 4}})
        EXPECT_EQ(At(pic, w, y, x), (Rgb{0, 0, C >> 2})) << y << "," << x;
    int lit = 0;
    for (size_t i = 0; i < pic.size(); ++i)
        lit += pic[i] != 0;
    EXPECT_EQ(lit, 9);
}

TEST(ReconstructColour, GreenAtGreenSitesAveragesWithTheUpperRightGreen)
{
    const int w = 8, h = 6;
    Bytes raw(w * h, 0);
    raw[1 * w + 5] = 100;  // a green site of an odd row
    const Bytes pic = Reconstruct(raw, w, h);
    EXPECT_EQ(At(pic, w, 2, 4).g, 50);  // its lower-left green neighbour
    EXPECT_EQ(At(pic, w, 1, 5).g, 50);
}

TEST(ReconstructColour, MatchesThePlainFormulasOnRandomFramesOfEverySize)
{
    std::mt19937 rng(7);
    for (auto [w, h] : {std::pair{2048, 1536}, std::pair{1024, 768}, std::pair{640, 480}, std::pair{6, 4}}) {
        Bytes raw(static_cast<size_t>(w) * h);
        for (auto& v : raw)
            v = static_cast<std::uint8_t>(rng());
        PictureStats stats;
        stats.gatherWindow = true;
        stats.gatherTotal = true;
        const Bytes pic = Reconstruct(raw, w, h, &stats);
        const Bytes expected = oracle::Demosaic(raw, w, h);
        ASSERT_TRUE(pic == expected) << w << "x" << h;
        std::uint32_t window[3], total[3];
        oracle::Sums(expected, w, w / 4, 3 * w / 4, h / 4, 3 * h / 4, window);
        oracle::Sums(expected, w, 0, w, 0, h, total);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(stats.window[c], window[c]) << w << " channel " << c;
            EXPECT_EQ(stats.total[c], total[c]) << w << " channel " << c;
        }
        // The window alone, as the auto exposure asks for it.
        PictureStats windowOnly;
        windowOnly.gatherWindow = true;
        Reconstruct(raw, w, h, &windowOnly);
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(windowOnly.window[c], window[c]);
    }
}

TEST(CorrectDefects, CopiesTheNearestSameColourPixelOnTheLeft)
{
    const int w = 12, h = 12;
    Bytes raw(w * h);
    for (int i = 0; i < w * h; ++i)
        raw[i] = static_cast<std::uint8_t>(i);
    DefectTable table;
    table.entries[0] = {2, 10};  // too close to the edge: skipped
    table.entries[1] = {3, 10};
    table.entries[2] = {5, 10};  // copies the value entry 1 has just repaired
    table.count = 3;
    Bytes fixed = raw;
    CorrectDefects(fixed.data(), w, h, table);
    EXPECT_EQ(fixed[10 * w + 2], raw[10 * w + 2]);
    EXPECT_EQ(fixed[10 * w + 3], raw[10 * w + 1]);
    EXPECT_EQ(fixed[10 * w + 5], raw[10 * w + 1]);
}

TEST(CorrectDefects, EntriesOutsideTheFrameNeverTouchIt)
{
    const int w = 8, h = 4;
    Bytes raw(w * h, 9);
    raw[1 * w + 6] = 1;
    DefectTable table;
    table.entries[0] = {8, 0};     // one past the row: would wrap into row 1
    table.entries[1] = {100, 1};
    table.entries[2] = {4, -1};
    table.entries[3] = {4, 4};
    table.entries[4] = {-3, 2};
    table.count = 5;
    Bytes fixed = raw;
    CorrectDefects(fixed.data(), w, h, table);
    EXPECT_TRUE(fixed == raw);
}

}  // namespace
}  // namespace kv20x
