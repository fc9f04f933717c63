#include "imaging/auto_exposure.h"

namespace kv20x {

namespace {

// Luminance weights at scale 2^15 and the video black level.
constexpr std::uint32_t kLumaGreen = 16425;
constexpr std::uint32_t kLumaRed = 8432;
constexpr std::uint32_t kLumaBlue = 3176;
constexpr std::uint32_t kBlackLevel = 16;
// A step within this distance of the target changes nothing.
constexpr std::uint32_t kDeadBand = 9;
// Gains never go above this code through a long-exposure step.
constexpr std::uint16_t kLongExposureGainLimit = 32;

using u16 = std::uint16_t;
using u8 = std::uint8_t;

u16 Min16(u16 a, u16 b) { return a < b ? a : b; }
u16 Add16(u16 a, std::uint32_t b) { return static_cast<u16>(a + b); }
u16 Sub16(u16 a, std::uint32_t b) { return static_cast<u16>(a - b); }

// Picture too dark: E < T.
void Brighten(AutoExposureState& s, bool blackFloor, std::uint32_t D)
{
    const std::uint32_t half = D >> 1, eighth = D >> 3, quarter = D >> 2;
    const std::uint32_t m = D < 32 ? D >> 4 : 1;
    const std::uint32_t Q = s.flickerStep;
    u16& X = s.exposure;
    u16& G = s.gain;

    if (blackFloor)
        X = Min16(s.height, Add16(X, X > 3 ? X >> 2 : 1));
    if (X < Q) {
        if (X < 10)
            X = Add16(X, m);
        X = Add16(X, X >= 30 ? eighth : 1);
    } else if (G > 15) {
        if (X < 2 * Q) {
            X = Add16(X, quarter);
        } else if (X >= 300) {
            const u16 longer = Add16(X, D);
            if (longer > s.height) {
                G = Min16(Add16(G, D), kLongExposureGainLimit);
                X = s.height;
            } else {
                X = longer;
            }
        } else {
            X = Add16(X, half);
        }
    } else {
        if (X < 4 * Q && D < 112)
            G = Add16(G, D < 16 ? 1 : D >> 4);
        else if (X < 4 * Q || D > 55)
            G = Add16(G, 6);
        else
            G = Add16(G, eighth);
    }
}

// Picture too bright: E >= T.
void Darken(AutoExposureState& s, bool saturated, std::uint32_t D)
{
    const std::uint32_t half = D >> 1, eighth = D >> 3, quarter = D >> 2;
    const std::uint32_t m = D < 32 ? D >> 4 : 1;
    const std::uint32_t Q = s.flickerStep;
    u16& X = s.exposure;
    u16& G = s.gain;

    if (saturated) {
        G = Sub16(G, G / 4);
        if (X > 0)
            X = Sub16(X, X > 4 * Q ? X / 4 : X < 8 ? 1 : X >> 3);
    }
    const u16 g = G;
    if (g < 9) {
        if (X > 4 * Q) {
            X = Sub16(X, Min16(X >> 2, static_cast<u16>(D)));
            if (g > 4)
                G = static_cast<u16>(g - 1);
            if (X < 4 * Q)
                G = static_cast<u16>(2 * G + 2);
        } else if (X > 3 * Q) {
            X = Sub16(X, Min16(X >> 2, static_cast<u16>(half)));
            if (g > 4)
                G = static_cast<u16>(g - 1);
            if (X < 3 * Q)
                G = static_cast<u16>(2 * G + 2);
        } else {
            const u16 shorter = Sub16(X, Min16(X >> 2, static_cast<u16>(D >> 2)));
            if (X > 2 * Q) {
                X = shorter;
                if (g > 2)
                    G = static_cast<u16>(g - 1);
                if (shorter < 2 * Q)
                    G = static_cast<u16>(2 * G + 2);
            } else if (X > Q) {
                X = shorter;
                if (g > 0)
                    G = static_cast<u16>(g - 1);
                if (shorter < Q)
                    G = static_cast<u16>(4 * G + 4);
            } else if (quarter < g) {
                G = Sub16(g, eighth);
            } else if (g > 0) {
                G = static_cast<u16>(g - 1);
            } else if (X > 30) {
                X = Sub16(X, Min16(X / 2, static_cast<u16>(eighth)));
            } else if (X > 1) {
                X = Sub16(X, m);
            }
        }
    } else {
        if (X >= 30 && X < Q)
            G = Sub16(g, D < 16 ? 1 : D >= 80 ? 4 : D >> 4);
        if (X >= 30 && X >= Q)
            G = Sub16(g, D >= 40 ? 4 : eighth);
        if (X < 30)
            G = static_cast<u16>(g - 1);
    }
}

}  // namespace

std::uint8_t MeasureLuma(const std::uint32_t windowSums[3], std::int32_t width, std::int32_t height)
{
    const std::uint32_t pixels = static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(height);
    std::uint32_t mean[3] = {0, 0, 0};
    if (pixels > 0)
        for (int c = 0; c < 3; ++c)
            mean[c] = static_cast<u8>(windowSums[c] * 4 / pixels);
    return static_cast<u8>(((kLumaGreen * mean[1] + kLumaRed * mean[2] + kLumaBlue * mean[0]) >> 15) + kBlackLevel);
}

AutoExposureResult AutoExposureStep(AutoExposureState& s, std::uint8_t luma)
{
    const std::uint32_t T = s.target;
    std::uint32_t L = luma;
    const std::uint32_t lo = (T >> 2) < 20 ? T >> 2 : 20;
    const std::uint32_t hi = 2 * T < 210 ? 2 * T : 210;
    if (L < lo)
        L = 0;
    else if (L > hi)
        L = 255;

    const std::uint32_t E = (L + s.smoothed) >> 1;
    s.smoothed = static_cast<u8>(E);
    const std::uint32_t distance = E > T ? E - T : T - E;
    const std::uint32_t D = distance < T ? distance : T;
    if (D <= kDeadBand) {
        s.smoothed = static_cast<u8>(T);
        return {false, s.gain, 0};
    }
    const std::uint32_t h = (T >> 2) < (D >> 1) ? T >> 2 : D >> 1;
    if (E < T) {
        s.smoothed = static_cast<u8>(T + h);
        Brighten(s, L == 0, D);
    } else {
        s.smoothed = static_cast<u8>(T - h);
        Darken(s, L == 255, D);
    }

    const u16 X = s.exposure;
    const u16 Q = s.flickerStep;
    u16 rows = (Q == 0 || X < Q) ? X : static_cast<u16>(Q * (X / Q));
    if (rows == 0)
        rows = 1;
    return {true, s.gain, rows};
}

bool MeasureWhiteBalance(const std::uint32_t totalSums[3], WhiteBalanceGains& gains)
{
    const std::uint32_t sumB = totalSums[0], sumG = totalSums[1], sumR = totalSums[2];
    const std::uint32_t red = sumR >> 6, blue = sumB >> 6;
    if (red == 0 || sumG == 0 || blue == 0)
        return false;
    const std::uint32_t kR = sumG / red;
    const std::uint32_t kB = sumG / blue;
    if (kR <= 255 && kB <= 255) {
        gains = {static_cast<u8>(kR), 64, static_cast<u8>(kB)};
    } else if (kR >= kB) {
        // Scale all three so that the largest gain is 255 (16320 = 64 x 255).
        gains = {255, static_cast<u8>(16320 / kR), static_cast<u8>(static_cast<std::uint64_t>(kB) * 255 / kR)};
    } else {
        gains = {static_cast<u8>(static_cast<std::uint64_t>(kR) * 255 / kB), static_cast<u8>(16320 / kB), 255};
    }
    return true;
}

}  // namespace kv20x
