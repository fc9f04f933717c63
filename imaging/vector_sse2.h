// 128-bit vector operations with SSE2 alone, for vector_kernels.h. Included
// only inside the unnamed namespace of a file built for SSE2 or later (see
// kernels_sse2.cpp); <emmintrin.h> must come first, outside it.

struct Sse2Ops {
    using Reg = __m128i;
    static constexpr int kBytes = 16;
    // Without byte shuffles a table look-up goes byte by byte, so the tone
    // ramp is computed instead wherever the tone table is one.
    static constexpr bool kPreferContrast = true;
    // No byte multiply-adds: the YUV sums go through words.
    static constexpr bool kMaddUbs = false;

    static Reg Load(const void* p) { return _mm_loadu_si128(static_cast<const Reg*>(p)); }
    static void Store(void* p, Reg v) { _mm_storeu_si128(static_cast<Reg*>(p), v); }
    static Reg Zero() { return _mm_setzero_si128(); }
    static Reg Set16(std::int16_t v) { return _mm_set1_epi16(v); }
    static Reg Set32(std::int32_t v) { return _mm_set1_epi32(v); }

    static Reg Lo8(Reg v) { return _mm_unpacklo_epi8(v, _mm_setzero_si128()); }
    static Reg Hi8(Reg v) { return _mm_unpackhi_epi8(v, _mm_setzero_si128()); }
    static Reg PackU8(Reg lo, Reg hi) { return _mm_packus_epi16(lo, hi); }
    static Reg Zip8Lo(Reg a, Reg b) { return _mm_unpacklo_epi8(a, b); }
    static Reg Zip8Hi(Reg a, Reg b) { return _mm_unpackhi_epi8(a, b); }
    static Reg Lo16(Reg a, Reg b) { return _mm_unpacklo_epi16(a, b); }
    static Reg Hi16(Reg a, Reg b) { return _mm_unpackhi_epi16(a, b); }
    static Reg PackS16(Reg lo, Reg hi) { return _mm_packs_epi32(lo, hi); }

    static Reg Add16(Reg a, Reg b) { return _mm_add_epi16(a, b); }
    static Reg Mul16(Reg a, Reg b) { return _mm_mullo_epi16(a, b); }
    static Reg MulHiU16(Reg a, Reg b) { return _mm_mulhi_epu16(a, b); }
    static Reg Min16(Reg a, Reg b) { return _mm_min_epi16(a, b); }
    static Reg Max16(Reg a, Reg b) { return _mm_max_epi16(a, b); }
    template <int n>
    static Reg Srl16(Reg v) { return _mm_srli_epi16(v, n); }
    static Reg Madd(Reg a, Reg b) { return _mm_madd_epi16(a, b); }
    static Reg Add32(Reg a, Reg b) { return _mm_add_epi32(a, b); }
    template <int n>
    static Reg Sra32(Reg v) { return _mm_srai_epi32(v, n); }

    static Reg And(Reg a, Reg b) { return _mm_and_si128(a, b); }
    static Reg Or(Reg a, Reg b) { return _mm_or_si128(a, b); }
    static Reg AvgU16(Reg a, Reg b) { return _mm_avg_epu16(a, b); }
    static Reg ReverseWords(Reg v)
    {
        return _mm_shuffle_epi32(_mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0x1B), 0x1B), 0x4E);
    }

    static Reg BlendOdd16(Reg even, Reg odd)
    {
        const Reg evenWords = _mm_set1_epi32(0xFFFF);
        return _mm_or_si128(_mm_and_si128(evenWords, even), _mm_andnot_si128(evenWords, odd));
    }

    static Reg SumBytes(Reg acc, Reg v) { return _mm_add_epi64(acc, _mm_sad_epu8(v, _mm_setzero_si128())); }
    static std::uint64_t Total(Reg acc)
    {
        alignas(16) std::uint64_t lanes[2];
        _mm_store_si128(reinterpret_cast<Reg*>(lanes), acc);
        return lanes[0] + lanes[1];
    }

    // t in 0..255: t + sign(t - 128) x ((|t - 128| x c) >> 7), left unclamped
    // for the packing to saturate.
    static Reg Contrast(Reg t, Reg c)
    {
        const Reg s = _mm_sub_epi16(t, _mm_set1_epi16(128));
        const Reg negative = _mm_srai_epi16(s, 15);
        const Reg distance = _mm_sub_epi16(_mm_xor_si128(s, negative), negative);
        const Reg e = _mm_srli_epi16(_mm_mullo_epi16(distance, c), 7);
        return _mm_add_epi16(t, _mm_sub_epi16(_mm_xor_si128(e, negative), negative));
    }

    struct Table {
        explicit Table(const std::uint8_t* t) : entries(t) {}
        const std::uint8_t* entries;
    };
    static Reg Lookup(const Table& table, Reg v)
    {
        alignas(16) std::uint8_t bytes[16];
        _mm_store_si128(reinterpret_cast<Reg*>(bytes), v);
        for (std::uint8_t& b : bytes)
            b = table.entries[b];
        return _mm_load_si128(reinterpret_cast<const Reg*>(bytes));
    }

    // Pixels as blue-green-red-zero words, then each word stored over the
    // zero of the one before; the last pixel stores three bytes only, so
    // nothing is written past the 48.
    static void StorePixels(std::uint8_t* out, Reg b, Reg g, Reg r, bool mirror)
    {
        const Reg zero = _mm_setzero_si128();
        const Reg blueGreenLow = _mm_unpacklo_epi8(b, g), blueGreenHigh = _mm_unpackhi_epi8(b, g);
        const Reg redLow = _mm_unpacklo_epi8(r, zero), redHigh = _mm_unpackhi_epi8(r, zero);
        alignas(16) std::uint32_t pixels[16];
        _mm_store_si128(reinterpret_cast<Reg*>(pixels), _mm_unpacklo_epi16(blueGreenLow, redLow));
        _mm_store_si128(reinterpret_cast<Reg*>(pixels + 4), _mm_unpackhi_epi16(blueGreenLow, redLow));
        _mm_store_si128(reinterpret_cast<Reg*>(pixels + 8), _mm_unpacklo_epi16(blueGreenHigh, redHigh));
        _mm_store_si128(reinterpret_cast<Reg*>(pixels + 12), _mm_unpackhi_epi16(blueGreenHigh, redHigh));
        for (int i = 0; i < 15; ++i)
            std::memcpy(out + 3 * i, &pixels[mirror ? 15 - i : i], 4);
        std::memcpy(out + 45, &pixels[mirror ? 0 : 15], 3);
    }

    // Blue-green and red-0xFF byte pairs, then the pairs into pixels: four
    // registers of four pixels, each reversed and stored in reverse order
    // when mirrored.
    static void StorePixels32(std::uint8_t* out, Reg b, Reg g, Reg r, bool mirror)
    {
        const Reg opaque = _mm_set1_epi8(static_cast<char>(0xFF));
        const Reg blueGreenLow = _mm_unpacklo_epi8(b, g), blueGreenHigh = _mm_unpackhi_epi8(b, g);
        const Reg redLow = _mm_unpacklo_epi8(r, opaque), redHigh = _mm_unpackhi_epi8(r, opaque);
        const Reg pixels[4] = {_mm_unpacklo_epi16(blueGreenLow, redLow), _mm_unpackhi_epi16(blueGreenLow, redLow),
                               _mm_unpacklo_epi16(blueGreenHigh, redHigh), _mm_unpackhi_epi16(blueGreenHigh, redHigh)};
        for (int i = 0; i < 4; ++i)
            Store(out + 16 * i, mirror ? _mm_shuffle_epi32(pixels[3 - i], 0x1B) : pixels[i]);
    }

    static void StoreWordPairs(std::uint8_t* out, Reg a, Reg b)
    {
        Store(out, _mm_unpacklo_epi16(a, b));
        Store(out + 16, _mm_unpackhi_epi16(a, b));
    }

    static void StoreHalves(std::uint8_t* u, std::uint8_t* v, Reg a, Reg b)
    {
        const Reg bytes = _mm_packus_epi16(a, b);
        _mm_storel_epi64(reinterpret_cast<Reg*>(u), bytes);
        _mm_storel_epi64(reinterpret_cast<Reg*>(v), _mm_unpackhi_epi64(bytes, bytes));
    }
};
