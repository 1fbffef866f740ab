// The smooth enlargement on vectors (see ScaleNiceBiggerLanes.h), for SSE2
// (every x86 build), AVX2 and AVX-512; the AVX variants are compiled for their
// instruction set by function attribute only and chosen once per call.
//
// The column row holds, for destination row y, every byte of every source
// pixel as a float in memory order: columns[4x + c] = byte c of source pixel
// (x, k) * w2 + byte c of (x, k + 1) * w1, the plain vertical pass's sum with
// its zero taps left out. Destination byte c of pixel x is then
// (0.5 + columns[4a + c] * w2) + columns[4b + c] * w1, a and b being the two
// clamped middle taps of x, again the plain horizontal sum in its order. The
// taps of every destination pixel are laid out once per call.
//
// Every lane does the plain pass's float operations on one byte, so the
// results are the plain bytes: a product or sum of floats is the same
// rounded value whichever lane or instruction forms it (no fused
// multiply-add is used). Clamping before the truncating conversion gives
// ClampToByte's value for every input.
#include "scale/ScaleNiceBiggerLanes.h"

#include <algorithm>

#include "plugin/CBuffer.h"
#include "plugin/VectorTargets.h"
#include "plugin/Yield.h"

#if defined(__x86_64__) || defined(__i386__)

namespace {

constexpr int32_t kBytesPerPixel = 4;
constexpr int32_t kTapsPerEntry = 4;
// Floats past the column row that a window of two vectors may read.
constexpr int32_t kColumnSlack = 32;

// The two middle taps of a destination pixel: the first float of each source
// pixel in the column row, and its weight.
struct Taps {
    int32_t first, second;
    float firstWeight, secondWeight;
};

// Four destination pixels whose taps lie within 32 floats from start: the
// lane of each byte's first and second tap, for a two-vector permute.
struct TapWindow {
    int32_t start;
    uint8_t first[16];
    uint8_t second[16];
};

inline uint8_t ClampToByte(float value) {
    if (value <= 0.0f) return 0;
    if (value >= 255.0f) return 255;
    return static_cast<uint8_t>(value);
}

// ---- scalar ends of rows, the plain arithmetic ----

void VerticalBytes(float* columns, const uint8_t* upper, const uint8_t* lower, int32_t from, int32_t to, float w2,
                   float w1) {
    for (int32_t i = from; i < to; ++i) {
        columns[i] = static_cast<float>(upper[i]) * w2 + static_cast<float>(lower[i]) * w1;
    }
}

void HorizontalPixels(uint8_t* out, const float* columns, const Taps* taps, int32_t from, int32_t to) {
    for (int32_t x = from; x < to; ++x) {
        const Taps& t = taps[x];
        for (int32_t c = 0; c < kBytesPerPixel; ++c) {
            const float value = (0.5f + columns[t.first + c] * t.firstWeight) + columns[t.second + c] * t.secondWeight;
            out[x * kBytesPerPixel + c] = ClampToByte(value);
        }
    }
}

// ---- SSE2: one destination pixel per vector ----

void VerticalSse2(float* columns, const uint8_t* upper, const uint8_t* lower, int32_t count, float w2, float w1) {
    const __m128 second = _mm_set1_ps(w2), first = _mm_set1_ps(w1);
    const __m128i zero = _mm_setzero_si128();
    int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i up = _mm_loadu_si128(reinterpret_cast<const __m128i*>(upper + i));
        const __m128i down = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lower + i));
        const __m128i up16[2] = {_mm_unpacklo_epi8(up, zero), _mm_unpackhi_epi8(up, zero)};
        const __m128i down16[2] = {_mm_unpacklo_epi8(down, zero), _mm_unpackhi_epi8(down, zero)};
        for (int half = 0; half < 2; ++half) {
            const __m128i up32[2] = {_mm_unpacklo_epi16(up16[half], zero), _mm_unpackhi_epi16(up16[half], zero)};
            const __m128i down32[2] = {_mm_unpacklo_epi16(down16[half], zero), _mm_unpackhi_epi16(down16[half], zero)};
            for (int quarter = 0; quarter < 2; ++quarter) {
                const __m128 sum = _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(up32[quarter]), second),
                                              _mm_mul_ps(_mm_cvtepi32_ps(down32[quarter]), first));
                _mm_storeu_ps(columns + i + 8 * half + 4 * quarter, sum);
            }
        }
    }
    VerticalBytes(columns, upper, lower, i, count, w2, w1);
}

inline __m128i HorizontalPixelSse2(const float* columns, const Taps& t) {
    const __m128 entry = _mm_loadu_ps(reinterpret_cast<const float*>(&t));
    const __m128 second = _mm_shuffle_ps(entry, entry, 0xAA), first = _mm_shuffle_ps(entry, entry, 0xFF);
    const __m128 value = _mm_add_ps(_mm_add_ps(_mm_set1_ps(0.5f), _mm_mul_ps(_mm_loadu_ps(columns + t.first), second)),
                                    _mm_mul_ps(_mm_loadu_ps(columns + t.second), first));
    return _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(value, _mm_setzero_ps()), _mm_set1_ps(255.0f)));
}

void HorizontalSse2(uint8_t* out, const float* columns, const Taps* taps, const TapWindow*, int32_t width) {
    int32_t x = 0;
    for (; x + 4 <= width; x += 4) {
        const __m128i low =
            _mm_packs_epi32(HorizontalPixelSse2(columns, taps[x]), HorizontalPixelSse2(columns, taps[x + 1]));
        const __m128i high =
            _mm_packs_epi32(HorizontalPixelSse2(columns, taps[x + 2]), HorizontalPixelSse2(columns, taps[x + 3]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x * kBytesPerPixel), _mm_packus_epi16(low, high));
    }
    HorizontalPixels(out, columns, taps, x, width);
}

// ---- AVX2: two destination pixels per vector ----

ZPX_TARGET_AVX2 void VerticalAvx2(float* columns, const uint8_t* upper, const uint8_t* lower, int32_t count, float w2,
                                  float w1) {
    const __m256 second = _mm256_set1_ps(w2), first = _mm256_set1_ps(w1);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256 up =
            _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(upper + i))));
        const __m256 down =
            _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(lower + i))));
        _mm256_storeu_ps(columns + i, _mm256_add_ps(_mm256_mul_ps(up, second), _mm256_mul_ps(down, first)));
    }
    VerticalBytes(columns, upper, lower, i, count, w2, w1);
}

ZPX_TARGET_AVX2 inline __m128i HorizontalPairAvx2(const float* columns, const Taps* t) {
    const __m256 entries = _mm256_loadu_ps(reinterpret_cast<const float*>(t));
    const __m256 second = _mm256_permute_ps(entries, 0xAA), first = _mm256_permute_ps(entries, 0xFF);
    const __m256 a = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(columns + t[0].first)),
                                          _mm_loadu_ps(columns + t[1].first), 1);
    const __m256 b = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(columns + t[0].second)),
                                          _mm_loadu_ps(columns + t[1].second), 1);
    const __m256 value =
        _mm256_add_ps(_mm256_add_ps(_mm256_set1_ps(0.5f), _mm256_mul_ps(a, second)), _mm256_mul_ps(b, first));
    const __m256i bytes =
        _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(value, _mm256_setzero_ps()), _mm256_set1_ps(255.0f)));
    return _mm_packs_epi32(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1));
}

ZPX_TARGET_AVX2 void HorizontalAvx2(uint8_t* out, const float* columns, const Taps* taps, const TapWindow*,
                                    int32_t width) {
    int32_t x = 0;
    for (; x + 4 <= width; x += 4) {
        const __m128i pixels =
            _mm_packus_epi16(HorizontalPairAvx2(columns, taps + x), HorizontalPairAvx2(columns, taps + x + 2));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x * kBytesPerPixel), pixels);
    }
    HorizontalPixels(out, columns, taps, x, width);
}

// ---- AVX-512: four destination pixels per vector ----
// GCC 12 takes the undefined pass-through operand inside its own AVX-512
// intrinsics for an uninitialised variable (GCC bug 105593).
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

ZPX_TARGET_AVX512 void VerticalAvx512(float* columns, const uint8_t* upper, const uint8_t* lower, int32_t count,
                                      float w2, float w1) {
    const __m512 second = _mm512_set1_ps(w2), first = _mm512_set1_ps(w1);
    int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m512 up =
            _mm512_cvtepi32_ps(_mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(upper + i))));
        const __m512 down =
            _mm512_cvtepi32_ps(_mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lower + i))));
        _mm512_storeu_ps(columns + i, _mm512_add_ps(_mm512_mul_ps(up, second), _mm512_mul_ps(down, first)));
    }
    VerticalBytes(columns, upper, lower, i, count, w2, w1);
}

ZPX_TARGET_AVX512 void HorizontalAvx512(uint8_t* out, const float* columns, const Taps* taps, const TapWindow* windows,
                                        int32_t width) {
    const __m512 half = _mm512_set1_ps(0.5f), low = _mm512_setzero_ps(), high = _mm512_set1_ps(255.0f);
    int32_t x = 0;
    for (; x + 4 <= width; x += 4) {
        const TapWindow& window = windows[x / 4];
        const float* start = columns + window.start;
        const __m512 nearer = _mm512_loadu_ps(start), further = _mm512_loadu_ps(start + 16);
        const __m512 a = _mm512_permutex2var_ps(
            nearer, _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(window.first))), further);
        const __m512 b = _mm512_permutex2var_ps(
            nearer, _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(window.second))), further);
        const __m512 entries = _mm512_loadu_ps(reinterpret_cast<const float*>(taps + x));
        const __m512 second = _mm512_permute_ps(entries, 0xAA), first = _mm512_permute_ps(entries, 0xFF);
        const __m512 value = _mm512_add_ps(_mm512_add_ps(half, _mm512_mul_ps(a, second)), _mm512_mul_ps(b, first));
        const __m512i bytes = _mm512_cvttps_epi32(_mm512_min_ps(_mm512_max_ps(value, low), high));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x * kBytesPerPixel), _mm512_cvtepi32_epi8(bytes));
    }
    HorizontalPixels(out, columns, taps, x, width);
}

#pragma GCC diagnostic pop

// ---- the rows ----

using VerticalRow = void (*)(float* columns, const uint8_t* upper, const uint8_t* lower, int32_t count, float w2,
                             float w1);
using HorizontalRow = void (*)(uint8_t* out, const float* columns, const Taps* taps, const TapWindow* windows,
                               int32_t width);

struct RowFunctions {
    VerticalRow vertical;
    HorizontalRow horizontal;
};

RowFunctions RowFunctionsFor(PixelPath path) {
    switch (path) {
        case PixelPath::Avx512:
            return {VerticalAvx512, HorizontalAvx512};
        case PixelPath::Avx2:
            return {VerticalAvx2, HorizontalAvx2};
        default:
            return {VerticalSse2, HorizontalSse2};
    }
}

inline int32_t ClampIndex(int32_t index, int32_t length) { return std::min(std::max(index, 0), length - 1); }

// Taps of every destination column. An enlargement moves the index by at
// most one per column, so four neighbouring pixels reach at most five
// source pixels: 20 floats from the first one's first tap.
void LayOutTaps(SmoothAxis x, int32_t sourceWidth, int32_t width, Taps* taps, TapWindow* windows) {
    for (int32_t i = 0; i < width; ++i) {
        const int32_t k = x.index[i];
        const float* w = x.weights + static_cast<ptrdiff_t>(i) * kTapsPerEntry;
        taps[i] = Taps{kBytesPerPixel * ClampIndex(k, sourceWidth), kBytesPerPixel * ClampIndex(k + 1, sourceWidth),
                       w[2], w[1]};
    }
    for (int32_t group = 0; group < width / 4; ++group) {
        TapWindow& window = windows[group];
        window.start = taps[4 * group].first;
        for (int32_t lane = 0; lane < 16; ++lane) {
            const Taps& t = taps[4 * group + lane / 4];
            window.first[lane] = static_cast<uint8_t>(t.first - window.start + lane % 4);
            window.second[lane] = static_cast<uint8_t>(t.second - window.start + lane % 4);
        }
    }
}

// The column row, the taps and their windows, one after the other.
int64_t ColumnBytes(int32_t sourceWidth) {
    return static_cast<int64_t>(sizeof(float)) * (static_cast<int64_t>(sourceWidth) * kBytesPerPixel + kColumnSlack);
}
int64_t TapBytes(int32_t width) { return static_cast<int64_t>(sizeof(Taps)) * width; }
int64_t WindowBytes(int32_t width) { return static_cast<int64_t>(sizeof(TapWindow)) * (width / 4 + 1); }

}  // namespace

// Its working memory, larger than the plain column buffer, must be a size
// that may be asked for at all, or the call would give nil where the plain
// passes enlarge.
bool EnlargeLanesRun(PixelPath path, const PictureReader& reader, const PictureWriter& writer) {
    return path != PixelPath::Plain && reader.bytesPerPixel == kBytesPerPixel &&
           writer.bytesPerPixel == kBytesPerPixel &&
           WorkingBufferSizeAllowed(EnlargeLaneBytes(reader.width, writer.width));
}

int64_t EnlargeLaneBytes(int32_t sourceWidth, int32_t width) {
    return ColumnBytes(sourceWidth) + TapBytes(width) + WindowBytes(width);
}

void EnlargeWithLanes(PixelPath path, const PictureReader& reader, PictureWriter& writer, SmoothAxis x, SmoothAxis y,
                      void* memory) {
    uint8_t* bytes = static_cast<uint8_t*>(memory);
    float* columns = reinterpret_cast<float*>(bytes);
    Taps* taps = reinterpret_cast<Taps*>(bytes + ColumnBytes(reader.width));
    TapWindow* windows = reinterpret_cast<TapWindow*>(bytes + ColumnBytes(reader.width) + TapBytes(writer.width));
    LayOutTaps(x, reader.width, writer.width, taps, windows);

    const RowFunctions rows = RowFunctionsFor(path);
    for (int32_t row = 0; row < writer.height; ++row) {
        const int32_t k = y.index[row];
        const float* w = y.weights + static_cast<ptrdiff_t>(row) * kTapsPerEntry;
        rows.vertical(columns, reader.RowAddress(ClampIndex(k, reader.height)),
                      reader.RowAddress(ClampIndex(k + 1, reader.height)), reader.width * kBytesPerPixel, w[2], w[1]);
        rows.horizontal(writer.RowAddress(row), columns, taps, windows, writer.width);
        // The plain passes yield after each row of each byte.
        for (int32_t byte = 0; byte < kBytesPerPixel; ++byte) yield.YieldPoint();
    }
}

#else  // no vector twin on other processors: the plain passes run

bool EnlargeLanesRun(PixelPath, const PictureReader&, const PictureWriter&) { return false; }
int64_t EnlargeLaneBytes(int32_t, int32_t) { return 0; }
void EnlargeWithLanes(PixelPath, const PictureReader&, PictureWriter&, SmoothAxis, SmoothAxis, void*) {}

#endif
