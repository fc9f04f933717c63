#include "imaging/colour_tables.h"

#include <cmath>

namespace kv20x {

namespace {

void BuildGainTable(std::uint32_t gain, std::uint8_t* table)
{
    for (std::uint32_t i = 0; i < 256; ++i) {
        const std::uint32_t scaled = i * gain;
        table[i] = scaled >= 16384 ? 255 : static_cast<std::uint8_t>(scaled >> 6);
    }
}

}  // namespace

void BuildWbLut(std::uint8_t red, std::uint8_t green, std::uint8_t blue, WbLut& lut)
{
    BuildGainTable(red, lut.red);
    BuildGainTable(green, lut.green);
    BuildGainTable(blue, lut.blue);
}

void BuildToneLut(std::uint8_t gamma, std::uint8_t contrast, ToneLut& lut)
{
    const double exponent = gamma / 100.0;
    for (int i = 0; i < 256; ++i) {
        double curve = std::trunc(std::pow(i / 255.0, exponent) * 255.0);
        if (!(curve >= 0.0))
            curve = 0.0;  // also catches a NaN
        const int t = curve > 255.0 ? 255 : static_cast<int>(curve);
        const int distance = t >= 128 ? t - 128 : 128 - t;
        const int e = distance * contrast / 128;
        const int entry = t >= 128 ? (t + e > 255 ? 255 : t + e) : (t - e < 0 ? 0 : t - e);
        lut.table[i] = static_cast<std::uint8_t>(entry);
    }
}

ColourMatrix4 SaturationMatrix(std::uint8_t saturation)
{
    const std::int32_t s = saturation;
    const std::int32_t rest = 128 - s;
    // Arithmetic shifts: a negative product rounds towards minus infinity.
    const std::int32_t kR = (315 * rest) >> 10;
    const std::int32_t kG = (624 * rest) >> 10;
    const std::int32_t kB = (84 * rest) >> 10;
    return {{
        {s + kR, kR, kR, 0},
        {kG, s + kG, kG, 0},
        {kB, kB, s + kB, 0},
        {0, 0, 0, 1},
    }};
}

ColourMatrix4 Multiply(const ColourMatrix4& left, const ColourMatrix4& right)
{
    ColourMatrix4 product{};
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col) {
            std::int32_t sum = 0;
            for (int k = 0; k < 4; ++k)
                sum += left.m[row][k] * right.m[k][col];
            product.m[row][col] = sum;
        }
    return product;
}

ColourMatrix4 FromArray(const std::int32_t (&m)[4][4])
{
    ColourMatrix4 result{};
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col)
            result.m[row][col] = m[row][col];
    return result;
}

}  // namespace kv20x
