// DrawPictureFZPX's interior runs on vectors (see DrawLanes.h): one pass
// written as a template over a few lane operations, instantiated for SSE2
// (every x86 build), AVX2 and AVX-512; the AVX variants are compiled for
// their instruction set by function attribute only and chosen once per call.
//
// The lane types cross no call boundary: each target's run is flattened into
// one function compiled for that target. GCC still notes the ABI of the wider
// types on the templates that it inlines there.
#pragma GCC diagnostic ignored "-Wpsabi"

#include "effects/DrawLanes.h"

#include "plugin/PixelPath.h"

#include "plugin/VectorTargets.h"

#if defined(__x86_64__) || defined(__i386__)

namespace {

constexpr int32_t kBytesPerPixel = 4;

// ---- lane operations: one 32-bit lane per pixel, one channel at a time ----

struct Sse2Lanes {
    using Words = __m128i;
    using Doubles = __m128d;
    static constexpr int32_t kPixels = 4;

    static Words Load(const uint8_t* pixels) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels)); }
    static void Store(uint8_t* pixels, Words v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels), v); }
    static Words Splat(uint32_t value) { return _mm_set1_epi32(static_cast<int>(value)); }
    static Doubles Splat(double value) { return _mm_set1_pd(value); }
    static Words Channel(Words words, __m128i shift) {
        return _mm_and_si128(_mm_srl_epi32(words, shift), _mm_set1_epi32(0xFF));
    }
    // trunc(channel * weight) per lane, two lanes per double vector.
    static Words Share(Words channel, Doubles weight) {
        const __m128i low = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtepi32_pd(channel), weight));
        const __m128i high = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(channel, 0xEE)), weight));
        return _mm_unpacklo_epi64(low, high);
    }
    static Words Add(Words a, Words b) { return _mm_add_epi32(a, b); }
    // Into 0..255 through the saturating packs, and back to 32-bit lanes.
    static Words Clamp(Words v) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(v, v), zero);
        return _mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero);
    }
    static Words ShiftLeft(Words v, __m128i shift) { return _mm_sll_epi32(v, shift); }
    static Words Or(Words a, Words b) { return _mm_or_si128(a, b); }
};

struct Avx2Lanes {
    using Words = __m256i;
    using Doubles = __m256d;
    static constexpr int32_t kPixels = 8;

    ZPX_TARGET_AVX2 static Words Load(const uint8_t* pixels) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels));
    }
    ZPX_TARGET_AVX2 static void Store(uint8_t* pixels, Words v) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(pixels), v);
    }
    ZPX_TARGET_AVX2 static Words Splat(uint32_t value) { return _mm256_set1_epi32(static_cast<int>(value)); }
    ZPX_TARGET_AVX2 static Doubles Splat(double value) { return _mm256_set1_pd(value); }
    ZPX_TARGET_AVX2 static Words Channel(Words words, __m128i shift) {
        return _mm256_and_si256(_mm256_srl_epi32(words, shift), _mm256_set1_epi32(0xFF));
    }
    ZPX_TARGET_AVX2 static Words Share(Words channel, Doubles weight) {
        const __m128i low =
            _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(channel)), weight));
        const __m128i high =
            _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(channel, 1)), weight));
        return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
    }
    ZPX_TARGET_AVX2 static Words Add(Words a, Words b) { return _mm256_add_epi32(a, b); }
    ZPX_TARGET_AVX2 static Words Clamp(Words v) {
        return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()), _mm256_set1_epi32(255));
    }
    ZPX_TARGET_AVX2 static Words ShiftLeft(Words v, __m128i shift) { return _mm256_sll_epi32(v, shift); }
    ZPX_TARGET_AVX2 static Words Or(Words a, Words b) { return _mm256_or_si256(a, b); }
};

// AVX2's lanes with eight doubles per multiply. The conversions are the
// zero-masked forms with every lane selected: GCC 12 warns about the
// undefined pass-through operand of the unmasked ones.
struct Avx512Lanes {
    using Words = __m256i;
    using Doubles = __m512d;
    static constexpr int32_t kPixels = 8;

    ZPX_TARGET_AVX512 static Words Load(const uint8_t* pixels) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels));
    }
    ZPX_TARGET_AVX512 static void Store(uint8_t* pixels, Words v) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(pixels), v);
    }
    ZPX_TARGET_AVX512 static Words Splat(uint32_t value) { return _mm256_set1_epi32(static_cast<int>(value)); }
    ZPX_TARGET_AVX512 static Doubles Splat(double value) { return _mm512_set1_pd(value); }
    ZPX_TARGET_AVX512 static Words Channel(Words words, __m128i shift) {
        return _mm256_and_si256(_mm256_srl_epi32(words, shift), _mm256_set1_epi32(0xFF));
    }
    ZPX_TARGET_AVX512 static Words Share(Words channel, Doubles weight) {
        return _mm512_maskz_cvttpd_epi32(0xFF, _mm512_mul_pd(_mm512_maskz_cvtepi32_pd(0xFF, channel), weight));
    }
    ZPX_TARGET_AVX512 static Words Add(Words a, Words b) { return _mm256_add_epi32(a, b); }
    ZPX_TARGET_AVX512 static Words Clamp(Words v) {
        return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()), _mm256_set1_epi32(255));
    }
    ZPX_TARGET_AVX512 static Words ShiftLeft(Words v, __m128i shift) { return _mm256_sll_epi32(v, shift); }
    ZPX_TARGET_AVX512 static Words Or(Words a, Words b) { return _mm256_or_si256(a, b); }
};

// ---- the run, once for every set ----

template <class Lanes>
struct RunConstants {
    typename Lanes::Doubles weight[4];
    typename Lanes::Doubles remaining;
    __m128i sourceShift[3];
    __m128i destinationShift[3];
    typename Lanes::Words fourth;

    ZPX_LANE_INLINE explicit RunConstants(const InteriorWeights& w) {
        for (int k = 0; k < 4; ++k) weight[k] = Lanes::Splat(w.weight[k]);
        remaining = Lanes::Splat(w.remaining);
        const int32_t from[3] = {w.source.red, w.source.green, w.source.blue};
        const int32_t to[3] = {w.destination.red, w.destination.green, w.destination.blue};
        for (int c = 0; c < 3; ++c) {
            sourceShift[c] = _mm_cvtsi32_si128(from[c]);
            destinationShift[c] = _mm_cvtsi32_si128(to[c]);
        }
        fourth = Lanes::Splat(w.fourthWritten);
    }
};

template <class Lanes>
struct Neighbours {
    typename Lanes::Words upperLeft, upperRight, lowerRight, lowerLeft, old;
};

// One channel of the pixels: the neighbours in table order, then the
// destination, each product truncated before it is added; clamped.
template <class Lanes, bool withDestination>
ZPX_LANE_INLINE typename Lanes::Words ChannelOf(const Neighbours<Lanes>& n, const RunConstants<Lanes>& k, int c) {
    const __m128i shift = k.sourceShift[c];
    typename Lanes::Words sum = Lanes::Share(Lanes::Channel(n.upperLeft, shift), k.weight[0]);
    sum = Lanes::Add(sum, Lanes::Share(Lanes::Channel(n.upperRight, shift), k.weight[1]));
    sum = Lanes::Add(sum, Lanes::Share(Lanes::Channel(n.lowerRight, shift), k.weight[2]));
    sum = Lanes::Add(sum, Lanes::Share(Lanes::Channel(n.lowerLeft, shift), k.weight[3]));
    if (withDestination) {
        sum = Lanes::Add(sum, Lanes::Share(Lanes::Channel(n.old, k.destinationShift[c]), k.remaining));
    }
    return Lanes::ShiftLeft(Lanes::Clamp(sum), k.destinationShift[c]);
}

template <class Lanes, bool withDestination>
ZPX_LANE_INLINE int32_t DrawRun(const InteriorRun& run, const InteriorWeights& weights) {
    const RunConstants<Lanes> k(weights);
    int32_t done = 0;
    for (; done + Lanes::kPixels <= run.count; done += Lanes::kPixels) {
        const int32_t at = done * kBytesPerPixel;
        Neighbours<Lanes> n;
        n.upperLeft = Lanes::Load(run.upper + at);
        n.upperRight = Lanes::Load(run.upper + at + kBytesPerPixel);
        n.lowerRight = Lanes::Load(run.lower + at + kBytesPerPixel);
        n.lowerLeft = Lanes::Load(run.lower + at);
        if (withDestination) n.old = Lanes::Load(run.out + at);
        const typename Lanes::Words red = ChannelOf<Lanes, withDestination>(n, k, 0);
        const typename Lanes::Words green = ChannelOf<Lanes, withDestination>(n, k, 1);
        const typename Lanes::Words blue = ChannelOf<Lanes, withDestination>(n, k, 2);
        Lanes::Store(run.out + at, Lanes::Or(Lanes::Or(red, green), Lanes::Or(blue, k.fourth)));
    }
    return done;
}

template <class Lanes>
ZPX_LANE_INLINE int32_t DrawRunEitherWay(const InteriorRun& run, const InteriorWeights& weights) {
    return weights.withDestination ? DrawRun<Lanes, true>(run, weights) : DrawRun<Lanes, false>(run, weights);
}

__attribute__((flatten)) int32_t DrawRunSse2(const InteriorRun& run, const InteriorWeights& weights) {
    return DrawRunEitherWay<Sse2Lanes>(run, weights);
}
ZPX_TARGET_AVX2 __attribute__((flatten)) int32_t DrawRunAvx2(const InteriorRun& run, const InteriorWeights& weights) {
    return DrawRunEitherWay<Avx2Lanes>(run, weights);
}
ZPX_TARGET_AVX512 __attribute__((flatten)) int32_t DrawRunAvx512(const InteriorRun& run,
                                                                 const InteriorWeights& weights) {
    return DrawRunEitherWay<Avx512Lanes>(run, weights);
}

}  // namespace

InteriorRunFunction InteriorRunForActivePath() {
    switch (ActivePixelPath()) {
        case PixelPath::Plain:
            return nullptr;
        case PixelPath::Baseline:
            return DrawRunSse2;
        case PixelPath::Avx2:
            return DrawRunAvx2;
        case PixelPath::Avx512:
            return DrawRunAvx512;
    }
    return nullptr;
}

#else  // no vector twin on other processors: the plain loop draws every pixel

InteriorRunFunction InteriorRunForActivePath() { return nullptr; }

#endif
