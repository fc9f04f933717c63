// The row kernels for processors with AVX-512 foundation, byte and word
// instructions (BW) and byte permutes (VBMI). Built with those flags. The
// byte permutes make a 256-entry table look-up four instructions per 64
// bytes and pack the pixels from any byte of the three planes directly.

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "imaging/pipeline_kernels.h"

namespace kv20x {
namespace {

#include "imaging/vector_kernels.h"

// Packing 64 pixels into three 64-byte blocks: output byte q of block k is
// channel q % 3 of pixel q / 3 (counting from the block's first byte). The
// blue and green bytes come from one two-register permute of those planes,
// the red ones are permuted in under a mask. Mirrored, pixel p is taken
// from 63 - p.
struct PixelPermutes {
    alignas(64) std::uint8_t blueGreen[2][3][64];
    alignas(64) std::uint8_t red[2][3][64];
    std::uint64_t redMask[3];
};

constexpr PixelPermutes MakePixelPermutes()
{
    PixelPermutes p{};
    for (int mirror = 0; mirror < 2; ++mirror)
        for (int k = 0; k < 3; ++k)
            for (int j = 0; j < 64; ++j) {
                const int q = 64 * k + j, pixel = mirror ? 63 - q / 3 : q / 3, channel = q % 3;
                p.blueGreen[mirror][k][j] = static_cast<std::uint8_t>(channel == 1 ? 64 + pixel : pixel);
                p.red[mirror][k][j] = static_cast<std::uint8_t>(pixel);
                if (channel == 2 && mirror == 0)
                    p.redMask[k] |= std::uint64_t{1} << j;
            }
    return p;
}

constexpr PixelPermutes kPixelPermutes = MakePixelPermutes();

// Packing 64 pixels into four-byte pixels: first the words blue-green and
// red-0xFF of pixels 0-31 and 32-63 (byte permutes of two registers each:
// word w of half h is pixel 32 h + w, or 63 - that mirrored), then each
// 16 pixels' words paired up (kWordPermutes.pairs).
struct Pixel32Permutes {
    alignas(64) std::uint8_t words[2][2][64];  // [mirror][half]: byte j takes pixel p's first (j even) or second source
};

constexpr Pixel32Permutes MakePixel32Permutes()
{
    Pixel32Permutes p{};
    for (int mirror = 0; mirror < 2; ++mirror)
        for (int half = 0; half < 2; ++half)
            for (int j = 0; j < 64; ++j) {
                const int pixel = mirror ? 63 - (32 * half + j / 2) : 32 * half + j / 2;
                p.words[mirror][half][j] = static_cast<std::uint8_t>(j % 2 ? 64 + pixel : pixel);
            }
    return p;
}

constexpr Pixel32Permutes kPixel32Permutes = MakePixel32Permutes();

// Word permutes: the words in reverse order; and word i of a then of b, for
// the first and for the second half of the words.
struct WordPermutes {
    alignas(64) std::uint16_t reverse[32];
    alignas(64) std::uint16_t pairs[2][32];
};

constexpr WordPermutes MakeWordPermutes()
{
    WordPermutes p{};
    for (int i = 0; i < 32; ++i) {
        p.reverse[i] = static_cast<std::uint16_t>(31 - i);
        for (int half = 0; half < 2; ++half)
            p.pairs[half][i] = static_cast<std::uint16_t>((i % 2 ? 32 : 0) + 16 * half + i / 2);
    }
    return p;
}

constexpr WordPermutes kWordPermutes = MakeWordPermutes();

// The bytes in reverse order; and YUY2's 128 bytes from the words of lo
// and hi, which hold pixels 0-7, 16-23, 32-39, 48-55 and 8-15, 24-31, ...
// in their 16-byte lanes: in pixel order or, mirrored, in four-byte groups
// from the last, bytes 0 and 2 of each swapped.
struct Yuy2Permutes {
    alignas(64) std::uint8_t reverse[64];
    alignas(64) std::uint8_t pixels[2][2][64];
};

constexpr Yuy2Permutes MakeYuy2Permutes()
{
    Yuy2Permutes p{};
    for (int i = 0; i < 64; ++i)
        p.reverse[i] = static_cast<std::uint8_t>(63 - i);
    constexpr int kSwap[4] = {2, 1, 0, 3};
    for (int mirror = 0; mirror < 2; ++mirror)
        for (int k = 0; k < 2; ++k)
            for (int j = 0; j < 64; ++j) {
                const int q = 64 * k + j;
                // The byte of the pixel-order output it takes.
                const int natural = mirror ? 4 * (31 - q / 4) + kSwap[q % 4] : q;
                // Pixel-order 16-byte piece c is lane c / 2 of lo (c even) or hi.
                const int piece = natural / 16;
                p.pixels[mirror][k][j] = static_cast<std::uint8_t>((piece % 2 ? 64 : 0) + 16 * (piece / 2) + natural % 16);
            }
    return p;
}

constexpr Yuy2Permutes kYuy2Permutes = MakeYuy2Permutes();

struct Avx512Ops {
    using Reg = __m512i;
    static constexpr int kBytes = 64;
    // The look-up is cheaper than the ramp's word operations.
    static constexpr bool kPreferContrast = false;
    static constexpr bool kMaddUbs = true;

    static Reg Load(const void* p) { return _mm512_loadu_si512(p); }
    static void Store(void* p, Reg v) { _mm512_storeu_si512(p, v); }
    static Reg Zero() { return _mm512_setzero_si512(); }
    static Reg Set16(std::int16_t v) { return _mm512_set1_epi16(v); }
    static Reg Set32(std::int32_t v) { return _mm512_set1_epi32(v); }

    static Reg Lo8(Reg v) { return _mm512_unpacklo_epi8(v, _mm512_setzero_si512()); }
    static Reg Hi8(Reg v) { return _mm512_unpackhi_epi8(v, _mm512_setzero_si512()); }
    static Reg PackU8(Reg lo, Reg hi) { return _mm512_packus_epi16(lo, hi); }
    static Reg Zip8Lo(Reg a, Reg b) { return _mm512_unpacklo_epi8(a, b); }
    static Reg Zip8Hi(Reg a, Reg b) { return _mm512_unpackhi_epi8(a, b); }
    static Reg MaddUbs(Reg a, Reg b) { return _mm512_maddubs_epi16(a, b); }
    static Reg Lo16(Reg a, Reg b) { return _mm512_unpacklo_epi16(a, b); }
    static Reg Hi16(Reg a, Reg b) { return _mm512_unpackhi_epi16(a, b); }
    static Reg PackS16(Reg lo, Reg hi) { return _mm512_packs_epi32(lo, hi); }

    static Reg Add16(Reg a, Reg b) { return _mm512_add_epi16(a, b); }
    static Reg Mul16(Reg a, Reg b) { return _mm512_mullo_epi16(a, b); }
    static Reg MulHiU16(Reg a, Reg b) { return _mm512_mulhi_epu16(a, b); }
    static Reg Min16(Reg a, Reg b) { return _mm512_min_epi16(a, b); }
    static Reg Max16(Reg a, Reg b) { return _mm512_max_epi16(a, b); }
    template <int n>
    static Reg Srl16(Reg v) { return _mm512_srli_epi16(v, n); }
    static Reg Madd(Reg a, Reg b) { return _mm512_madd_epi16(a, b); }
    static Reg Add32(Reg a, Reg b) { return _mm512_add_epi32(a, b); }
    template <int n>
    static Reg Sra32(Reg v) { return _mm512_srai_epi32(v, n); }

    static Reg And(Reg a, Reg b) { return _mm512_and_si512(a, b); }
    static Reg Or(Reg a, Reg b) { return _mm512_or_si512(a, b); }
    static Reg AvgU16(Reg a, Reg b) { return _mm512_avg_epu16(a, b); }
    static Reg ReverseWords(Reg v) { return _mm512_permutexvar_epi16(Load(kWordPermutes.reverse), v); }
    static Reg ReverseBytes(Reg v) { return _mm512_permutexvar_epi8(Load(kYuy2Permutes.reverse), v); }

    static Reg BlendOdd16(Reg even, Reg odd) { return _mm512_mask_blend_epi16(0xAAAAAAAAu, even, odd); }

    static Reg SumBytes(Reg acc, Reg v) { return _mm512_add_epi64(acc, _mm512_sad_epu8(v, _mm512_setzero_si512())); }
    static std::uint64_t Total(Reg acc) { return static_cast<std::uint64_t>(_mm512_reduce_add_epi64(acc)); }

    static Reg Contrast(Reg t, Reg c)
    {
        const Reg s = _mm512_sub_epi16(t, _mm512_set1_epi16(128));
        const Reg e = _mm512_srli_epi16(_mm512_mullo_epi16(_mm512_abs_epi16(s), c), 7);
        return _mm512_add_epi16(t, _mm512_mask_sub_epi16(e, _mm512_movepi16_mask(s), _mm512_setzero_si512(), e));
    }

    // Entries 0-127 and 128-255, each in two registers for one permute.
    struct Table {
        explicit Table(const std::uint8_t* t)
            : part{_mm512_loadu_si512(t), _mm512_loadu_si512(t + 64), _mm512_loadu_si512(t + 128),
                   _mm512_loadu_si512(t + 192)}
        {
        }
        Reg part[4];
    };
    static Reg Lookup(const Table& table, Reg v)
    {
        const Reg low = _mm512_permutex2var_epi8(table.part[0], v, table.part[1]);
        const Reg high = _mm512_permutex2var_epi8(table.part[2], v, table.part[3]);
        return _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high);
    }

    static void StorePixels(std::uint8_t* out, Reg b, Reg g, Reg r, bool mirror)
    {
        const int m = mirror ? 1 : 0;
        for (int k = 0; k < 3; ++k) {
            const Reg blueGreen = _mm512_permutex2var_epi8(b, Load(kPixelPermutes.blueGreen[m][k]), g);
            Store(out + 64 * k, _mm512_mask_permutexvar_epi8(blueGreen, kPixelPermutes.redMask[k],
                                                             Load(kPixelPermutes.red[m][k]), r));
        }
    }

    static void StorePixels32(std::uint8_t* out, Reg b, Reg g, Reg r, bool mirror)
    {
        const int m = mirror ? 1 : 0;
        const Reg opaque = _mm512_set1_epi8(static_cast<char>(0xFF));
        for (int half = 0; half < 2; ++half) {
            const Reg words = Load(kPixel32Permutes.words[m][half]);
            const Reg blueGreen = _mm512_permutex2var_epi8(b, words, g);
            const Reg redOpaque = _mm512_permutex2var_epi8(r, words, opaque);
            for (int k = 0; k < 2; ++k)
                Store(out + 128 * half + 64 * k,
                      _mm512_permutex2var_epi16(blueGreen, Load(kWordPermutes.pairs[k]), redOpaque));
        }
    }

    static void StoreWordPairs(std::uint8_t* out, Reg a, Reg b)
    {
        Store(out, _mm512_permutex2var_epi16(a, Load(kWordPermutes.pairs[0]), b));
        Store(out + 64, _mm512_permutex2var_epi16(a, Load(kWordPermutes.pairs[1]), b));
    }

    static void StoreYuy2(std::uint8_t* out, Reg lo, Reg hi, bool mirror)
    {
        const int m = mirror ? 1 : 0;
        Store(out, _mm512_permutex2var_epi8(lo, Load(kYuy2Permutes.pixels[m][0]), hi));
        Store(out + 64, _mm512_permutex2var_epi8(lo, Load(kYuy2Permutes.pixels[m][1]), hi));
    }

    static void StoreHalves(std::uint8_t* u, std::uint8_t* v, Reg a, Reg b)
    {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(u), _mm512_cvtepi16_epi8(a));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(v), _mm512_cvtepi16_epi8(b));
    }
};

}  // namespace

const PipelineKernels kAvx512Kernels = KernelsOf<Avx512Ops>(SimdLevel::Avx512);

}  // namespace kv20x
