// The row kernels for processors with SSSE3: the SSE2 forms with byte
// shuffles for packing pixels, reversing words and looking up tables, and
// word sign and absolute value for the tone ramp. Built with -mssse3.

#include <tmmintrin.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <cstring>

#include "imaging/pipeline_kernels.h"

namespace kv20x {
namespace {

#include "imaging/vector_kernels.h"
#include "imaging/vector_sse2.h"

struct Ssse3Ops : Sse2Ops {
    static constexpr bool kMaddUbs = true;

    static Reg MaddUbs(Reg a, Reg b) { return _mm_maddubs_epi16(a, b); }
    static Reg ReverseBytes(Reg v)
    {
        return _mm_shuffle_epi8(v, _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0));
    }

    // Mirrored: the four-byte groups in reverse, bytes 0 and 2 of each
    // swapped, the two registers trading places.
    static void StoreYuy2(std::uint8_t* out, Reg lo, Reg hi, bool mirror)
    {
        if (!mirror) {
            Store(out, lo);
            Store(out + 16, hi);
            return;
        }
        const Reg reverse = _mm_setr_epi8(14, 13, 12, 15, 10, 9, 8, 11, 6, 5, 4, 7, 2, 1, 0, 3);
        Store(out, _mm_shuffle_epi8(hi, reverse));
        Store(out + 16, _mm_shuffle_epi8(lo, reverse));
    }

    static Reg Contrast(Reg t, Reg c)
    {
        const Reg s = _mm_sub_epi16(t, _mm_set1_epi16(128));
        const Reg e = _mm_srli_epi16(_mm_mullo_epi16(_mm_abs_epi16(s), c), 7);
        return _mm_add_epi16(t, _mm_sign_epi16(e, s));
    }

    // The table as sixteen rows of sixteen: each byte takes, from the row its
    // high half selects, the entry its low half selects.
    struct Table {
        explicit Table(const std::uint8_t* t)
        {
            for (int h = 0; h < 16; ++h)
                rows[h] = _mm_loadu_si128(reinterpret_cast<const Reg*>(t + 16 * h));
        }
        Reg rows[16];
    };
    static Reg Lookup(const Table& table, Reg v)
    {
        const Reg nibble = _mm_set1_epi8(0x0F);
        const Reg low = _mm_and_si128(v, nibble);
        const Reg high = _mm_and_si128(_mm_srli_epi16(v, 4), nibble);
        Reg result = _mm_setzero_si128();
        for (int h = 0; h < 16; ++h) {
            const Reg mine = _mm_cmpeq_epi8(high, _mm_set1_epi8(static_cast<char>(h)));
            result = _mm_or_si128(result, _mm_and_si128(mine, _mm_shuffle_epi8(table.rows[h], low)));
        }
        return result;
    }

    static Reg ReverseWords(Reg v)
    {
        return _mm_shuffle_epi8(v, _mm_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1));
    }

    static void StorePixels(std::uint8_t* out, Reg b, Reg g, Reg r, bool mirror)
    {
        const auto& m = kInterleaveMasks.m[mirror ? 1 : 0];
        for (int piece = 0; piece < 3; ++piece) {
            const Reg pb = _mm_shuffle_epi8(b, Load(m[piece][0]));
            const Reg pg = _mm_shuffle_epi8(g, Load(m[piece][1]));
            const Reg pr = _mm_shuffle_epi8(r, Load(m[piece][2]));
            Store(out + 16 * piece, _mm_or_si128(_mm_or_si128(pb, pg), pr));
        }
    }
};

}  // namespace

const PipelineKernels kSsse3Kernels = KernelsOf<Ssse3Ops>(SimdLevel::Ssse3);

}  // namespace kv20x
