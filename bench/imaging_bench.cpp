// Time per frame of the whole image pipeline and of each step, at the three
// sizes, on the simulated camera's chart with the default settings.
// Time per frame in ms, and counters of frames and pixels per second.

#include <benchmark/benchmark.h>

#include "bench_frames.h"
#include "imaging/auto_exposure.h"
#include "imaging/finish_picture.h"
#include "imaging/raw_to_rgb.h"

namespace kv20x::bench {
namespace {

constexpr int kSizes[3][2] = {{2048, 1536}, {1024, 768}, {640, 480}};

void Report(benchmark::State& state, int width, int height)
{
    const double pixels = static_cast<double>(width) * height;
    // The Time column is the time per frame in ms.
    state.counters["frames_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["pixels_per_s"] =
        benchmark::Counter(pixels * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(std::to_string(width) + "x" + std::to_string(height));
}

void WholeFrame(benchmark::State& state)
{
    const int w = kSizes[state.range(0)][0], h = kSizes[state.range(0)][1];
    BenchFrame frame = MakeFrame(w, h);
    CameraSettings settings;
    UpdateExposureTiming(settings);
    DefectTable defects;
    FrameTables tables;
    BuildFrameTables(settings, tables);
    NullHooks hooks;
    std::vector<std::uint8_t> raw = frame.raw;
    for (auto _ : state) {
        RunFramePipeline(raw.data(), frame.picture.data(), w, h, settings, defects, tables, hooks);
        benchmark::DoNotOptimize(frame.picture.data());
    }
    Report(state, w, h);
}

void Reconstruct(benchmark::State& state)
{
    const int w = kSizes[state.range(0)][0], h = kSizes[state.range(0)][1];
    BenchFrame frame = MakeFrame(w, h);
    for (auto _ : state) {
        PictureStats stats;
        stats.gatherWindow = true;
        ReconstructColour(frame.raw.data(), frame.picture.data(), w, h, &stats);
        benchmark::DoNotOptimize(stats.window[0]);
    }
    Report(state, w, h);
}

void Finish(benchmark::State& state, ColourStage stage)
{
    const int w = kSizes[state.range(0)][0], h = kSizes[state.range(0)][1];
    BenchFrame frame = MakeFrame(w, h);
    ReconstructColour(frame.raw.data(), frame.picture.data(), w, h);
    CameraSettings settings;
    FrameTables tables;
    BuildFrameTables(settings, tables);
    FinishParams params;
    params.stage = stage;
    params.wb = &tables.wb;
    params.tone = &tables.tone;
    params.product = Multiply(FromArray(kColourMatrix), SaturationMatrix(100));
    params.mirrorRows = true;
    for (auto _ : state) {
        FinishPicture(frame.picture.data(), w, h, params);
        benchmark::DoNotOptimize(frame.picture.data());
    }
    Report(state, w, h);
}

void FinishMatrix(benchmark::State& state) { Finish(state, ColourStage::WhiteBalanceMatrix); }
void FinishWhiteBalance(benchmark::State& state) { Finish(state, ColourStage::WhiteBalanceOnly); }
void FinishMono(benchmark::State& state) { Finish(state, ColourStage::Mono); }

void Defects(benchmark::State& state)
{
    const int w = kSizes[state.range(0)][0], h = kSizes[state.range(0)][1];
    BenchFrame frame = MakeFrame(w, h);
    DefectTable table;
    table.count = DefectTable::kCapacity;
    for (std::uint32_t i = 0; i < table.count; ++i)
        table.entries[i] = {static_cast<std::int16_t>(3 + i * 7), static_cast<std::int16_t>(i * 3)};
    for (auto _ : state) {
        CorrectDefects(frame.raw.data(), w, h, table);
        benchmark::DoNotOptimize(frame.raw.data());
    }
    Report(state, w, h);
}

BENCHMARK(WholeFrame)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(Reconstruct)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(FinishMatrix)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(FinishWhiteBalance)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(FinishMono)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(Defects)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kv20x::bench

BENCHMARK_MAIN();
