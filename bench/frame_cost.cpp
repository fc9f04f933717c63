// Runs the whole image pipeline on a number of frames of one size, for
// counting instructions under callgrind (tools/bench-instructions.sh), which
// collects inside RunFramePipeline only.
//   frame_cost <width> <height> <frames>
// KV20X_SIMD=<level> caps the instruction-set level (valgrind runs no
// AVX-512); the level that ran is printed.

#include <cstdio>
#include <cstdlib>

#include "bench_frames.h"

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: frame_cost <width> <height> <frames>\n");
        return 2;
    }
    kv20x::SimdLevel level;
    if (!kv20x::bench::CappedLevel(level))
        return 2;
    const int w = std::atoi(argv[1]), h = std::atoi(argv[2]), frames = std::atoi(argv[3]);
    kv20x::bench::BenchFrame frame = kv20x::bench::MakeFrame(w, h);
    kv20x::CameraSettings settings;
    kv20x::UpdateExposureTiming(settings);
    kv20x::DefectTable defects;
    kv20x::FrameTables tables;
    kv20x::BuildFrameTables(settings, tables);
    kv20x::bench::NullHooks hooks;
    for (int i = 0; i < frames; ++i)
        kv20x::RunFramePipeline(frame.raw.data(), frame.picture.data(), w, h, settings, defects, tables, hooks, level);
    std::printf("%d frames of %dx%d on %s, checksum %u\n", frames, w, h, kv20x::SimdLevelName(level),
                frame.picture[frame.picture.size() / 2]);
    return 0;
}
