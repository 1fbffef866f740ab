// The baseline lane set of x86: SSE2, which every x86-64 processor and every
// 32-bit build (-msse2) has. 128-bit vectors: 4 ints, 4 floats, 2 doubles.
// Included by lanes/Lanes.h only.
#pragma once

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

struct Sse2 {
    using Ints = __m128i;
    using Floats = __m128;
    using Doubles = __m128d;
    static constexpr int kBytes = 16;
    static constexpr int kInts = 4;
    static constexpr int kDoubles = 2;

    template <class Row>
    __attribute__((flatten)) static typename Row::Result Run(const typename Row::Args& args) {
        return Row::template Lanes<Sse2>(args);
    }

    // ---- integer lanes ----
    static inline Ints LoadInts(const void* from) { return _mm_loadu_si128(static_cast<const __m128i*>(from)); }
    static inline void StoreInts(void* to, Ints v) { _mm_storeu_si128(static_cast<__m128i*>(to), v); }
    static inline Ints SplatInts(int32_t value) { return _mm_set1_epi32(value); }
    // kInts bytes, each zero-extended to a 32-bit lane.
    static inline Ints WidenBytes(const uint8_t* bytes) {
        int32_t word;
        memcpy(&word, bytes, sizeof word);
        const __m128i zero = _mm_setzero_si128();
        return _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(word), zero), zero);
    }
    // Lanes A, B, C, D of every group of four 32-bit lanes (a pixel), in that order.
    template <int A, int B, int C, int D>
    static inline Ints ShuffleInPixels(Ints v) {
        return _mm_shuffle_epi32(v, _MM_SHUFFLE(D, C, B, A));
    }
    static inline Ints And(Ints a, Ints b) { return _mm_and_si128(a, b); }
    static inline Ints Or(Ints a, Ints b) { return _mm_or_si128(a, b); }
    static inline Ints ShiftRight(Ints v, int bits) { return _mm_srli_epi32(v, bits); }
    static inline Ints ShiftLeft(Ints v, int bits) { return _mm_slli_epi32(v, bits); }
    // The 128-bit blocks of a and b alternately: a0 b0 a1 b1 ... into first, then second.
    static inline void InterleaveBlocks(Ints a, Ints b, Ints& first, Ints& second) {
        first = a;
        second = b;
    }
    // 32-bit lanes of a, b, c, d in order, each clamped to 0..255, as bytes.
    static inline Ints NarrowToBytes(Ints a, Ints b, Ints c, Ints d) {
        return _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
    }
    // The even 32-bit lanes to `even`, the odd ones to `odd`, kInts / 2 words each.
    static inline void StoreEvenOddWords(Ints v, uint32_t* even, uint32_t* odd) {
        const __m128i sorted = _mm_shuffle_epi32(v, _MM_SHUFFLE(3, 1, 2, 0));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(even), sorted);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(odd), _mm_unpackhi_epi64(sorted, sorted));
    }

    // ---- floats ----
    static inline Floats IntsToFloats(Ints v) { return _mm_cvtepi32_ps(v); }
    static inline Floats SplatFloats(float value) { return _mm_set1_ps(value); }
    static inline Floats MulFloats(Floats a, Floats b) { return _mm_mul_ps(a, b); }
    static inline Doubles WidenLow(Floats v) { return _mm_cvtps_pd(v); }
    static inline Doubles WidenHigh(Floats v) { return _mm_cvtps_pd(_mm_movehl_ps(v, v)); }

    // ---- doubles ----
    // kDoubles 32-bit integers, converted.
    static inline Doubles LoadIntsAsDoubles(const int32_t* from) {
        return _mm_cvtepi32_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(from)));
    }
    static inline Doubles Splat(double value) { return _mm_set1_pd(value); }
    static inline Doubles Add(Doubles a, Doubles b) { return _mm_add_pd(a, b); }
    static inline Doubles Sub(Doubles a, Doubles b) { return _mm_sub_pd(a, b); }
    static inline Doubles Mul(Doubles a, Doubles b) { return _mm_mul_pd(a, b); }
    static inline Doubles Div(Doubles a, Doubles b) { return _mm_div_pd(a, b); }
    // b wherever a is NaN.
    static inline Doubles Max(Doubles a, Doubles b) { return _mm_max_pd(a, b); }
    static inline Doubles Min(Doubles a, Doubles b) { return _mm_min_pd(a, b); }
    // For values within the 32-bit integer range: the truncation, one less where that rounded up.
    static inline Doubles Floor(Doubles v) {
        const __m128d truncated = _mm_cvtepi32_pd(_mm_cvttpd_epi32(v));
        return _mm_sub_pd(truncated, _mm_and_pd(_mm_cmplt_pd(v, truncated), _mm_set1_pd(1.0)));
    }
    static inline bool AnyGreater(Doubles a, Doubles b) { return _mm_movemask_pd(_mm_cmpgt_pd(a, b)) != 0; }
    // The doubles of low, then of high, truncated to 32-bit lanes.
    static inline Ints Truncate(Doubles low, Doubles high) {
        return _mm_unpacklo_epi64(_mm_cvttpd_epi32(low), _mm_cvttpd_epi32(high));
    }
};
