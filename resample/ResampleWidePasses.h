// The two wide passes, written once for 256-bit vectors and compiled once per
// instruction set: ResampleWide.cpp includes this file inside a namespace
// under `#pragma GCC target`, twice, so it has no include guard. Everything
// it needs is included there beforehand.
//
// Horizontal pass: each source row is decoded once to four 32-bit integers per
// pixel (its four bytes in memory order; the fourth is never used), half the
// bytes of doubles, which the decoding would spend its time storing. A tap
// converts its pixel to four doubles and adds one multiplication by the tap's
// weight, widened to double once per call. The taps of a list are laid out
// densely from its first source pixel on, a skipped pixel weighing +0.0: its
// product is +0.0, which leaves the accumulator unchanged (it starts at +0.0
// and so can never be -0.0). The product of an 8-bit channel and a float
// weight is exact in double, so it equals the plain pass's product. Four
// destination pixels are summed together to keep the adders busy, and the
// next source row is fetched meanwhile.
//
// Vertical pass: eight (AVX2) or sixteen (AVX-512) columns of one channel side
// by side; each product is formed in float and widened before it is added, as
// in the plain pass. The file that includes this one defines `VectorOps`, the
// vector type of the vertical pass and its operations.
//
// Both passes end with NormaliseVector, the vector form of
// NormalisedChannelByReciprocal.

typedef double Double4 __attribute__((vector_size(32)));
typedef int32_t Int4 __attribute__((vector_size(16)));
constexpr int64_t kCacheLine = 64;

#define WIDE_INLINE __attribute__((always_inline)) inline

// The normaliser of one list, spread over the lanes of one vector type.
template <class Ops>
struct Spread {
    typename Ops::Doubles reciprocal, weightSum, margin, half, low, high, zero, top;
    bool exact, usable;

    explicit Spread(const Normaliser& normaliser)
        : reciprocal(Ops::Set(normaliser.reciprocal)),
          weightSum(Ops::Set(normaliser.weightSum)),
          margin(Ops::Set(kReciprocalMargin)),
          half(Ops::Set(0.5)),
          low(Ops::Set(-0.5)),
          high(Ops::Set(256.5)),
          zero(Ops::Set(0.0)),
          top(Ops::Set(255.0)),
          exact(normaliser.exact),
          usable(normaliser.usable) {}
};

// Doubles in 0..255 whose truncations are the channels of accumulators
// divided by the list's weightSum: through the reciprocal where its product
// lies far enough from every step of the truncation, else through the
// quotient, as the plain pass forms it. Where the reciprocal is exact, clamping
// to 0..255 and truncating gives what the plain pass's clamp to -0.5..256.5,
// floor and clamp to 0..255 give, NaN included (it becomes 0 either way).
template <class Ops>
WIDE_INLINE typename Ops::Doubles NormaliseVector(typename Ops::Doubles accumulator, const Spread<Ops>& spread) {
    typedef typename Ops::Doubles Doubles;
    if (spread.usable) {
        Doubles value = Ops::Add(Ops::Mul(accumulator, spread.reciprocal), spread.half);
        if (spread.exact) return Ops::Min(Ops::Max(value, spread.zero), spread.top);
        value = Ops::Min(Ops::Max(value, spread.low), spread.high);
        const Doubles floored = Ops::Floor(Ops::Add(value, spread.margin));
        if (!Ops::AnyGreater(floored, Ops::Sub(value, spread.margin))) {
            return Ops::Min(Ops::Max(floored, spread.zero), spread.top);
        }
    }
    // Max gives 0 for NaN, as the plain pass does for 0 / 0.
    const Doubles value = Ops::Add(Ops::Div(accumulator, spread.weightSum), spread.half);
    return Ops::Min(Ops::Max(value, spread.zero), spread.top);
}

// ---- horizontal ----

WIDE_INLINE void DecodeRow(const uint8_t* row, int32_t count, Int4* out) {
    int32_t x = 0;
    for (; x + 1 < count; x += 2, row += 8) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(out + x),
                           _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row))));
    }
    if (x < count) {
        int32_t word;
        memcpy(&word, row, sizeof word);
        out[x] = reinterpret_cast<Int4>(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(word)));
    }
}

// The packed intermediate word from channels in the source's byte order: one
// byte shuffle picks red, green and blue into bytes 2, 1 and 0.
template <class Source>
WIDE_INLINE uint32_t PackChannels(Double4 channels) {
    const __m128i values = _mm256_cvttpd_epi32(channels);
    const __m128i order = _mm_setr_epi8(Source::blueShift / 2, Source::greenShift / 2, Source::redShift / 2, -1, -1,
                                        -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_shuffle_epi8(values, order)));
}

template <class Source>
WIDE_INLINE uint32_t FinishPixel(Double4 sum, const WideList& list) {
    if (list.count == 0) return 0;
    return PackChannels<Source>(NormaliseVector<Ops256>(sum, Spread<Ops256>(list.normaliser)));
}

// Taps of a list are consecutive source pixels from its first one on.
WIDE_INLINE void AddTap(Double4& sum, const Int4* pixels, const double* weights, int32_t t) {
    sum += _mm256_cvtepi32_pd(reinterpret_cast<__m128i>(pixels[t])) * weights[t];
}

template <class Source>
WIDE_INLINE void SumFour(const Int4* row, const WideTables& tables, const WideList* lists, uint32_t* out) {
    Double4 a = {}, b = {}, c = {}, d = {};
    int32_t both = lists[0].count;
    for (int k = 1; k < 4; ++k) both = lists[k].count < both ? lists[k].count : both;
    const Int4* pa = row + lists[0].firstPixel;
    const Int4* pb = row + lists[1].firstPixel;
    const Int4* pc = row + lists[2].firstPixel;
    const Int4* pd = row + lists[3].firstPixel;
    const double* wa = tables.weights + lists[0].first;
    const double* wb = tables.weights + lists[1].first;
    const double* wc = tables.weights + lists[2].first;
    const double* wd = tables.weights + lists[3].first;
    for (int32_t t = 0; t < both; ++t) {
        AddTap(a, pa, wa, t);
        AddTap(b, pb, wb, t);
        AddTap(c, pc, wc, t);
        AddTap(d, pd, wd, t);
    }
    for (int32_t t = both; t < lists[0].count; ++t) AddTap(a, pa, wa, t);
    for (int32_t t = both; t < lists[1].count; ++t) AddTap(b, pb, wb, t);
    for (int32_t t = both; t < lists[2].count; ++t) AddTap(c, pc, wc, t);
    for (int32_t t = both; t < lists[3].count; ++t) AddTap(d, pd, wd, t);
    out[0] = FinishPixel<Source>(a, lists[0]);
    out[1] = FinishPixel<Source>(b, lists[1]);
    out[2] = FinishPixel<Source>(c, lists[2]);
    out[3] = FinishPixel<Source>(d, lists[3]);
}

template <class Source>
WIDE_INLINE void SumOne(const Int4* row, const WideTables& tables, const WideList& list, uint32_t* out) {
    Double4 a = {};
    for (int32_t t = 0; t < list.count; ++t) AddTap(a, row + list.firstPixel, tables.weights + list.first, t);
    out[0] = FinishPixel<Source>(a, list);
}

template <class Source>
void ResampleRows(PictureReader& reader, const WideTables& tables, Int4* decoded, uint32_t* buffer,
                  int32_t width) {
    const int64_t rowBytes = static_cast<int64_t>(reader.width) * 4;
    // The next source row is asked for a share at a time while this row's
    // taps are summed, so that decoding it does not wait for memory.
    const int64_t share = (rowBytes / ((width + 3) / 4) + kCacheLine) / kCacheLine * kCacheLine;
    for (int32_t k = 0; k < reader.height; ++k) {
        DecodeRow(reader.currentRow, reader.width, decoded);
        const uint8_t* next = k + 1 < reader.height ? reader.RowAddress(k + 1) : nullptr;
        int64_t fetched = 0;
        uint32_t* out = buffer + static_cast<ptrdiff_t>(k) * width;
        int32_t i = 0;
        for (; i + 3 < width; i += 4) {
            SumFour<Source>(decoded, tables, tables.lists + i, out + i);
            for (const int64_t end = std::min(fetched + share, rowBytes); next != nullptr && fetched < end;
                 fetched += kCacheLine) {
                __builtin_prefetch(next + fetched, 0, 3);
            }
        }
        for (; i < width; ++i) SumOne<Source>(decoded, tables, tables.lists[i], out + i);
        reader.NextRow();
    }
}

// ---- vertical ----

// The three channel sums of one group of columns.
struct ColumnSums {
    typedef VectorOps::Doubles Doubles;
    Doubles red[2], green[2], blue[2];

    WIDE_INLINE ColumnSums() {
        for (int h = 0; h < 2; ++h) red[h] = green[h] = blue[h] = VectorOps::Set(0.0);
    }
    WIDE_INLINE static void AddChannel(Doubles* sums, VectorOps::Words channel, VectorOps::Floats weight) {
        const VectorOps::Floats products = VectorOps::MulFloats(VectorOps::ToFloats(channel), weight);
        sums[0] = VectorOps::Add(sums[0], VectorOps::WidenLow(products));
        sums[1] = VectorOps::Add(sums[1], VectorOps::WidenHigh(products));
    }
    WIDE_INLINE void Add(const uint32_t* words, float weight) {
        const VectorOps::Words packed = VectorOps::Load(words);
        const VectorOps::Floats weights = VectorOps::SetFloats(weight);
        AddChannel(red, VectorOps::Byte(packed, 16), weights);
        AddChannel(green, VectorOps::Byte(packed, 8), weights);
        AddChannel(blue, VectorOps::Byte(packed, 0), weights);
    }
};

WIDE_INLINE VectorOps::Words NormaliseColumns(const VectorOps::Doubles* sums, const Spread<VectorOps>& spread) {
    return VectorOps::Truncate(NormaliseVector<VectorOps>(sums[0], spread),
                               NormaliseVector<VectorOps>(sums[1], spread));
}

template <class Destination>
WIDE_INLINE void StoreColumns(const ColumnSums& sums, const ContributionList& list, const Spread<VectorOps>& spread,
                              uint8_t* out) {
    VectorOps::Words words = VectorOps::SetWords(Destination::fourthWritten);
    if (list.count != 0) {
        words = VectorOps::Or(words, VectorOps::ShiftLeft(NormaliseColumns(sums.red, spread), Destination::redShift));
        words = VectorOps::Or(words,
                              VectorOps::ShiftLeft(NormaliseColumns(sums.green, spread), Destination::greenShift));
        words = VectorOps::Or(words, VectorOps::ShiftLeft(NormaliseColumns(sums.blue, spread), Destination::blueShift));
    }
    VectorOps::Store(out, words);
}

template <class Destination>
void ResampleColumns(PictureWriter& writer, const ContributionList* lists, const uint32_t* buffer, int32_t width,
                     YieldData& yieldRecord) {
    constexpr int32_t C = VectorOps::kColumns;
    const int32_t grouped = width / C * C;
    for (int32_t r = 0; r < writer.height; ++r) {
        const ContributionList& list = lists[r];
        const Spread<VectorOps> spread(NormaliserFor(list.weightSum));
        writer.cursorX = 0;
        writer.cursorY = r;
        uint8_t* out = writer.RowAddress(r);
        for (int32_t i = 0; i < grouped; i += C) {
            ColumnSums sums;
            for (int32_t t = 0; t < list.count; ++t) {
                sums.Add(buffer + static_cast<ptrdiff_t>(list.entries[t].pixel) * width + i, list.entries[t].weight);
            }
            StoreColumns<Destination>(sums, list, spread, out + static_cast<ptrdiff_t>(i) * 4);
        }
        for (int32_t i = grouped; i < width; ++i) {
            StorePixel(out + static_cast<ptrdiff_t>(i) * 4, ResampledColumnPixel<Destination>(list, buffer, width, i));
        }
        yieldRecord.YieldPoint();
    }
}

#undef WIDE_INLINE
