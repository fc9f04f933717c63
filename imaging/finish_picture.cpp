#include "imaging/finish_picture.h"

#include <cstddef>

namespace kv20x {

namespace {

// Grey from the reconstructed colours, then the tone curve.
class MonoStage {
public:
    explicit MonoStage(const ToneLut& tone) : m_tone(tone.table) {}
    void operator()(std::uint32_t b, std::uint32_t g, std::uint32_t r, std::uint8_t* out) const
    {
        const std::uint8_t grey = m_tone[(30 * r + 59 * g + 11 * b) / 100];
        out[0] = out[1] = out[2] = grey;
    }

private:
    const std::uint8_t* m_tone;
};

// Each channel through its gain table and the tone curve, combined once per
// frame into one table per channel.
class WhiteBalanceStage {
public:
    WhiteBalanceStage(const WbLut& wb, const ToneLut& tone)
    {
        for (int i = 0; i < 256; ++i) {
            m_blue[i] = tone.table[wb.blue[i]];
            m_green[i] = tone.table[wb.green[i]];
            m_red[i] = tone.table[wb.red[i]];
        }
    }
    void operator()(std::uint32_t b, std::uint32_t g, std::uint32_t r, std::uint8_t* out) const
    {
        out[0] = m_blue[b];
        out[1] = m_green[g];
        out[2] = m_red[r];
    }

private:
    std::uint8_t m_blue[256], m_green[256], m_red[256];
};

// Gain tables, then the matrix: output j = sum over inputs c of wb_c[v_c] x
// P[c][j], plus P[3][j], at scale 2^14. The products are tabulated once per
// frame per input and output. The sum shifted down by 14 bits (arithmetic,
// so negative sums land below 0) indexes a table that clamps to 0..255 and
// applies the tone curve in one look-up.
class MatrixStage {
public:
    static constexpr std::int32_t kClampSpan = 16384;
    static constexpr std::int32_t kClampOffset = kClampSpan / 2;

    MatrixStage(const WbLut& wb, const ToneLut& tone, const ColourMatrix4& p)
    {
        const std::uint8_t* gains[3] = {wb.red, wb.green, wb.blue};
        for (int in = 0; in < 3; ++in)
            for (int out = 0; out < 3; ++out)
                for (int v = 0; v < 256; ++v)
                    m_products[in][out][v] = gains[in][v] * p.m[in][out] + (in == 0 ? p.m[3][out] : 0);
        for (std::int32_t i = 0; i < kClampSpan; ++i) {
            const std::int32_t level = i - kClampOffset;
            m_clampTone[i] = tone.table[level < 0 ? 0 : level > 255 ? 255 : level];
        }
    }
    void operator()(std::uint32_t b, std::uint32_t g, std::uint32_t r, std::uint8_t* out) const
    {
        out[0] = Out(r, g, b, 2);
        out[1] = Out(r, g, b, 1);
        out[2] = Out(r, g, b, 0);
    }

private:
    std::uint8_t Out(std::uint32_t r, std::uint32_t g, std::uint32_t b, int channel) const
    {
        const std::int32_t v = m_products[0][channel][r] + m_products[1][channel][g] + m_products[2][channel][b];
        std::int32_t index = (v >> 14) + kClampOffset;
        // Matrices of this camera stay far inside the table; anything else is
        // clamped all the same.
        index = index < 0 ? 0 : index >= kClampSpan ? kClampSpan - 1 : index;
        return m_clampTone[index];
    }

    std::int32_t m_products[3][3][256];
    std::uint8_t m_clampTone[kClampSpan];
};

// Applies `stage` to every pixel and moves it to its place after the flips.
// Reversing rows and mirroring are both their own inverse, so pixels are
// exchanged in pairs; a pixel that is its own partner stays.
template <typename Stage>
void RunPass(std::uint8_t* picture, std::int32_t width, std::int32_t height, bool reverseRows, bool mirror,
             const Stage& stage)
{
    const std::size_t stride = static_cast<std::size_t>(width) * 3;
    const auto exchange = [&stage](std::uint8_t* a, std::uint8_t* b) {
        const std::uint32_t ab = a[0], ag = a[1], ar = a[2];
        stage(b[0], b[1], b[2], a);
        stage(ab, ag, ar, b);
    };
    const auto inPlace = [&stage](std::uint8_t* p) { stage(p[0], p[1], p[2], p); };

    if (reverseRows && mirror) {
        // A half turn: pixel k of the buffer goes to pixel N - 1 - k.
        std::uint8_t* front = picture;
        std::uint8_t* back = picture + stride * height - 3;
        for (; front < back; front += 3, back -= 3)
            exchange(front, back);
        if (front == back)
            inPlace(front);
        return;
    }
    if (reverseRows) {
        std::int32_t top = 0, bottom = height - 1;
        for (; top < bottom; ++top, --bottom) {
            std::uint8_t* a = picture + top * stride;
            std::uint8_t* b = picture + bottom * stride;
            for (std::int32_t x = 0; x < width; ++x, a += 3, b += 3)
                exchange(a, b);
        }
        if (top == bottom) {
            std::uint8_t* p = picture + top * stride;
            for (std::int32_t x = 0; x < width; ++x, p += 3)
                inPlace(p);
        }
        return;
    }
    for (std::int32_t y = 0; y < height; ++y) {
        std::uint8_t* row = picture + y * stride;
        if (!mirror) {
            for (std::int32_t x = 0; x < width; ++x)
                inPlace(row + 3 * x);
            continue;
        }
        std::uint8_t* left = row;
        std::uint8_t* right = row + stride - 3;
        for (; left < right; left += 3, right -= 3)
            exchange(left, right);
        if (left == right)
            inPlace(left);
    }
}

template <typename Stage>
void Run(std::uint8_t* picture, std::int32_t width, std::int32_t height, const FinishParams& params,
         const Stage& stage)
{
    RunPass(picture, width, height, params.reverseRows, params.mirrorRows, stage);
}

}  // namespace

void FinishPicture(std::uint8_t* picture, std::int32_t width, std::int32_t height, const FinishParams& params)
{
    switch (params.stage) {
    case ColourStage::Mono:
        Run(picture, width, height, params, MonoStage(*params.tone));
        break;
    case ColourStage::WhiteBalanceOnly:
        Run(picture, width, height, params, WhiteBalanceStage(*params.wb, *params.tone));
        break;
    case ColourStage::WhiteBalanceMatrix:
        // 25 KB of tables on the streaming thread's stack.
        Run(picture, width, height, params, MatrixStage(*params.wb, *params.tone, params.product));
        break;
    }
}

}  // namespace kv20x
