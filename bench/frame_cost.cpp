// Runs the whole image pipeline on a number of frames of one size, for
// counting instructions under callgrind (tools/bench-instructions.sh), which
// collects inside RunFramePipeline only.
//   frame_cost <width> <height> <frames> [rgb24|rgb32|yuy2|nv12|i420]
// KV20X_SIMD=<level> caps the instruction-set level (valgrind runs no
// AVX-512); the level that ran is printed.

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_frames.h"

int main(int argc, char** argv)
{
    kv20x::PictureFormat format = kv20x::PictureFormat::Rgb24;
    if ((argc != 4 && argc != 5) || (argc == 5 && !kv20x::ParsePictureFormat(argv[4], format))) {
        std::fprintf(stderr, "usage: frame_cost <width> <height> <frames> [rgb24|rgb32|yuy2|nv12|i420]\n");
        return 2;
    }
    kv20x::SimdLevel level;
    if (!kv20x::bench::CappedLevel(level))
        return 2;
    const int w = std::atoi(argv[1]), h = std::atoi(argv[2]), frames = std::atoi(argv[3]);
    const kv20x::PictureLayout layout = kv20x::LayoutOf(format, w, h);
    if (!layout.valid || w < 3 || h < 3) {
        std::fprintf(stderr, "frame_cost: %s cannot be made at %dx%d\n", kv20x::PictureFormatName(format), w, h);
        return 2;
    }
    kv20x::bench::BenchFrame frame = kv20x::bench::MakeFrame(w, h);
    std::vector<std::uint8_t> picture(layout.imageBytes), planes(layout.planesBytes);
    kv20x::CameraSettings settings;
    kv20x::UpdateExposureTiming(settings);
    kv20x::DefectTable defects;
    kv20x::FrameTables tables;
    kv20x::BuildFrameTables(settings, tables);
    kv20x::bench::NullHooks hooks;
    const kv20x::PictureTarget target{format, picture.data(), planes.data()};
    for (int i = 0; i < frames; ++i)
        kv20x::RunFramePipeline(frame.raw.data(), target, w, h, settings, defects, tables, hooks, level);
    std::printf("%d frames of %dx%d %s on %s, checksum %u\n", frames, w, h, kv20x::PictureFormatName(format),
                kv20x::SimdLevelName(level), picture[picture.size() / 2]);
    return 0;
}
