#pragma once
// Plain, obviously correct forms of every image pipeline step, written
// straight from the formulas, one pass per step. The product code's faster
// forms must agree with these byte for byte.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/auto_exposure.h"
#include "imaging/colour_tables.h"
#include "imaging/frame_pipeline.h"
#include "imaging/picture_format.h"
#include "imaging/pipeline_kernels.h"
#include "settings/defect_table.h"
#include "settings/camera_settings.h"

namespace kv20x::oracle {

using Bytes = std::vector<std::uint8_t>;

inline std::uint8_t Raw(const Bytes& raw, int w, int y, int x) { return raw[static_cast<size_t>(y) * w + x]; }

inline void CorrectDefects(Bytes& raw, int w, int h, const DefectTable& t)
{
    for (std::uint32_t i = 0; i < t.count; ++i) {
        const int x = t.entries[i].x, y = t.entries[i].y;
        if (x > 2 && x < w && y >= 0 && y < h)
            raw[static_cast<size_t>(y) * w + x] = raw[static_cast<size_t>(y) * w + x - 2];
    }
}

inline Bytes Demosaic(const Bytes& raw, int w, int h)
{
    Bytes pic(static_cast<size_t>(w) * h * 3, 0);
    for (int y = 1; y <= h - 2; ++y)
        for (int x = 1; x <= w - 2; ++x) {
            const int C = Raw(raw, w, y, x), L = Raw(raw, w, y, x - 1), R = Raw(raw, w, y, x + 1);
            const int U = Raw(raw, w, y - 1, x), D = Raw(raw, w, y + 1, x);
            const int UL = Raw(raw, w, y - 1, x - 1), UR = Raw(raw, w, y - 1, x + 1);
            const int DL = Raw(raw, w, y + 1, x - 1), DR = Raw(raw, w, y + 1, x + 1);
            int b, g, r;
            if (y % 2 == 0 && x % 2 == 0) {
                b = (U + D) >> 1, g = (C + UR) >> 1, r = (L + R) >> 1;
            } else if (y % 2 == 0) {
                b = (UL + UR + DL + DR) >> 2, g = (L + R + U + D) >> 2, r = C;
            } else if (x % 2 == 0) {
                b = C, g = (L + R + U + D) >> 2, r = (UL + UR + DL + DR) >> 2;
            } else {
                b = (L + R) >> 1, g = (C + UR) >> 1, r = (U + D) >> 1;
            }
            std::uint8_t* p = &pic[(static_cast<size_t>(y) * w + x) * 3];
            p[0] = static_cast<std::uint8_t>(b), p[1] = static_cast<std::uint8_t>(g), p[2] = static_cast<std::uint8_t>(r);
        }
    return pic;
}

inline void Mono(Bytes& pic)
{
    for (size_t i = 0; i < pic.size(); i += 3) {
        const int grey = (30 * pic[i + 2] + 59 * pic[i + 1] + 11 * pic[i]) / 100;
        pic[i] = pic[i + 1] = pic[i + 2] = static_cast<std::uint8_t>(grey);
    }
}

inline WbLut Gains(int r, int g, int b)
{
    WbLut lut{};
    for (int i = 0; i < 256; ++i) {
        lut.red[i] = static_cast<std::uint8_t>(i * r >= 16384 ? 255 : (i * r) >> 6);
        lut.green[i] = static_cast<std::uint8_t>(i * g >= 16384 ? 255 : (i * g) >> 6);
        lut.blue[i] = static_cast<std::uint8_t>(i * b >= 16384 ? 255 : (i * b) >> 6);
    }
    return lut;
}

inline void WhiteBalanceOnly(Bytes& pic, const WbLut& t)
{
    for (size_t i = 0; i < pic.size(); i += 3) {
        pic[i] = t.blue[pic[i]];
        pic[i + 1] = t.green[pic[i + 1]];
        pic[i + 2] = t.red[pic[i + 2]];
    }
}

inline ColourMatrix4 Saturation(int s)
{
    const int kR = static_cast<int>(std::floor(315.0 * (128 - s) / 1024.0));
    const int kG = static_cast<int>(std::floor(624.0 * (128 - s) / 1024.0));
    const int kB = static_cast<int>(std::floor(84.0 * (128 - s) / 1024.0));
    return {{{s + kR, kR, kR, 0}, {kG, s + kG, kG, 0}, {kB, kB, s + kB, 0}, {0, 0, 0, 1}}};
}

// Gain tables, then any product matrix (scale 2^14), clamped.
inline void WhiteBalanceWithProduct(Bytes& pic, const WbLut& t, const ColourMatrix4& P)
{
    for (size_t i = 0; i < pic.size(); i += 3) {
        const int in[3] = {t.red[pic[i + 2]], t.green[pic[i + 1]], t.blue[pic[i]]};
        int out[3];
        for (int j = 0; j < 3; ++j) {
            const long long v = static_cast<long long>(in[0]) * P.m[0][j] + static_cast<long long>(in[1]) * P.m[1][j] +
                                static_cast<long long>(in[2]) * P.m[2][j] + P.m[3][j];
            out[j] = v >= 4194304 ? 255 : v < 0 ? 0 : static_cast<int>(v >> 14);
        }
        pic[i] = static_cast<std::uint8_t>(out[2]);
        pic[i + 1] = static_cast<std::uint8_t>(out[1]);
        pic[i + 2] = static_cast<std::uint8_t>(out[0]);
    }
}

inline void WhiteBalanceWithMatrix(Bytes& pic, const WbLut& t, int saturation)
{
    const ColourMatrix4 S = Saturation(saturation);
    ColourMatrix4 P{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k)
                P.m[i][j] += kColourMatrix[i][k] * S.m[k][j];
    WhiteBalanceWithProduct(pic, t, P);
}

// Exact whole numbers of any size, for the gamma curve's exact floor.
class Natural {
public:
    explicit Natural(std::uint32_t v) : m_words{v} {}
    void Multiply(std::uint32_t factor, int times)
    {
        for (int t = 0; t < times; ++t) {
            std::uint64_t carry = 0;
            for (auto& w : m_words) {
                const std::uint64_t p = static_cast<std::uint64_t>(w) * factor + carry;
                w = static_cast<std::uint32_t>(p);
                carry = p >> 32;
            }
            if (carry)
                m_words.push_back(static_cast<std::uint32_t>(carry));
        }
        while (m_words.size() > 1 && m_words.back() == 0)
            m_words.pop_back();
    }
    friend bool operator<=(const Natural& l, const Natural& r)
    {
        if (l.m_words.size() != r.m_words.size())
            return l.m_words.size() < r.m_words.size();
        for (std::size_t i = l.m_words.size(); i-- > 0;)
            if (l.m_words[i] != r.m_words[i])
                return l.m_words[i] < r.m_words[i];
        return true;
    }

private:
    std::vector<std::uint32_t> m_words;
};

// floor(255 (i / 255)^(gamma / 100)), exactly. Far from a whole number the
// floating-point value's floor is it, whatever the arithmetic; next to one,
// with gamma / 100 = b / a in lowest terms, k is at most the value when
// k^a 255^b <= i^b 255^a, and the integers decide.
inline int GammaFloor(int i, int gamma)
{
    const double approx = std::pow(i / 255.0, gamma / 100.0) * 255.0;
    int k = static_cast<int>(std::floor(approx + 0.5));
    k = k < 0 ? 0 : k > 255 ? 255 : k;
    if (std::fabs(approx - k) > 1e-7)
        return approx >= 255 ? 255 : static_cast<int>(std::floor(approx));
    int d = 100, r = gamma;
    while (r) {
        const int t = d % r;
        d = r;
        r = t;
    }
    const int a = 100 / d, b = gamma / d;
    const auto atMost = [&](int candidate) {
        Natural left(1), right(1);
        left.Multiply(static_cast<std::uint32_t>(candidate), a);
        left.Multiply(255, b);
        right.Multiply(static_cast<std::uint32_t>(i), b);
        right.Multiply(255, a);
        return left <= right;
    };
    while (k > 0 && !atMost(k))
        --k;
    while (k < 255 && atMost(k + 1))
        ++k;
    return k;
}

inline ToneLut Tone(int gamma, int contrast)
{
    ToneLut lut{};
    for (int i = 0; i < 256; ++i) {
        const int ti = GammaFloor(i, gamma);
        const int e = std::abs(ti - 128) * contrast / 128;
        lut.table[i] = static_cast<std::uint8_t>(ti >= 128 ? std::min(255, ti + e) : std::max(0, ti - e));
    }
    return lut;
}

inline void ApplyTone(Bytes& pic, const ToneLut& t)
{
    for (auto& byte : pic)
        byte = t.table[byte];
}

inline void FlipRows(Bytes& pic, int w, int h)
{
    const size_t stride = static_cast<size_t>(w) * 3;
    Bytes temp(stride);
    for (int i = 0; i < h / 2; ++i) {
        std::uint8_t* a = &pic[i * stride];
        std::uint8_t* b = &pic[(h - 1 - i) * stride];
        std::memcpy(temp.data(), a, stride);
        std::memcpy(a, b, stride);
        std::memcpy(b, temp.data(), stride);
    }
}

inline void MirrorRows(Bytes& pic, int w, int h)
{
    for (int y = 0; y < h; ++y)
        for (int k = 0; k < w / 2; ++k)
            for (int c = 0; c < 3; ++c)
                std::swap(pic[(static_cast<size_t>(y) * w + k) * 3 + c], pic[(static_cast<size_t>(y) * w + w - 1 - k) * 3 + c]);
}

// The finishing steps in their order: colour stage, tone, flip, mirror.
inline void FinishSteps(Bytes& pic, int w, int h, ColourStage stage, const WbLut& wb, const ToneLut& tone,
                        int saturation, bool reverse, bool mirror)
{
    if (stage == ColourStage::Mono)
        Mono(pic);
    else if (stage == ColourStage::WhiteBalanceOnly)
        WhiteBalanceOnly(pic, wb);
    else
        WhiteBalanceWithMatrix(pic, wb, saturation);
    ApplyTone(pic, tone);
    if (reverse)
        FlipRows(pic, w, h);
    if (mirror)
        MirrorRows(pic, w, h);
}

// Packed pixels to the layout between the two passes (each row as its
// blue, green and red planes), or back.
inline void Relayout(std::uint8_t* pic, int w, int h, bool toPlanes)
{
    const size_t stride = static_cast<size_t>(w) * 3;
    Bytes row(stride);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* p = pic + y * stride;
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                const size_t packed = 3 * static_cast<size_t>(x) + c, planar = c * static_cast<size_t>(w) + x;
                row[toPlanes ? planar : packed] = p[toPlanes ? packed : planar];
            }
        std::memcpy(p, row.data(), stride);
    }
}
inline void ToPlanes(std::uint8_t* pic, int w, int h) { Relayout(pic, w, h, true); }
inline void ToPacked(std::uint8_t* pic, int w, int h) { Relayout(pic, w, h, false); }

// Channel sums (blue, green, red) over a rectangle of the picture.
inline void Sums(const Bytes& pic, int w, int x0, int x1, int y0, int y1, std::uint32_t sums[3])
{
    sums[0] = sums[1] = sums[2] = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            for (int c = 0; c < 3; ++c)
                sums[c] += pic[(static_cast<size_t>(y) * w + x) * 3 + c];
}

inline std::uint8_t MeasureLuma(const Bytes& pic, int w, int h)
{
    std::uint32_t s[3];
    Sums(pic, w, w / 4, 3 * w / 4, h / 4, 3 * h / 4, s);
    const std::uint32_t n = static_cast<std::uint32_t>(w) * h;
    const std::uint32_t mb = static_cast<std::uint8_t>(s[0] * 4 / n), mg = static_cast<std::uint8_t>(s[1] * 4 / n),
                        mr = static_cast<std::uint8_t>(s[2] * 4 / n);
    return static_cast<std::uint8_t>(((16425 * mg + 8432 * mr + 3176 * mb) >> 15) + 16);
}

// The whole frame through the plain steps, one pass each.
inline Bytes Frame(Bytes raw, int w, int h, CameraSettings& s, const DefectTable& defects, FrameTables& tables)
{
    CorrectDefects(raw, w, h, defects);
    Bytes pic = Demosaic(raw, w, h);
    if (s.AutoExposure) {
        AutoExposureState state{s.AETarget, s.AnalogGain, s.AeExposure, s.AeSmoothedLuma, s.FlickerStep,
                                static_cast<std::uint16_t>(h)};
        const AutoExposureResult result = AutoExposureStep(state, MeasureLuma(pic, w, h));
        s.AeSmoothedLuma = state.smoothed;
        s.AeExposure = state.exposure;
        if (result.write) {
            s.AnalogGain = result.gain;
            s.ExposureTime = result.exposureRows;
        }
    }
    if (s.bAutoWB) {
        std::uint32_t sums[3];
        Sums(pic, w, 0, w, 0, h, sums);
        WhiteBalanceGains gains{s.r, s.g, s.b};
        MeasureWhiteBalance(sums, gains);
        s.r = gains.red, s.g = gains.green, s.b = gains.blue;
        s.bAutoWB = 0;
        tables.wb = Gains(s.r, s.g, s.b);
    }
    if (s.WhiteBlack)
        Mono(pic);
    else if (s.EnableSaturation)
        WhiteBalanceWithMatrix(pic, tables.wb, s.Saturation);
    else
        WhiteBalanceOnly(pic, tables.wb);
    ApplyTone(pic, tables.tone);
    if (s.VFlip == 0)
        FlipRows(pic, w, h);
    if (s.HFlip)
        MirrorRows(pic, w, h);
    return pic;
}

// ---- Picture formats, from their documented layouts and colour rule ------

// BT.601, limited range, on whole numbers; >> is the floor of the division,
// negative sums included. The chroma is that of the exact mean of `count`
// pixels (2 or 4) whose channel sums are given, rounded once.
inline std::uint8_t LumaRule(int b, int g, int r) { return static_cast<std::uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16); }
inline std::uint8_t URule(int sumB, int sumG, int sumR, int count)
{
    const int shift = count == 2 ? 9 : 10;
    return static_cast<std::uint8_t>(((112 * sumB - 38 * sumR - 74 * sumG + 128 * count) >> shift) + 128);
}
inline std::uint8_t VRule(int sumB, int sumG, int sumR, int count)
{
    const int shift = count == 2 ? 9 : 10;
    return static_cast<std::uint8_t>(((112 * sumR - 94 * sumG - 18 * sumB + 128 * count) >> shift) + 128);
}

// An RGB24 picture (bottom-up, blue-green-red, rows packed) in `format`:
// RGB32 adds 0xFF to each pixel; the YUV formats are top-down, their chroma
// from the mean of each pair (YUY2) or 2 x 2 block (NV12, I420) of the
// picture as shown.
inline Bytes Convert(const Bytes& rgb, int w, int h, PictureFormat format)
{
    // Channel c of the pixel at column x of the shown row `top` (0: top).
    const auto shown = [&](int top, int x, int c) -> int { return rgb[(static_cast<size_t>(h - 1 - top) * w + x) * 3 + c]; };
    const size_t pixels = static_cast<size_t>(w) * h;
    Bytes out;
    switch (format) {
    case PictureFormat::Rgb24:
        return rgb;
    case PictureFormat::Rgb32:
        out.resize(pixels * 4);
        for (size_t i = 0; i < pixels; ++i) {
            for (int c = 0; c < 3; ++c)
                out[4 * i + c] = rgb[3 * i + c];
            out[4 * i + 3] = 0xFF;
        }
        return out;
    case PictureFormat::Yuy2:
        out.resize(pixels * 2);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; x += 2) {
                int sum[3];
                for (int c = 0; c < 3; ++c)
                    sum[c] = shown(y, x, c) + shown(y, x + 1, c);
                std::uint8_t* p = &out[(static_cast<size_t>(y) * w + x) * 2];
                p[0] = LumaRule(shown(y, x, 0), shown(y, x, 1), shown(y, x, 2));
                p[1] = URule(sum[0], sum[1], sum[2], 2);
                p[2] = LumaRule(shown(y, x + 1, 0), shown(y, x + 1, 1), shown(y, x + 1, 2));
                p[3] = VRule(sum[0], sum[1], sum[2], 2);
            }
        return out;
    case PictureFormat::Nv12:
    case PictureFormat::I420:
        out.resize(pixels + pixels / 2);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                out[static_cast<size_t>(y) * w + x] = LumaRule(shown(y, x, 0), shown(y, x, 1), shown(y, x, 2));
        for (int y = 0; y < h; y += 2)
            for (int x = 0; x < w; x += 2) {
                int sum[3];
                for (int c = 0; c < 3; ++c)
                    sum[c] = shown(y, x, c) + shown(y, x + 1, c) + shown(y + 1, x, c) + shown(y + 1, x + 1, c);
                const std::uint8_t u = URule(sum[0], sum[1], sum[2], 4), v = VRule(sum[0], sum[1], sum[2], 4);
                const size_t row = static_cast<size_t>(y / 2), column = static_cast<size_t>(x / 2);
                if (format == PictureFormat::Nv12) {
                    out[pixels + row * w + 2 * column] = u;
                    out[pixels + row * w + 2 * column + 1] = v;
                } else {
                    out[pixels + row * (w / 2) + column] = u;
                    out[pixels + pixels / 4 + row * (w / 2) + column] = v;
                }
            }
        return out;
    }
    return out;
}

inline void RandomSettings(CameraSettings& s, std::mt19937& rng)
{
    auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    s.AutoExposure = pick(2);
    s.bAutoWB = pick(3) == 0;
    s.r = static_cast<std::uint8_t>(pick(256));
    s.g = static_cast<std::uint8_t>(pick(256));
    s.b = static_cast<std::uint8_t>(pick(256));
    s.AETarget = static_cast<std::uint8_t>(40 + pick(161));
    s.AnalogGain = static_cast<std::uint16_t>(1 + pick(80));
    s.AeExposure = static_cast<std::uint16_t>(1 + pick(4000));
    s.AeSmoothedLuma = static_cast<std::uint8_t>(pick(256));
    s.FlickerStep = static_cast<std::uint16_t>(72 + pick(170));
    s.Gamma = static_cast<std::uint8_t>(10 + pick(241));
    s.Contrast = static_cast<std::uint8_t>(pick(101));
    s.EnableSaturation = pick(2);
    s.Saturation = static_cast<std::uint8_t>(pick(256));
    s.WhiteBlack = pick(4) == 0;
    s.VFlip = pick(2);
    s.HFlip = pick(2);
}

}  // namespace kv20x::oracle
