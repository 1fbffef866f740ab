// The AVX2 lane set: 256-bit vectors (8 ints, 8 floats, 4 doubles). Every
// operation carries the instruction set as a function attribute, so this
// code runs only where the pixel path found AVX2 on the processor.
// Included by lanes/Lanes.h only.
#pragma once

#include <immintrin.h>

#include <cstdint>

// Not always_inline: generic lane code is compiled on its own too before its
// set instance takes it in (flattened), and only there may these be inlined.
#define ZPX_AVX2 inline __attribute__((target("avx2")))

struct Avx2 {
    using Ints = __m256i;
    using Floats = __m256;
    using Doubles = __m256d;
    static constexpr int kBytes = 32;
    static constexpr int kInts = 8;
    static constexpr int kDoubles = 4;

    template <class Row>
    __attribute__((target("avx2"), flatten)) static typename Row::Result Run(const typename Row::Args& args) {
        return Row::template Lanes<Avx2>(args);
    }

    // ---- integer lanes ----
    static ZPX_AVX2 Ints LoadInts(const void* from) { return _mm256_loadu_si256(static_cast<const __m256i*>(from)); }
    static ZPX_AVX2 void StoreInts(void* to, Ints v) { _mm256_storeu_si256(static_cast<__m256i*>(to), v); }
    static ZPX_AVX2 Ints SplatInts(int32_t value) { return _mm256_set1_epi32(value); }
    static ZPX_AVX2 Ints WidenBytes(const uint8_t* bytes) {
        return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes)));
    }
    static ZPX_AVX2 void WidenPixelPairs(const uint8_t* a, const uint8_t* b, Ints& first, Ints& second) {
        const __m128i pairs = _mm_unpacklo_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)),
                                                 _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b)));
        first = _mm256_cvtepu8_epi32(pairs);
        second = _mm256_cvtepu8_epi32(_mm_srli_si128(pairs, 8));
    }
    template <int A, int B, int C, int D>
    static ZPX_AVX2 Ints ArrangeBytesInWords(Ints v) {
        const __m128i order = _mm_setr_epi8(A, B, C, D, A + 4, B + 4, C + 4, D + 4, A + 8, B + 8, C + 8, D + 8, A + 12,
                                            B + 12, C + 12, D + 12);
        const __m128i zeroed = _mm_setr_epi8(A < 0, B < 0, C < 0, D < 0, A < 0, B < 0, C < 0, D < 0, A < 0, B < 0,
                                             C < 0, D < 0, A < 0, B < 0, C < 0, D < 0);
        // Index bytes with the top bit set give 0.
        return _mm256_shuffle_epi8(v, _mm256_broadcastsi128_si256(_mm_or_si128(order, _mm_slli_epi16(zeroed, 7))));
    }
    static ZPX_AVX2 Ints And(Ints a, Ints b) { return _mm256_and_si256(a, b); }
    static ZPX_AVX2 Ints Or(Ints a, Ints b) { return _mm256_or_si256(a, b); }
    static ZPX_AVX2 Ints ShiftRight(Ints v, int bits) { return _mm256_srli_epi32(v, bits); }
    static ZPX_AVX2 Ints ShiftLeft(Ints v, int bits) { return _mm256_slli_epi32(v, bits); }
    // The packs work within 128-bit halves; the permute puts the words back in order.
    static ZPX_AVX2 Ints NarrowToBytes(Ints a, Ints b, Ints c, Ints d) {
        const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(a, b), _mm256_packs_epi32(c, d));
        return _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    }
    template <int Words>
    static ZPX_AVX2 void StoreEvenOddWords(Ints v, uint32_t* even, uint32_t* odd) {
        static_assert(Words == 8, "a whole vector");
        const __m256i sorted = _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(even), _mm256_castsi256_si128(sorted));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(odd), _mm256_extracti128_si256(sorted, 1));
    }

    // ---- 16-bit and 32-bit integer lanes ----
    static ZPX_AVX2 Ints WidenBytes16(const uint8_t* bytes) {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
    }
    static ZPX_AVX2 Ints NarrowWordsToBytes(Ints v) {
        return _mm256_permute4x64_epi64(_mm256_packus_epi16(v, v), 0x08);
    }
    template <int Count>
    static ZPX_AVX2 void StoreFirstBytes(uint8_t* to, Ints v) {
        static_assert(Count == 16 || Count == 8, "half or quarter of a vector");
        if constexpr (Count == 16) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm256_castsi256_si128(v));
        } else {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(to), _mm256_castsi256_si128(v));
        }
    }
    static ZPX_AVX2 Ints Splat16(uint16_t value) { return _mm256_set1_epi16(static_cast<short>(value)); }
    static ZPX_AVX2 Ints Add16(Ints a, Ints b) { return _mm256_add_epi16(a, b); }
    static ZPX_AVX2 Ints Sub16(Ints a, Ints b) { return _mm256_sub_epi16(a, b); }
    static ZPX_AVX2 Ints MulLow16(Ints a, Ints b) { return _mm256_mullo_epi16(a, b); }
    static ZPX_AVX2 Ints MulHighUnsigned16(Ints a, Ints b) { return _mm256_mulhi_epu16(a, b); }
    static ZPX_AVX2 Ints ShiftRight16(Ints v, int bits) { return _mm256_srl_epi16(v, _mm_cvtsi32_si128(bits)); }
    static ZPX_AVX2 Ints Add32(Ints a, Ints b) { return _mm256_add_epi32(a, b); }
    static ZPX_AVX2 Ints Sub32(Ints a, Ints b) { return _mm256_sub_epi32(a, b); }
    static ZPX_AVX2 Ints Greater32(Ints a, Ints b) { return _mm256_cmpgt_epi32(a, b); }
    static ZPX_AVX2 Ints AndNot(Ints a, Ints b) { return _mm256_andnot_si256(a, b); }
    static ZPX_AVX2 Ints MulLow32(Ints a, Ints b) { return _mm256_mullo_epi32(a, b); }
    static ZPX_AVX2 Ints ClampToByte32(Ints v) {
        return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()), _mm256_set1_epi32(255));
    }
    template <int A, int B, int C, int D>
    static ZPX_AVX2 Ints ShuffleWordsInPixels(Ints v) {
        return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(v, _MM_SHUFFLE(D, C, B, A)), _MM_SHUFFLE(D, C, B, A));
    }
    static ZPX_AVX2 Ints GatherPixels64(const uint64_t* base, const int32_t* index, int32_t offset) {
        return _mm256_set_epi64x(
            static_cast<long long>(base[index[3] + offset]), static_cast<long long>(base[index[2] + offset]),
            static_cast<long long>(base[index[1] + offset]), static_cast<long long>(base[index[0] + offset]));
    }

    // ---- pixels of four lanes of LaneBits ----
    template <int LaneBits>
    static ZPX_AVX2 Ints PrefixSumPixels(Ints v) {
        if constexpr (LaneBits == 16) {
            const __m256i up1 = _mm256_blend_epi32(_mm256_permute4x64_epi64(v, 0x90), _mm256_setzero_si256(), 0x03);
            v = _mm256_add_epi16(v, up1);
            return _mm256_add_epi16(v, _mm256_permute2x128_si256(v, v, 0x08));
        }
        return _mm256_add_epi32(v, _mm256_permute2x128_si256(v, v, 0x08));
    }
    template <int LaneBits>
    static ZPX_AVX2 Ints LastPixelEverywhere(Ints v) {
        if constexpr (LaneBits == 16) return _mm256_permute4x64_epi64(v, 0xFF);
        return _mm256_permute2x128_si256(v, v, 0x11);
    }
    template <int LaneBits>
    static ZPX_AVX2 Ints BroadcastPixel(const void* pixel) {
        if constexpr (LaneBits == 16) {
            return _mm256_broadcastq_epi64(_mm_loadl_epi64(static_cast<const __m128i*>(pixel)));
        }
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(static_cast<const __m128i*>(pixel)));
    }

    // ---- floats ----
    static ZPX_AVX2 Floats IntsToFloats(Ints v) { return _mm256_cvtepi32_ps(v); }
    static ZPX_AVX2 Floats SplatFloats(float value) { return _mm256_set1_ps(value); }
    static ZPX_AVX2 Floats MulFloats(Floats a, Floats b) { return _mm256_mul_ps(a, b); }
    static ZPX_AVX2 Floats LoadFloats(const float* from) { return _mm256_loadu_ps(from); }
    static ZPX_AVX2 void StoreFloats(float* to, Floats v) { _mm256_storeu_ps(to, v); }
    static ZPX_AVX2 Floats AddFloats(Floats a, Floats b) { return _mm256_add_ps(a, b); }
    static ZPX_AVX2 Floats MinFloats(Floats a, Floats b) { return _mm256_min_ps(a, b); }
    static ZPX_AVX2 Floats MaxFloats(Floats a, Floats b) { return _mm256_max_ps(a, b); }
    static ZPX_AVX2 Ints TruncateFloats(Floats v) { return _mm256_cvttps_epi32(v); }
    static ZPX_AVX2 Floats LoadQuads(const float* const (&at)[kInts / 4]) {
        return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(at[0])), _mm_loadu_ps(at[1]), 1);
    }
    static ZPX_AVX2 Doubles WidenLow(Floats v) { return _mm256_cvtps_pd(_mm256_castps256_ps128(v)); }
    static ZPX_AVX2 Doubles WidenHigh(Floats v) { return _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)); }

    // ---- doubles ----
    static ZPX_AVX2 Doubles LoadIntsAsDoubles(const int32_t* from) {
        return _mm256_cvtepi32_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
    }
    static ZPX_AVX2 Doubles LowIntsToDoubles(Ints v) { return _mm256_cvtepi32_pd(_mm256_castsi256_si128(v)); }
    static ZPX_AVX2 Doubles HighIntsToDoubles(Ints v) { return _mm256_cvtepi32_pd(_mm256_extracti128_si256(v, 1)); }
    static ZPX_AVX2 Doubles Splat(double value) { return _mm256_set1_pd(value); }
    static ZPX_AVX2 Doubles Add(Doubles a, Doubles b) { return _mm256_add_pd(a, b); }
    static ZPX_AVX2 Doubles Sub(Doubles a, Doubles b) { return _mm256_sub_pd(a, b); }
    static ZPX_AVX2 Doubles Mul(Doubles a, Doubles b) { return _mm256_mul_pd(a, b); }
    static ZPX_AVX2 Doubles Div(Doubles a, Doubles b) { return _mm256_div_pd(a, b); }
    static ZPX_AVX2 Doubles Max(Doubles a, Doubles b) { return _mm256_max_pd(a, b); }
    static ZPX_AVX2 Doubles Min(Doubles a, Doubles b) { return _mm256_min_pd(a, b); }
    static ZPX_AVX2 Doubles Floor(Doubles v) { return _mm256_floor_pd(v); }
    static ZPX_AVX2 bool AnyGreater(Doubles a, Doubles b) {
        return _mm256_movemask_pd(_mm256_cmp_pd(a, b, _CMP_GT_OQ)) != 0;
    }
    static ZPX_AVX2 Ints Truncate(Doubles low, Doubles high) {
        return _mm256_set_m128i(_mm256_cvttpd_epi32(high), _mm256_cvttpd_epi32(low));
    }
};

#undef ZPX_AVX2
