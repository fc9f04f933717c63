#pragma once
// The look-up tables and matrices of the colour stage: white balance gains,
// the gamma-and-contrast tone curve, and the saturation matrix combined with
// the camera's fixed colour matrix.
//
// Fixed point: gains in 1/64 (64 = 1.0); colour and saturation matrices at
// scale 128; their product at scale 2^14.

#include <cstdint>

namespace kv20x {

// Channel gain tables, one per colour, each mapping a byte to a byte.
struct WbLut {
    std::uint8_t red[256];
    std::uint8_t green[256];
    std::uint8_t blue[256];
};

// The tone curve applied to every colour byte.
struct ToneLut {
    std::uint8_t table[256];
};

// Rows are the input (red, green, blue, constant), columns the output (red,
// green, blue, and a fourth that only takes part in products).
struct ColourMatrix4 {
    std::int32_t m[4][4];
};

// table[i] = 255 when i x gain >= 16384, else (i x gain) >> 6.
void BuildWbLut(std::uint8_t red, std::uint8_t green, std::uint8_t blue, WbLut& lut);

// Gamma (x100) then contrast pushing values away from 128.
void BuildToneLut(std::uint8_t gamma, std::uint8_t contrast, ToneLut& lut);

// Saturation s (128 = unchanged) as a matrix that mixes each channel with a
// luminance of weights 315, 624 and 84 per 1024.
ColourMatrix4 SaturationMatrix(std::uint8_t saturation);

// colour x saturation, ordinary 4 x 4 integer product (scale 2^14).
ColourMatrix4 Multiply(const ColourMatrix4& left, const ColourMatrix4& right);

ColourMatrix4 FromArray(const std::int32_t (&m)[4][4]);

}  // namespace kv20x
