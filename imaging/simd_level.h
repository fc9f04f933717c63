#pragma once
// The instruction sets the image pipeline has vector forms for, and the best
// one this processor and its operating system support. The choice is made
// once per process; every frame then runs the kernels of one level.

#include <cstdint>

namespace kv20x {

// Ordered: a level implies every level below it on the processors that have
// it (the plain form runs everywhere).
enum class SimdLevel : std::uint8_t {
    Plain,   // portable C++, the reference form
    Sse2,    // 128-bit integer vectors
    Ssse3,   // adds byte shuffles and 16-bit sign and absolute value
    Avx2,    // 256-bit integer vectors
    Avx512,  // 512-bit vectors with byte and word operations (BW) and byte permutes (VBMI)
};

inline constexpr int kSimdLevelCount = 5;

// What the processor and the operating system's register saving allow,
// regardless of what this build holds kernels for.
SimdLevel DetectSimdLevel();

// The highest level that this build has kernels for and the processor can
// run; detected on first use.
SimdLevel BestSimdLevel();

// True when kernels of `level` exist in this build and may run here.
bool SimdLevelUsable(SimdLevel level);

// "plain", "sse2", "ssse3", "avx2", "avx512".
const char* SimdLevelName(SimdLevel level);

// The level a name stands for; false for an unknown name.
bool ParseSimdLevel(const char* name, SimdLevel& level);

}  // namespace kv20x
