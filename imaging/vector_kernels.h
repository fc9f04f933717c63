// The vector forms of the row kernels, written once over a set of vector
// operations V (one per instruction set: see kernels_*.cpp). Included only
// inside the unnamed namespace of a file compiled for one instruction set,
// so that nothing here is shared between files built with different
// processor flags.
//
// V provides, on registers of V::kBytes bytes:
//   Load, Store, Zero, Set16, Set32
//   Lo8, Hi8            bytes to 16-bit words (the low or high half of each 128-bit lane)
//   PackU8              words back to bytes, saturating; PackU8(Lo8(v), Hi8(v)) == v
//   Lo16, Hi16          interleave the words of two registers into 32-bit pairs
//   PackS16             32-bit to 16-bit, saturating; the inverse order of Lo16/Hi16
//   Add16, Mul16, MulHiU16, Min16, Max16, Srl16<n>
//   Madd                pairs of words multiplied and added into 32 bits
//   Add32, Sra32<n>
//   BlendOdd16(e, o)    even words from e, odd words from o
//   SumBytes(acc, v)    adds the bytes of v into 64-bit lanes of acc; Total(acc)
//   Contrast(t, c)      t + sign(t - 128) x ((|t - 128| x c) >> 7), per word
//   Table, Lookup       256-entry byte table applied to every byte
//   StorePixels(out, b, g, r, mirror)  3 x kBytes bytes of blue-green-red pixels,
//                       in reverse order when mirrored

// ---- Colour reconstruction -------------------------------------------------

template <class V, bool kEvenRow>
inline void DemosaicBlock(const DemosaicRowArgs& row, std::int32_t x)
{
    using R = typename V::Reg;
    const R u0 = V::Load(row.up + x - 1), u1 = V::Load(row.up + x), u2 = V::Load(row.up + x + 1);
    const R d0 = V::Load(row.down + x - 1), d1 = V::Load(row.down + x), d2 = V::Load(row.down + x + 1);
    const R c0 = V::Load(row.cur + x - 1), c1 = V::Load(row.cur + x), c2 = V::Load(row.cur + x + 1);
    R blue[2], green[2], red[2];
    for (int half = 0; half < 2; ++half) {
        const auto widen = [half](R v) { return half == 0 ? V::Lo8(v) : V::Hi8(v); };
        const R vsLeft = V::Add16(widen(u0), widen(d0));
        const R vs = V::Add16(widen(u1), widen(d1));
        const R vsRight = V::Add16(widen(u2), widen(d2));
        const R c = widen(c1);
        const R hs = V::Add16(widen(c0), widen(c2));
        const R diag = V::template Srl16<2>(V::Add16(vsLeft, vsRight));
        const R cross = V::template Srl16<2>(V::Add16(hs, vs));
        const R vertical = V::template Srl16<1>(vs);
        const R horizontal = V::template Srl16<1>(hs);
        const R upRight = V::template Srl16<1>(V::Add16(c, widen(u2)));
        // Even words are odd columns, since every block starts at an odd x.
        if constexpr (kEvenRow) {
            blue[half] = V::BlendOdd16(diag, vertical);
            green[half] = V::BlendOdd16(cross, upRight);
            red[half] = V::BlendOdd16(c, horizontal);
        } else {
            blue[half] = V::BlendOdd16(horizontal, c);
            green[half] = V::BlendOdd16(upRight, cross);
            red[half] = V::BlendOdd16(vertical, diag);
        }
    }
    V::Store(row.blue + x, V::PackU8(blue[0], blue[1]));
    V::Store(row.green + x, V::PackU8(green[0], green[1]));
    V::Store(row.red + x, V::PackU8(red[0], red[1]));
}

// Blocks start at odd columns; the last one is moved back (to an odd
// column) so that it ends at or just before the last interior pixel, and
// overlaps its neighbour rather than running past the row.
template <class V, bool kEvenRow>
inline void DemosaicRowVector(const DemosaicRowArgs& row)
{
    constexpr std::int32_t n = V::kBytes;
    const std::int32_t width = row.width;
    std::int32_t last = width - 1 - n;
    if (last % 2 == 0)
        --last;
    if (last < 1) {
        DemosaicSpanPlain(row, 1, width - 1);
        return;
    }
    for (std::int32_t x = 1; x < last; x += n)
        DemosaicBlock<V, kEvenRow>(row, x);
    DemosaicBlock<V, kEvenRow>(row, last);
    if (last + n < width - 1)
        DemosaicSpanPlain(row, last + n, width - 1);
}

template <class V>
void DemosaicRow(const DemosaicRowArgs& row)
{
    if (row.evenRow)
        DemosaicRowVector<V, true>(row);
    else
        DemosaicRowVector<V, false>(row);
}

template <class V>
std::uint32_t SumBytes(const std::uint8_t* bytes, std::size_t count)
{
    constexpr std::size_t n = V::kBytes;
    typename V::Reg acc = V::Zero();
    std::size_t i = 0;
    for (; i + n <= count; i += n)
        acc = V::SumBytes(acc, V::Load(bytes + i));
    return static_cast<std::uint32_t>(V::Total(acc)) + SumBytesPlain(bytes + i, count - i);
}

// ---- Colour stage, tone, mirror and packing --------------------------------

enum class Finish { Mono, WhiteBalance, MatrixNarrow, MatrixWide };

template <class V>
struct FinishConstants {
    using R = typename V::Reg;
    explicit FinishConstants(const FinishPlan& plan)
    {
        for (int c = 0; c < 3; ++c) {
            gain[c] = V::Set16(static_cast<std::int16_t>(plan.gain[c]));
            rg[c] = Pair(plan.rg[c]);
            b1[c] = Pair(plan.b1[c]);
            rgLow[c] = Pair(plan.rgLow[c]);
            b1Low[c] = Pair(plan.b1Low[c]);
            constant[c] = V::Set32(plan.constant[c]);
        }
        contrast = V::Set16(plan.contrast);
    }
    static R Pair(const std::int16_t (&p)[2])
    {
        return V::Set32(static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(p[0])) |
                                                  (static_cast<std::uint32_t>(static_cast<std::uint16_t>(p[1])) << 16)));
    }
    R gain[3], rg[3], b1[3], rgLow[3], b1Low[3], constant[3];
    R contrast;
    R zero = V::Zero();
    R one = V::Set16(1);
    R max8 = V::Set16(255);
};

// White balance of one channel's words: min(v x gain >> 6, 255).
template <class V>
inline typename V::Reg Balance(typename V::Reg v, typename V::Reg gain, typename V::Reg max8)
{
    return V::Min16(V::template Srl16<6>(V::Mul16(v, gain)), max8);
}

// Words of one output channel from the balanced red-green and blue-one pairs.
template <class V, Finish kStage>
inline typename V::Reg MatrixChannel(const FinishConstants<V>& k, int j, const typename V::Reg (&rg)[2],
                                     const typename V::Reg (&b1)[2])
{
    using R = typename V::Reg;
    R part[2];
    for (int i = 0; i < 2; ++i) {
        if constexpr (kStage == Finish::MatrixNarrow) {
            part[i] = V::template Sra32<14>(V::Add32(V::Madd(rg[i], k.rg[j]), V::Madd(b1[i], k.b1[j])));
        } else {
            // floor((128 hi + lo + constant) / 2^14) in two exact steps of 7 bits.
            const R high = V::Add32(V::Madd(rg[i], k.rg[j]), V::Madd(b1[i], k.b1[j]));
            const R low = V::Add32(V::Add32(V::Madd(rg[i], k.rgLow[j]), V::Madd(b1[i], k.b1Low[j])), k.constant[j]);
            part[i] = V::template Sra32<7>(V::Add32(high, V::template Sra32<7>(low)));
        }
    }
    return V::PackS16(part[0], part[1]);
}

// One half (Lo8 or Hi8 words) of a block: the three output channels' words,
// blue, green, red, each in 0..255 once packed.
template <class V, Finish kStage, bool kContrast>
inline void FinishHalf(const FinishConstants<V>& k, typename V::Reg b, typename V::Reg g, typename V::Reg r,
                       typename V::Reg (&out)[3])
{
    using R = typename V::Reg;
    if constexpr (kStage == Finish::Mono) {
        const R sum = V::Add16(V::Add16(V::Mul16(r, V::Set16(30)), V::Mul16(g, V::Set16(59))), V::Mul16(b, V::Set16(11)));
        // sum / 100 for sum <= 25500: (sum x 5243) >> 19.
        R grey = V::template Srl16<3>(V::MulHiU16(sum, V::Set16(5243)));
        if constexpr (kContrast)
            grey = V::Contrast(grey, k.contrast);
        out[0] = out[1] = out[2] = grey;
    } else if constexpr (kStage == Finish::WhiteBalance) {
        const R in[3] = {b, g, r};
        for (int c = 0; c < 3; ++c) {
            out[c] = Balance<V>(in[c], k.gain[c], k.max8);
            if constexpr (kContrast)
                out[c] = V::Contrast(out[c], k.contrast);
        }
    } else {
        const R wb = Balance<V>(b, k.gain[0], k.max8);
        const R wg = Balance<V>(g, k.gain[1], k.max8);
        const R wr = Balance<V>(r, k.gain[2], k.max8);
        const R rg[2] = {V::Lo16(wr, wg), V::Hi16(wr, wg)};
        const R b1[2] = {V::Lo16(wb, k.one), V::Hi16(wb, k.one)};
        for (int c = 0; c < 3; ++c) {
            out[c] = MatrixChannel<V, kStage>(k, c, rg, b1);
            if constexpr (kContrast)
                out[c] = V::Contrast(V::Min16(V::Max16(out[c], k.zero), k.max8), k.contrast);
        }
    }
}

// Walks a row in blocks of V::kBytes output pixels: `block(b, g, r, out)`
// turns the source pixels' planes into the three output channels, which are
// then packed in place. The last block overlaps the one before; mirrored,
// output block x is made from the source block that ends at width - x.
template <class V, typename Block>
inline void ForEachBlock(const FinishRowArgs& row, Block block)
{
    using R = typename V::Reg;
    constexpr std::int32_t n = V::kBytes;
    const std::int32_t width = row.width;
    for (std::int32_t x = 0;; x += n) {
        if (x > width - n)
            x = width - n;
        const std::int32_t source = row.mirror ? width - n - x : x;
        R out[3];
        block(V::Load(row.blue + source), V::Load(row.green + source), V::Load(row.red + source), out);
        V::StorePixels(row.out + 3 * static_cast<std::ptrdiff_t>(x), out[0], out[1], out[2], row.mirror);
        if (x == width - n)
            break;
    }
}

// A table type that loads nothing, for forms that look nothing up.
struct NoTable {
    explicit NoTable(const std::uint8_t*) {}
};

// White balance without the contrast form: each channel through its
// combined white balance and tone table.
template <class V>
void FinishRowTables(const FinishPlan& plan, const FinishRowArgs& row)
{
    using R = typename V::Reg;
    const typename V::Table blue(plan.channelTables[0]), green(plan.channelTables[1]), red(plan.channelTables[2]);
    ForEachBlock<V>(row, [&](R b, R g, R r, R (&out)[3]) {
        out[0] = V::Lookup(blue, b);
        out[1] = V::Lookup(green, g);
        out[2] = V::Lookup(red, r);
    });
}

// The colour stage in words; the tone by the contrast form before packing,
// or looked up after it.
template <class V, Finish kStage, bool kContrast>
void FinishRowWords(const FinishPlan& plan, const FinishRowArgs& row)
{
    using R = typename V::Reg;
    const FinishConstants<V> k(plan);
    using ToneTable = std::conditional_t<kContrast, NoTable, typename V::Table>;
    const ToneTable tone(plan.tone->table);
    ForEachBlock<V>(row, [&](R b, R g, R r, R (&out)[3]) {
        R lo[3], hi[3];
        FinishHalf<V, kStage, kContrast>(k, V::Lo8(b), V::Lo8(g), V::Lo8(r), lo);
        FinishHalf<V, kStage, kContrast>(k, V::Hi8(b), V::Hi8(g), V::Hi8(r), hi);
        const int channels = kStage == Finish::Mono ? 1 : 3;
        for (int c = 0; c < channels; ++c) {
            out[c] = V::PackU8(lo[c], hi[c]);
            if constexpr (!kContrast)
                out[c] = V::Lookup(tone, out[c]);
        }
        if (kStage == Finish::Mono)
            out[1] = out[2] = out[0];
    });
}

template <class V>
void FinishRow(const FinishPlan& plan, const FinishRowArgs& row)
{
    const bool plain = !plan.vectorForm || row.width < V::kBytes ||
                       (plan.stage == ColourStage::WhiteBalanceMatrix && !plan.narrowMatrix && !plan.wideMatrix);
    if (plain) {
        FinishSpanPlain(plan, row, 0, row.width);
        return;
    }
    const bool contrast = plan.toneIsContrast && V::kPreferContrast;
    switch (plan.stage) {
    case ColourStage::Mono:
        return contrast ? FinishRowWords<V, Finish::Mono, true>(plan, row)
                        : FinishRowWords<V, Finish::Mono, false>(plan, row);
    case ColourStage::WhiteBalanceOnly:
        return contrast ? FinishRowWords<V, Finish::WhiteBalance, true>(plan, row) : FinishRowTables<V>(plan, row);
    case ColourStage::WhiteBalanceMatrix:
        if (plan.narrowMatrix)
            return contrast ? FinishRowWords<V, Finish::MatrixNarrow, true>(plan, row)
                            : FinishRowWords<V, Finish::MatrixNarrow, false>(plan, row);
        return contrast ? FinishRowWords<V, Finish::MatrixWide, true>(plan, row)
                        : FinishRowWords<V, Finish::MatrixWide, false>(plan, row);
    }
}

// ---- Byte shuffles shared by the 128- and 256-bit forms ---------------------

// Within one 128-bit lane: 16 pixels of three planes become three 16-byte
// pieces of packed pixels. masks[mirror][piece][channel] selects, for each
// output byte, the plane byte it takes (0x80: none). Mirrored, the lane's
// pixels are taken last to first.
struct InterleaveMasks {
    alignas(16) std::uint8_t m[2][3][3][16];
};

constexpr InterleaveMasks MakeInterleaveMasks()
{
    InterleaveMasks masks{};
    for (int mirror = 0; mirror < 2; ++mirror)
        for (int piece = 0; piece < 3; ++piece)
            for (int channel = 0; channel < 3; ++channel)
                for (int j = 0; j < 16; ++j) {
                    const int q = piece * 16 + j, pixel = q / 3;
                    masks.m[mirror][piece][channel][j] =
                        static_cast<std::uint8_t>(q % 3 == channel ? (mirror ? 15 - pixel : pixel) : 0x80);
                }
    return masks;
}

inline constexpr InterleaveMasks kInterleaveMasks = MakeInterleaveMasks();
