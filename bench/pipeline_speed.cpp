// Milliseconds per frame of the whole image pipeline on every instruction-set
// level this processor has, against the same chain of steps in OpenCV (one
// thread and its default threads) and against the memory floor: reading the
// raw frame once and writing the picture once. Then every picture format at
// every level, each against RGB24 at the same level. Medians of the frames'
// times, at the three sizes, on the simulated camera's chart with the
// default settings (auto exposure on, colour matrix on).
//   pipeline_speed [frames]          (default 60; at least 50 for the figures)
// KV20X_SIMD=<level> caps the levels tried (plain, sse2, ssse3, avx2, avx512).
// The Windows builds (run under Wine, to compare the 32-bit module's levels
// with the 64-bit one's) have no OpenCV and leave its chain out.

#if KV20X_WITH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_frames.h"

namespace kv20x::bench {
namespace {

struct Candidate {
    std::string name;
    std::function<void()> frame;
    std::vector<double> ms;
};

// Milliseconds on a clock that, natively, runs only while this thread does:
// time the thread spends waiting for the processor while other programs on
// this shared machine run does not count. The Windows builds, under Wine,
// take the elapsed time.
double NowMs()
{
#if defined(CLOCK_THREAD_CPUTIME_ID) && !defined(_WIN32)
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
#else
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
#endif
}

// Round robin: each frame runs every candidate once, so that a burst of
// other work on this shared machine slows all of them alike and the ratios
// hold even when the times move.
void Measure(std::vector<Candidate>& candidates, int frames)
{
    for (int i = 0; i < 3; ++i)
        for (Candidate& c : candidates)
            c.frame();  // warm the caches and any lazily built state
    for (int i = 0; i < frames; ++i)
        for (Candidate& c : candidates) {
            const double start = NowMs();
            c.frame();
            c.ms.push_back(NowMs() - start);
        }
}

double Median(std::vector<double> ms)
{
    std::nth_element(ms.begin(), ms.begin() + ms.size() / 2, ms.end());
    return ms[ms.size() / 2];
}

#if KV20X_WITH_OPENCV
// Demosaic (the pattern that matches G R / B G), the exposure window's sum,
// white balance through a table, the 3 x 3 colour matrix, the tone table and
// the mirror: this module's steps in OpenCV's general-purpose forms.
class OpenCvChain {
public:
    OpenCvChain(const BenchFrame& frame, const CameraSettings& settings, const FrameTables& tables)
        : m_raw(frame.height, frame.width, CV_8UC1, const_cast<std::uint8_t*>(frame.raw.data())),
          m_window(frame.width / 4, frame.height / 4, frame.width / 2, frame.height / 2),
          m_wb(1, 256, CV_8UC3), m_tone(1, 256, CV_8UC1), m_matrix(3, 3, CV_32F)
    {
        for (int i = 0; i < 256; ++i) {
            m_wb.at<cv::Vec3b>(0, i) = cv::Vec3b(tables.wb.blue[i], tables.wb.green[i], tables.wb.red[i]);
            m_tone.at<std::uint8_t>(0, i) = tables.tone.table[i];
        }
        const ColourMatrix4 p = Multiply(FromArray(settings.ColourMatrix), SaturationMatrix(settings.Saturation));
        // Rows: output blue, green, red; columns: input blue, green, red.
        for (int out = 0; out < 3; ++out)
            for (int in = 0; in < 3; ++in)
                m_matrix.at<float>(out, in) = static_cast<float>(p.m[2 - in][2 - out]) / 16384.0f;
    }
    void Frame()
    {
        cv::cvtColor(m_raw, m_bgr, cv::COLOR_BayerGB2BGR);
        m_sum = cv::sum(m_bgr(m_window));
        cv::LUT(m_bgr, m_wb, m_balanced);
        cv::transform(m_balanced, m_mixed, m_matrix);
        cv::LUT(m_mixed, m_tone, m_toned);
        cv::flip(m_toned, m_out, 1);
    }

private:
    cv::Mat m_raw;
    cv::Rect m_window;
    cv::Mat m_wb, m_tone, m_matrix;
    cv::Mat m_bgr, m_balanced, m_mixed, m_toned, m_out;
    cv::Scalar m_sum;
};
#endif

struct Row {
    std::string name;
    double ms;
};

}  // namespace
}  // namespace kv20x::bench

int main(int argc, char** argv)
{
    using namespace kv20x;
    using namespace kv20x::bench;
    const int frames = argc > 1 ? std::atoi(argv[1]) : 60;
    if (frames < 1) {
        std::fprintf(stderr, "usage: pipeline_speed [frames]\n");
        return 2;
    }
    SimdLevel cap;
    if (!CappedLevel(cap))
        return 2;
#if KV20X_WITH_OPENCV
    const int defaultThreads = cv::getNumThreads();
    std::printf("best level here: %s; OpenCV %s, default threads %d; median of %d frames\n",
                SimdLevelName(BestSimdLevel()), CV_VERSION, defaultThreads, frames);
#else
    std::printf("best level here: %s (%d-bit build, no OpenCV); median of %d frames\n",
                SimdLevelName(BestSimdLevel()), static_cast<int>(sizeof(void*) * 8), frames);
#endif

    const int sizes[3][2] = {{2048, 1536}, {1024, 768}, {640, 480}};
    for (const auto& size : sizes) {
        const int w = size[0], h = size[1];
        BenchFrame frame = MakeFrame(w, h);
        std::vector<Candidate> candidates;

        // Each level and format with its own settings, tables and raw copy;
        // each format writes a picture of its own, and the YUV ones share
        // one planes buffer.
        struct LevelState {
            CameraSettings settings;
            DefectTable defects;
            FrameTables tables;
            NullHooks hooks;
            std::vector<std::uint8_t> raw;
        };
        std::vector<std::unique_ptr<LevelState>> states;
        std::vector<std::vector<std::uint8_t>> pictures;
        for (int f = 0; f < kPictureFormatCount; ++f)
            pictures.emplace_back(LayoutOf(static_cast<PictureFormat>(f), w, h).imageBytes);
        std::vector<std::uint8_t> planes(static_cast<std::size_t>(w) * h * 3);
        std::vector<std::string> levelNames;
        for (int i = static_cast<int>(cap); i >= 0; --i) {
            const auto level = static_cast<SimdLevel>(i);
            if (!SimdLevelUsable(level))
                continue;
            levelNames.push_back(SimdLevelName(level));
            for (int f = 0; f < kPictureFormatCount; ++f) {
                auto state = std::make_unique<LevelState>();
                UpdateExposureTiming(state->settings);
                BuildFrameTables(state->settings, state->tables);
                state->raw = frame.raw;
                LevelState* s = state.get();
                states.push_back(std::move(state));
                const PictureTarget target{static_cast<PictureFormat>(f), pictures[f].data(), planes.data()};
                candidates.push_back({std::string("this module, ") + SimdLevelName(level) + ", " +
                                          PictureFormatName(target.format),
                                      [s, target, w, h, level] {
                                          RunFramePipeline(s->raw.data(), target, w, h, s->settings, s->defects,
                                                           s->tables, s->hooks, level);
                                      },
                                      {}});
            }
        }
        const std::size_t levels = candidates.size();

#if KV20X_WITH_OPENCV
        CameraSettings settings;
        FrameTables tables;
        BuildFrameTables(settings, tables);
        OpenCvChain chain(frame, settings, tables);
        candidates.push_back({"OpenCV chain, 1 thread", [&chain] {
                                  cv::setNumThreads(1);
                                  chain.Frame();
                              }, {}});
        candidates.push_back({"OpenCV chain, " + std::to_string(defaultThreads) + " threads", [&chain, defaultThreads] {
                                  cv::setNumThreads(defaultThreads);
                                  chain.Frame();
                              }, {}});
#endif

        const std::size_t stride = static_cast<std::size_t>(w) * 3;
        candidates.push_back({"memory floor", [&frame, w, h, stride] {
                                  for (int y = 0; y < h; ++y) {
                                      const std::uint8_t* in = frame.raw.data() + static_cast<std::size_t>(y) * w;
                                      std::uint8_t* out = frame.picture.data() + y * stride;
                                      std::memcpy(out, in, w);
                                      std::memcpy(out + w, in, w);
                                      std::memcpy(out + 2 * w, in, w);
                                  }
                              }, {}});

        Measure(candidates, frames);
        std::vector<Row> rows;
        for (const Candidate& c : candidates)
            rows.push_back({c.name, Median(c.ms)});
        // RGB24 at each level, then the others.
        std::vector<Row> shown;
        for (std::size_t i = 0; i < levels; i += kPictureFormatCount)
            shown.push_back({"this module, " + levelNames[i / kPictureFormatCount], rows[i].ms});
        shown.insert(shown.end(), rows.begin() + static_cast<std::ptrdiff_t>(levels), rows.end());
#if KV20X_WITH_OPENCV
        const double cv1 = rows[levels].ms, cvDefault = rows[levels + 1].ms, floorMs = rows[levels + 2].ms;
        std::printf("\n%dx%d, RGB24\n%-28s %10s %16s %16s %12s\n", w, h, "", "ms/frame", "OpenCV default /",
                    "OpenCV 1 thread /", "/ floor");
        for (const Row& row : shown)
            std::printf("%-28s %10.2f %16.2f %16.2f %12.1f\n", row.name.c_str(), row.ms, cvDefault / row.ms,
                        cv1 / row.ms, row.ms / floorMs);
#else
        const double floorMs = rows[levels].ms;
        std::printf("\n%dx%d, RGB24\n%-28s %10s %12s\n", w, h, "", "ms/frame", "/ floor");
        for (const Row& row : shown)
            std::printf("%-28s %10.2f %12.1f\n", row.name.c_str(), row.ms, row.ms / floorMs);
#endif
        std::printf("\n%dx%d, ms/frame of each format (and / RGB24 of the same level)\n%-8s", w, h, "");
        for (int f = 0; f < kPictureFormatCount; ++f)
            std::printf(" %15s", PictureFormatName(static_cast<PictureFormat>(f)));
        std::printf("\n");
        for (std::size_t i = 0; i < levels; i += kPictureFormatCount) {
            std::printf("%-8s %15.2f", levelNames[i / kPictureFormatCount].c_str(), rows[i].ms);
            for (int f = 1; f < kPictureFormatCount; ++f)
                std::printf("    %5.2f (%4.2f)", rows[i + f].ms, rows[i + f].ms / rows[i].ms);
            std::printf("\n");
        }
    }
    return 0;
}
