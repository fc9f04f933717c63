#include "imaging/finish_picture.h"

#include <cstring>
#include <vector>

namespace kv20x {

namespace {

// The tone table of the contrast ramp alone (gamma 1.0), as BuildToneLut
// makes it.
std::uint8_t ContrastEntry(int t, int contrast)
{
    const int distance = t >= 128 ? t - 128 : 128 - t;
    const int e = distance * contrast / 128;
    return static_cast<std::uint8_t>(t >= 128 ? (t + e > 255 ? 255 : t + e) : (t - e < 0 ? 0 : t - e));
}

bool FindContrast(const std::uint8_t* table, std::int16_t& contrast)
{
    for (int c = 0; c < 256; ++c) {
        if (table[64] != ContrastEntry(64, c) || table[192] != ContrastEntry(192, c))
            continue;
        int i = 0;
        while (i < 256 && table[i] == ContrastEntry(i, c))
            ++i;
        if (i == 256) {
            contrast = static_cast<std::int16_t>(c);
            return true;
        }
    }
    return false;
}

// A white balance table is min(v x gain >> 6, 255); its entry 64 is the gain.
bool FindGain(const std::uint8_t* table, std::uint16_t& gain)
{
    const std::uint32_t g = table[64];
    for (std::uint32_t v = 0; v < 256; ++v) {
        const std::uint32_t expected = (v * g) >> 6 > 255 ? 255 : (v * g) >> 6;
        if (table[v] != expected)
            return false;
    }
    gain = static_cast<std::uint16_t>(g);
    return true;
}

bool FitsWord(std::int64_t v) { return v >= -32768 && v <= 32767; }

void PrepareMatrix(FinishPlan& plan)
{
    const ColourMatrix4& p = plan.product;
    bool narrow = true, wide = true;
    for (int j = 0; j < 3; ++j) {
        for (int c = 0; c < 3; ++c) {
            narrow = narrow && FitsWord(p.m[c][j]);
            wide = wide && FitsWord(p.m[c][j] >> 7);
        }
        narrow = narrow && FitsWord(p.m[3][j]);
        // The wide form's low sum (at most 765 x 127) and the constant in 32 bits.
        wide = wide && p.m[3][j] > -(1 << 30) && p.m[3][j] < (1 << 30);
    }
    plan.narrowMatrix = narrow;
    plan.wideMatrix = !narrow && wide;
    // Output channels in picture order: blue, green, red are matrix columns 2, 1, 0.
    for (int out = 0; out < 3; ++out) {
        const int j = 2 - out;
        if (narrow) {
            plan.rg[out][0] = static_cast<std::int16_t>(p.m[0][j]);
            plan.rg[out][1] = static_cast<std::int16_t>(p.m[1][j]);
            plan.b1[out][0] = static_cast<std::int16_t>(p.m[2][j]);
            plan.b1[out][1] = static_cast<std::int16_t>(p.m[3][j]);
        } else if (wide) {
            const auto high = [](std::int32_t v) { return static_cast<std::int16_t>(v >> 7); };
            const auto low = [](std::int32_t v) { return static_cast<std::int16_t>(v & 127); };
            plan.rg[out][0] = high(p.m[0][j]);
            plan.rg[out][1] = high(p.m[1][j]);
            plan.b1[out][0] = high(p.m[2][j]);
            plan.b1[out][1] = 0;
            plan.rgLow[out][0] = low(p.m[0][j]);
            plan.rgLow[out][1] = low(p.m[1][j]);
            plan.b1Low[out][0] = low(p.m[2][j]);
            plan.b1Low[out][1] = 0;
            plan.constant[out] = p.m[3][j];
        }
    }
}

// The RGB formats, in place: each picture row (rowStride bytes) first holds
// its planes, which each row kernel turns into the pixels of the row the
// flips put them in. A pair of rows swaps through the scratch: the top row's
// planes are copied aside, the bottom row is finished into the top row's
// place, then the copy into the bottom's.
void RunRowsInPlace(std::uint8_t* picture, std::size_t rowStride, std::int32_t width, std::int32_t height,
                    const FinishParams& params, const FinishPlan& plan, FinishRowFn finishRow, std::uint8_t* scratch)
{
    const std::size_t planesBytes = static_cast<std::size_t>(width) * 3;
    const auto finish = [&](const std::uint8_t* planes, std::uint8_t* out) {
        const FinishRowArgs row{planes, planes + width, planes + 2 * width, out, width, params.mirrorRows};
        finishRow(plan, row);
    };
    if (!params.reverseRows) {
        for (std::int32_t y = 0; y < height; ++y) {
            std::uint8_t* row = picture + y * rowStride;
            std::memcpy(scratch, row, planesBytes);
            finish(scratch, row);
        }
        return;
    }
    std::int32_t top = 0, bottom = height - 1;
    for (; top <= bottom; ++top, --bottom) {
        std::uint8_t* a = picture + top * rowStride;
        std::uint8_t* b = picture + bottom * rowStride;
        std::memcpy(scratch, a, planesBytes);
        if (top != bottom)
            finish(b, a);
        finish(scratch, b);
    }
}

// The YUV formats, from planes of their own: each picture row (each pair of
// rows for 4:2:0) from the planes rows the flips assign to it.
void RunRowsApart(const PictureTarget& target, const PictureLayout& layout, std::int32_t width, std::int32_t height,
                  const FinishParams& params, const FinishPlan& plan, const PipelineKernels& kernels)
{
    const std::size_t planesStride = static_cast<std::size_t>(width) * 3;
    const auto rowOf = [&](std::int32_t y, std::uint8_t* out) {
        const std::int32_t source = params.reverseRows ? height - 1 - y : y;
        const std::uint8_t* planes = target.planes + source * planesStride;
        return FinishRowArgs{planes, planes + width, planes + 2 * width, out, width, params.mirrorRows};
    };
    const PicturePlane& luma = layout.planes[0];
    if (target.format == PictureFormat::Yuy2) {
        for (std::int32_t y = 0; y < height; ++y)
            kernels.finishRowYuy2(plan, rowOf(y, target.picture + y * static_cast<std::size_t>(luma.stride)));
        return;
    }
    const bool nv12 = target.format == PictureFormat::Nv12;
    const PicturePlane& u = layout.planes[1];
    const PicturePlane& v = layout.planes[nv12 ? 1 : 2];
    const FinishPairFn finishPair = nv12 ? kernels.finishPairNv12 : kernels.finishPairI420;
    for (std::int32_t y = 0; y < height; y += 2) {
        std::uint8_t* lumaRow = target.picture + luma.offset + y * static_cast<std::size_t>(luma.stride);
        const std::size_t chromaRow = static_cast<std::size_t>(y / 2);
        const FinishPairArgs pair{{rowOf(y, lumaRow), rowOf(y + 1, lumaRow + luma.stride)},
                                  target.picture + u.offset + chromaRow * u.stride,
                                  target.picture + v.offset + chromaRow * v.stride};
        finishPair(plan, pair);
    }
}

// The plain form's look-up tables, for matrices whose sums fit 32 bits.
void PreparePlainMatrix(FinishPlan& plan)
{
    const ColourMatrix4& p = plan.product;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 3; ++j)
            if (p.m[i][j] <= -(1 << 21) || p.m[i][j] >= (1 << 21))
                return;
    const std::uint8_t* gains[3] = {plan.wb->red, plan.wb->green, plan.wb->blue};
    for (int in = 0; in < 3; ++in)
        for (int out = 0; out < 3; ++out)
            for (int v = 0; v < 256; ++v)
                plan.products[in][out][v] = gains[in][v] * p.m[in][2 - out] + (in == 0 ? p.m[3][2 - out] : 0);
    for (std::int32_t i = 0; i < FinishPlan::kClampSpan; ++i) {
        const std::int32_t level = i - FinishPlan::kClampOffset;
        plan.clampTone[i] = plan.tone->table[level < 0 ? 0 : level > 255 ? 255 : level];
    }
    plan.plainTables = true;
}

}  // namespace

void PrepareFinishPlan(FinishPlan& plan, bool forPlainForm)
{
    plan.toneIsContrast = FindContrast(plan.tone->table, plan.contrast);
    plan.vectorForm = true;
    if (plan.stage == ColourStage::Mono)
        return;
    const std::uint8_t* gains[3] = {plan.wb->blue, plan.wb->green, plan.wb->red};
    bool gainsFound = true;
    for (int c = 0; c < 3; ++c)
        gainsFound = FindGain(gains[c], plan.gain[c]) && gainsFound;
    if (plan.stage == ColourStage::WhiteBalanceMatrix) {
        // Tables of any other shape run in the plain form.
        plan.vectorForm = gainsFound;
        PrepareMatrix(plan);
        if (forPlainForm || !plan.vectorForm || !(plan.narrowMatrix || plan.wideMatrix))
            PreparePlainMatrix(plan);
        return;
    }
    for (int c = 0; c < 3; ++c)
        for (int v = 0; v < 256; ++v)
            plan.channelTables[c][v] = plan.tone->table[gains[c][v]];
    // The white balance alone also runs on the combined tables.
    if (!gainsFound)
        plan.toneIsContrast = false;
}

void FinishPicture(std::uint8_t* picture, std::int32_t width, std::int32_t height, const FinishParams& params,
                   SimdLevel level)
{
    FinishPicture(PictureTarget{PictureFormat::Rgb24, picture, nullptr}, width, height, params, level);
}

void FinishPicture(const PictureTarget& target, std::int32_t width, std::int32_t height, const FinishParams& params,
                   SimdLevel level)
{
    const PictureLayout layout = LayoutOf(target.format, width, height);
    if (!layout.valid || !target.picture || (layout.planesBytes != 0 && !target.planes))
        return;
    const PipelineKernels& kernels = UsableKernels(level);
    FinishPlan plan;
    plan.stage = params.stage;
    plan.wb = params.wb;
    plan.tone = params.tone;
    plan.product = params.product;
    PrepareFinishPlan(plan, kernels.level == SimdLevel::Plain);

    if (!layout.bottomUp) {
        RunRowsApart(target, layout, width, height, params, plan, kernels);
        return;
    }
    const FinishRowFn finishRow = target.format == PictureFormat::Rgb24 ? kernels.finishRow : kernels.finishRow32;
    const std::size_t rowStride = layout.planes[0].stride;
    if (width <= kStackScratchWidth) {
        std::uint8_t scratch[kStackScratchWidth * 3];
        RunRowsInPlace(target.picture, rowStride, width, height, params, plan, finishRow, scratch);
    } else {
        std::vector<std::uint8_t> scratch(static_cast<std::size_t>(width) * 3);
        RunRowsInPlace(target.picture, rowStride, width, height, params, plan, finishRow, scratch.data());
    }
}

}  // namespace kv20x
