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
    // kInts / 4 pixels (four bytes each) of row a and of row b, each byte
    // zero-extended to a 32-bit lane, the pixels of both rows alternately: the
    // first half of them into first, the rest into second.
    static inline void WidenPixelPairs(const uint8_t* a, const uint8_t* b, Ints& first, Ints& second) {
        first = WidenBytes(a);
        second = WidenBytes(b);
    }
    // Byte A, B, C, D of every 32-bit lane, in that order; -1 gives 0.
    template <int A, int B, int C, int D>
    static inline Ints ArrangeBytesInWords(Ints v) {
        const int from[4] = {A, B, C, D};
        Ints arranged = _mm_setzero_si128();
        for (int to = 0; to < 4; ++to) {
            if (from[to] < 0) continue;
            const Ints byte = _mm_and_si128(_mm_srli_epi32(v, 8 * from[to]), _mm_set1_epi32(0xFF));
            arranged = _mm_or_si128(arranged, _mm_slli_epi32(byte, 8 * to));
        }
        return arranged;
    }
    static inline Ints And(Ints a, Ints b) { return _mm_and_si128(a, b); }
    static inline Ints Or(Ints a, Ints b) { return _mm_or_si128(a, b); }
    static inline Ints ShiftRight(Ints v, int bits) { return _mm_srli_epi32(v, bits); }
    static inline Ints ShiftLeft(Ints v, int bits) { return _mm_slli_epi32(v, bits); }
    // 32-bit lanes of a, b, c, d in order, each clamped to 0..255, as bytes.
    static inline Ints NarrowToBytes(Ints a, Ints b, Ints c, Ints d) {
        return _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
    }
    // Of the first Words 32-bit lanes, the even ones to `even`, the odd ones to `odd`.
    template <int Words>
    static inline void StoreEvenOddWords(Ints v, uint32_t* even, uint32_t* odd) {
        static_assert(Words == 4, "a whole vector");
        const __m128i sorted = _mm_shuffle_epi32(v, _MM_SHUFFLE(3, 1, 2, 0));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(even), sorted);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(odd), _mm_unpackhi_epi64(sorted, sorted));
    }

    // ---- 16-bit and 32-bit integer lanes ----
    // kBytes / 2 bytes, each zero-extended to a 16-bit lane.
    static inline Ints WidenBytes16(const uint8_t* bytes) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes)), _mm_setzero_si128());
    }
    // 16-bit lanes, each clamped to 0..255, as bytes in the first half.
    static inline Ints NarrowWordsToBytes(Ints v) { return _mm_packus_epi16(v, v); }
    // The first Count bytes of v (kBytes / 2 or kBytes / 4).
    template <int Count>
    static inline void StoreFirstBytes(uint8_t* to, Ints v) {
        static_assert(Count == 8 || Count == 4, "half or quarter of a vector");
        if constexpr (Count == 8) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(to), v);
        } else {
            const int32_t word = _mm_cvtsi128_si32(v);
            memcpy(to, &word, sizeof word);
        }
    }
    static inline Ints Splat16(uint16_t value) { return _mm_set1_epi16(static_cast<short>(value)); }
    static inline Ints Add16(Ints a, Ints b) { return _mm_add_epi16(a, b); }
    static inline Ints Sub16(Ints a, Ints b) { return _mm_sub_epi16(a, b); }
    static inline Ints MulLow16(Ints a, Ints b) { return _mm_mullo_epi16(a, b); }
    static inline Ints MulHighUnsigned16(Ints a, Ints b) { return _mm_mulhi_epu16(a, b); }
    static inline Ints ShiftRight16(Ints v, int bits) { return _mm_srl_epi16(v, _mm_cvtsi32_si128(bits)); }
    static inline Ints Add32(Ints a, Ints b) { return _mm_add_epi32(a, b); }
    static inline Ints Sub32(Ints a, Ints b) { return _mm_sub_epi32(a, b); }
    // All ones where a > b (signed), else 0.
    static inline Ints Greater32(Ints a, Ints b) { return _mm_cmpgt_epi32(a, b); }
    // ~a & b.
    static inline Ints AndNot(Ints a, Ints b) { return _mm_andnot_si128(a, b); }
    // SSE2 has no 32-bit low multiply: the even and odd lanes apart.
    static inline Ints MulLow32(Ints a, Ints b) {
        const __m128i even = _mm_mul_epu32(a, b);
        const __m128i odd = _mm_mul_epu32(_mm_srli_si128(a, 4), _mm_srli_si128(b, 4));
        return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                                  _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
    }
    // Signed 32-bit lanes clamped to 0..255 (through the saturating packs).
    static inline Ints ClampToByte32(Ints v) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(v, v), zero);
        return _mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero);
    }
    // The 16-bit lanes A, B, C, D of every pixel (four 16-bit lanes), in that order.
    template <int A, int B, int C, int D>
    static inline Ints ShuffleWordsInPixels(Ints v) {
        return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, _MM_SHUFFLE(D, C, B, A)), _MM_SHUFFLE(D, C, B, A));
    }
    // base[index[i] + offset] for each of the vector's 64-bit lanes.
    static inline Ints GatherPixels64(const uint64_t* base, const int32_t* index, int32_t offset) {
        return _mm_set_epi64x(static_cast<long long>(base[index[1] + offset]),
                              static_cast<long long>(base[index[0] + offset]));
    }

    // ---- pixels of four lanes of LaneBits (16: 64-bit pixels, 32: 128-bit pixels) ----
    // Every pixel of v plus every pixel before it in v.
    template <int LaneBits>
    static inline Ints PrefixSumPixels(Ints v) {
        if constexpr (LaneBits == 16) return _mm_add_epi16(v, _mm_slli_si128(v, 8));
        return v;
    }
    template <int LaneBits>
    static inline Ints LastPixelEverywhere(Ints v) {
        if constexpr (LaneBits == 16) return _mm_unpackhi_epi64(v, v);
        return v;
    }
    template <int LaneBits>
    static inline Ints BroadcastPixel(const void* pixel) {
        if constexpr (LaneBits == 16) {
            const __m128i word = _mm_loadl_epi64(static_cast<const __m128i*>(pixel));
            return _mm_unpacklo_epi64(word, word);
        }
        return LoadInts(pixel);
    }

    // ---- floats ----
    static inline Floats IntsToFloats(Ints v) { return _mm_cvtepi32_ps(v); }
    static inline Floats SplatFloats(float value) { return _mm_set1_ps(value); }
    static inline Floats MulFloats(Floats a, Floats b) { return _mm_mul_ps(a, b); }
    static inline Floats LoadFloats(const float* from) { return _mm_loadu_ps(from); }
    static inline void StoreFloats(float* to, Floats v) { _mm_storeu_ps(to, v); }
    static inline Floats AddFloats(Floats a, Floats b) { return _mm_add_ps(a, b); }
    static inline Floats MinFloats(Floats a, Floats b) { return _mm_min_ps(a, b); }
    static inline Floats MaxFloats(Floats a, Floats b) { return _mm_max_ps(a, b); }
    static inline Ints TruncateFloats(Floats v) { return _mm_cvttps_epi32(v); }
    // Four floats from each address, in order.
    static inline Floats LoadQuads(const float* const (&at)[kInts / 4]) { return _mm_loadu_ps(at[0]); }
    static inline Doubles WidenLow(Floats v) { return _mm_cvtps_pd(v); }
    static inline Doubles WidenHigh(Floats v) { return _mm_cvtps_pd(_mm_movehl_ps(v, v)); }

    // ---- doubles ----
    // kDoubles 32-bit integers, converted.
    static inline Doubles LoadIntsAsDoubles(const int32_t* from) {
        return _mm_cvtepi32_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(from)));
    }
    // The low or high half of 32-bit lanes, converted.
    static inline Doubles LowIntsToDoubles(Ints v) { return _mm_cvtepi32_pd(v); }
    static inline Doubles HighIntsToDoubles(Ints v) { return _mm_cvtepi32_pd(_mm_shuffle_epi32(v, 0xEE)); }
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
