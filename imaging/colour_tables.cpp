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

namespace {

// The gamma curve's entry: the whole part of 255 x (i / 255)^(gamma / 100).
// Where the exact value is a whole number (gamma 100 everywhere, and both
// ends of every curve) the floating-point value lands a rounding error either
// side of it, and which side depends on the arithmetic: x87 code in the
// 32-bit module keeps extra precision and used to land below, one level
// darker than the 64-bit module. So a value within kWholeNumberTolerance of a
// whole number is taken as that number. Over all 256 x 256 (gamma, i), every
// value whose exact result is not whole lies further than that from one (the
// nearest is 9e-6 away, where pow's error is about 1e-13), so both
// builds give the exact floor.
int GammaCurveEntry(int i, int gamma)
{
    constexpr double kWholeNumberTolerance = 1e-9;
    const double value = std::pow(i / 255.0, gamma / 100.0) * 255.0;
    if (!(value >= 0.0))
        return 0;  // also catches a NaN
    if (value >= 255.0)
        return 255;
    const double nearest = std::floor(value + 0.5);
    const double whole = std::fabs(value - nearest) < kWholeNumberTolerance ? nearest : std::floor(value);
    return static_cast<int>(whole);
}

}  // namespace

void BuildToneLut(std::uint8_t gamma, std::uint8_t contrast, ToneLut& lut)
{
    for (int i = 0; i < 256; ++i) {
        const int t = GammaCurveEntry(i, gamma);
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
