// The frame-duration table of docs/application-guide.md is the code's own:
// this test computes it and fails, printing the table to paste, when the
// guide says otherwise.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "settings/camera_settings.h"

namespace kv20x {
namespace {

std::string Cell(SizeMode size, std::uint8_t speed, std::uint16_t rows)
{
    const std::int64_t duration = FrameDuration100ns(size, speed, rows);
    char text[48];
    std::snprintf(text, sizeof text, "%lld ms (%.1f/s)", static_cast<long long>(duration / 10000), 1e7 / duration);
    return text;
}

std::string ComputedTable()
{
    const std::uint16_t exposures[] = {1000, 2000, 3000, 4000};
    std::ostringstream table;
    table << "| size | clock (`Speed`) | row time | exposure up to the readout | 1000 rows | 2000 rows | 3000 rows | "
             "4000 rows |\n";
    table << "|---|---|---|---|---|---|---|---|\n";
    for (SizeMode size = 0; size < kSizeModeCount; ++size) {
        for (std::uint8_t speed = 0; speed < 2; ++speed) {
            const std::int32_t readout = SizeModeHeight(size) + 25;
            table << "| " << SizeModeWidth(size) << " x " << SizeModeHeight(size) << " | "
                  << (speed ? "fast (1)" : "normal (0)") << " | " << ComputeExposureTiming(size, speed, 1).rowTime
                  << " us | " << Cell(size, speed, 1) << ", up to " << readout << " rows |";
            for (std::uint16_t rows : exposures)
                table << " " << (rows <= readout ? std::string("same") : Cell(size, speed, rows)) << " |";
            table << "\n";
        }
    }
    return table.str();
}

std::string GuideTable()
{
    std::ifstream guide(KV20X_SOURCE_DIR "/docs/application-guide.md");
    std::stringstream text;
    text << guide.rdbuf();
    const std::string all = text.str();
    const std::string begin = "<!-- frame-durations:begin -->\n", end = "<!-- frame-durations:end -->";
    const size_t from = all.find(begin), to = all.find(end);
    if (from == std::string::npos || to == std::string::npos || to < from)
        return "(no table between the frame-durations markers)";
    return all.substr(from + begin.size(), to - from - begin.size());
}

TEST(ApplicationGuide, FrameDurationTableMatchesTheCode)
{
    const std::string computed = ComputedTable();
    EXPECT_EQ(GuideTable(), computed) << "The table the code gives:\n" << computed;
}

}  // namespace
}  // namespace kv20x
