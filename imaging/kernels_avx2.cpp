// The row kernels for processors with AVX2. Built with -mavx2. Most
// operations work within each 128-bit lane; unpacking and packing pair up
// lane by lane, so only the pixel packing crosses lanes.

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "imaging/pipeline_kernels.h"

namespace kv20x {
namespace {

#include "imaging/vector_kernels.h"

// The interleaving masks repeated in both lanes, for shuffles that take
// them straight from memory.
struct WideInterleaveMasks {
    alignas(32) std::uint8_t m[2][3][3][32];
};

constexpr WideInterleaveMasks MakeWideInterleaveMasks()
{
    WideInterleaveMasks wide{};
    for (int mirror = 0; mirror < 2; ++mirror)
        for (int piece = 0; piece < 3; ++piece)
            for (int channel = 0; channel < 3; ++channel)
                for (int j = 0; j < 32; ++j)
                    wide.m[mirror][piece][channel][j] = kInterleaveMasks.m[mirror][piece][channel][j % 16];
    return wide;
}

constexpr WideInterleaveMasks kWideInterleaveMasks = MakeWideInterleaveMasks();

struct Avx2Ops {
    using Reg = __m256i;
    static constexpr int kBytes = 32;
    // Sixteen shuffles per register for a table look-up against a handful
    // of word operations for the ramp.
    static constexpr bool kPreferContrast = true;
    static constexpr bool kMaddUbs = true;

    static Reg Load(const void* p) { return _mm256_loadu_si256(static_cast<const Reg*>(p)); }
    static void Store(void* p, Reg v) { _mm256_storeu_si256(static_cast<Reg*>(p), v); }
    static Reg Zero() { return _mm256_setzero_si256(); }
    static Reg Set16(std::int16_t v) { return _mm256_set1_epi16(v); }
    static Reg Set32(std::int32_t v) { return _mm256_set1_epi32(v); }

    static Reg Lo8(Reg v) { return _mm256_unpacklo_epi8(v, _mm256_setzero_si256()); }
    static Reg Hi8(Reg v) { return _mm256_unpackhi_epi8(v, _mm256_setzero_si256()); }
    static Reg PackU8(Reg lo, Reg hi) { return _mm256_packus_epi16(lo, hi); }
    static Reg Zip8Lo(Reg a, Reg b) { return _mm256_unpacklo_epi8(a, b); }
    static Reg Zip8Hi(Reg a, Reg b) { return _mm256_unpackhi_epi8(a, b); }
    static Reg MaddUbs(Reg a, Reg b) { return _mm256_maddubs_epi16(a, b); }
    static Reg Lo16(Reg a, Reg b) { return _mm256_unpacklo_epi16(a, b); }
    static Reg Hi16(Reg a, Reg b) { return _mm256_unpackhi_epi16(a, b); }
    static Reg PackS16(Reg lo, Reg hi) { return _mm256_packs_epi32(lo, hi); }

    static Reg Add16(Reg a, Reg b) { return _mm256_add_epi16(a, b); }
    static Reg Mul16(Reg a, Reg b) { return _mm256_mullo_epi16(a, b); }
    static Reg MulHiU16(Reg a, Reg b) { return _mm256_mulhi_epu16(a, b); }
    static Reg Min16(Reg a, Reg b) { return _mm256_min_epi16(a, b); }
    static Reg Max16(Reg a, Reg b) { return _mm256_max_epi16(a, b); }
    template <int n>
    static Reg Srl16(Reg v) { return _mm256_srli_epi16(v, n); }
    static Reg Madd(Reg a, Reg b) { return _mm256_madd_epi16(a, b); }
    static Reg Add32(Reg a, Reg b) { return _mm256_add_epi32(a, b); }
    template <int n>
    static Reg Sra32(Reg v) { return _mm256_srai_epi32(v, n); }

    static Reg And(Reg a, Reg b) { return _mm256_and_si256(a, b); }
    static Reg Or(Reg a, Reg b) { return _mm256_or_si256(a, b); }
    static Reg AvgU16(Reg a, Reg b) { return _mm256_avg_epu16(a, b); }
    static Reg ReverseWords(Reg v)
    {
        const Reg inLane = _mm256_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1,
                                            14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
        return _mm256_permute4x64_epi64(_mm256_shuffle_epi8(v, inLane), 0x4E);
    }

    static Reg ReverseBytes(Reg v)
    {
        const Reg inLane = _mm256_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0,
                                            15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
        return _mm256_permute4x64_epi64(_mm256_shuffle_epi8(v, inLane), 0x4E);
    }

    static Reg BlendOdd16(Reg even, Reg odd) { return _mm256_blend_epi16(even, odd, 0xAA); }

    static Reg SumBytes(Reg acc, Reg v) { return _mm256_add_epi64(acc, _mm256_sad_epu8(v, _mm256_setzero_si256())); }
    static std::uint64_t Total(Reg acc)
    {
        std::uint64_t lanes[4];
        _mm256_storeu_si256(reinterpret_cast<Reg*>(lanes), acc);
        return lanes[0] + lanes[1] + lanes[2] + lanes[3];
    }

    static Reg Contrast(Reg t, Reg c)
    {
        const Reg s = _mm256_sub_epi16(t, _mm256_set1_epi16(128));
        const Reg e = _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_abs_epi16(s), c), 7);
        return _mm256_add_epi16(t, _mm256_sign_epi16(e, s));
    }

    // Sixteen rows of sixteen entries, each in both lanes.
    struct Table {
        explicit Table(const std::uint8_t* t)
        {
            for (int h = 0; h < 16; ++h)
                rows[h] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t + 16 * h)));
        }
        Reg rows[16];
    };
    static Reg Lookup(const Table& table, Reg v)
    {
        const Reg nibble = _mm256_set1_epi8(0x0F);
        const Reg low = _mm256_and_si256(v, nibble);
        const Reg high = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
        Reg result = _mm256_setzero_si256();
        for (int h = 0; h < 16; ++h) {
            const Reg mine = _mm256_cmpeq_epi8(high, _mm256_set1_epi8(static_cast<char>(h)));
            result = _mm256_blendv_epi8(result, _mm256_shuffle_epi8(table.rows[h], low), mine);
        }
        return result;
    }

    // Each lane makes three 16-byte pieces of its 16 pixels: lane 0 the
    // output's bytes 0-47 (pieces A0 A1 A2), lane 1 bytes 48-95 (B0 B1 B2).
    // Mirrored, each lane's pixels are reversed and the lanes trade places.
    static void StorePixels(std::uint8_t* out, Reg b, Reg g, Reg r, bool mirror)
    {
        const auto& m = kWideInterleaveMasks.m[mirror ? 1 : 0];
        Reg piece[3];
        for (int k = 0; k < 3; ++k) {
            const auto mask = [&m, k](int channel) { return Load(m[k][channel]); };
            piece[k] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(b, mask(0)), _mm256_shuffle_epi8(g, mask(1))),
                                       _mm256_shuffle_epi8(r, mask(2)));
        }
        if (!mirror) {
            Store(out, _mm256_permute2x128_si256(piece[0], piece[1], 0x20));       // A0 A1
            Store(out + 32, _mm256_permute2x128_si256(piece[2], piece[0], 0x30));  // A2 B0
            Store(out + 64, _mm256_permute2x128_si256(piece[1], piece[2], 0x31));  // B1 B2
        } else {
            Store(out, _mm256_permute2x128_si256(piece[0], piece[1], 0x31));       // B0 B1
            Store(out + 32, _mm256_permute2x128_si256(piece[2], piece[0], 0x21));  // B2 A0
            Store(out + 64, _mm256_permute2x128_si256(piece[1], piece[2], 0x20));  // A1 A2
        }
    }

    // Unpacking within the lanes leaves pixels 0-3 and 16-19 in one
    // register, 4-7 and 20-23 in the next, and so on; the lanes are then
    // paired up. Mirrored, each register's pixels are reversed and the
    // registers stored in reverse order.
    static void StorePixels32(std::uint8_t* out, Reg b, Reg g, Reg r, bool mirror)
    {
        const Reg opaque = _mm256_set1_epi8(static_cast<char>(0xFF));
        const Reg blueGreenLow = _mm256_unpacklo_epi8(b, g), blueGreenHigh = _mm256_unpackhi_epi8(b, g);
        const Reg redLow = _mm256_unpacklo_epi8(r, opaque), redHigh = _mm256_unpackhi_epi8(r, opaque);
        const Reg q0 = _mm256_unpacklo_epi16(blueGreenLow, redLow), q1 = _mm256_unpackhi_epi16(blueGreenLow, redLow);
        const Reg q2 = _mm256_unpacklo_epi16(blueGreenHigh, redHigh), q3 = _mm256_unpackhi_epi16(blueGreenHigh, redHigh);
        const Reg pixels[4] = {_mm256_permute2x128_si256(q0, q1, 0x20), _mm256_permute2x128_si256(q2, q3, 0x20),
                               _mm256_permute2x128_si256(q0, q1, 0x31), _mm256_permute2x128_si256(q2, q3, 0x31)};
        if (!mirror) {
            for (int i = 0; i < 4; ++i)
                Store(out + 32 * i, pixels[i]);
            return;
        }
        const Reg reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
        for (int i = 0; i < 4; ++i)
            Store(out + 32 * i, _mm256_permutevar8x32_epi32(pixels[3 - i], reverse));
    }

    static void StoreWordPairs(std::uint8_t* out, Reg a, Reg b)
    {
        const Reg low = _mm256_unpacklo_epi16(a, b), high = _mm256_unpackhi_epi16(a, b);
        Store(out, _mm256_permute2x128_si256(low, high, 0x20));
        Store(out + 32, _mm256_permute2x128_si256(low, high, 0x31));
    }

    // lo holds pixels 0-7 and 16-23, hi 8-15 and 24-31: the lanes are paired
    // up. Mirrored, the four-byte groups in reverse (lanes trading places),
    // bytes 0 and 2 of each swapped.
    static void StoreYuy2(std::uint8_t* out, Reg lo, Reg hi, bool mirror)
    {
        if (!mirror) {
            Store(out, _mm256_permute2x128_si256(lo, hi, 0x20));
            Store(out + 32, _mm256_permute2x128_si256(lo, hi, 0x31));
            return;
        }
        const Reg reverse = _mm256_setr_epi8(14, 13, 12, 15, 10, 9, 8, 11, 6, 5, 4, 7, 2, 1, 0, 3,
                                             14, 13, 12, 15, 10, 9, 8, 11, 6, 5, 4, 7, 2, 1, 0, 3);
        Store(out, _mm256_shuffle_epi8(_mm256_permute2x128_si256(hi, lo, 0x31), reverse));
        Store(out + 32, _mm256_shuffle_epi8(_mm256_permute2x128_si256(hi, lo, 0x20), reverse));
    }

    // Packing leaves a's first eight bytes, then b's, in each lane: the
    // quarters are put in order before the halves are stored.
    static void StoreHalves(std::uint8_t* u, std::uint8_t* v, Reg a, Reg b)
    {
        const Reg bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(u), _mm256_castsi256_si128(bytes));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(v), _mm256_extracti128_si256(bytes, 1));
    }
};

}  // namespace

const PipelineKernels kAvx2Kernels = KernelsOf<Avx2Ops>(SimdLevel::Avx2);

}  // namespace kv20x
