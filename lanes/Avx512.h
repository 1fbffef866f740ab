// The AVX-512 lane set (F, BW and VL): 512-bit vectors (16 ints, 16 floats,
// 8 doubles). Every operation carries the instruction set as a function
// attribute; the zero-masked forms with every lane selected stand where
// GCC 12 warns about the undefined pass-through operand of the plain ones.
// Included by lanes/Lanes.h only.
#pragma once

#include <immintrin.h>

#include <cstdint>
#include <cstring>

// Not always_inline: see ZPX_AVX2.
#define ZPX_AVX512 inline __attribute__((target("avx512f,avx512bw,avx512vl")))

struct Avx512 {
    using Ints = __m512i;
    using Floats = __m512;
    using Doubles = __m512d;
    static constexpr int kBytes = 64;
    static constexpr int kInts = 16;
    static constexpr int kDoubles = 8;

    template <class Row>
    __attribute__((target("avx512f,avx512bw,avx512vl"), flatten)) static typename Row::Result Run(
        const typename Row::Args& args) {
        return Row::template Lanes<Avx512>(args);
    }

    // ---- integer lanes ----
    static ZPX_AVX512 Ints LoadInts(const void* from) { return _mm512_loadu_si512(from); }
    static ZPX_AVX512 void StoreInts(void* to, Ints v) { _mm512_storeu_si512(to, v); }
    static ZPX_AVX512 Ints SplatInts(int32_t value) { return _mm512_set1_epi32(value); }
    static ZPX_AVX512 Ints WidenBytes(const uint8_t* bytes) {
        return _mm512_maskz_cvtepu8_epi32(0xFFFF, _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
    }
    static ZPX_AVX512 void WidenPixelPairs(const uint8_t* a, const uint8_t* b, Ints& first, Ints& second) {
        const __m128i rowA = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
        const __m128i rowB = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
        first = _mm512_maskz_cvtepu8_epi32(0xFFFF, _mm_unpacklo_epi32(rowA, rowB));
        second = _mm512_maskz_cvtepu8_epi32(0xFFFF, _mm_unpackhi_epi32(rowA, rowB));
    }
    template <int A, int B, int C, int D>
    static ZPX_AVX512 Ints ArrangeBytesInWords(Ints v) {
        const __m128i order = _mm_setr_epi8(A, B, C, D, A + 4, B + 4, C + 4, D + 4, A + 8, B + 8, C + 8, D + 8, A + 12,
                                            B + 12, C + 12, D + 12);
        const __m128i zeroed = _mm_setr_epi8(A < 0, B < 0, C < 0, D < 0, A < 0, B < 0, C < 0, D < 0, A < 0, B < 0,
                                             C < 0, D < 0, A < 0, B < 0, C < 0, D < 0);
        return _mm512_shuffle_epi8(v, _mm512_broadcast_i32x4(_mm_or_si128(order, _mm_slli_epi16(zeroed, 7))));
    }
    static ZPX_AVX512 Ints And(Ints a, Ints b) { return _mm512_and_si512(a, b); }
    static ZPX_AVX512 Ints Or(Ints a, Ints b) { return _mm512_or_si512(a, b); }
    static ZPX_AVX512 Ints ShiftRight(Ints v, int bits) {
        return _mm512_maskz_srli_epi32(0xFFFF, v, static_cast<unsigned>(bits));
    }
    static ZPX_AVX512 Ints ShiftLeft(Ints v, int bits) {
        return _mm512_maskz_slli_epi32(0xFFFF, v, static_cast<unsigned>(bits));
    }
    // The packs work within 128-bit blocks; the permute puts the words back in order.
    static ZPX_AVX512 Ints NarrowToBytes(Ints a, Ints b, Ints c, Ints d) {
        const __m512i bytes = _mm512_packus_epi16(_mm512_packs_epi32(a, b), _mm512_packs_epi32(c, d));
        return _mm512_permutexvar_epi32(_mm512_setr_epi32(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15), bytes);
    }
    template <int Words>
    static ZPX_AVX512 void StoreEvenOddWords(Ints v, uint32_t* even, uint32_t* odd) {
        static_assert(Words == 16 || Words == 8, "a whole vector or its first half");
        if constexpr (Words == 16) {
            const __m512i sorted =
                _mm512_permutexvar_epi32(_mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15), v);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(even), _mm512_castsi512_si256(sorted));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(odd), _mm512_extracti64x4_epi64(sorted, 1));
        } else {
            const __m256i sorted =
                _mm256_permutevar8x32_epi32(_mm512_castsi512_si256(v), _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(even), _mm256_castsi256_si128(sorted));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(odd), _mm256_extracti128_si256(sorted, 1));
        }
    }

    // ---- 16-bit and 32-bit integer lanes ----
    static ZPX_AVX512 Ints WidenBytes16(const uint8_t* bytes) {
        return _mm512_maskz_cvtepu8_epi16(0xFFFFFFFFu, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes)));
    }
    static ZPX_AVX512 Ints NarrowWordsToBytes(Ints v) {
        return _mm512_zextsi256_si512(_mm512_maskz_cvtusepi16_epi8(0xFFFFFFFFu, v));
    }
    template <int Count>
    static ZPX_AVX512 void StoreFirstBytes(uint8_t* to, Ints v) {
        static_assert(Count == 32 || Count == 16, "half or quarter of a vector");
        if constexpr (Count == 32) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), _mm512_castsi512_si256(v));
        } else {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm512_castsi512_si128(v));
        }
    }
    static ZPX_AVX512 Ints Splat16(uint16_t value) { return _mm512_set1_epi16(static_cast<short>(value)); }
    static ZPX_AVX512 Ints Add16(Ints a, Ints b) { return _mm512_add_epi16(a, b); }
    static ZPX_AVX512 Ints Sub16(Ints a, Ints b) { return _mm512_sub_epi16(a, b); }
    static ZPX_AVX512 Ints MulLow16(Ints a, Ints b) { return _mm512_mullo_epi16(a, b); }
    static ZPX_AVX512 Ints MulHighUnsigned16(Ints a, Ints b) { return _mm512_mulhi_epu16(a, b); }
    static ZPX_AVX512 Ints ShiftRight16(Ints v, int bits) {
        return _mm512_maskz_srl_epi16(0xFFFFFFFFu, v, _mm_cvtsi32_si128(bits));
    }
    static ZPX_AVX512 Ints Add32(Ints a, Ints b) { return _mm512_add_epi32(a, b); }
    static ZPX_AVX512 Ints Sub32(Ints a, Ints b) { return _mm512_sub_epi32(a, b); }
    static ZPX_AVX512 Ints Greater32(Ints a, Ints b) {
        return _mm512_maskz_mov_epi32(_mm512_cmpgt_epi32_mask(a, b), _mm512_set1_epi32(-1));
    }
    static ZPX_AVX512 Ints AndNot(Ints a, Ints b) { return _mm512_andnot_si512(a, b); }
    static ZPX_AVX512 Ints MulLow32(Ints a, Ints b) { return _mm512_mullo_epi32(a, b); }
    static ZPX_AVX512 Ints ClampToByte32(Ints v) {
        return _mm512_min_epi32(_mm512_max_epi32(v, _mm512_setzero_si512()), _mm512_set1_epi32(255));
    }
    template <int A, int B, int C, int D>
    static ZPX_AVX512 Ints ShuffleWordsInPixels(Ints v) {
        return _mm512_maskz_shufflehi_epi16(0xFFFFFFFFu,
                                            _mm512_maskz_shufflelo_epi16(0xFFFFFFFFu, v, _MM_SHUFFLE(D, C, B, A)),
                                            _MM_SHUFFLE(D, C, B, A));
    }
    static ZPX_AVX512 Ints GatherPixels64(const uint64_t* base, const int32_t* index, int32_t offset) {
        long long lanes[8];
        for (int i = 0; i < 8; ++i) lanes[i] = static_cast<long long>(base[index[i] + offset]);
        return _mm512_set_epi64(lanes[7], lanes[6], lanes[5], lanes[4], lanes[3], lanes[2], lanes[1], lanes[0]);
    }

    // ---- pixels of four lanes of LaneBits ----
    template <int LaneBits>
    static ZPX_AVX512 Ints PrefixSumPixels(Ints v) {
        const __m512i zero = _mm512_setzero_si512();
        if constexpr (LaneBits == 16) {
            v = _mm512_add_epi16(v, _mm512_maskz_alignr_epi64(0xFF, v, zero, 7));
            v = _mm512_add_epi16(v, _mm512_maskz_alignr_epi64(0xFF, v, zero, 6));
            return _mm512_add_epi16(v, _mm512_maskz_alignr_epi64(0xFF, v, zero, 4));
        }
        v = _mm512_add_epi32(v, _mm512_maskz_alignr_epi64(0xFF, v, zero, 6));
        return _mm512_add_epi32(v, _mm512_maskz_alignr_epi64(0xFF, v, zero, 4));
    }
    template <int LaneBits>
    static ZPX_AVX512 Ints LastPixelEverywhere(Ints v) {
        if constexpr (LaneBits == 16) return _mm512_maskz_permutexvar_epi64(0xFF, _mm512_set1_epi64(7), v);
        return _mm512_maskz_shuffle_i64x2(0xFF, v, v, 0xFF);
    }
    template <int LaneBits>
    static ZPX_AVX512 Ints BroadcastPixel(const void* pixel) {
        if constexpr (LaneBits == 16) {
            uint64_t word;
            memcpy(&word, pixel, sizeof word);
            return _mm512_set1_epi64(static_cast<long long>(word));
        }
        return _mm512_maskz_broadcast_i32x4(0xFFFF, _mm_loadu_si128(static_cast<const __m128i*>(pixel)));
    }

    // ---- floats ----
    static ZPX_AVX512 Floats IntsToFloats(Ints v) { return _mm512_maskz_cvtepi32_ps(0xFFFF, v); }
    static ZPX_AVX512 Floats SplatFloats(float value) { return _mm512_set1_ps(value); }
    static ZPX_AVX512 Floats MulFloats(Floats a, Floats b) { return _mm512_mul_ps(a, b); }
    static ZPX_AVX512 Floats LoadFloats(const float* from) { return _mm512_loadu_ps(from); }
    static ZPX_AVX512 void StoreFloats(float* to, Floats v) { _mm512_storeu_ps(to, v); }
    static ZPX_AVX512 Floats AddFloats(Floats a, Floats b) { return _mm512_add_ps(a, b); }
    static ZPX_AVX512 Floats MinFloats(Floats a, Floats b) { return _mm512_min_ps(a, b); }
    static ZPX_AVX512 Floats MaxFloats(Floats a, Floats b) { return _mm512_max_ps(a, b); }
    static ZPX_AVX512 Ints TruncateFloats(Floats v) { return _mm512_maskz_cvttps_epi32(0xFFFF, v); }
    static ZPX_AVX512 Floats LoadQuads(const float* const (&at)[kInts / 4]) {
        const __m256 low = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(at[0])), _mm_loadu_ps(at[1]), 1);
        const __m256 high = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(at[2])), _mm_loadu_ps(at[3]), 1);
        return _mm512_castpd_ps(
            _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_castps_pd(low)), _mm256_castps_pd(high), 1));
    }
    static ZPX_AVX512 Doubles WidenLow(Floats v) { return _mm512_maskz_cvtps_pd(0xFF, _mm512_castps512_ps256(v)); }
    static ZPX_AVX512 Doubles WidenHigh(Floats v) {
        return _mm512_maskz_cvtps_pd(0xFF, _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1)));
    }

    // ---- doubles ----
    static ZPX_AVX512 Doubles LoadIntsAsDoubles(const int32_t* from) {
        return _mm512_maskz_cvtepi32_pd(0xFF, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from)));
    }
    static ZPX_AVX512 Doubles LowIntsToDoubles(Ints v) {
        return _mm512_maskz_cvtepi32_pd(0xFF, _mm512_castsi512_si256(v));
    }
    static ZPX_AVX512 Doubles HighIntsToDoubles(Ints v) {
        return _mm512_maskz_cvtepi32_pd(0xFF, _mm512_extracti64x4_epi64(v, 1));
    }
    static ZPX_AVX512 Doubles Splat(double value) { return _mm512_set1_pd(value); }
    static ZPX_AVX512 Doubles Add(Doubles a, Doubles b) { return _mm512_add_pd(a, b); }
    static ZPX_AVX512 Doubles Sub(Doubles a, Doubles b) { return _mm512_sub_pd(a, b); }
    static ZPX_AVX512 Doubles Mul(Doubles a, Doubles b) { return _mm512_mul_pd(a, b); }
    static ZPX_AVX512 Doubles Div(Doubles a, Doubles b) { return _mm512_div_pd(a, b); }
    static ZPX_AVX512 Doubles Max(Doubles a, Doubles b) { return _mm512_max_pd(a, b); }
    static ZPX_AVX512 Doubles Min(Doubles a, Doubles b) { return _mm512_min_pd(a, b); }
    static ZPX_AVX512 Doubles Floor(Doubles v) {
        return _mm512_roundscale_pd(v, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    }
    static ZPX_AVX512 bool AnyGreater(Doubles a, Doubles b) { return _mm512_cmp_pd_mask(a, b, _CMP_GT_OQ) != 0; }
    static ZPX_AVX512 Ints Truncate(Doubles low, Doubles high) {
        return _mm512_inserti64x4(_mm512_zextsi256_si512(_mm512_maskz_cvttpd_epi32(0xFF, low)),
                                  _mm512_maskz_cvttpd_epi32(0xFF, high), 1);
    }
};

#undef ZPX_AVX512
