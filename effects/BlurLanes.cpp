// BlurZPX's passes on integer lanes (see BlurLanes.h). The passes are written
// once, as templates over a small set of lane operations, and instantiated
// for SSE2 (every x86 build), AVX2 and AVX-512, each with 16-bit lanes and
// with 32-bit lanes for the larger radii; the AVX variants are compiled for
// their instruction set by function attribute only, and chosen once per call
// from the active pixel path and the radius.
//
// Vertical step of row y: averages = sums / (2r + 1), then the sums slide by
// one row. Horizontal step: box(x) = box(x - 1) + entering(x) - leaving(x),
// with entering(x) the average at x + r and leaving(x) the one at x - r - 1,
// both clamped to the row; the running sum is a prefix sum within each vector
// plus the last sum of the vector before (see LaneRows for where leaving and
// entering come from).
//
// The lane types cross no call boundary: each target's row loop is flattened
// into one function compiled for that target. GCC still notes the ABI of the
// wider types on the templates that it inlines there.
#pragma GCC diagnostic ignored "-Wpsabi"

#include "effects/BlurLanes.h"

#include <cstring>

#include "plugin/VectorTargets.h"

#if defined(__x86_64__) || defined(__i386__)

namespace {

constexpr int32_t kLanesPerPixel = 4;
// The most pixels any variant handles per vector.
constexpr int32_t kWidestVector = 8;

// ---- lane operations, one set per instruction set and lane width ----

// What the 16-bit and 32-bit sets of one instruction set share: whole
// vectors to and from the working rows, and bit logic.
template <class LaneType>
struct Sse2Vectors {
    using Lane = LaneType;
    using Vector = __m128i;
    static Vector Load(const Lane* lanes) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes)); }
    static void Store(Lane* lanes, Vector v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), v); }
    static Vector And(Vector a, Vector b) { return _mm_and_si128(a, b); }
    static Vector Or(Vector a, Vector b) { return _mm_or_si128(a, b); }
};

template <class LaneType>
struct Avx2Vectors {
    using Lane = LaneType;
    using Vector = __m256i;
    ZPX_TARGET_AVX2 static Vector Load(const Lane* lanes) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes));
    }
    ZPX_TARGET_AVX2 static void Store(Lane* lanes, Vector v) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), v);
    }
    ZPX_TARGET_AVX2 static Vector And(Vector a, Vector b) { return _mm256_and_si256(a, b); }
    ZPX_TARGET_AVX2 static Vector Or(Vector a, Vector b) { return _mm256_or_si256(a, b); }
};

template <class LaneType>
struct Avx512Vectors {
    using Lane = LaneType;
    using Vector = __m512i;
    ZPX_TARGET_AVX512 static Vector Load(const Lane* lanes) { return _mm512_loadu_si512(lanes); }
    ZPX_TARGET_AVX512 static void Store(Lane* lanes, Vector v) { _mm512_storeu_si512(lanes, v); }
    ZPX_TARGET_AVX512 static Vector And(Vector a, Vector b) { return _mm512_and_si512(a, b); }
    ZPX_TARGET_AVX512 static Vector Or(Vector a, Vector b) { return _mm512_or_si512(a, b); }
};

struct Sse2Lanes : Sse2Vectors<uint16_t> {
    // Divide's multiplier and shift.
    struct Divisor {
        Vector multiplier;
        __m128i shift;
    };
    static constexpr int32_t kPixels = 2;

    static Vector LoadBytes(const uint8_t* bytes) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes)), _mm_setzero_si128());
    }
    static void StoreBytes(uint8_t* bytes, Vector v) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes), _mm_packus_epi16(v, v));
    }
    static Vector EveryPixel(const Lane* pixel) { return _mm_set1_epi64x(static_cast<long long>(PixelWord(pixel))); }
    static Vector Splat(Lane value) { return _mm_set1_epi16(static_cast<short>(value)); }
    static Vector Add(Vector a, Vector b) { return _mm_add_epi16(a, b); }
    static Vector Subtract(Vector a, Vector b) { return _mm_sub_epi16(a, b); }
    static Vector Times(Vector a, Vector b) { return _mm_mullo_epi16(a, b); }
    static Divisor MakeDivisor(int32_t span) {
        const WindowDivisor divisor = DivisorFor(span);
        return Divisor{Splat(divisor.multiplier), _mm_cvtsi32_si128(divisor.shift)};
    }
    static Vector Divide(Vector n, const Divisor& divisor) {
        const Vector t = _mm_mulhi_epu16(n, divisor.multiplier);
        return _mm_srl_epi16(_mm_add_epi16(t, _mm_srli_epi16(_mm_sub_epi16(n, t), 1)), divisor.shift);
    }
    // Each pixel's lanes plus those of every pixel before it in the vector.
    static Vector PrefixSum(Vector v) { return _mm_add_epi16(v, _mm_slli_si128(v, 8)); }
    static Vector LastPixelEverywhere(Vector v) { return _mm_unpackhi_epi64(v, v); }

    // The four lanes of a pixel as one 64-bit word, for a broadcast.
    static uint64_t PixelWord(const Lane* pixel) {
        uint64_t word;
        memcpy(&word, pixel, sizeof word);
        return word;
    }
};

struct Avx2Lanes : Avx2Vectors<uint16_t> {
    // Divide's multiplier and shift.
    struct Divisor {
        Vector multiplier;
        __m128i shift;
    };
    static constexpr int32_t kPixels = 4;

    ZPX_TARGET_AVX2 static Vector LoadBytes(const uint8_t* bytes) {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
    }
    ZPX_TARGET_AVX2 static void StoreBytes(uint8_t* bytes, Vector v) {
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(v, v), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), _mm256_castsi256_si128(packed));
    }
    ZPX_TARGET_AVX2 static Vector EveryPixel(const Lane* pixel) {
        return _mm256_set1_epi64x(static_cast<long long>(Sse2Lanes::PixelWord(pixel)));
    }
    ZPX_TARGET_AVX2 static Vector Splat(Lane value) { return _mm256_set1_epi16(static_cast<short>(value)); }
    ZPX_TARGET_AVX2 static Vector Add(Vector a, Vector b) { return _mm256_add_epi16(a, b); }
    ZPX_TARGET_AVX2 static Vector Subtract(Vector a, Vector b) { return _mm256_sub_epi16(a, b); }
    ZPX_TARGET_AVX2 static Vector Times(Vector a, Vector b) { return _mm256_mullo_epi16(a, b); }
    ZPX_TARGET_AVX2 static Divisor MakeDivisor(int32_t span) {
        const WindowDivisor divisor = DivisorFor(span);
        return Divisor{Splat(divisor.multiplier), _mm_cvtsi32_si128(divisor.shift)};
    }
    ZPX_TARGET_AVX2 static Vector Divide(Vector n, const Divisor& divisor) {
        const Vector t = _mm256_mulhi_epu16(n, divisor.multiplier);
        return _mm256_srl_epi16(_mm256_add_epi16(t, _mm256_srli_epi16(_mm256_sub_epi16(n, t), 1)), divisor.shift);
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
struct Avx512Lanes : Avx512Vectors<uint16_t> {
    // Divide's multiplier and shift.
    struct Divisor {
        Vector multiplier;
        __m128i shift;
    };
    static constexpr int32_t kPixels = 8;
    static constexpr __mmask8 kAllPixels = 0xFF;
    static constexpr __mmask32 kAllLanes = 0xFFFFFFFFu;

    ZPX_TARGET_AVX512 static Vector LoadBytes(const uint8_t* bytes) {
        return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes)));
    }
    ZPX_TARGET_AVX512 static void StoreBytes(uint8_t* bytes, Vector v) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(bytes), _mm512_maskz_cvtepi16_epi8(kAllLanes, v));
    }
    ZPX_TARGET_AVX512 static Vector EveryPixel(const Lane* pixel) {
        return _mm512_set1_epi64(static_cast<long long>(Sse2Lanes::PixelWord(pixel)));
    }
    ZPX_TARGET_AVX512 static Vector Splat(Lane value) { return _mm512_set1_epi16(static_cast<short>(value)); }
    ZPX_TARGET_AVX512 static Vector Add(Vector a, Vector b) { return _mm512_add_epi16(a, b); }
    ZPX_TARGET_AVX512 static Vector Subtract(Vector a, Vector b) { return _mm512_sub_epi16(a, b); }
    ZPX_TARGET_AVX512 static Vector Times(Vector a, Vector b) { return _mm512_mullo_epi16(a, b); }
    ZPX_TARGET_AVX512 static Divisor MakeDivisor(int32_t span) {
        const WindowDivisor divisor = DivisorFor(span);
        return Divisor{Splat(divisor.multiplier), _mm_cvtsi32_si128(divisor.shift)};
    }
    ZPX_TARGET_AVX512 static Vector Divide(Vector n, const Divisor& divisor) {
        const Vector t = _mm512_mulhi_epu16(n, divisor.multiplier);
        return _mm512_srl_epi16(_mm512_add_epi16(t, _mm512_srli_epi16(_mm512_sub_epi16(n, t), 1)), divisor.shift);
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

// The 32-bit sets: a pixel is 128 bits, and quotients come from floats (see WideDivide).
struct Sse2WideLanes : Sse2Vectors<uint32_t> {
    using Divisor = __m128;
    static constexpr int32_t kPixels = 1;

    static Vector LoadBytes(const uint8_t* bytes) {
        int32_t word;
        memcpy(&word, bytes, sizeof word);
        const __m128i zero = _mm_setzero_si128();
        return _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(word), zero), zero);
    }
    static void StoreBytes(uint8_t* bytes, Vector v) {
        const __m128i words = _mm_packs_epi32(v, v);
        const int32_t word = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
        memcpy(bytes, &word, sizeof word);
    }
    static Vector EveryPixel(const Lane* pixel) { return Load(pixel); }
    static Vector Splat(Lane value) { return _mm_set1_epi32(static_cast<int>(value)); }
    static Vector Add(Vector a, Vector b) { return _mm_add_epi32(a, b); }
    static Vector Subtract(Vector a, Vector b) { return _mm_sub_epi32(a, b); }
    // SSE2 has no 32-bit low multiply: the even and odd lanes apart.
    static Vector Times(Vector a, Vector b) {
        const __m128i even = _mm_mul_epu32(a, b);
        const __m128i odd = _mm_mul_epu32(_mm_srli_si128(a, 4), _mm_srli_si128(b, 4));
        return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                                  _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
    }
    static Divisor MakeDivisor(int32_t span) { return _mm_set1_ps(WideReciprocal(span)); }
    static Vector Divide(Vector n, Divisor reciprocal) {
        return _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(n), reciprocal));
    }
    static Vector PrefixSum(Vector v) { return v; }
    static Vector LastPixelEverywhere(Vector v) { return v; }
};

struct Avx2WideLanes : Avx2Vectors<uint32_t> {
    using Divisor = __m256;
    static constexpr int32_t kPixels = 2;

    ZPX_TARGET_AVX2 static Vector LoadBytes(const uint8_t* bytes) {
        return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes)));
    }
    ZPX_TARGET_AVX2 static void StoreBytes(uint8_t* bytes, Vector v) {
        const __m128i words = _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes), _mm_packus_epi16(words, words));
    }
    ZPX_TARGET_AVX2 static Vector EveryPixel(const Lane* pixel) {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pixel)));
    }
    ZPX_TARGET_AVX2 static Vector Splat(Lane value) { return _mm256_set1_epi32(static_cast<int>(value)); }
    ZPX_TARGET_AVX2 static Vector Add(Vector a, Vector b) { return _mm256_add_epi32(a, b); }
    ZPX_TARGET_AVX2 static Vector Subtract(Vector a, Vector b) { return _mm256_sub_epi32(a, b); }
    ZPX_TARGET_AVX2 static Vector Times(Vector a, Vector b) { return _mm256_mullo_epi32(a, b); }
    ZPX_TARGET_AVX2 static Divisor MakeDivisor(int32_t span) { return _mm256_set1_ps(WideReciprocal(span)); }
    ZPX_TARGET_AVX2 static Vector Divide(Vector n, Divisor reciprocal) {
        return _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(n), reciprocal));
    }
    ZPX_TARGET_AVX2 static Vector PrefixSum(Vector v) {
        return _mm256_add_epi32(v, _mm256_permute2x128_si256(v, v, 0x08));
    }
    ZPX_TARGET_AVX2 static Vector LastPixelEverywhere(Vector v) { return _mm256_permute2x128_si256(v, v, 0x11); }
};

struct Avx512WideLanes : Avx512Vectors<uint32_t> {
    using Divisor = __m512;
    static constexpr int32_t kPixels = 4;
    // Masks selecting every element of 16 or 8 (see Avx512Lanes).
    static constexpr __mmask16 kAllOfSixteen = 0xFFFF;
    static constexpr __mmask8 kAllOfEight = 0xFF;

    ZPX_TARGET_AVX512 static Vector LoadBytes(const uint8_t* bytes) {
        return _mm512_maskz_cvtepu8_epi32(kAllOfSixteen, _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
    }
    ZPX_TARGET_AVX512 static void StoreBytes(uint8_t* bytes, Vector v) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), _mm512_maskz_cvtepi32_epi8(kAllOfSixteen, v));
    }
    ZPX_TARGET_AVX512 static Vector EveryPixel(const Lane* pixel) {
        return _mm512_maskz_broadcast_i32x4(kAllOfSixteen, _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixel)));
    }
    ZPX_TARGET_AVX512 static Vector Splat(Lane value) { return _mm512_set1_epi32(static_cast<int>(value)); }
    ZPX_TARGET_AVX512 static Vector Add(Vector a, Vector b) { return _mm512_add_epi32(a, b); }
    ZPX_TARGET_AVX512 static Vector Subtract(Vector a, Vector b) { return _mm512_sub_epi32(a, b); }
    ZPX_TARGET_AVX512 static Vector Times(Vector a, Vector b) { return _mm512_mullo_epi32(a, b); }
    ZPX_TARGET_AVX512 static Divisor MakeDivisor(int32_t span) { return _mm512_set1_ps(WideReciprocal(span)); }
    ZPX_TARGET_AVX512 static Vector Divide(Vector n, Divisor reciprocal) {
        const __m512 lanes = _mm512_maskz_cvtepi32_ps(kAllOfSixteen, n);
        return _mm512_maskz_cvttps_epi32(kAllOfSixteen, _mm512_mul_ps(lanes, reciprocal));
    }
    ZPX_TARGET_AVX512 static Vector PrefixSum(Vector v) {
        const __m512i zero = _mm512_setzero_si512();
        v = _mm512_add_epi32(v, _mm512_maskz_alignr_epi64(kAllOfEight, v, zero, 6));
        return _mm512_add_epi32(v, _mm512_maskz_alignr_epi64(kAllOfEight, v, zero, 4));
    }
    ZPX_TARGET_AVX512 static Vector LastPixelEverywhere(Vector v) {
        return _mm512_maskz_shuffle_i64x2(kAllOfEight, v, v, 0xFF);
    }
};

// ---- the passes, once for every set ----

// The working rows, `kLanesPerPixel` lanes a pixel, each with room for a
// whole last vector: the column sums, the first pass's averages of the row,
// and the rows the second pass's window drops and takes in. While r is below
// the width, leaving and entering are windows into the row of averages
// widened at both ends (`widened`); otherwise they are rows of their own.
template <class Lane>
struct LaneRows {
    Lane* sums;
    Lane* averages;
    Lane* leaving;
    Lane* entering;
    bool widened;
};

bool Widened(int32_t width, int32_t r) { return r < width; }

int64_t RowLanes(int32_t width) { return (static_cast<int64_t>(width) + kWidestVector) * kLanesPerPixel; }

int64_t WorkingLanes(int32_t width, int32_t r) {
    if (!Widened(width, r)) return 4 * RowLanes(width);
    return RowLanes(width) + RowLanes(width + 2 * r + 1);
}

template <class Lane>
LaneRows<Lane> LayOutRows(Lane* memory, int32_t width, int32_t r) {
    const int64_t row = RowLanes(width);
    if (!Widened(width, r)) return LaneRows<Lane>{memory, memory + row, memory + 2 * row, memory + 3 * row, false};
    Lane* widened = memory + row;
    return LaneRows<Lane>{memory, widened + (r + 1) * kLanesPerPixel, widened,
                          widened + (2 * r + 1) * kLanesPerPixel, true};
}

// The bytes of pixels [from, from + count) of a row, zero-padded to a whole
// vector, so that the last vector of a row reads nothing past the row.
template <class Lanes>
ZPX_LANE_INLINE typename Lanes::Vector LoadBytesTail(const uint8_t* row, int32_t count) {
    alignas(64) uint8_t bytes[kWidestVector * kLanesPerPixel] = {};
    memcpy(bytes, row, static_cast<size_t>(count) * kLanesPerPixel);
    return Lanes::LoadBytes(bytes);
}

template <class Lanes, class Lane>
ZPX_LANE_INLINE void AddRowTimes(Lane* sums, const uint8_t* row, int32_t width, Lane times) {
    const typename Lanes::Vector factor = Lanes::Splat(times);
    int32_t x = 0;
    for (; x + Lanes::kPixels <= width; x += Lanes::kPixels) {
        Lane* at = sums + x * kLanesPerPixel;
        Lanes::Store(at, Lanes::Add(Lanes::Load(at), Lanes::Times(Lanes::LoadBytes(row + x * kLanesPerPixel), factor)));
    }
    if (x < width) {
        Lane* at = sums + x * kLanesPerPixel;
        const typename Lanes::Vector bytes = LoadBytesTail<Lanes>(row + x * kLanesPerPixel, width - x);
        Lanes::Store(at, Lanes::Add(Lanes::Load(at), Lanes::Times(bytes, factor)));
    }
}

// The source rows one step of the first pass reads, and those the next step
// will read.
struct SlidingRows {
    const uint8_t* entering;
    const uint8_t* leaving;
    const uint8_t* enteringNext;
    const uint8_t* leavingNext;
};

// The first pass's averages of a row from the sums, then sums += entering
// row - leaving row. The next step's rows are fetched into the second-level
// cache on the way (the first-level one is full of sums): for a large r the
// leaving row was last read so long ago that it has left the caches.
template <class Lanes, class Lane>
ZPX_LANE_INLINE void AverageAndSlide(Lane* sums, Lane* averages, const SlidingRows& rows, int32_t width,
                                     const typename Lanes::Divisor& divisor) {
    using Vector = typename Lanes::Vector;
    int32_t x = 0;
    for (; x + Lanes::kPixels <= width; x += Lanes::kPixels) {
        const int32_t at = x * kLanesPerPixel;
        __builtin_prefetch(rows.enteringNext + at, 0, 2);
        if (rows.leavingNext != nullptr) __builtin_prefetch(rows.leavingNext + at, 0, 2);
        const Vector sum = Lanes::Load(sums + at);
        Lanes::Store(averages + at, Lanes::Divide(sum, divisor));
        const Vector change =
            Lanes::Subtract(Lanes::LoadBytes(rows.entering + at), Lanes::LoadBytes(rows.leaving + at));
        Lanes::Store(sums + at, Lanes::Add(sum, change));
    }
    if (x < width) {
        const int32_t at = x * kLanesPerPixel;
        const Vector sum = Lanes::Load(sums + at);
        Lanes::Store(averages + at, Lanes::Divide(sum, divisor));
        const Vector change = Lanes::Subtract(LoadBytesTail<Lanes>(rows.entering + at, width - x),
                                              LoadBytesTail<Lanes>(rows.leaving + at, width - x));
        Lanes::Store(sums + at, Lanes::Add(sum, change));
    }
}

template <class Lane>
void RepeatPixel(Lane* to, const Lane* pixel, int32_t times) {
    for (int32_t i = 0; i < times; ++i) memcpy(to + i * kLanesPerPixel, pixel, kLanesPerPixel * sizeof(Lane));
}

// leaving(x) = average(max(x - r - 1, 0)) and entering(x) =
// average(min(x + r, width - 1)). In the widened row that takes r + 1 copies
// of the first average before the row and r of the last after it; otherwise
// they are copied out in at most four runs, at a cost that does not grow with r.
template <class Lane>
void PrepareWindowRows(const LaneRows<Lane>& rows, int32_t width, int32_t r) {
    const Lane* first = rows.averages;
    const Lane* last = rows.averages + (width - 1) * kLanesPerPixel;
    if (rows.widened) {
        RepeatPixel(rows.leaving, first, r + 1);
        RepeatPixel(rows.averages + width * kLanesPerPixel, last, r);
        return;
    }
    const size_t pixelBytes = kLanesPerPixel * sizeof(Lane);
    const int32_t firstRepeats = std::min(r + 1, width);
    RepeatPixel(rows.leaving, first, firstRepeats);
    memcpy(rows.leaving + firstRepeats * kLanesPerPixel, first, static_cast<size_t>(width - firstRepeats) * pixelBytes);
    const int32_t shifted = std::max(width - r, 0);
    if (shifted > 0) {
        memcpy(rows.entering, rows.averages + static_cast<ptrdiff_t>(r) * kLanesPerPixel,
               static_cast<size_t>(shifted) * pixelBytes);
    }
    RepeatPixel(rows.entering + shifted * kLanesPerPixel, last, width - shifted);
}

// The lanes of box(-1), the window before the first pixel, so that box(0) =
// box(-1) + entering(0) - leaving(0): box(0) sums the clamped window around
// pixel 0 (at most `width` reads however large r is), then entering(0) comes
// off and leaving(0) goes on. Lane arithmetic wraps as the vector lanes do.
template <class Lane>
void WindowBeforeFirst(const Lane* averages, int32_t width, int32_t r, Lane* window) {
    std::fill_n(window, kLanesPerPixel, Lane{0});
    ForFirstWindow(r, width, [&](int32_t x, int32_t times) {
        for (int32_t c = 0; c < kLanesPerPixel; ++c) {
            window[c] = static_cast<Lane>(window[c] + static_cast<Lane>(times) * averages[x * kLanesPerPixel + c]);
        }
    });
    const Lane* entering = averages + std::min(r, width - 1) * kLanesPerPixel;
    for (int32_t c = 0; c < kLanesPerPixel; ++c) window[c] = static_cast<Lane>(window[c] - entering[c] + averages[c]);
}

// Which lanes of a pixel keep their average, and what the fourth becomes.
template <class Lanes>
struct ResultMasks {
    typename Lanes::Vector keep;
    typename Lanes::Vector fourth;

    ZPX_LANE_INLINE explicit ResultMasks(ResultBytes bytes) {
        using Lane = typename Lanes::Lane;
        Lane keepLanes[kLanesPerPixel];
        std::fill_n(keepLanes, kLanesPerPixel, static_cast<Lane>(~Lane{0}));
        keepLanes[bytes.fourthByte] = 0;
        Lane fourthLanes[kLanesPerPixel] = {};
        fourthLanes[bytes.fourthByte] = bytes.fourthValue;
        keep = Lanes::EveryPixel(keepLanes);
        fourth = Lanes::EveryPixel(fourthLanes);
    }
};

// The second pass over one row of averages, into the result row; the next
// result row is fetched for writing, into the second-level cache, on the way.
template <class Lanes, class Lane>
ZPX_LANE_INLINE void BoxRow(const LaneRows<Lane>& rows, int32_t width, int32_t r, uint8_t* out, uint8_t* outNext,
                            const typename Lanes::Divisor& divisor, const ResultMasks<Lanes>& masks) {
    using Vector = typename Lanes::Vector;
    Lane before[kLanesPerPixel];
    WindowBeforeFirst(rows.averages, width, r, before);
    Vector window = Lanes::EveryPixel(before);
    for (int32_t x = 0; x < width; x += Lanes::kPixels) {
        const int32_t at = x * kLanesPerPixel;
        const Vector change = Lanes::Subtract(Lanes::Load(rows.entering + at), Lanes::Load(rows.leaving + at));
        const Vector changes = Lanes::PrefixSum(change);
        const Vector sums = Lanes::Add(window, changes);
        // Kept apart from sums: the next vector waits for one addition only.
        window = Lanes::Add(window, Lanes::LastPixelEverywhere(changes));
        const Vector pixels = Lanes::Or(Lanes::And(Lanes::Divide(sums, divisor), masks.keep), masks.fourth);
        if (x + Lanes::kPixels <= width) {
            __builtin_prefetch(outNext + at, 1, 2);
            Lanes::StoreBytes(out + at, pixels);
        } else {
            alignas(64) uint8_t last[kWidestVector * kLanesPerPixel];
            Lanes::StoreBytes(last, pixels);
            memcpy(out + at, last, static_cast<size_t>(width - x) * kLanesPerPixel);
        }
    }
}

struct BlurJob {
    const PictureReader& source;
    PictureWriter& result;
    int32_t r;
    ResultBytes bytes;
    YieldData& yieldRecord;
    void* memory;
};

// The leaving row of a window no taller than this was read so recently that
// it is still in the second-level cache.
constexpr int32_t kRecentRows = 16;

const uint8_t* SourceRow(const BlurJob& job, int32_t y) {
    return job.source.RowAddress(std::min(std::max(y, 0), job.source.height - 1));
}

// Yields where the plain passes yield: once where the table is filled, then
// once per row for each pass.
template <class Lanes>
ZPX_LANE_INLINE void BlurAllRows(const BlurJob& job) {
    using Lane = typename Lanes::Lane;
    const int32_t width = job.source.width;
    const int32_t height = job.source.height;
    const int32_t r = job.r;
    const typename Lanes::Divisor divisor = Lanes::MakeDivisor(2 * r + 1);
    const ResultMasks<Lanes> masks(job.bytes);
    const LaneRows<Lane> rows = LayOutRows(static_cast<Lane*>(job.memory), width, r);
    ForFirstWindow(
        r, height, [&](int32_t y, int32_t times) __attribute__((always_inline)) {
            AddRowTimes<Lanes>(rows.sums, job.source.RowAddress(y), width, static_cast<Lane>(times));
        });
    job.yieldRecord.YieldPoint();
    for (int32_t y = 0; y < height; ++y) {
        const SlidingRows sliding{SourceRow(job, y + r + 1), SourceRow(job, y - r), SourceRow(job, y + r + 2),
                                  r > kRecentRows ? SourceRow(job, y - r + 1) : nullptr};
        AverageAndSlide<Lanes>(rows.sums, rows.averages, sliding, width, divisor);
        job.yieldRecord.YieldPoint();
        PrepareWindowRows(rows, width, r);
        BoxRow<Lanes>(rows, width, r, job.result.RowAddress(y), job.result.RowAddress(std::min(y + 1, height - 1)),
                      divisor, masks);
        job.yieldRecord.YieldPoint();
    }
}

__attribute__((flatten)) void BlurAllRowsSse2(const BlurJob& job) { BlurAllRows<Sse2Lanes>(job); }
__attribute__((flatten)) void BlurAllRowsSse2Wide(const BlurJob& job) { BlurAllRows<Sse2WideLanes>(job); }
ZPX_TARGET_AVX2 __attribute__((flatten)) void BlurAllRowsAvx2(const BlurJob& job) { BlurAllRows<Avx2Lanes>(job); }
ZPX_TARGET_AVX2 __attribute__((flatten)) void BlurAllRowsAvx2Wide(const BlurJob& job) {
    BlurAllRows<Avx2WideLanes>(job);
}
ZPX_TARGET_AVX512 __attribute__((flatten)) void BlurAllRowsAvx512(const BlurJob& job) { BlurAllRows<Avx512Lanes>(job); }
ZPX_TARGET_AVX512 __attribute__((flatten)) void BlurAllRowsAvx512Wide(const BlurJob& job) {
    BlurAllRows<Avx512WideLanes>(job);
}

bool WideLanes(int32_t r) { return r > kLargestLaneRadius; }

}  // namespace

bool BlurLanesRun(PixelPath path) { return path != PixelPath::Plain; }

int64_t BlurLaneBytes(int32_t width, int32_t r) {
    const int64_t laneBytes = WideLanes(r) ? sizeof(uint32_t) : sizeof(uint16_t);
    return laneBytes * WorkingLanes(width, r);
}

void BlurWithLanes(PixelPath path, const PictureReader& source, PictureWriter& result, int32_t r, ResultBytes bytes,
                   YieldData& yieldRecord, void* memory) {
    const BlurJob job{source, result, r, bytes, yieldRecord, memory};
    const bool wide = WideLanes(r);
    switch (path) {
        case PixelPath::Avx512:
            wide ? BlurAllRowsAvx512Wide(job) : BlurAllRowsAvx512(job);
            break;
        case PixelPath::Avx2:
            wide ? BlurAllRowsAvx2Wide(job) : BlurAllRowsAvx2(job);
            break;
        default:
            wide ? BlurAllRowsSse2Wide(job) : BlurAllRowsSse2(job);
            break;
    }
}

#else  // no vector twin on other processors: the plain passes run

bool BlurLanesRun(PixelPath) { return false; }
int64_t BlurLaneBytes(int32_t, int32_t) { return 0; }
void BlurWithLanes(PixelPath, const PictureReader&, PictureWriter&, int32_t, ResultBytes, YieldData&, void*) {}

#endif
