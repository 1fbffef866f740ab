// The AVX2 and AVX-512 passes. The pass code (ResampleWidePasses.h) is
// compiled twice, each time with `#pragma GCC target` for one instruction
// set, and the call picks one of them from the active pixel path.
//
// Per call the horizontal pass takes two small tables: its taps flattened,
// with the weights widened to double once, and one decoded source row.
#include "resample/ResampleWide.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "picture/PictureEditor.h"
#include "picture/PixelFormat.h"
#include "plugin/CBuffer.h"
#include "plugin/Yield.h"
#include "resample/Contributions.h"
#include "resample/ResampleVector.h"

#if defined(__x86_64__) || defined(__i386__)
// GCC 12's AVX-512 headers start many intrinsics from a deliberately
// undefined vector, which -Wmaybe-uninitialized reports inside the header.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#pragma GCC diagnostic pop
#endif

namespace {

// Error bound of the reciprocal: with u = 2^-53, the product acc * fl(1/d)
// and the quotient fl(acc/d) differ by at most 3u|acc/d|, and adding 0.5
// rounds each by at most u|result|; for results in -0.5 .. 256.5 that is
// below 2^-41.9. Whenever the margin 2^-40 around the product holds no step
// of the truncation, the quotient has the same truncation.
constexpr double kReciprocalMargin = 1.0 / 1099511627776.0;

}  // namespace

Normaliser NormaliserFor(float weightSum) {
    Normaliser normaliser;
    normaliser.weightSum = static_cast<double>(weightSum);
    // Every non-zero float lies between 2^-149 and 2^128, so the product
    // neither overflows nor leaves the normal doubles.
    normaliser.usable = weightSum != 0.0f && std::isfinite(weightSum);
    normaliser.reciprocal = normaliser.usable ? 1.0 / normaliser.weightSum : 0.0;
    int exponent = 0;
    normaliser.exact = normaliser.usable && std::fabs(std::frexp(normaliser.weightSum, &exponent)) == 0.5;
    return normaliser;
}

uint32_t NormalisedChannelByReciprocal(double accumulator, const Normaliser& normaliser) {
    const float weightSum = static_cast<float>(normaliser.weightSum);
    if (!normaliser.usable) return NormalisedChannel(accumulator, weightSum);
    double value = accumulator * normaliser.reciprocal + 0.5;
    value = value < -0.5 ? -0.5 : (value > 256.5 ? 256.5 : value);
    double floored;
    if (normaliser.exact) {
        floored = std::floor(value);
    } else {
        floored = std::floor(value + kReciprocalMargin);
        if (floored > value - kReciprocalMargin) return NormalisedChannel(accumulator, weightSum);
    }
    return floored < 0.0 ? 0 : (floored > 255.0 ? 255 : static_cast<uint32_t>(floored));
}

#if defined(__x86_64__) || defined(__i386__)

namespace {

struct WideList {
    int32_t firstPixel;  // the source pixel of the first tap
    int32_t first;       // index of the first tap in the flat weights
    int32_t count;       // taps, one per source pixel from firstPixel on
    Normaliser normaliser;
};

struct WideTables {
    const WideList* lists;
    const double* weights;
};

// The taps of the horizontal lists, dense from each list's first pixel to its
// last, with the weights widened to double; a pixel between them that the
// list leaves out, and a tap of weight 0 (which the plain pass skips), weigh
// +0.0.
class FlatTaps {
public:
    bool Build(const ContributionList* source, int32_t width) {
        int64_t total = 0;
        for (int32_t i = 0; i < width; ++i) {
            const ContributionList& list = source[i];
            if (list.count > 0) total += static_cast<int64_t>(list.entries[list.count - 1].pixel) - list.entries[0].pixel + 1;
        }
        lists_ = AllocateZeroed<WideList>(width);
        weights_ = AllocateZeroed<double>(total > 0 ? total : 1);
        if (!lists_ || !weights_) return false;
        int64_t next = 0;
        for (int32_t i = 0; i < width; ++i) {
            const ContributionList& list = source[i];
            WideList& flat = lists_[i];
            flat.first = static_cast<int32_t>(next);
            flat.normaliser = NormaliserFor(list.weightSum);
            flat.count = 0;
            flat.firstPixel = 0;
            bool anyWeight = false;
            for (int32_t t = 0; t < list.count; ++t) anyWeight = anyWeight || list.entries[t].weight != 0.0f;
            // A list whose taps all weigh 0 gives black, as an empty one does.
            if (!anyWeight) continue;
            flat.firstPixel = list.entries[0].pixel;
            flat.count = list.entries[list.count - 1].pixel - flat.firstPixel + 1;
            for (int32_t t = 0; t < list.count; ++t) {
                weights_[next + (list.entries[t].pixel - flat.firstPixel)] = static_cast<double>(list.entries[t].weight);
            }
            next += flat.count;
        }
        return true;
    }
    WideTables Tables() const { return WideTables{lists_.get(), weights_.get()}; }

private:
    CBuffer<WideList> lists_;
    CBuffer<double> weights_;
};

}  // namespace

// clang takes a target for every function of the region; GCC for the
// rest of the file until pop_options.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
namespace resample_avx2 {

#include "resample/Ops256.h"

// Eight columns: 32-bit words, floats, and two vectors of four doubles.
struct VectorOps : Ops256 {
    static constexpr int32_t kColumns = 8;
    typedef __m256 Floats;
    typedef __m256i Words;
    static inline Words Load(const uint32_t* words) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words)); }
    static inline void Store(uint8_t* out, Words words) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), words); }
    static inline Words Byte(Words words, int shift) {
        return _mm256_and_si256(_mm256_srli_epi32(words, shift), _mm256_set1_epi32(0xFF));
    }
    static inline Words SetWords(uint32_t value) { return _mm256_set1_epi32(static_cast<int>(value)); }
    static inline Words Or(Words a, Words b) { return _mm256_or_si256(a, b); }
    static inline Words ShiftLeft(Words a, int shift) { return _mm256_slli_epi32(a, shift); }
    static inline Floats SetFloats(float value) { return _mm256_set1_ps(value); }
    static inline Floats ToFloats(Words words) { return _mm256_cvtepi32_ps(words); }
    static inline Floats MulFloats(Floats a, Floats b) { return _mm256_mul_ps(a, b); }
    static inline Doubles WidenLow(Floats a) { return _mm256_cvtps_pd(_mm256_castps256_ps128(a)); }
    static inline Doubles WidenHigh(Floats a) { return _mm256_cvtps_pd(_mm256_extractf128_ps(a, 1)); }
    static inline Words Truncate(Doubles low, Doubles high) {
        return _mm256_set_m128i(_mm256_cvttpd_epi32(high), _mm256_cvttpd_epi32(low));
    }
};

#include "resample/ResampleWidePasses.h"
}  // namespace resample_avx2
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx512vl"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vl")
#endif
namespace resample_avx512 {

#include "resample/Ops256.h"

// Sixteen columns: 32-bit words, floats, and two vectors of eight doubles.
struct VectorOps {
    static constexpr int32_t kColumns = 16;
    typedef __m512d Doubles;
    typedef __m512 Floats;
    typedef __m512i Words;
    static inline Words Load(const uint32_t* words) { return _mm512_loadu_si512(words); }
    static inline void Store(uint8_t* out, Words words) { _mm512_storeu_si512(out, words); }
    static inline Words Byte(Words words, int shift) {
        return _mm512_and_si512(_mm512_srli_epi32(words, static_cast<unsigned>(shift)), _mm512_set1_epi32(0xFF));
    }
    static inline Words SetWords(uint32_t value) { return _mm512_set1_epi32(static_cast<int>(value)); }
    static inline Words Or(Words a, Words b) { return _mm512_or_si512(a, b); }
    static inline Words ShiftLeft(Words a, int shift) { return _mm512_slli_epi32(a, static_cast<unsigned>(shift)); }
    static inline Floats SetFloats(float value) { return _mm512_set1_ps(value); }
    static inline Floats ToFloats(Words words) { return _mm512_cvtepi32_ps(words); }
    static inline Floats MulFloats(Floats a, Floats b) { return _mm512_mul_ps(a, b); }
    static inline Doubles WidenLow(Floats a) { return _mm512_cvtps_pd(_mm512_castps512_ps256(a)); }
    static inline Doubles WidenHigh(Floats a) {
        return _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(a), 1)));
    }
    static inline Words Truncate(Doubles low, Doubles high) {
        return _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvttpd_epi32(low)), _mm512_cvttpd_epi32(high), 1);
    }
    static inline Doubles Set(double value) { return _mm512_set1_pd(value); }
    static inline Doubles Add(Doubles a, Doubles b) { return _mm512_add_pd(a, b); }
    static inline Doubles Sub(Doubles a, Doubles b) { return _mm512_sub_pd(a, b); }
    static inline Doubles Mul(Doubles a, Doubles b) { return _mm512_mul_pd(a, b); }
    static inline Doubles Div(Doubles a, Doubles b) { return _mm512_div_pd(a, b); }
    static inline Doubles Max(Doubles a, Doubles b) { return _mm512_max_pd(a, b); }
    static inline Doubles Min(Doubles a, Doubles b) { return _mm512_min_pd(a, b); }
    static inline Doubles Floor(Doubles a) { return _mm512_roundscale_pd(a, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC); }
    static inline bool AnyGreater(Doubles a, Doubles b) { return _mm512_cmp_pd_mask(a, b, _CMP_GT_OQ) != 0; }
};

#include "resample/ResampleWidePasses.h"
}  // namespace resample_avx512
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

namespace {

// One decoded row: four 32-bit integers per pixel, 32-byte aligned.
class DecodedRow {
public:
    bool Allocate(int32_t width) {
        memory_ = AllocateZeroedBytes<uint8_t>(static_cast<int64_t>(width) * 16 + 32);
        return static_cast<bool>(memory_);
    }
    template <class Vector>
    Vector* Pixels() const {
        const uintptr_t address = reinterpret_cast<uintptr_t>(memory_.get());
        return reinterpret_cast<Vector*>((address + 31) & ~static_cast<uintptr_t>(31));
    }

private:
    CBuffer<uint8_t> memory_;
};

}  // namespace

bool ResampleRowsWide(PixelPath path, PictureReader& reader, const ContributionList* lists, uint32_t* buffer,
                      int32_t width) {
    if (path != PixelPath::Avx2 && path != PixelPath::Avx512) return false;
    if (reader.bytesPerPixel != 4) return false;
    FlatTaps taps;
    DecodedRow decoded;
    if (!taps.Build(lists, width) || !decoded.Allocate(reader.width)) return false;
    return WithLayout(reader.pixelFormat, [&](auto layout) {
        using Source = decltype(layout);
        if (!Source::valid) return false;
        if (path == PixelPath::Avx512) {
            resample_avx512::ResampleRows<Source>(reader, taps.Tables(), decoded.Pixels<resample_avx512::Int4>(),
                                                  buffer, width);
        } else {
            resample_avx2::ResampleRows<Source>(reader, taps.Tables(), decoded.Pixels<resample_avx2::Int4>(),
                                                buffer, width);
        }
        return true;
    });
}

bool ResampleColumnsWide(PixelPath path, PictureWriter& writer, const ContributionList* lists,
                         const uint32_t* buffer, int32_t width, YieldData& yieldRecord) {
    if (path != PixelPath::Avx2 && path != PixelPath::Avx512) return false;
    if (writer.bytesPerPixel != 4) return false;
    return WithLayout(writer.pixelFormat, [&](auto layout) {
        using Destination = decltype(layout);
        if (!Destination::valid) return false;
        if (path == PixelPath::Avx512) {
            resample_avx512::ResampleColumns<Destination>(writer, lists, buffer, width, yieldRecord);
        } else {
            resample_avx2::ResampleColumns<Destination>(writer, lists, buffer, width, yieldRecord);
        }
        return true;
    });
}

#else

bool ResampleRowsWide(PixelPath, PictureReader&, const ContributionList*, uint32_t*, int32_t) { return false; }
bool ResampleColumnsWide(PixelPath, PictureWriter&, const ContributionList*, const uint32_t*, int32_t, YieldData&) {
    return false;
}

#endif
