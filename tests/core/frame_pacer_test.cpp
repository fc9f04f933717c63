// Holding frames back to keep a connection's rate: which frames go out and
// how their samples are stamped.

#include <gtest/gtest.h>

#include <vector>

#include "pin/frame_pacer.h"

namespace kv20x {
namespace {

struct PacedRun {
    int delivered = 0;
    std::vector<std::int64_t> starts, stops;
};

// `frames` frames of the given durations (the last repeating) through a
// pacer keeping `interval`.
PacedRun Pace(std::int64_t interval, int frames, std::vector<std::int64_t> durations)
{
    FramePacer pacer;
    pacer.Reset(interval);
    PacedRun run;
    for (int i = 0; i < frames; ++i) {
        const std::int64_t duration = durations[i < static_cast<int>(durations.size()) ? i : durations.size() - 1];
        std::int64_t start = -1, stop = -1;
        if (pacer.Take(duration, &start, &stop)) {
            ++run.delivered;
            run.starts.push_back(start);
            run.stops.push_back(stop);
        }
    }
    return run;
}

TEST(FramePacer, KeepsTheAverageRateAndStampsContiguously)
{
    const struct {
        const char* what;
        std::int64_t interval, duration;
        int frames, delivered;
    } cases[] = {
        {"no interval: every frame", 0, 250000, 400, 400},
        {"40 frames/s kept at 30", 333333, 250000, 400, 300},
        {"40 frames/s kept at 15", 666667, 250000, 400, 150},
        {"22.2 frames/s kept at 20", 500000, 450000, 400, 360},
        {"13.2 frames/s kept at 2.6 (the slowest offered)", 3840000, 760000, 500, 99},
        {"an interval equal to the frame: every frame", 420000, 420000, 400, 400},
        {"a camera slower than asked: every frame", 250000, 450000, 400, 400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const PacedRun run = Pace(c.interval, c.frames, {c.duration});
        EXPECT_NEAR(run.delivered, c.delivered, 1);
        ASSERT_FALSE(run.starts.empty());
        EXPECT_EQ(run.starts[0], 0) << "a run starts at 0";
        EXPECT_EQ(run.stops[0], c.duration) << "the first frame always goes out";
        for (size_t i = 1; i < run.starts.size(); ++i) {
            EXPECT_EQ(run.starts[i], run.stops[i - 1]) << i;
            // A sample spans the frames held back before it: never shorter
            // than a frame, never longer than the interval plus a frame.
            EXPECT_GE(run.stops[i] - run.starts[i], c.duration);
            EXPECT_LE(run.stops[i] - run.starts[i], c.interval + c.duration);
        }
        // The stream time is the camera's: the last stop is where the camera is.
        EXPECT_LE(run.stops.back(), c.frames * c.duration);
        EXPECT_GT(run.stops.back(), c.frames * c.duration - (c.interval + c.duration));
    }
}

TEST(FramePacer, ASlowSpellIsNotMadeUpByABurst)
{
    // 25 ms frames kept at 33.3 ms; 20 frames of 100 ms (a long manual
    // exposure) in between; then 25 ms again.
    std::vector<std::int64_t> durations(40, 250000);
    durations.insert(durations.end(), 20, 1000000);
    durations.push_back(250000);
    FramePacer pacer;
    pacer.Reset(333333);
    int afterSpell = 0;
    for (size_t i = 0; i < 100; ++i) {
        const std::int64_t d = durations[i < durations.size() ? i : durations.size() - 1];
        std::int64_t start = 0, stop = 0;
        const bool out = pacer.Take(d, &start, &stop);
        if (i >= 40 && i < 60) {
            EXPECT_TRUE(out) << "every slow frame goes out, " << i;
        }
        if (i >= 60 && out)
            ++afterSpell;
    }
    // 40 frames of 25 ms after the spell: 1 s at 30 frames/s.
    EXPECT_NEAR(afterSpell, 30, 1);
}

TEST(FramePacer, ResetStartsAFreshRun)
{
    FramePacer pacer;
    pacer.Reset(333333);
    std::int64_t start = 0, stop = 0;
    for (int i = 0; i < 7; ++i)
        pacer.Take(250000, &start, &stop);
    pacer.Reset(-5);  // nonsense: every frame
    EXPECT_EQ(pacer.Interval(), 0);
    ASSERT_TRUE(pacer.Take(250000, &start, &stop));
    EXPECT_EQ(start, 0);
    EXPECT_EQ(stop, 250000);
    ASSERT_TRUE(pacer.Take(250000, &start, &stop));
    EXPECT_EQ(start, 250000);
}

}  // namespace
}  // namespace kv20x
