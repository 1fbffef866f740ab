// BlurZPX's passes on 16-bit lanes (see BlurLanes.h). The passes are written
// once, as templates over a small set of lane operations, and instantiated
// for SSE2 (every x86 build), AVX2 and AVX-512; the AVX variants are compiled
// for their instruction set by function attribute only, and chosen once per
// call from the active pixel path.
//
// Vertical step of row y: averages = sums / (2r + 1), then the sums slide by
// one row. Horizontal step: the row of averages, widened by r + 1 copies of
// its first pixel on the left and r copies of its last on the right, so that
// box(x) = box(x - 1) + extended(x + 2r + 1) - extended(x) needs no clamping;
// the running sum is a prefix sum within each vector plus the last sum of the
// vector before.
//
// The lane types cross no call boundary: each target's row loop is flattened
// into one function compiled for that target. GCC still notes the ABI of the
// wider types on the templates that it inlines there.
#pragma GCC diagnostic ignored "-Wpsabi"

#include "effects/BlurLanes.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define ZPX_TARGET_AVX2 __attribute__((target("avx2")))
#define ZPX_TARGET_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl")))
// For the passes below: they must end up inside the function of their
// instruction set, never as a function of their own.
#define ZPX_LANE_INLINE inline __attribute__((always_inline))

namespace {

constexpr int32_t kLanesPerPixel = 4;
// The most pixels any variant handles per vector.
constexpr int32_t kWidestVector = 8;

// ---- lane operations, one set per instruction set ----

struct Sse2Lanes {
    using Vector = __m128i;
    static constexpr int32_t kPixels = 2;

    static Vector Load(const uint16_t* lanes) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes)); }
    static void Store(uint16_t* lanes, Vector v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), v); }
    static Vector LoadBytes(const uint8_t* bytes) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes)), _mm_setzero_si128());
    }
    static void StoreBytes(uint8_t* bytes, Vector v) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes), _mm_packus_epi16(v, v));
    }
    static Vector EveryPixel(uint64_t lanes) { return _mm_set1_epi64x(static_cast<long long>(lanes)); }
    static Vector Splat(uint16_t value) { return _mm_set1_epi16(static_cast<short>(value)); }
    static Vector Add(Vector a, Vector b) { return _mm_add_epi16(a, b); }
    static Vector Subtract(Vector a, Vector b) { return _mm_sub_epi16(a, b); }
    static Vector Times(Vector a, Vector b) { return _mm_mullo_epi16(a, b); }
    static Vector And(Vector a, Vector b) { return _mm_and_si128(a, b); }
    static Vector Or(Vector a, Vector b) { return _mm_or_si128(a, b); }
    static Vector Divide(Vector n, Vector multiplier, __m128i shift) {
        const Vector t = _mm_mulhi_epu16(n, multiplier);
        return _mm_srl_epi16(_mm_add_epi16(t, _mm_srli_epi16(_mm_sub_epi16(n, t), 1)), shift);
    }
    // Each pixel's lanes plus those of every pixel before it in the vector.
    static Vector PrefixSum(Vector v) { return _mm_add_epi16(v, _mm_slli_si128(v, 8)); }
    static Vector LastPixelEverywhere(Vector v) { return _mm_unpackhi_epi64(v, v); }
};

struct Avx2Lanes {
    using Vector = __m256i;
    static constexpr int32_t kPixels = 4;

    ZPX_TARGET_AVX2 static Vector Load(const uint16_t* lanes) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes));
    }
    ZPX_TARGET_AVX2 static void Store(uint16_t* lanes, Vector v) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), v);
    }
    ZPX_TARGET_AVX2 static Vector LoadBytes(const uint8_t* bytes) {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
    }
    ZPX_TARGET_AVX2 static void StoreBytes(uint8_t* bytes, Vector v) {
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(v, v), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), _mm256_castsi256_si128(packed));
    }
    ZPX_TARGET_AVX2 static Vector EveryPixel(uint64_t lanes) {
        return _mm256_set1_epi64x(static_cast<long long>(lanes));
    }
    ZPX_TARGET_AVX2 static Vector Splat(uint16_t value) { return _mm256_set1_epi16(static_cast<short>(value)); }
    ZPX_TARGET_AVX2 static Vector Add(Vector a, Vector b) { return _mm256_add_epi16(a, b); }
    ZPX_TARGET_AVX2 static Vector Subtract(Vector a, Vector b) { return _mm256_sub_epi16(a, b); }
    ZPX_TARGET_AVX2 static Vector Times(Vector a, Vector b) { return _mm256_mullo_epi16(a, b); }
    ZPX_TARGET_AVX2 static Vector And(Vector a, Vector b) { return _mm256_and_si256(a, b); }
    ZPX_TARGET_AVX2 static Vector Or(Vector a, Vector b) { return _mm256_or_si256(a, b); }
    ZPX_TARGET_AVX2 static Vector Divide(Vector n, Vector multiplier, __m128i shift) {
        const Vector t = _mm256_mulhi_epu16(n, multiplier);
        return _mm256_srl_epi16(_mm256_add_epi16(t, _mm256_srli_epi16(_mm256_sub_epi16(n, t), 1)), shift);
    }
    ZPX_TARGET_AVX2 static Vector PrefixSum(Vector v) {
        const __m256i up1 = _mm256_blend_epi32(_mm256_permute4x64_epi64(v, 0x90), _mm256_setzero_si256(), 0x03);
        v = _mm256_add_epi16(v, up1);
        return _mm256_add_epi16(v, _mm256_permute2x128_si256(v, v, 0x08));
    }
    ZPX_TARGET_AVX2 static Vector LastPixelEverywhere(Vector v) { return _mm256_permute4x64_epi64(v, 0xFF); }
};

// The zero-masked forms with every lane selected: GCC 12 warns about the
// undefined pass-through operand of the unmasked ones.
struct Avx512Lanes {
    using Vector = __m512i;
    static constexpr int32_t kPixels = 8;
    static constexpr __mmask8 kAllPixels = 0xFF;
    static constexpr __mmask32 kAllLanes = 0xFFFFFFFFu;

    ZPX_TARGET_AVX512 static Vector Load(const uint16_t* lanes) { return _mm512_loadu_si512(lanes); }
    ZPX_TARGET_AVX512 static void Store(uint16_t* lanes, Vector v) { _mm512_storeu_si512(lanes, v); }
    ZPX_TARGET_AVX512 static Vector LoadBytes(const uint8_t* bytes) {
        return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes)));
    }
    ZPX_TARGET_AVX512 static void StoreBytes(uint8_t* bytes, Vector v) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(bytes), _mm512_maskz_cvtepi16_epi8(kAllLanes, v));
    }
    ZPX_TARGET_AVX512 static Vector EveryPixel(uint64_t lanes) {
        return _mm512_set1_epi64(static_cast<long long>(lanes));
    }
    ZPX_TARGET_AVX512 static Vector Splat(uint16_t value) { return _mm512_set1_epi16(static_cast<short>(value)); }
    ZPX_TARGET_AVX512 static Vector Add(Vector a, Vector b) { return _mm512_add_epi16(a, b); }
    ZPX_TARGET_AVX512 static Vector Subtract(Vector a, Vector b) { return _mm512_sub_epi16(a, b); }
    ZPX_TARGET_AVX512 static Vector Times(Vector a, Vector b) { return _mm512_mullo_epi16(a, b); }
    ZPX_TARGET_AVX512 static Vector And(Vector a, Vector b) { return _mm512_and_si512(a, b); }
    ZPX_TARGET_AVX512 static Vector Or(Vector a, Vector b) { return _mm512_or_si512(a, b); }
    ZPX_TARGET_AVX512 static Vector Divide(Vector n, Vector multiplier, __m128i shift) {
        const Vector t = _mm512_mulhi_epu16(n, multiplier);
        return _mm512_srl_epi16(_mm512_add_epi16(t, _mm512_srli_epi16(_mm512_sub_epi16(n, t), 1)), shift);
    }
    ZPX_TARGET_AVX512 static Vector PrefixSum(Vector v) {
        const __m512i zero = _mm512_setzero_si512();
        v = _mm512_add_epi16(v, _mm512_maskz_alignr_epi64(kAllPixels, v, zero, 7));
        v = _mm512_add_epi16(v, _mm512_maskz_alignr_epi64(kAllPixels, v, zero, 6));
        return _mm512_add_epi16(v, _mm512_maskz_alignr_epi64(kAllPixels, v, zero, 4));
    }
    ZPX_TARGET_AVX512 static Vector LastPixelEverywhere(Vector v) {
        return _mm512_maskz_permutexvar_epi64(kAllPixels, _mm512_set1_epi64(7), v);
    }
};

// ---- the passes, once for every set ----

// The working rows: the column sums and the extended row of averages, both
// 16-bit lanes in pixel-byte order, each with room for a whole last vector.
struct LaneRows {
    uint16_t* sums;
    uint16_t* extended;
};

// The bytes of pixels [from, from + count) of a row, zero-padded to a whole
// vector, so that the last vector of a row reads nothing past the row.
template <class Lanes>
ZPX_LANE_INLINE typename Lanes::Vector LoadBytesTail(const uint8_t* row, int32_t count) {
    alignas(64) uint8_t bytes[kWidestVector * kLanesPerPixel] = {};
    memcpy(bytes, row, static_cast<size_t>(count) * kLanesPerPixel);
    return Lanes::LoadBytes(bytes);
}

template <class Lanes>
ZPX_LANE_INLINE void AddRowTimes(uint16_t* sums, const uint8_t* row, int32_t width, uint16_t times) {
    const typename Lanes::Vector factor = Lanes::Splat(times);
    int32_t x = 0;
    for (; x + Lanes::kPixels <= width; x += Lanes::kPixels) {
        uint16_t* at = sums + x * kLanesPerPixel;
        Lanes::Store(at, Lanes::Add(Lanes::Load(at), Lanes::Times(Lanes::LoadBytes(row + x * kLanesPerPixel), factor)));
    }
    if (x < width) {
        uint16_t* at = sums + x * kLanesPerPixel;
        const typename Lanes::Vector bytes = LoadBytesTail<Lanes>(row + x * kLanesPerPixel, width - x);
        Lanes::Store(at, Lanes::Add(Lanes::Load(at), Lanes::Times(bytes, factor)));
    }
}

template <class Lanes>
struct LaneDivisor {
    typename Lanes::Vector multiplier;
    __m128i shift;

    ZPX_LANE_INLINE explicit LaneDivisor(WindowDivisor divisor)
        : multiplier(Lanes::Splat(divisor.multiplier)), shift(_mm_cvtsi32_si128(divisor.shift)) {}
};

// The first pass's averages of a row from the sums, then sums += entering
// row - leaving row. The row after `entering` is fetched into the
// second-level cache on the way (the first-level one is full of sums), so
// that the next row's reads find it there.
template <class Lanes>
ZPX_LANE_INLINE void AverageAndSlide(uint16_t* sums, uint16_t* averages, const uint8_t* entering,
                                     const uint8_t* leaving, const uint8_t* enteringNext, int32_t width,
                                     const LaneDivisor<Lanes>& divisor) {
    using Vector = typename Lanes::Vector;
    int32_t x = 0;
    for (; x + Lanes::kPixels <= width; x += Lanes::kPixels) {
        const int32_t at = x * kLanesPerPixel;
        __builtin_prefetch(enteringNext + at, 0, 2);
        const Vector sum = Lanes::Load(sums + at);
        Lanes::Store(averages + at, Lanes::Divide(sum, divisor.multiplier, divisor.shift));
        const Vector change = Lanes::Subtract(Lanes::LoadBytes(entering + at), Lanes::LoadBytes(leaving + at));
        Lanes::Store(sums + at, Lanes::Add(sum, change));
    }
    if (x < width) {
        const int32_t at = x * kLanesPerPixel;
        const Vector sum = Lanes::Load(sums + at);
        Lanes::Store(averages + at, Lanes::Divide(sum, divisor.multiplier, divisor.shift));
        const Vector change = Lanes::Subtract(LoadBytesTail<Lanes>(entering + at, width - x),
                                              LoadBytesTail<Lanes>(leaving + at, width - x));
        Lanes::Store(sums + at, Lanes::Add(sum, change));
    }
}

// r + 1 copies of the first average before the row, r of the last after it.
void ExtendEdges(uint16_t* extended, int32_t width, int32_t r) {
    const uint16_t* first = extended + (r + 1) * kLanesPerPixel;
    const uint16_t* last = extended + (r + width) * kLanesPerPixel;
    for (int32_t i = 0; i <= r; ++i) memcpy(extended + i * kLanesPerPixel, first, kLanesPerPixel * sizeof(uint16_t));
    for (int32_t i = 1; i <= r; ++i) {
        memcpy(extended + (r + width + i) * kLanesPerPixel, last, kLanesPerPixel * sizeof(uint16_t));
    }
}

// Lanes of the window before the first pixel: extended(0) + ... + extended(2r).
uint64_t WindowBeforeFirst(const uint16_t* extended, int32_t r) {
    uint16_t lanes[kLanesPerPixel] = {};
    for (int32_t i = 0; i <= 2 * r; ++i) {
        for (int32_t c = 0; c < kLanesPerPixel; ++c)
            lanes[c] = static_cast<uint16_t>(lanes[c] + extended[i * kLanesPerPixel + c]);
    }
    uint64_t packed;
    memcpy(&packed, lanes, sizeof packed);
    return packed;
}

// The second pass over one row of averages, into the result row; the next
// result row is fetched for writing, into the second-level cache, on the way.
template <class Lanes>
ZPX_LANE_INLINE void BoxRow(const uint16_t* extended, int32_t width, int32_t r, uint8_t* out, uint8_t* outNext,
                            const LaneDivisor<Lanes>& divisor, ResultBytes bytes) {
    using Vector = typename Lanes::Vector;
    const Vector keep = Lanes::EveryPixel(bytes.keep);
    const Vector fourth = Lanes::EveryPixel(bytes.fourth);
    const int32_t ahead = (2 * r + 1) * kLanesPerPixel;
    Vector window = Lanes::EveryPixel(WindowBeforeFirst(extended, r));
    for (int32_t x = 0; x < width; x += Lanes::kPixels) {
        const uint16_t* leaving = extended + x * kLanesPerPixel;
        const Vector change = Lanes::Subtract(Lanes::Load(leaving + ahead), Lanes::Load(leaving));
        const Vector changes = Lanes::PrefixSum(change);
        const Vector sums = Lanes::Add(window, changes);
        // Kept apart from sums: the next vector waits for one addition only.
        window = Lanes::Add(window, Lanes::LastPixelEverywhere(changes));
        const Vector pixels =
            Lanes::Or(Lanes::And(Lanes::Divide(sums, divisor.multiplier, divisor.shift), keep), fourth);
        if (x + Lanes::kPixels <= width) {
            __builtin_prefetch(outNext + x * kLanesPerPixel, 1, 2);
            Lanes::StoreBytes(out + x * kLanesPerPixel, pixels);
        } else {
            alignas(64) uint8_t last[kWidestVector * kLanesPerPixel];
            Lanes::StoreBytes(last, pixels);
            memcpy(out + x * kLanesPerPixel, last, static_cast<size_t>(width - x) * kLanesPerPixel);
        }
    }
}

struct BlurJob {
    const PictureReader& source;
    PictureWriter& result;
    int32_t r;
    WindowDivisor divisor;
    ResultBytes bytes;
    YieldData& yieldRecord;
    LaneRows rows;
};

// Yields where the plain passes yield: once where the table is filled, then
// once per row for each pass.
template <class Lanes>
ZPX_LANE_INLINE void BlurAllRows(const BlurJob& job) {
    const int32_t width = job.source.width;
    const int32_t height = job.source.height;
    const int32_t r = job.r;
    const LaneDivisor<Lanes> divisor(job.divisor);
    uint16_t* averages = job.rows.extended + (r + 1) * kLanesPerPixel;
    ForFirstWindow(
        r, height, [&](int32_t y, int32_t times) __attribute__((always_inline)) {
            AddRowTimes<Lanes>(job.rows.sums, job.source.RowAddress(y), width, static_cast<uint16_t>(times));
        });
    job.yieldRecord.YieldPoint();
    for (int32_t y = 0; y < height; ++y) {
        AverageAndSlide<Lanes>(job.rows.sums, averages, job.source.RowAddress(std::min(y + r + 1, height - 1)),
                               job.source.RowAddress(std::max(y - r, 0)),
                               job.source.RowAddress(std::min(y + r + 2, height - 1)), width, divisor);
        job.yieldRecord.YieldPoint();
        ExtendEdges(job.rows.extended, width, r);
        BoxRow<Lanes>(job.rows.extended, width, r, job.result.RowAddress(y),
                      job.result.RowAddress(std::min(y + 1, height - 1)), divisor, job.bytes);
        job.yieldRecord.YieldPoint();
    }
}

__attribute__((flatten)) void BlurAllRowsSse2(const BlurJob& job) { BlurAllRows<Sse2Lanes>(job); }
ZPX_TARGET_AVX2 __attribute__((flatten)) void BlurAllRowsAvx2(const BlurJob& job) { BlurAllRows<Avx2Lanes>(job); }
ZPX_TARGET_AVX512 __attribute__((flatten)) void BlurAllRowsAvx512(const BlurJob& job) { BlurAllRows<Avx512Lanes>(job); }

// The column sums and the extended row, each with whole vectors past the last pixel.
int64_t SumLanes(int32_t width) { return (static_cast<int64_t>(width) + kWidestVector) * kLanesPerPixel; }
int64_t ExtendedLanes(int32_t width, int32_t r) {
    return (static_cast<int64_t>(width) + 2 * static_cast<int64_t>(r) + 1 + kWidestVector) * kLanesPerPixel;
}

}  // namespace

bool BlurLanesRun(PixelPath path) { return path != PixelPath::Plain; }

int64_t BlurLaneBytes(int32_t width, int32_t r) {
    return static_cast<int64_t>(sizeof(uint16_t)) * (SumLanes(width) + ExtendedLanes(width, r));
}

void BlurWithLanes(PixelPath path, const PictureReader& source, PictureWriter& result, int32_t r, ResultBytes bytes,
                   YieldData& yieldRecord, void* memory) {
    uint16_t* lanes = static_cast<uint16_t*>(memory);
    const BlurJob job{
        source, result, r, DivisorFor(2 * r + 1), bytes, yieldRecord, LaneRows{lanes, lanes + SumLanes(source.width)}};
    switch (path) {
        case PixelPath::Avx512:
            BlurAllRowsAvx512(job);
            break;
        case PixelPath::Avx2:
            BlurAllRowsAvx2(job);
            break;
        default:
            BlurAllRowsSse2(job);
            break;
    }
}

#else  // no vector twin on other processors: the plain passes run

bool BlurLanesRun(PixelPath) { return false; }
int64_t BlurLaneBytes(int32_t, int32_t) { return 0; }
void BlurWithLanes(PixelPath, const PictureReader&, PictureWriter&, int32_t, ResultBytes, YieldData&, void*) {}

#endif
