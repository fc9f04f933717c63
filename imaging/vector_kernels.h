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
//   And, Or, AvgU16     (AvgU16: (a + b + 1) >> 1 per unsigned word, exact)
//   ReverseWords        the register's words in reverse order
//   kMaddUbs            whether the byte multiply-adds below exist; then:
//     Zip8Lo, Zip8Hi    the bytes of two registers interleaved, a first, in
//                       the halves Lo8 and Hi8 take
//     MaddUbs(a, b)     unsigned bytes of a times signed bytes of b, pairs
//                       added into signed words
//     ReverseBytes      the register's bytes in reverse order
//     StoreYuy2(out, lo, hi, mirror)  2 x kBytes bytes: the words of lo and
//                       hi in the pixel order Lo8 and Hi8 took them from;
//                       mirrored, the four-byte groups in reverse order,
//                       each with its bytes 0 and 2 swapped
//   StorePixels(out, b, g, r, mirror)  3 x kBytes bytes of blue-green-red pixels,
//                       in reverse order when mirrored
//   StorePixels32(out, b, g, r, mirror)  4 x kBytes bytes: blue, green, red, 0xFF
//   StoreWordPairs(out, a, b)  2 x kBytes bytes: word i of a, then word i of b,
//                       for each i in order
//   StoreHalves(u, v, a, b)  the words of a (each 0..255) as kBytes / 2 bytes at
//                       u, and those of b at v

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

// A table type that loads nothing, for forms that look nothing up.
struct NoTable {
    explicit NoTable(const std::uint8_t*) {}
};

// The colour stages of a block of V::kBytes pixels: `(b, g, r, out)` turns
// the planes' bytes into the three output channels' bytes (blue, green,
// red), pixel for pixel.
//
// White balance without the contrast form: each channel through its
// combined white balance and tone table.
template <class V>
struct TablesColour {
    using R = typename V::Reg;
    explicit TablesColour(const FinishPlan& plan)
        : blue(plan.channelTables[0]), green(plan.channelTables[1]), red(plan.channelTables[2])
    {
    }
    void operator()(R b, R g, R r, R (&out)[3]) const
    {
        out[0] = V::Lookup(blue, b);
        out[1] = V::Lookup(green, g);
        out[2] = V::Lookup(red, r);
    }
    const typename V::Table blue, green, red;
};

// The colour stage in words; the tone by the contrast form before packing,
// or looked up after it.
template <class V, Finish kStage, bool kContrast>
struct WordsColour {
    using R = typename V::Reg;
    using ToneTable = std::conditional_t<kContrast, NoTable, typename V::Table>;
    explicit WordsColour(const FinishPlan& plan) : k(plan), tone(plan.tone->table) {}
    void operator()(R b, R g, R r, R (&out)[3]) const
    {
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
    }
    const FinishConstants<V> k;
    const ToneTable tone;
};

// Walks a row in blocks of V::kBytes output pixels, x = 0, n, 2n, ...; the
// last block is moved back to end at the row's end, overlapping the one
// before (even, like every block start, for an even width). Mirrored,
// output block x is made from the source block that ends at width - x.
template <class V, typename Block>
inline void ForEachBlock(std::int32_t width, bool mirror, Block block)
{
    constexpr std::int32_t n = V::kBytes;
    for (std::int32_t x = 0;; x += n) {
        if (x > width - n)
            x = width - n;
        block(x, mirror ? width - n - x : x);
        if (x == width - n)
            break;
    }
}

template <class V, class Colour>
inline void ColourBlock(const Colour& colour, const FinishRowArgs& row, std::int32_t source,
                        typename V::Reg (&out)[3])
{
    colour(V::Load(row.blue + source), V::Load(row.green + source), V::Load(row.red + source), out);
}

// ---- The picture formats ------------------------------------------------------

// Each walk writes one format: Run with a colour stage, Plain for what the
// vector forms leave to the plain form, Width of the row.
template <class V>
struct Rgb24Walk {
    using Args = FinishRowArgs;
    static std::int32_t Width(const Args& row) { return row.width; }
    static void Plain(const FinishPlan& plan, const Args& row) { FinishSpanPlain(plan, row, 0, row.width); }
    template <class Colour>
    static void Run(const Args& row, const Colour& colour)
    {
        ForEachBlock<V>(row.width, row.mirror, [&](std::int32_t x, std::int32_t source) {
            typename V::Reg out[3];
            ColourBlock<V>(colour, row, source, out);
            V::StorePixels(row.out + 3 * static_cast<std::ptrdiff_t>(x), out[0], out[1], out[2], row.mirror);
        });
    }
};

template <class V>
struct Rgb32Walk {
    using Args = FinishRowArgs;
    static std::int32_t Width(const Args& row) { return row.width; }
    static void Plain(const FinishPlan& plan, const Args& row) { FinishRow32Plain(plan, row); }
    template <class Colour>
    static void Run(const Args& row, const Colour& colour)
    {
        ForEachBlock<V>(row.width, row.mirror, [&](std::int32_t x, std::int32_t source) {
            typename V::Reg out[3];
            ColourBlock<V>(colour, row, source, out);
            V::StorePixels32(row.out + 4 * static_cast<std::ptrdiff_t>(x), out[0], out[1], out[2], row.mirror);
        });
    }
};

// The colour rule in 16-bit words (picture_format.h). Every sum below is
// the rule's numerator plus a bias that puts it in 0..65535, so that the
// wrapping word arithmetic gives it exactly and its high byte is the
// result:
//   Y    66 R + 129 G + 25 B + 128 + 16 x 256
//   U    56 (B0 + B1) - 19 (R0 + R1) - 37 (G0 + G1) + 128 + 128 x 256, per pair
//   V    56 (R0 + R1) - 47 (G0 + G1) - 9 (B0 + B1) + 128 + 128 x 256
// (the pair terms within -28560..28560). A 2 x 2 block averages its two
// rows' pair sums with AvgU16, whose extra bit keeps the sum exact; the
// lower row's bias is one less, so that the average's rounding up cancels:
// (S0 + b + S1 + b - 1 + 1) >> 1 = floor((S0 + S1) / 2) + b.
//
// With byte multiply-adds (V::kMaddUbs) a pair's sums come straight from the
// bytes, and Y from red and blue each interleaved with green (66 R + 61 G,
// 25 B + 68 G: each product pair stays within the signed words the
// instruction gives). Without, the bytes are split into the words of the
// even and of the odd pixels first.
//
// The constants live in memory, where an instruction can take them as its
// operand: built in registers they crowd out the colour stage's and are
// rebuilt inside the loops.
struct YuvWords {
    alignas(64) std::uint16_t lowBytes[32], highBytes[32], yBias[32], chromaBias[32], chromaBiasBelow[32];
    alignas(64) std::uint16_t yRedGreen[32], yBlueGreen[32];      // byte multiply-add
    alignas(64) std::uint16_t yRed[32], yGreen[32], yBlue[32];     // words
    // U: blue, red, green; V: red, green, blue; on both bytes of a pair, or on a pair's sum.
    alignas(64) std::uint16_t pairBytes[6][32], pairWords[6][32];
};

constexpr YuvWords MakeYuvWords()
{
    YuvWords w{};
    const int factors[6] = {56, -19, -37, 56, -47, -9};
    for (int i = 0; i < 32; ++i) {
        w.lowBytes[i] = 0x00FF;
        w.highBytes[i] = 0xFF00;
        w.yBias[i] = 128 + 16 * 256;
        w.chromaBias[i] = 128 + 128 * 256;
        w.chromaBiasBelow[i] = 127 + 128 * 256;
        w.yRedGreen[i] = 66 | 61 << 8;
        w.yBlueGreen[i] = 25 | 68 << 8;
        w.yRed[i] = 66;
        w.yGreen[i] = 129;
        w.yBlue[i] = 25;
        for (int f = 0; f < 6; ++f) {
            const auto byte = static_cast<std::uint16_t>(factors[f] & 0xFF);
            w.pairBytes[f][i] = static_cast<std::uint16_t>(byte | byte << 8);
            w.pairWords[f][i] = static_cast<std::uint16_t>(factors[f]);
        }
    }
    return w;
}

inline constexpr YuvWords kYuvWords = MakeYuvWords();

// The table is reached through a pointer the optimiser cannot see through:
// knowing the values, it would build each constant from an immediate
// (three instructions) every time round the loop instead.
template <class V>
struct YuvConstants {
    using R = typename V::Reg;
    YuvConstants() : w(&kYuvWords)
    {
        asm("" : "+r"(w));
        w = static_cast<const YuvWords*>(__builtin_assume_aligned(w, 64));
    }
    R Pair(int f) const { return V::Load(V::kMaddUbs ? w->pairBytes[f] : w->pairWords[f]); }
    R lowBytes() const { return V::Load(w->lowBytes); }
    R highBytes() const { return V::Load(w->highBytes); }
    R yBias() const { return V::Load(w->yBias); }
    R chromaBias() const { return V::Load(w->chromaBias); }
    R chromaBiasBelow() const { return V::Load(w->chromaBiasBelow); }
    R yRedGreen() const { return V::Load(w->yRedGreen); }
    R yBlueGreen() const { return V::Load(w->yBlueGreen); }
    R yRed() const { return V::Load(w->yRed); }
    R yGreen() const { return V::Load(w->yGreen); }
    R yBlue() const { return V::Load(w->yBlue); }
    R uBlue() const { return Pair(0); }
    R uRed() const { return Pair(1); }
    R uGreen() const { return Pair(2); }
    R vRed() const { return Pair(3); }
    R vGreen() const { return Pair(4); }
    R vBlue() const { return Pair(5); }
    const YuvWords* w;
};

// The high bytes of two sums as the low and high bytes of each word.
template <class V>
inline typename V::Reg HighBytes(const YuvConstants<V>& k, typename V::Reg low, typename V::Reg high)
{
    return V::Or(V::template Srl16<8>(low), V::And(high, k.highBytes()));
}

// a ka + b kb + c kc + bias: multiply-adds of the bytes' pairs, or products
// of words.
template <class V>
inline typename V::Reg Mix(typename V::Reg a, typename V::Reg ka, typename V::Reg b, typename V::Reg kb,
                           typename V::Reg c, typename V::Reg kc, typename V::Reg bias)
{
    if constexpr (V::kMaddUbs)
        return V::Add16(V::Add16(V::MaddUbs(a, ka), V::MaddUbs(b, kb)), V::Add16(V::MaddUbs(c, kc), bias));
    else
        return V::Add16(V::Add16(V::Mul16(a, ka), V::Mul16(b, kb)), V::Add16(V::Mul16(c, kc), bias));
}

// One row of a block (V::kBytes pixels, source order) in YUV sums: Y of
// every pixel, and U and V of every pair (word i: pixels 2i and 2i + 1)
// with `chromaBias`. What a format does not use is left to the compiler to
// drop.
template <class V>
struct BlockYuv {
    using R = typename V::Reg;
    BlockYuv(const YuvConstants<V>& k, const R (&bgr)[3], R chromaBias)
    {
        if constexpr (V::kMaddUbs) {
            // Y in the order Lo8 and Hi8 take the pixels.
            for (int half = 0; half < 2; ++half) {
                const R redGreen = half ? V::Zip8Hi(bgr[2], bgr[1]) : V::Zip8Lo(bgr[2], bgr[1]);
                const R blueGreen = half ? V::Zip8Hi(bgr[0], bgr[1]) : V::Zip8Lo(bgr[0], bgr[1]);
                y[half] = V::Add16(V::Add16(V::MaddUbs(redGreen, k.yRedGreen()), V::MaddUbs(blueGreen, k.yBlueGreen())),
                                   k.yBias());
            }
            u = Mix<V>(bgr[0], k.uBlue(), bgr[2], k.uRed(), bgr[1], k.uGreen(), chromaBias);
            v = Mix<V>(bgr[2], k.vRed(), bgr[1], k.vGreen(), bgr[0], k.vBlue(), chromaBias);
        } else {
            // y[0]: the even pixels, y[1]: the odd ones.
            R even[3], odd[3], sum[3];
            for (int c = 0; c < 3; ++c) {
                even[c] = V::And(bgr[c], k.lowBytes());
                odd[c] = V::template Srl16<8>(bgr[c]);
                sum[c] = V::Add16(even[c], odd[c]);
            }
            y[0] = Mix<V>(even[2], k.yRed(), even[1], k.yGreen(), even[0], k.yBlue(), k.yBias());
            y[1] = Mix<V>(odd[2], k.yRed(), odd[1], k.yGreen(), odd[0], k.yBlue(), k.yBias());
            u = Mix<V>(sum[0], k.uBlue(), sum[2], k.uRed(), sum[1], k.uGreen(), chromaBias);
            v = Mix<V>(sum[2], k.vRed(), sum[1], k.vGreen(), sum[0], k.vBlue(), chromaBias);
        }
    }

    // The row's Y bytes in output order. Mirrored, in reverse: in the word
    // forms, output pair i is source pair n / 2 - 1 - i with its pixels
    // swapped.
    R LumaBytes(const YuvConstants<V>& k, bool mirror) const
    {
        if constexpr (V::kMaddUbs) {
            const R bytes = V::PackU8(V::template Srl16<8>(y[0]), V::template Srl16<8>(y[1]));
            return mirror ? V::ReverseBytes(bytes) : bytes;
        } else {
            return mirror ? V::ReverseWords(HighBytes<V>(k, y[1], y[0])) : HighBytes<V>(k, y[0], y[1]);
        }
    }

    R y[2], u, v;
};

// YUY2: each pixel's Y with its pair's U (first pixel) or V (second).
template <class V>
struct Yuy2Walk {
    using Args = FinishRowArgs;
    static std::int32_t Width(const Args& row) { return row.width; }
    static void Plain(const FinishPlan& plan, const Args& row) { FinishRowYuy2Plain(plan, row); }
    template <class Colour>
    static void Run(const Args& row, const Colour& colour)
    {
        using R = typename V::Reg;
        const YuvConstants<V> k;
        ForEachBlock<V>(row.width, row.mirror, [&](std::int32_t x, std::int32_t source) {
            R bytes[3];
            ColourBlock<V>(colour, row, source, bytes);
            const BlockYuv<V> yuv(k, bytes, k.chromaBias());
            std::uint8_t* out = row.out + 2 * static_cast<std::ptrdiff_t>(x);
            if constexpr (V::kMaddUbs) {
                // Each pixel's word: its Y, then its pair's U or V, in the
                // order of the Y words.
                const R u = V::And(yuv.u, k.highBytes()), v = V::And(yuv.v, k.highBytes());
                V::StoreYuy2(out, V::Or(V::template Srl16<8>(yuv.y[0]), V::Lo16(u, v)),
                             V::Or(V::template Srl16<8>(yuv.y[1]), V::Hi16(u, v)), row.mirror);
            } else {
                // Each pair's Y0 U and Y1 V words; mirrored, the pairs in
                // reverse with their pixels swapped.
                R first = HighBytes<V>(k, yuv.y[row.mirror ? 1 : 0], yuv.u);
                R second = HighBytes<V>(k, yuv.y[row.mirror ? 0 : 1], yuv.v);
                if (row.mirror) {
                    first = V::ReverseWords(first);
                    second = V::ReverseWords(second);
                }
                V::StoreWordPairs(out, first, second);
            }
        });
    }
};

// NV12 (kInterleaved) and I420: two rows' Y, and the chroma of their 2 x 2
// blocks.
template <class V, bool kInterleaved>
struct PairWalk {
    using Args = FinishPairArgs;
    static std::int32_t Width(const Args& pair) { return pair.rows[0].width; }
    static void Plain(const FinishPlan& plan, const Args& pair)
    {
        if (kInterleaved)
            FinishPairNv12Plain(plan, pair);
        else
            FinishPairI420Plain(plan, pair);
    }
    template <class Colour>
    static void Run(const Args& pair, const Colour& colour)
    {
        using R = typename V::Reg;
        const YuvConstants<V> k;
        const bool mirror = pair.rows[0].mirror;
        ForEachBlock<V>(pair.rows[0].width, mirror, [&](std::int32_t x, std::int32_t source) {
            R bytes[3];
            ColourBlock<V>(colour, pair.rows[0], source, bytes);
            const BlockYuv<V> top(k, bytes, k.chromaBias());
            V::Store(pair.rows[0].out + x, top.LumaBytes(k, mirror));
            ColourBlock<V>(colour, pair.rows[1], source, bytes);
            const BlockYuv<V> bottom(k, bytes, k.chromaBiasBelow());
            V::Store(pair.rows[1].out + x, bottom.LumaBytes(k, mirror));
            const R u = V::AvgU16(top.u, bottom.u), v = V::AvgU16(top.v, bottom.v);
            if constexpr (kInterleaved) {
                const R uv = HighBytes<V>(k, u, v);
                V::Store(pair.u + x, mirror ? V::ReverseWords(uv) : uv);
            } else {
                R uWords = V::template Srl16<8>(u), vWords = V::template Srl16<8>(v);
                if (mirror) {
                    uWords = V::ReverseWords(uWords);
                    vWords = V::ReverseWords(vWords);
                }
                V::StoreHalves(pair.u + x / 2, pair.v + x / 2, uWords, vWords);
            }
        });
    }
};

// One colour stage through the walk of a format, in a function of its own:
// the colour stage's constants are this function's, which keeps the
// compiler's register choices for each pair apart from the others'.
template <class V, class Walk, class Colour>
[[gnu::noinline]] void RunWalk(const FinishPlan& plan, const typename Walk::Args& args)
{
    const Colour colour(plan);
    Walk::Run(args, colour);
}

// The colour stage the plan asks for, through the walk of a format; the
// plain form where the vector forms cannot compute the tables or the row is
// narrower than a register.
template <class V, class Walk>
void FinishWith(const FinishPlan& plan, const typename Walk::Args& args)
{
    const bool plain = !plan.vectorForm || Walk::Width(args) < V::kBytes ||
                       (plan.stage == ColourStage::WhiteBalanceMatrix && !plan.narrowMatrix && !plan.wideMatrix);
    if (plain) {
        Walk::Plain(plan, args);
        return;
    }
    const bool contrast = plan.toneIsContrast && V::kPreferContrast;
    switch (plan.stage) {
    case ColourStage::Mono:
        return contrast ? RunWalk<V, Walk, WordsColour<V, Finish::Mono, true>>(plan, args)
                        : RunWalk<V, Walk, WordsColour<V, Finish::Mono, false>>(plan, args);
    case ColourStage::WhiteBalanceOnly:
        return contrast ? RunWalk<V, Walk, WordsColour<V, Finish::WhiteBalance, true>>(plan, args)
                        : RunWalk<V, Walk, TablesColour<V>>(plan, args);
    case ColourStage::WhiteBalanceMatrix:
        if (plan.narrowMatrix)
            return contrast ? RunWalk<V, Walk, WordsColour<V, Finish::MatrixNarrow, true>>(plan, args)
                            : RunWalk<V, Walk, WordsColour<V, Finish::MatrixNarrow, false>>(plan, args);
        return contrast ? RunWalk<V, Walk, WordsColour<V, Finish::MatrixWide, true>>(plan, args)
                        : RunWalk<V, Walk, WordsColour<V, Finish::MatrixWide, false>>(plan, args);
    }
}

template <class V>
void FinishRow(const FinishPlan& plan, const FinishRowArgs& row)
{
    FinishWith<V, Rgb24Walk<V>>(plan, row);
}

template <class V>
void FinishRow32(const FinishPlan& plan, const FinishRowArgs& row)
{
    FinishWith<V, Rgb32Walk<V>>(plan, row);
}

template <class V>
void FinishRowYuy2(const FinishPlan& plan, const FinishRowArgs& row)
{
    FinishWith<V, Yuy2Walk<V>>(plan, row);
}

template <class V>
void FinishPairNv12(const FinishPlan& plan, const FinishPairArgs& pair)
{
    FinishWith<V, PairWalk<V, true>>(plan, pair);
}

template <class V>
void FinishPairI420(const FinishPlan& plan, const FinishPairArgs& pair)
{
    FinishWith<V, PairWalk<V, false>>(plan, pair);
}

// The table of a level's kernels.
template <class V>
constexpr PipelineKernels KernelsOf(SimdLevel level)
{
    return {level,          DemosaicRow<V>,    FinishRow<V>,      SumBytes<V>,
            FinishRow32<V>, FinishRowYuy2<V>, FinishPairNv12<V>, FinishPairI420<V>};
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
